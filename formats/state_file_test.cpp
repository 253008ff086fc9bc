#include "formats/state_file.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "core/compare_fixture.h"
#include "core/sibling_tree.h"
#include "formats/format_test_util.h"
#include "formats/project_file.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/kill_fs.h"

namespace fw {
namespace {

constexpr uint64_t kT = 0x01D6123456789ABCull;

FileNode* addNode(NodePool& pool, FileNode** tree, const char16_t* name, uint32_t flags,
                  SideInfo source = {}, SideInfo target = {}) {
  FileNode* n;
  EXPECT_EQ(pool.allocateNode(&n), Rc::Ok);
  EXPECT_EQ(pool.allocateName(name, length16(name), &n->name), Rc::Ok);
  n->flags = flags;
  n->side[0] = source;
  n->side[1] = target;
  *tree = insertNode(*tree, n);
  (*tree)->flags &= ~static_cast<uint32_t>(Red);
  return n;
}

FileNode* makeRoot(NodePool& pool, const char16_t* name) {
  FileNode* root;
  EXPECT_EQ(pool.allocateNode(&root), Rc::Ok);
  EXPECT_EQ(pool.allocateName(name, length16(name), &root->name), Rc::Ok);
  root->flags = Folder;
  return root;
}

std::string inflatedTree(const std::u16string& path) {
  std::string file = readFile(path);
  std::string out;
  EXPECT_TRUE(file.size() > kVolumeHeaderSize &&
              inflateStream(file.substr(kVolumeHeaderSize), &out));
  return out;
}

TEST(StateWriterTest, WorkedExampleHasTheDocumentedBytes) {
  TempDir dir;
  NodePool pool;
  FileNode* root = makeRoot(pool, u"C:\\data");
  addNode(pool, &root->children, u"sub", Folder | OnlyInSource, SideInfo{0, 0, 2});
  addNode(pool, &root->children, u"a.txt", OnlyInSource, SideInfo{kT, 5, 1});
  std::u16string path = dir.at("s.fws");
  ASSERT_RC_OK(saveSideState(systemFs(), root, 0, path.c_str()));

  // Written out by hand: root names, a.txt's record, sub's record and end, the root's end.
  const unsigned char expected[] = {
      'C', ':', '\\', 'd', 'a', 't', 'a', 0,  // root name
      0,                                       // end of rootNames
      'a', '.', 't', 'x', 't', 0,              // a.txt
      0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0xD6, 0x01,  // modified, low half first
      5, 0, 0, 0, 0, 0, 0, 0,                  // size
      1,                                       // archive
      's', 'u', 'b', 0,                        // sub
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // folder: modified and size 0
      2,                                       // hidden
      0,                                       // end of sub
      0,                                       // end of the root
  };
  EXPECT_EQ(inflatedTree(path), std::string(reinterpret_cast<const char*>(expected),
                                            sizeof expected));
  std::string file = readFile(path);
  const unsigned char header[] = {'K', 'T', 'R', 'V', '_', 'F', 'W', 'S', 1, 0, 0, 0, 0, 0, 3};
  EXPECT_EQ(file.substr(0, 15), std::string(reinterpret_cast<const char*>(header), 15));
  EXPECT_EQ(getU32(reinterpret_cast<const uint8_t*>(file.data()) + 15), file.size());
}

TEST(StateWriterTest, SavesOnlyTheChosenSideAndNamesEmptyRootsWithASpace) {
  TempDir dir;
  NodePool pool;
  FileNode* r1 = makeRoot(pool, u"");
  FileNode* r2 = makeRoot(pool, u"R");
  r1->link[1] = r2;
  addNode(pool, &r2->children, u"both", 0, SideInfo{10, 1, 1}, SideInfo{20, 2, 4});
  FileNode* src = addNode(pool, &r2->children, u"srcdir", Folder | OnlyInSource);
  addNode(pool, &src->children, u"inside", OnlyInSource, SideInfo{30, 3, 0});
  addNode(pool, &r2->children, u"trgfile", OnlyInTarget, {}, SideInfo{40, 4, 8});
  std::u16string path = dir.at("t.fws");

  ASSERT_RC_OK(saveSideState(systemFs(), r1, 1, path.c_str()));
  std::string z(1, '\0');
  EXPECT_EQ(inflatedTree(path), " " + z + "R" + z + z + z +  // root names; root 1 is empty
                                    fileRecord("both", 20, 2, 4) +
                                    fileRecord("trgfile", 40, 4, 8) + z);
  ASSERT_RC_OK(saveSideState(systemFs(), r1, 0, path.c_str()));
  EXPECT_EQ(inflatedTree(path), " " + z + "R" + z + z + z + fileRecord("both", 10, 1, 1) +
                                    folderRecord("srcdir", 0) +
                                    fileRecord("inside", 30, 3, 0) + z + z);
  std::vector<std::u16string> names;
  ASSERT_RC_OK(readStringList(systemFs(), &names, path.c_str(), FileKind::StateFile));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"R"}));
}

// The names in a folder, sorted.
std::set<std::u16string> namesIn(const std::u16string& folder) {
  std::set<std::u16string> names;
  std::u16string pattern = folder + kPathSeparator + u"*";
  FindHandle h;
  FindEntry e;
  if (systemFs().findFirst(pattern.c_str(), &h, &e) != FsStatus::Ok) return names;
  do {
    std::u16string name = e.name;
    if (name != u"." && name != u"..") names.insert(name);
  } while (systemFs().findNext(h, &e) == FsStatus::Ok);
  systemFs().findClose(h);
  return names;
}

TEST(StateWriterTest, AFailedSaveKeepsTheOldFileAndNamesTheEntry) {
  TempDir dir;
  NodePool pool;
  FileNode* root = makeRoot(pool, u"R");
  FileNode* sub = addNode(pool, &root->children, u"sub", Folder | OnlyInSource);
  std::u16string path = dir.at("s.fws");
  ASSERT_RC_OK(saveSideState(systemFs(), root, 0, path.c_str()));
  const std::string old = readFile(path);

  std::u16string longName(260, u'x');
  addNode(pool, &sub->children, longName.c_str(), OnlyInSource, SideInfo{1, 1, 0});
  std::u16string entry;
  EXPECT_RC(Rc::BadRequest, saveSideState(systemFs(), root, 0, path.c_str(), &entry));
  EXPECT_EQ(entry, std::u16string(u"R") + kPathSeparator + u"sub" + kPathSeparator + longName);
  EXPECT_EQ(readFile(path), old);
  EXPECT_RC(Rc::BadRequest, saveSideState(systemFs(), nullptr, 0, path.c_str(), &entry));
  EXPECT_EQ(entry, u"");

  // Failures of the output name no entry and leave the old file too.
  sub->children = nullptr;
  FaultFs fs(systemFs());
  fs.failNth(FsOp::Write, 1, FsStatus::DiskFull);
  EXPECT_RC(Rc::CannotWrite, saveSideState(fs, root, 0, path.c_str(), &entry));
  EXPECT_EQ(entry, u"");
  fs.failNth(FsOp::Create, 1, FsStatus::AccessDenied);
  EXPECT_RC(Rc::CannotWrite, saveSideState(fs, root, 0, path.c_str()));
  fs.failNth(FsOp::Rename, 1, FsStatus::AccessDenied);  // the new file over the old one
  EXPECT_RC(Rc::CannotWrite, saveSideState(fs, root, 0, path.c_str()));
  EXPECT_EQ(fs.calls(FsOp::Rename), 1);
  EXPECT_EQ(readFile(path), old);
  EXPECT_EQ(namesIn(dir.path()), std::set<std::u16string>{u"s.fws"});

  // A read-only file is not replaced; a save in its place succeeds once it is writable.
  ASSERT_EQ(systemFs().setAttributes(path.c_str(), attr::ReadOnly), FsStatus::Ok);
  EXPECT_RC(Rc::CannotWrite, saveSideState(systemFs(), root, 1, path.c_str()));
  ASSERT_EQ(systemFs().setAttributes(path.c_str(), attr::Normal), FsStatus::Ok);
  EXPECT_EQ(readFile(path), old);
  ASSERT_RC_OK(saveSideState(systemFs(), root, 1, path.c_str()));
  EXPECT_NE(readFile(path), old);
  EXPECT_EQ(namesIn(dir.path()), std::set<std::u16string>{u"s.fws"});
}

// What a comparison decided about each entry, for comparing two comparisons.
using Outcome = std::map<std::string, std::tuple<uint32_t, uint64_t, uint64_t, int, uint64_t,
                                                 uint64_t, int>>;
void collect(FileNode* tree, const std::string& prefix, Outcome* out) {
  forEachInOrder(tree, [&](FileNode* n) {
    std::string path = prefix + toUtf8(n->name);
    bool file = !isFolder(n);
    (*out)[path] = {n->flags & (kCategoryBits | Folder | Excluded),
                    file ? n->side[0].modified : 0, file ? n->side[0].size : 0,
                    file ? n->side[0].attributes : 0, file ? n->side[1].modified : 0,
                    file ? n->side[1].size : 0, file ? n->side[1].attributes : 0};
    if (n->children) collect(n->children, path + "/", out);
  });
}

TEST(StateWriterTest, AKillAtAnyInstantOfASaveLeavesTheOldFileOrTheNewOneWhole) {
  NodePool pool;
  FileNode* root = makeRoot(pool, u"R");
  addNode(pool, &root->children, u"both", 0, SideInfo{10, 1, 1}, SideInfo{20, 2, 4});
  addNode(pool, &root->children, u"mine", OnlyInSource, SideInfo{30, 3, 0});
  std::string before, after;
  {
    TempDir dir;
    ASSERT_RC_OK(saveSideState(systemFs(), root, 0, dir.at("s.fws").c_str()));
    before = readFile(dir.at("s.fws"));
    ASSERT_RC_OK(saveSideState(systemFs(), root, 1, dir.at("s.fws").c_str()));
    after = readFile(dir.at("s.fws"));
    ASSERT_NE(before, after);
  }
  // The save of side 1 over side 0's file, stopped before its first call, its second, ...
  // until one finishes.
  for (int n = 0;; ++n) {
    ASSERT_LT(n, 1000);
    TempDir dir;
    std::u16string path = dir.at("s.fws");
    writeFile(path, before);
    KillFs fs(systemFs(), n);
    Rc rc = saveSideState(fs, root, 1, path.c_str());
    std::string now = readFile(path);
    EXPECT_TRUE(now == before || now == after) << "killed after " << n << " calls";
    if (!fs.killed()) {
      EXPECT_RC(Rc::Ok, rc);
      EXPECT_EQ(now, after);
      EXPECT_EQ(namesIn(dir.path()), std::set<std::u16string>{u"s.fws"});
      break;
    }
  }
}

class SavedSideTest : public CompareFixture {
 protected:
  void SetUp() override {
    writeFile(src_.at("same"), "abc");
    writeFile(trg_.at("same"), "abc");
    setModified(src_.at("same"), 132500000000000000ull);
    setModified(trg_.at("same"), 132500000000000000ull);
    writeFile(src_.at("size"), "abcd");
    writeFile(trg_.at("size"), "ab");
    writeFile(src_.at("Case.txt"), "c");
    writeFile(trg_.at("case.TXT"), "c");
    writeFile(src_.at("dir/deep/file"), "d");
    writeFile(trg_.at("dir/other"), "o");
    writeFile(src_.at("empty"), "");
    makeDir(src_.at("emptydir"));
    makeDir(trg_.at("onlytrg/x"));
    writeFile(src_.at("kind"), "file in source");
    writeFile(trg_.at("kind/inner"), "folder in target");
  }
  Outcome outcome() {
    Outcome o;
    if (roots_) collect(roots_->children, "", &o);
    return o;
  }
  // Saves one side of the folder comparison as a state file and reads its root names.
  SideInput savedSide(int side, const char* name) {
    EXPECT_EQ(compare(), Rc::Ok);
    SideInput in;
    in.savedFile = src_.at(std::string("../") + name);
    saved_.push_back(in.savedFile);
    EXPECT_EQ(saveSideState(*fs_, roots_, side, in.savedFile.c_str()), Rc::Ok);
    EXPECT_EQ(readStringList(*fs_, &in.roots, in.savedFile.c_str(), FileKind::StateFile), Rc::Ok);
    return in;
  }
  Rc compareWithSaved(const SideInput* s, const SideInput* t,
                      const char16_t* ignore = kDefaultIgnoreList) {
    CompareContext ctx;
    ctx.fs = fs_;
    ctx.pool = &pool_;
    ctx.ignoreList = ignore;
    ctx.cancel = &cancel_;
    SavedSides sides(ctx);
    return compareSides(s, t, &roots_, ctx);
  }
  void TearDown() override {
    for (const std::u16string& p : saved_) systemFs().deleteFile(p.c_str());
  }
  std::vector<std::u16string> saved_;
};

TEST_F(SavedSideTest, SavedTargetGivesTheSameComparisonAsItsFolder) {
  ASSERT_RC_OK(compare());
  Outcome direct = outcome();
  ASSERT_FALSE(direct.empty());
  SideInput target = savedSide(1, "fwtest-trg.fws");
  source_.roots = {src_.path()};
  ASSERT_RC_OK(compareWithSaved(&source_, &target));
  // The saved target keeps the target's own spelling of every name.
  EXPECT_EQ(outcome(), direct);
  EXPECT_EQ(toUtf8(roots_->name), toUtf8(trg_.path()));
}

TEST_F(SavedSideTest, SavedSourceGivesTheSameComparisonAsItsFolder) {
  ASSERT_RC_OK(compare());
  Outcome direct = outcome();
  SideInput source = savedSide(0, "fwtest-src.fws");
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareWithSaved(&source, &target_));
  EXPECT_EQ(outcome(), direct);
  // Both sides saved: still the same.
  SideInput target = savedSide(1, "fwtest-trg2.fws");
  source = savedSide(0, "fwtest-src2.fws");
  ASSERT_RC_OK(compareWithSaved(&source, &target));
  EXPECT_EQ(outcome(), direct);
}

TEST_F(SavedSideTest, DifferenceFileLoadsAsASideAndOtherFilesDoNot) {
  ASSERT_RC_OK(compare());
  Outcome direct = outcome();
  SideInput source;
  source.savedFile = src_.at("../fwtest-d.fwd");
  saved_.push_back(source.savedFile);
  std::unique_ptr<CompressedWriter> w;
  ASSERT_RC_OK(CompressedWriter::create(*fs_, FileKind::DifferenceFile,
                                        source.savedFile.c_str(), 0, kNoSplit, &w));
  ASSERT_RC_OK(writeTreeSection(*w, roots_));
  ASSERT_RC_OK(w->beginStream());
  ASSERT_RC_OK(writeDataEntry(*w, 0, u"dir\\deep\\file", 13));
  ASSERT_RC_OK(w->writeBytes("d", 1));
  ASSERT_RC_OK(w->finishStream());
  ASSERT_RC_OK(w->closeVolume(true));
  ASSERT_RC_OK(w->commit());
  w.reset();
  ASSERT_RC_OK(readStringList(*fs_, &source.roots, source.savedFile.c_str(),
                              FileKind::DifferenceFile));
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareWithSaved(&source, &target_));
  EXPECT_EQ(outcome(), direct);

  // The data entry reads back.
  std::unique_ptr<CompressedReader> r;
  ASSERT_RC_OK(CompressedReader::create(*fs_, &r));
  ASSERT_RC_OK(r->openReader(FileKind::DifferenceFile, source.savedFile.c_str()));
  ASSERT_RC_OK(r->findDataSection());
  uint32_t index;
  char16_t rel[64];
  size_t units;
  bool end;
  ASSERT_RC_OK(readDataEntry(*r, &index, rel, 64, &units, &end));
  EXPECT_FALSE(end);
  EXPECT_EQ(std::u16string(rel, units), u"dir\\deep\\file");
  const uint8_t* p;
  size_t n;
  ASSERT_RC_OK(r->takeBytes(1, &p, &n));
  EXPECT_EQ(n, 1u);
  ASSERT_RC_OK(readDataEntry(*r, &index, rel, 64, &units, &end));
  EXPECT_TRUE(end);

  SideInput bogus = source;
  bogus.savedFile = src_.at("../fwtest-missing.fws");
  EXPECT_RC(Rc::CannotOpen, compareWithSaved(&bogus, &target_));
  EXPECT_EQ(roots_, nullptr);
  bogus.savedFile = src_.at("../fwtest-p.fwp");
  saved_.push_back(bogus.savedFile);
  ASSERT_RC_OK(saveProject(*fs_, {u"a"}, {u"b"}, bogus.savedFile.c_str()));
  EXPECT_RC(Rc::Failed, compareWithSaved(&bogus, &target_));
}

// A state file of one root whose records are given as inflated bytes.
SideInput rawState(const std::u16string& path, const std::string& records,
                   std::vector<std::u16string> roots = {u"R"}) {
  std::string content;
  for (const std::u16string& r : roots) content += toUtf8(r.empty() ? u" " : r) + '\0';
  content += '\0';
  content += records;
  EXPECT_EQ(writeRawFile(systemFs(), FileKind::StateFile, path, content), Rc::Ok);
  SideInput in;
  in.savedFile = path;
  in.roots = roots;
  return in;
}

TEST_F(SavedSideTest, NamesThatCouldLeaveTheTargetFolderAreRefused) {
  std::u16string path = src_.at("../fwtest-bad.fws");
  saved_.push_back(path);
  target_.roots = {trg_.path()};
  std::string z(1, '\0');
  std::string bad[] = {".", "..", "a/b", "a\\b", "..\\x", std::string("\xC0\x80", 2), "\xFF",
                       std::string(260, 'n')};
  for (const std::string& name : bad) {
    SideInput source = rawState(path, fileRecord("ok", 5, 1, 0) + fileRecord(name, 5, 1, 0) + z);
    EXPECT_EQ(compareWithSaved(&source, &target_), Rc::Failed) << name;
    EXPECT_EQ(roots_, nullptr);
    // Also below a folder, and on the second side's pass.
    source = rawState(path, folderRecord("d", 0) + fileRecord(name, 5, 1, 0) + z + z);
    source_.roots = {src_.path()};
    SideInput target = source;
    EXPECT_EQ(compareWithSaved(&source_, &target), Rc::Failed) << name;
  }
  SideInput ok = rawState(path, fileRecord(std::string(259, 'n'), 5, 1, 0) + z);
  EXPECT_RC(Rc::Ok, compareWithSaved(&ok, &target_));
}

TEST_F(SavedSideTest, RecordsMergeByWhatTheyAreAndIgnoredOnesAreSkippedWhole) {
  std::u16string path = src_.at("../fwtest-raw.fws");
  saved_.push_back(path);
  std::string z(1, '\0');
  // Target folder: kind/ is a folder there, same and size files; the saved source has kind as
  // a file, an ignored folder with entries, a file of time 0 (a folder) and an empty folder.
  SideInput source = rawState(
      path, fileRecord("kind", 7, 3, 1) + folderRecord("Thumbs.db", 0) +
                fileRecord("hidden", 1, 1, 0) + folderRecord("x", 0) + z + z +
                fileRecord("same", 132500000000000000ull, 3, 6) + fileRecord("zero", 0, 9, 1) +
                z + folderRecord("emptydir", 4) + z + fileRecord("zz", 9, 1, 1) + z);
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareWithSaved(&source, &target_));
  EXPECT_EQ(node("Thumbs.db"), nullptr);
  EXPECT_EQ(node("hidden"), nullptr);
  EXPECT_EQ(node("x"), nullptr);
  ASSERT_NE(node("zero"), nullptr);
  EXPECT_TRUE(isFolder(node("zero")));
  EXPECT_EQ(node("zero")->side[0].size, 0u);
  ASSERT_NE(node("emptydir"), nullptr);
  EXPECT_EQ(node("emptydir")->children, nullptr);
  EXPECT_EQ(node("emptydir")->side[0].attributes, 4);
  ASSERT_NE(node("zz"), nullptr);  // the records after the skipped ones are in their place
  EXPECT_EQ(categories("zz"), static_cast<uint32_t>(OnlyInSource));
  EXPECT_EQ(categories("same") & kCategoryBits, static_cast<uint32_t>(CaseOrAttrDiffers));
  // kind: a file in the saved source, a folder on disk: a conflict that nothing acts on; the
  // folder is not entered.
  ASSERT_NE(node("kind"), nullptr);
  EXPECT_FALSE(isFolder(node("kind")));
  EXPECT_TRUE(node("kind")->flags & Conflict);
  EXPECT_TRUE(node("kind")->flags & Excluded);
  EXPECT_EQ(node("kind/inner"), nullptr);
}

TEST_F(SavedSideTest, RowsWithAnEmptyRootKeepTheReaderInStep) {
  std::u16string path = src_.at("../fwtest-rows.fws");
  saved_.push_back(path);
  std::string z(1, '\0');
  SideInput source = rawState(path, fileRecord("first", 1, 1, 0) + z +
                                        fileRecord("second", 1, 1, 0) + z,
                              {u"", u"B"});
  std::vector<std::u16string> names;
  ASSERT_RC_OK(readStringList(*fs_, &names, path.c_str(), FileKind::StateFile));
  source.roots = names;  // as the main window reads them: "" for the first
  target_.roots = {trg_.path(), trg_.path()};
  ASSERT_RC_OK(compareWithSaved(&source, &target_));
  ASSERT_NE(roots_, nullptr);
  ASSERT_NE(roots_->link[1], nullptr);
  EXPECT_EQ(node("first"), nullptr);
  EXPECT_NE(node("second", roots_->link[1]), nullptr);
  EXPECT_EQ(node("first", roots_->link[1]), nullptr);
}

TEST_F(SavedSideTest, TruncatedTreesAndTooDeepNestingFail) {
  std::u16string path = src_.at("../fwtest-cut.fws");
  saved_.push_back(path);
  std::string z(1, '\0');
  target_.roots = {trg_.path()};
  std::string fixed = fileRecord("f", 5, 1, 0);
  for (size_t cut : {size_t(0), size_t(1), size_t(2), size_t(10), fixed.size()}) {
    SideInput source = rawState(path, fixed.substr(0, cut));  // no end of the root
    EXPECT_EQ(compareWithSaved(&source, &target_), Rc::Failed) << cut;
  }
  auto nested = [&](size_t depth) {
    std::string s;
    for (size_t i = 0; i < depth; ++i) s += folderRecord("d", 0);
    s += std::string(depth + 1, '\0');
    return s;
  };
  SideInput deepest = rawState(path, nested(kMaxTreeDepth - 1));
  EXPECT_RC(Rc::Ok, compareWithSaved(&deepest, &target_));
  SideInput tooDeep = rawState(path, nested(kMaxTreeDepth));
  EXPECT_RC(Rc::Failed, compareWithSaved(&tooDeep, &target_));
  // Skipped subtrees are held to the same depth.
  SideInput ignored = rawState(path, folderRecord("thumbs.db", 0) + nested(kMaxTreeDepth) + z);
  EXPECT_RC(Rc::Failed, compareWithSaved(&ignored, &target_));
}

TEST_F(SavedSideTest, ANameTwiceInOneFolderIsRefusedButCaseTwinsAreNot) {
  std::u16string path = src_.at("../fwtest-twice.fws");
  saved_.push_back(path);
  std::string z(1, '\0');
  std::string a = fileRecord("a", 5, 1, 0), b = fileRecord("b", 5, 1, 0);
  target_.roots = {trg_.path()};
  source_.roots = {src_.path()};
  std::string twice[] = {
      a + a + z,
      a + b + a + z,                                     // not next to each other
      folderRecord("d", 0) + a + a + z + z,              // below a folder
      folderRecord("d", 0) + z + folderRecord("d", 0) + z + z,
      fileRecord("thumbs.db", 5, 1, 0) + fileRecord("thumbs.db", 6, 1, 0) + z,  // ignored
      fileRecord("same", 5, 3, 0) + fileRecord("same", 5, 3, 0) + z,  // merged with the folder's
  };
  for (const std::string& records : twice) {
    SideInput saved = rawState(path, records);
    EXPECT_EQ(compareWithSaved(&saved, &target_), Rc::Failed);
    EXPECT_EQ(roots_, nullptr);
    EXPECT_EQ(compareWithSaved(&source_, &saved), Rc::Failed);
  }
  // A name once per folder, in several folders, and names that differ in letter case only
  // (also against the folder's "same") are what real trees hold.
  std::string fine[] = {
      folderRecord("d", 0) + a + z + a + folderRecord("e", 0) + a + z + z,
      fileRecord("xt_MARK.h", 5, 1, 0) + fileRecord("xt_mark.h", 6, 2, 0) + z,
      fileRecord("same", 5, 3, 0) + fileRecord("SAME", 5, 3, 0) + z,
  };
  for (const std::string& records : fine) {
    SideInput saved = rawState(path, records);
    EXPECT_RC(Rc::Ok, compareWithSaved(&saved, &target_));
    EXPECT_RC(Rc::Ok, compareWithSaved(&source_, &saved));
  }
  // A small file of one record copied many times ends at the second copy.
  std::string many;
  for (int i = 0; i < 200000; ++i) many += a;
  SideInput saved = rawState(path, many + z);
  EXPECT_EQ(compareWithSaved(&saved, &target_), Rc::Failed);
}

TEST_F(SavedSideTest, AStreamThatDoesNotEndWholeWhereItsHeaderSaysIsRefused) {
  std::u16string path = src_.at("../fwtest-damaged.fws");
  saved_.push_back(path);
  std::string z(1, '\0');
  source_.roots = {src_.path()};
  for (FileKind kind : {FileKind::StateFile, FileKind::DifferenceFile}) {
    std::string content = "R" + z + z + fileRecord("f", 5, 1, 0) + z;
    ASSERT_RC_OK(writeRawFile(systemFs(), kind, path, content));
    if (kind == FileKind::DifferenceFile) {  // writeRawFile writes no data section
      std::unique_ptr<CompressedWriter> w;
      ASSERT_RC_OK(CompressedWriter::create(systemFs(), kind, path.c_str(), 0, kNoSplit, &w));
      ASSERT_RC_OK(w->openVolume());
      ASSERT_RC_OK(w->beginStream());
      ASSERT_RC_OK(w->writeBytes(content.data(), content.size()));
      ASSERT_RC_OK(w->finishStream());
      ASSERT_RC_OK(w->recordTreeEnd());
      ASSERT_RC_OK(w->beginStream());
      ASSERT_RC_OK(w->finishStream());
      ASSERT_RC_OK(w->commit());
    }
    const std::string good = readFile(path);
    SideInput saved{{u"R"}, path};
    ASSERT_RC_OK(compareWithSaved(&source_, &saved));
    uint32_t treeEnd = getU32(reinterpret_cast<const uint8_t*>(good.data()) + 15);

    std::string flipped = good;
    flipped[treeEnd - 1] ^= 0x01;  // in the checksum after the last root
    std::string cut = good.substr(0, treeEnd - 2) + good.substr(treeEnd);
    std::string unflagged = good;
    unflagged[14] = 0;  // as a save that failed left its file
    std::string moved = good;
    moved[15] = static_cast<char>(moved[15] - 1);  // treeEnd one byte early
    for (const std::string& bytes : {flipped, cut, unflagged, moved}) {
      writeFile(path, bytes);
      EXPECT_EQ(compareWithSaved(&source_, &saved), Rc::Failed) << static_cast<int>(kind);
      EXPECT_EQ(roots_, nullptr);
    }
  }
}

// Memory follows from the file's real size: a small file that inflates to millions of
// records (the same folder over and over) is refused before it fills memory, as damaged.
TEST_F(SavedSideTest, AFilePackedTighterThanRealTreesIsRefusedBeforeItFillsMemory) {
  std::u16string path = src_.at("../fwtest-packed.fws");
  saved_.push_back(path);
  std::string z(1, '\0');
  std::string folder;
  for (int i = 0; i < 99; ++i) folder += fileRecord("f" + std::to_string(i), 5, 1, 0);
  folder += z;
  std::string records;
  for (int i = 0; i < 17000; ++i) records += folderRecord("d" + std::to_string(i), 0) + folder;
  ASSERT_GT(records.size(), kInflationFloor);
  SideInput packed = rawState(path, records + z);
  ASSERT_LT(readFile(path).size() * kMaxInflation, records.size());
  target_.roots = {trg_.path()};
  EXPECT_RC(Rc::Failed, compareWithSaved(&packed, &target_));
  EXPECT_EQ(roots_, nullptr);
  std::vector<std::u16string> names;
  SideKind kind;
  EXPECT_RC(Rc::Failed, readSavedRoots(systemFs(), path.c_str(), &names, &kind));
}

TEST_F(SavedSideTest, RowsPastTheSavedRootsAreEmptyOnThatSide) {
  std::string z(1, '\0');
  for (FileKind kind : {FileKind::StateFile, FileKind::DifferenceFile}) {
    std::u16string path = src_.at(std::string("../fwtest-rows") + toUtf8(fileExtension(kind)));
    saved_.push_back(path);
    ASSERT_RC_OK(writeRawFile(systemFs(), kind, path, "R" + z + z + fileRecord("f", 5, 1, 0) + z));
    // The shorter side padded with empty rows, as the main window and the CLI pad it.
    SideInput saved{{u"R", u""}, path};
    target_.roots = {trg_.path(), trg_.path()};
    ASSERT_RC_OK(compareWithSaved(&saved, &target_));
    ASSERT_NE(roots_->link[1], nullptr);
    EXPECT_NE(node("f"), nullptr);
    EXPECT_EQ(node("f", roots_->link[1]), nullptr);
    ASSERT_NE(node("same", roots_->link[1]), nullptr);
    EXPECT_EQ(node("same", roots_->link[1])->flags & kCategoryBits,
              static_cast<uint32_t>(OnlyInTarget));
    source_.roots = {src_.path(), src_.path()};
    ASSERT_RC_OK(compareWithSaved(&source_, &saved));
    ASSERT_NE(node("same", roots_->link[1]), nullptr);
    EXPECT_EQ(node("same", roots_->link[1])->flags & kCategoryBits,
              static_cast<uint32_t>(OnlyInSource));
  }
}

TEST(DataEntryTest, PathsMustStayBelowTheirRoot) {
  TempDir dir;
  std::u16string path = dir.at("d.fwd");
  std::string tree = std::string("R\0\0\0", 4);
  for (const char* rel : {"a\\..\\b", "..", "a\\\\b", "\\a", "a/b", "a\\"}) {
    std::unique_ptr<CompressedWriter> w;
    ASSERT_RC_OK(CompressedWriter::create(systemFs(), FileKind::DifferenceFile, path.c_str(), 0,
                                          kNoSplit, &w));
    ASSERT_RC_OK(w->openVolume());
    ASSERT_RC_OK(w->beginStream());
    ASSERT_RC_OK(w->writeBytes(tree.data(), tree.size()));
    ASSERT_RC_OK(w->finishStream());
    ASSERT_RC_OK(w->recordTreeEnd());
    ASSERT_RC_OK(w->beginStream());
    std::u16string r16 = toUtf16(rel);
    ASSERT_RC_OK(writeDataEntry(*w, 0, r16.c_str(), r16.size()));
    ASSERT_RC_OK(w->finishStream());
    ASSERT_RC_OK(w->closeVolume(true));
    ASSERT_RC_OK(w->commit());
    w.reset();
    std::unique_ptr<CompressedReader> r;
    ASSERT_RC_OK(CompressedReader::create(systemFs(), &r));
    ASSERT_RC_OK(r->openReader(FileKind::DifferenceFile, path.c_str()));
    ASSERT_RC_OK(r->findDataSection());
    uint32_t index;
    char16_t buffer[32];
    size_t units;
    bool end;
    EXPECT_EQ(readDataEntry(*r, &index, buffer, 32, &units, &end), Rc::Failed) << rel;
  }
}

}  // namespace
}  // namespace fw
