// A folder below a root that is swapped for a link to a folder outside while a run works in
// it: nothing outside the roots is deleted, written or read, and each entry the swap keeps from
// being synced is counted as failed and named. The swaps come at a chosen call through the Fs
// seam (SwapAtCallFs), and once from a second thread against a sync of real folders. POSIX
// only: the Windows build's tests run under Wine, which makes no links to folders.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "core/compare_fixture.h"
#include "platform/testing/forwarding_fs.h"
#include "formats/file_header.h"
#include "sync/save_difference.h"
#include "sync/sync_all.h"
#include "sync/sync_test_support.h"

#ifndef _WIN32
namespace fw {
namespace {

namespace fsys = std::filesystem;

// At the first call of kind op on a path inside folder (folder, separator, more), renames
// folder away (to folder + ".away") and puts a link to outside in its place; then lets the
// call go on to the real Fs.
class SwapAtCallFs : public ForwardingFs {
 public:
  enum class Op { List, Open, Create, Delete };
  SwapAtCallFs(Fs& base, Op op, std::u16string folder, std::u16string outside)
      : ForwardingFs(base), op_(op), folder_(std::move(folder)), outside_(std::move(outside)) {}

  bool swapped() const { return swapped_; }

  FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
    swapAt(Op::List, p);
    return base_.findFirst(p, h, e);
  }
  FsStatus openRead(const char16_t* p, FileHandle* f) override {
    swapAt(Op::Open, p);
    return base_.openRead(p, f);
  }
  FsStatus createAlways(const char16_t* p, uint32_t a, FileHandle* f) override {
    swapAt(Op::Create, p);
    return base_.createAlways(p, a, f);
  }
  FsStatus createWithPermissions(const char16_t* p, uint32_t a, uint32_t m,
                                 FileHandle* f) override {
    swapAt(Op::Create, p);
    return base_.createWithPermissions(p, a, m, f);
  }
  FsStatus deleteFile(const char16_t* p) override {
    swapAt(Op::Delete, p);
    return base_.deleteFile(p);
  }

 private:
  void swapAt(Op op, const char16_t* path) {
    if (swapped_ || op != op_) return;
    std::u16string_view p(path);
    if (p.size() <= folder_.size() || p.substr(0, folder_.size()) != folder_ ||
        p[folder_.size()] != kPathSeparator)
      return;
    swapped_ = true;
    fsys::rename(fsys::path(folder_), fsys::path(folder_ + u".away"));
    fsys::create_directory_symlink(fsys::path(outside_), fsys::path(folder_));
  }

  Op op_;
  std::u16string folder_, outside_;
  bool swapped_ = false;
};

// Every file below folder (links not followed) with its content, by "/"-separated path.
std::map<std::string, std::string> contentsBelow(const std::u16string& folder) {
  std::map<std::string, std::string> out;
  fsys::path top(folder);
  for (auto it = fsys::recursive_directory_iterator(top); it != fsys::recursive_directory_iterator();
       ++it) {
    if (it->is_symlink() || !it->is_regular_file()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    out[fsys::relative(it->path(), top).generic_string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return out;
}

class SwappedFolderTest : public CompareFixture {
 protected:
  // Compares through the real file system, then mirrors through fs.
  Rc mirrorThrough(Fs& fs) {
    Rc rc = compare();
    if (rc != Rc::Ok) return rc;
    ok_.reset();
    failed_.reset();
    failures_.clear();
    SyncRequest request = requestFor(fs, source_, target_, roots_, kMirror, 0);
    request.failures = &failures_;
    return syncAll(request, {ok_, failed_});
  }
  // How many entries the failure log names in folder d of root; with refused, only those
  // the file system refused (rather than the walk, which found a link on the path).
  size_t namedIn(const std::u16string& root, bool refused = false) const {
    size_t n = 0;
    for (const EntryFailure& f : failures_)
      if (f.path.rfind(root + kPathSeparator + u"d" + kPathSeparator, 0) == 0 &&
          (!refused || f.status == FsStatus::AccessDenied))
        ++n;
    return n;
  }
  // The outside folder, filled with files of the names the run deals with.
  void fillOutside(std::initializer_list<const char*> names) {
    for (const char* n : names) writeAt(out_.at(n), std::string("OUTSIDE ") + n, kT);
    before_ = contentsBelow(out_.path());
  }

  TempDir out_;
  std::map<std::string, std::string> before_;
  SyncStats ok_, failed_;
  FailureLog failures_;
};

TEST_F(SwappedFolderTest, AMirrorDeletingInAFolderSwappedForALinkDeletesNothingOutside) {
  writeAt(src_.at("d/keep.txt"), "k", kT);
  writeAt(trg_.at("d/keep.txt"), "k", kT);
  for (const char* n : {"d/x1.txt", "d/x2.txt", "d/x3.txt", "d/sub/y.txt"})
    writeAt(trg_.at(n), "old", kT);
  fillOutside({"x1.txt", "x2.txt", "x3.txt", "sub/y.txt", "keep.txt"});
  // The swap comes as the first file in d is deleted (sub/y.txt), after the walk looked at the
  // folders on its path. That deletion goes on in the folder the walk holds, the real one,
  // moved away; every later one finds the link.
  SwapAtCallFs fs(systemFs(), SwapAtCallFs::Op::Delete, trg_.at("d"), out_.path());
  ASSERT_RC_OK(mirrorThrough(fs));
  ASSERT_TRUE(fs.swapped());
  EXPECT_EQ(contentsBelow(out_.path()), before_);
  EXPECT_FALSE(exists(trg_.at("d.away/sub/y.txt")));
  EXPECT_EQ(readFile(trg_.at("d.away/x1.txt")), "old");
  EXPECT_EQ(valueOf(ok_.deletedFiles), 1u);
  EXPECT_EQ(valueOf(failed_.deletedFiles), 3u);
  EXPECT_EQ(namedIn(trg_.path()), 3u);
}

TEST_F(SwappedFolderTest, ACopyIntoAFolderSwappedForALinkWritesNothingOutside) {
  writeAt(src_.at("d/keep.txt"), "k", kT);
  writeAt(trg_.at("d/keep.txt"), "k", kT);
  for (const char* n : {"d/new1.txt", "d/new2.txt", "d/s/new3.txt", "d/keep2.txt"})
    writeAt(src_.at(n), "from the source", kT);
  writeAt(trg_.at("d/keep2.txt"), "older", kT - kHour);
  fillOutside({"keep2.txt"});
  // The swap comes as the first copy (keep2.txt) creates its temporary file in the folder;
  // that copy goes on in the real folder the walk holds, moved away.
  SwapAtCallFs fs(systemFs(), SwapAtCallFs::Op::Create, trg_.at("d"), out_.path());
  ASSERT_RC_OK(mirrorThrough(fs));
  ASSERT_TRUE(fs.swapped());
  EXPECT_EQ(contentsBelow(out_.path()), before_);
  EXPECT_EQ(readFile(trg_.at("d.away/keep2.txt")), "from the source");
  EXPECT_EQ(valueOf(ok_.modifiedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.addedFiles), 0u);
  EXPECT_EQ(valueOf(failed_.addedFiles), 3u);
  EXPECT_EQ(namedIn(trg_.path()), 3u);
}

TEST_F(SwappedFolderTest, ACopyOutOfASourceFolderSwappedForALinkTakesNothingFromOutside) {
  writeAt(src_.at("d/id_rsa"), "mine", kT);
  writeAt(src_.at("d/other.txt"), "mine too", kT);
  fillOutside({"id_rsa", "other.txt"});
  // The comparison saw the source's own folder; the swap comes as the first file is opened.
  SwapAtCallFs fs(systemFs(), SwapAtCallFs::Op::Open, src_.at("d"), out_.path());
  ASSERT_RC_OK(mirrorThrough(fs));
  ASSERT_TRUE(fs.swapped());
  for (const auto& [path, content] : contentsBelow(trg_.path()))
    EXPECT_EQ(content.find("OUTSIDE"), std::string::npos) << path;
  EXPECT_FALSE(exists(trg_.at("d/id_rsa")));
  EXPECT_EQ(valueOf(ok_.addedFiles), 0u);
  EXPECT_EQ(valueOf(failed_.addedFiles), 2u);
  // Nothing on the source side was held yet: the file system refused both opens.
  EXPECT_EQ(namedIn(trg_.path(), true), 2u);
  EXPECT_EQ(contentsBelow(out_.path()), before_);
}

TEST_F(SwappedFolderTest, ASavedDifferenceCarriesNothingFromASwappedSourceFolder) {
  writeAt(src_.at("d/id_rsa"), "mine", kT);
  fillOutside({"id_rsa"});
  ASSERT_RC_OK(compare());
  SwapAtCallFs fs(systemFs(), SwapAtCallFs::Op::Open, src_.at("d"), out_.path());
  SyncRequest request = requestFor(fs, source_, target_, roots_, kMirror, 0);
  request.failures = &failures_;
  std::u16string saved = out_.at("saved.fwd");
  std::u16string failedEntry;
  Rc rc = saveDifference(request, {ok_, failed_}, saved.c_str(), kNoSplit, &failedEntry);
  ASSERT_TRUE(fs.swapped());
  // The save fails on the entry it could not read, names it and keeps no file.
  EXPECT_EQ(rc, Rc::CannotOpen);
  EXPECT_EQ(failedEntry, src_.at("d/id_rsa"));
  EXPECT_FALSE(exists(saved));
}

// A source file swapped for a link after the comparison, to a file outside given the same size
// and time, is not read into the target or into a saved difference; a link the comparison saw
// is still copied as what it leads to. A folder swapped for a link is not made on the other side.
TEST_F(SwappedFolderTest, AFileOrFolderSwappedForALinkAfterTheComparisonIsNotCopied) {
  writeAt(src_.at("id.txt"), "mine", kT);
  writeAt(src_.at("e/a.txt"), "in e", kT);
  fsys::create_directories(fsys::path(src_.at("empty")));
  fillOutside({"secret", "linked"});
  writeAt(out_.at("secret"), "SECR", kT);  // as long as id.txt, and of its time
  before_ = contentsBelow(out_.path());
  fsys::create_symlink(fsys::path(out_.at("linked")), fsys::path(src_.at("link.txt")));
  ASSERT_RC_OK(compare());
  fsys::remove(fsys::path(src_.at("id.txt")));
  fsys::create_symlink(fsys::path(out_.at("secret")), fsys::path(src_.at("id.txt")));
  for (const char* folder : {"e", "empty"}) {
    fsys::rename(fsys::path(src_.at(folder)), fsys::path(src_.at(folder) + u".away"));
    fsys::create_directory_symlink(fsys::path(out_.path()), fsys::path(src_.at(folder)));
  }

  SyncRequest mirror = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  mirror.failures = &failures_;
  ASSERT_RC_OK(syncAll(mirror, {ok_, failed_}));
  EXPECT_FALSE(exists(trg_.at("id.txt")));
  EXPECT_FALSE(exists(trg_.at("e")));
  EXPECT_FALSE(exists(trg_.at("empty")));
  EXPECT_EQ(readFile(trg_.at("link.txt")), "OUTSIDE linked");
  std::set<std::u16string> named;
  for (const EntryFailure& f : failures_) named.insert(f.path);
  EXPECT_EQ(named, (std::set<std::u16string>{src_.at("id.txt"), src_.at("e"), src_.at("empty")}));
  EXPECT_EQ(valueOf(failed_.addedFiles), 2u);
  EXPECT_EQ(contentsBelow(out_.path()), before_);

  // A save of the difference fails on it and keeps no file.
  for (const char* link : {"id.txt", "link.txt", "e", "empty"}) fsys::remove(fsys::path(src_.at(link)));
  writeAt(src_.at("id.txt"), "mine", kT);
  ASSERT_RC_OK(compare());
  fsys::remove(fsys::path(src_.at("id.txt")));
  fsys::create_symlink(fsys::path(out_.at("secret")), fsys::path(src_.at("id.txt")));
  SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  std::u16string saved = out_.at("saved.fwd");
  std::u16string failedEntry;
  Rc rc = saveDifference(request, {ok_, failed_}, saved.c_str(), kNoSplit, &failedEntry);
  EXPECT_EQ(rc, Rc::Failed);
  EXPECT_EQ(failedEntry, src_.at("id.txt"));
  EXPECT_FALSE(exists(saved));
}

// A second thread swaps folders of both sides for links to the outside folder and back, again
// and again, while a mirror compares and syncs the real folders on all its threads.
TEST_F(SwappedFolderTest, FoldersSwappedAgainAndAgainDuringASyncNeverLeadOutside) {
  constexpr int kFolders = 6, kFiles = 24;
  for (int f = 0; f < kFolders; ++f) {
    for (int i = 0; i < kFiles; ++i) {
      std::string name = "f" + std::to_string(f) + "/n" + std::to_string(i) + ".txt";
      writeAt(src_.at(name), "source " + name, kT);
      writeAt(trg_.at("f" + std::to_string(f) + "/old" + std::to_string(i) + ".txt"), "old", kT);
    }
  }
  for (int i = 0; i < kFiles; ++i) {
    writeAt(out_.at("n" + std::to_string(i) + ".txt"), "OUTSIDE", kT - kHour);
    writeAt(out_.at("old" + std::to_string(i) + ".txt"), "OUTSIDE", kT);
  }
  before_ = contentsBelow(out_.path());
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    std::error_code ec;
    for (unsigned k = 0; !stop.load(); ++k) {
      const TempDir& side = k % 2 ? src_ : trg_;
      std::u16string folder = side.at("f" + std::to_string(k / 2 % kFolders));
      fsys::rename(fsys::path(folder), fsys::path(folder + u".away"), ec);
      if (ec) continue;
      fsys::create_directory_symlink(fsys::path(out_.path()), fsys::path(folder), ec);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      fsys::remove(fsys::path(folder), ec);  // the link (the sync may have removed it)
      fsys::rename(fsys::path(folder + u".away"), fsys::path(folder), ec);
    }
  });
  for (int run = 0; run < 4; ++run) {
    Rc rc = mirrorThrough(systemFs());
    EXPECT_TRUE(rc == Rc::Ok || rc == Rc::Failed) << rcName(rc);
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(contentsBelow(out_.path()), before_);
  for (const auto& [path, content] : contentsBelow(trg_.path()))
    EXPECT_EQ(content.find("OUTSIDE"), std::string::npos) << path;
}

}  // namespace
}  // namespace fw
#endif
