// File operations on real temporary folders, through the real file system or a failing
// wrapper of it.
#include "sync/file_ops.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/compare_fixture.h"
#include "core/result_test_util.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"
#include "sync/sync_test_support.h"
#include "sync/sync_all.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace fw {
namespace {

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

// A PathBuffer holding a path.
struct Path {
  explicit Path(const std::u16string& p) : buffer(kPathBufferUnits), length(p.size()) {
    std::copy(p.begin(), p.end(), buffer.begin());
    buffer[length] = 0;
  }
  char16_t* get() { return buffer.data(); }
  std::vector<char16_t> buffer;
  size_t length;
};

class FileOpsTest : public ::testing::Test {
 protected:
  TempDir dir_;
  Fs& sys_ = systemFs();
  CancelFlag cancel_{0};
  std::atomic<uint64_t> progress_{0};
  // Progress and cancel flag of the fixture; start as copyFile takes it.
  CopyOptions options(size_t start = 0) {
    CopyOptions o;
    o.progress = &progress_;
    o.cancel = &cancel_;
    o.start = start;
    return o;
  }
};

TEST_F(FileOpsTest, CopyOfExactlyOneBlockIsCompleteAndStampedWithTheSourceWriteTime) {
  std::string data = pattern(65536);
  writeFile(dir_.at("src"), data);
  setModified(dir_.at("src"), kT);
  FaultFs fs(sys_);
  ASSERT_RC_OK(copyFile(fs, dir_.at("dst").c_str(), dir_.at("src").c_str(), attr::Archive,
                        options()));
  EXPECT_EQ(readFile(dir_.at("dst")), data);
  EXPECT_EQ(modifiedOf(dir_.at("dst")), kT);
  EXPECT_EQ(progress_.load(), 65536u);
  EXPECT_EQ(fs.calls(FsOp::Read), 2);  // one full block, one empty read
  EXPECT_FALSE(hasTemporaryFile(dir_.path()));
}

TEST_F(FileOpsTest, EmptyFileCopiesWithItsTimeAndTheGivenAttributes) {
  writeFile(dir_.at("src"), "");
  setModified(dir_.at("src"), kT);
  ASSERT_RC_OK(copyFile(sys_, dir_.at("dst").c_str(), dir_.at("src").c_str(), attr::ReadOnly,
                        options()));
  EXPECT_EQ(readFile(dir_.at("dst")), "");
  EXPECT_EQ(modifiedOf(dir_.at("dst")), kT);
  EXPECT_TRUE(attributesOf(dir_.at("dst")) & attr::ReadOnly);
}

TEST_F(FileOpsTest, CopyFailuresKeepTheOldDestinationAndLeaveNoTemporaryFile) {
  std::string data = pattern(3 * 65536 + 17);
  writeFile(dir_.at("src"), data);
  struct Case {
    const char* what;
    FsOp op;
    int nth;
    Rc expected;
  } cases[] = {
      {"write fails half-way", FsOp::Write, 2, Rc::CannotWrite},
      {"read fails half-way", FsOp::Read, 2, Rc::CannotWrite},
      {"time cannot be set", FsOp::SetFileTimes, 1, Rc::CannotWrite},
      {"rename fails", FsOp::Rename, 1, Rc::CannotWrite},
      {"temporary file cannot be created", FsOp::Create, 1, Rc::CannotOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir_.at("dst"), "old version");
    setModified(dir_.at("dst"), kT);
    FaultFs fs(sys_);
    fs.failNth(c.op, c.nth, FsStatus::IoError);
    ReplaceOutcome r =
        replaceFile(fs, dir_.at("dst").c_str(), dir_.at("src").c_str(), 1, options());
    EXPECT_EQ(r.copyResult, c.expected);
    EXPECT_FALSE(r.oldReplaced);
    EXPECT_EQ(readFile(dir_.at("dst")), "old version");
    EXPECT_EQ(modifiedOf(dir_.at("dst")), kT);
    EXPECT_FALSE(hasTemporaryFile(dir_.path()));
  }
}

TEST_F(FileOpsTest, CopyOntoAFullDiskKeepsTheOldDestination) {
  writeFile(dir_.at("src"), pattern(300000));
  writeFile(dir_.at("dst"), "old version");
  FaultFs fs(sys_);
  fs.diskFullAfter(100000);
  ReplaceOutcome r =
      replaceFile(fs, dir_.at("dst").c_str(), dir_.at("src").c_str(), 1, options());
  EXPECT_EQ(r.copyResult, Rc::CannotWrite);
  EXPECT_EQ(readFile(dir_.at("dst")), "old version");
  EXPECT_EQ(namesIn(dir_.path()), (std::set<std::u16string>{u"src", u"dst"}));
}

TEST_F(FileOpsTest, CancelDuringALargeCopyLeavesNeitherTemporaryFileNorDamage) {
  writeFile(dir_.at("big"), pattern(40 * 65536));
  writeFile(dir_.at("old"), "old version");
  for (const char* dst : {"old", "new"}) {
    SCOPED_TRACE(dst);
    cancel_ = 0;
    CancelAtWriteFs fs(sys_, 5, cancel_);
    ReplaceOutcome r =
        replaceFile(fs, dir_.at(dst).c_str(), dir_.at("big").c_str(), 1, options());
    EXPECT_RC(Rc::Ok, r.copyResult);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.oldReplaced);
    EXPECT_FALSE(hasTemporaryFile(dir_.path()));
  }
  EXPECT_EQ(readFile(dir_.at("old")), "old version");
  EXPECT_FALSE(exists(dir_.at("new")));
}

TEST_F(FileOpsTest, ReplaceOverAReadOnlyDestinationSucceedsButDeleteEntryDoesNot) {
  writeFile(dir_.at("src"), "new");
  writeFile(dir_.at("dst"), "old");
  writeFile(dir_.at("keep"), "keep");
  sys_.setAttributes(dir_.at("dst").c_str(), attr::ReadOnly);
  sys_.setAttributes(dir_.at("keep").c_str(), attr::ReadOnly);
  ReplaceOutcome r = replaceFile(sys_, dir_.at("dst").c_str(), dir_.at("src").c_str(), 0x01,
                                 options());
  ASSERT_RC_OK(r.copyResult);
  EXPECT_TRUE(r.oldReplaced);
  EXPECT_EQ(readFile(dir_.at("dst")), "new");
  EXPECT_FALSE(attributesOf(dir_.at("dst")) & attr::ReadOnly);

  FileNode file{};
  Path keep(dir_.at("keep"));
  EXPECT_EQ(deleteEntry(sys_, &file, keep.get(), &cancel_), Rc::CannotWrite);
  EXPECT_EQ(readFile(dir_.at("keep")), "keep");
}

TEST_F(FileOpsTest, FailedReplaceOfAReadOnlyDestinationLeavesItReadOnly) {
  writeFile(dir_.at("src"), "new");
  writeFile(dir_.at("dst"), "old");
  sys_.setAttributes(dir_.at("dst").c_str(), attr::ReadOnly);
  FaultFs fs(sys_);
  fs.failNth(FsOp::Rename, 1, FsStatus::AccessDenied);
  ReplaceOutcome r =
      replaceFile(fs, dir_.at("dst").c_str(), dir_.at("src").c_str(), 0x01, options());
  EXPECT_EQ(r.copyResult, Rc::CannotWrite);
  EXPECT_EQ(readFile(dir_.at("dst")), "old");
  EXPECT_TRUE(attributesOf(dir_.at("dst")) & attr::ReadOnly);
}

TEST_F(FileOpsTest, DeleteTreeStopsAtAReadOnlyFileAndKeepsItsFolder) {
  writeFile(dir_.at("t/a/one"), "1");
  writeFile(dir_.at("t/a/locked"), "2");
  writeFile(dir_.at("t/b/two"), "3");
  sys_.setAttributes(dir_.at("t/a/locked").c_str(), attr::ReadOnly);
  Path t(dir_.at("t"));
  EXPECT_EQ(deleteTree(sys_, t.get(), t.length, &cancel_), Rc::CannotWrite);
  EXPECT_EQ(t.buffer[t.length], 0);  // the path is cut back
  EXPECT_EQ(readFile(dir_.at("t/a/locked")), "2");
  EXPECT_TRUE(exists(dir_.at("t/a")));

  sys_.setAttributes(dir_.at("t/a/locked").c_str(), attr::Normal);
  ASSERT_RC_OK(deleteTree(sys_, t.get(), t.length, &cancel_));
  EXPECT_FALSE(exists(dir_.at("t")));
}

TEST_F(FileOpsTest, DeleteTreeRemovesLinksWithoutEnteringThem) {
  writeFile(dir_.at("outside/precious.txt"), "keep me");
  writeFile(dir_.at("tree/sub/file"), "x");
  std::error_code ec;
  std::filesystem::create_directory_symlink(std::filesystem::path(dir_.at("outside")),
                                            std::filesystem::path(dir_.at("tree/sub/link")), ec);
  if (!ec)
    std::filesystem::create_symlink(std::filesystem::path(dir_.at("outside/precious.txt")),
                                    std::filesystem::path(dir_.at("tree/filelink")), ec);
  if (!ec)
    std::filesystem::create_directory_symlink(std::filesystem::path(dir_.at("outside")),
                                              std::filesystem::path(dir_.at("toplink")), ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();

  Path tree(dir_.at("tree"));
  ASSERT_RC_OK(deleteTree(sys_, tree.get(), tree.length, &cancel_));
  EXPECT_FALSE(exists(dir_.at("tree")));
  EXPECT_EQ(readFile(dir_.at("outside/precious.txt")), "keep me");

  // A folder entry whose path is itself a link: the link goes, what it leads to stays.
  FileNode folder{};
  folder.flags = Folder;
  Path top(dir_.at("toplink"));
  ASSERT_RC_OK(deleteEntry(sys_, &folder, top.get(), &cancel_));
  EXPECT_EQ(namesIn(dir_.path()), std::set<std::u16string>{u"outside"});
  EXPECT_EQ(readFile(dir_.at("outside/precious.txt")), "keep me");
}

#ifndef _WIN32
TEST_F(FileOpsTest, PosixAFifoIsNeitherCopiedNorRemoved) {
  alarm(20);  // a copy blocked on the FIFO would otherwise hang the run
  makeDir(dir_.at("t"));
  ASSERT_EQ(mkfifo(toUtf8(dir_.at("t/fifo")).c_str(), 0600), 0);
  writeFile(dir_.at("dst"), "old");
  ReplaceOutcome r = replaceFile(sys_, dir_.at("dst").c_str(), dir_.at("t/fifo").c_str(), 1,
                                 options());
  EXPECT_EQ(r.copyResult, Rc::CannotOpen);
  EXPECT_EQ(readFile(dir_.at("dst")), "old");
  EXPECT_FALSE(hasTemporaryFile(dir_.path()));

  Path t(dir_.at("t"));
  EXPECT_EQ(deleteTree(sys_, t.get(), t.length, &cancel_), Rc::CannotWrite);
  struct stat st;
  EXPECT_EQ(lstat(toUtf8(dir_.at("t/fifo")).c_str(), &st), 0);
  alarm(0);
}
#endif

#ifndef _WIN32
// A 0600 key file must not arrive as 0644, nor a 0755 script as 0644; set-uid and set-gid do
// not travel (the copy belongs to whoever runs the sync). While it is written the copy is the
// owner's alone, whatever the source.
TEST_F(FileOpsTest, PosixACopyTakesTheSourcesPermissionsOnceComplete) {
  struct Case {
    uint32_t source;
    uint8_t attrByte;
    uint32_t expected;
    uint32_t whileWritten;
  } cases[] = {
      {0600, 0x01, 0600, 0600}, {0755, 0x01, 0755, 0600}, {0640, 0x04, 0440, 0400},
      {04755, 0x01, 0755, 0600}, {02770, 0x00, 0770, 0600}, {0444, 0x01, 0644, 0600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    writeFile(dir_.at("src"), "secret");
    ASSERT_EQ(chmod(toUtf8(dir_.at("src")).c_str(), c.source), 0);
    writeFile(dir_.at("dst"), "old");
    ASSERT_EQ(chmod(toUtf8(dir_.at("dst")).c_str(), 0666), 0);
    ModeAtWriteFs fs(sys_);
    ReplaceOutcome r = replaceFile(fs, dir_.at("dst").c_str(), dir_.at("src").c_str(), c.attrByte,
                                   options());
    ASSERT_RC_OK(r.copyResult);
    EXPECT_EQ(readFile(dir_.at("dst")), "secret");
    EXPECT_EQ(modeOf(dir_.at("dst")), c.expected);
    EXPECT_EQ(fs.modes, std::set<uint32_t>{c.whileWritten});
    sys_.setAttributes(dir_.at("dst").c_str(), attr::Normal);
    chmod(toUtf8(dir_.at("src")).c_str(), 0644);
  }
}
#endif

#ifndef _WIN32
// A 0644 file that the list lets one more user write: its mode's group bits are the list's
// mask (rw), and the copy must not give them to the owning group without the list.
TEST_F(FileOpsTest, PosixACopyKeepsTheSourcesAccessList) {
  // Version 2; owner rw, user 65534 rw, owning group r, mask rw, others r.
  const unsigned char list[] = {2, 0, 0, 0,                                //
                                1, 0, 6, 0, 0xff, 0xff, 0xff, 0xff,         //
                                2, 0, 6, 0, 0xfe, 0xff, 0, 0,               //
                                4, 0, 4, 0, 0xff, 0xff, 0xff, 0xff,         //
                                0x10, 0, 6, 0, 0xff, 0xff, 0xff, 0xff,      //
                                0x20, 0, 4, 0, 0xff, 0xff, 0xff, 0xff};
  std::string src = toUtf8(dir_.at("shared.txt"));
  writeFile(dir_.at("shared.txt"), "shared");
  ASSERT_EQ(chmod(src.c_str(), 0644), 0);
  if (setxattr(src.c_str(), "system.posix_acl_access", list, sizeof list, 0) != 0)
    GTEST_SKIP() << "this file system keeps no access lists";
  ASSERT_EQ(modeOf(dir_.at("shared.txt")), 0664u);
  writeFile(dir_.at("copy.txt"), "old");
  ReplaceOutcome r = replaceFile(sys_, dir_.at("copy.txt").c_str(), dir_.at("shared.txt").c_str(),
                                 0x01, options());
  ASSERT_RC_OK(r.copyResult);
  EXPECT_EQ(readFile(dir_.at("copy.txt")), "shared");
  unsigned char got[64] = {};
  ASSERT_EQ(getxattr(toUtf8(dir_.at("copy.txt")).c_str(), "system.posix_acl_access", got,
                     sizeof got),
            static_cast<ssize_t>(sizeof list));
  EXPECT_EQ(std::string(got, got + sizeof list), std::string(list, list + sizeof list));
  EXPECT_EQ(modeOf(dir_.at("copy.txt")), 0664u);
  // A source without a list: the copy has none either, whatever the old file had.
  ASSERT_EQ(removexattr(src.c_str(), "system.posix_acl_access"), 0);
  ASSERT_EQ(chmod(src.c_str(), 0644), 0);
  ASSERT_RC_OK(replaceFile(sys_, dir_.at("copy.txt").c_str(), dir_.at("shared.txt").c_str(),
                           0x01, options()).copyResult);
  EXPECT_LT(getxattr(toUtf8(dir_.at("copy.txt")).c_str(), "system.posix_acl_access", got,
                     sizeof got),
            0);
  EXPECT_EQ(modeOf(dir_.at("copy.txt")), 0644u);
}

// A file of 16 MiB with 8 KiB of data at its start, in its middle and at its end, and holes
// between (one at the end too): the copy has the same bytes and its holes stay holes.
TEST_F(FileOpsTest, PosixASparseFileCopiesWithItsHoles) {
  constexpr off_t kSize = 16 << 20;
  for (bool endsInHole : {false, true}) {
    SCOPED_TRACE(endsInHole);
    std::string src = toUtf8(dir_.at("sparse"));
    int fd = open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string data = pattern(8192);
    for (off_t at : {off_t{0}, kSize / 2, kSize - 8192}) {
      if (endsInHole && at == kSize - 8192) continue;
      ASSERT_EQ(pwrite(fd, data.data(), data.size(), at), static_cast<ssize_t>(data.size()));
    }
    ASSERT_EQ(ftruncate(fd, kSize), 0);
    close(fd);
    struct stat st;
    ASSERT_EQ(stat(src.c_str(), &st), 0);
    if (st.st_blocks * 512 > kSize / 2) GTEST_SKIP() << "this file system keeps no holes";
    progress_ = 0;
    ASSERT_RC_OK(copyFile(sys_, dir_.at("copy").c_str(), dir_.at("sparse").c_str(),
                          attr::Archive, options()));
    EXPECT_EQ(readFile(dir_.at("copy")), readFile(dir_.at("sparse")));
    EXPECT_EQ(progress_.load(), static_cast<uint64_t>(kSize));
    ASSERT_EQ(stat(toUtf8(dir_.at("copy")).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, kSize);
    EXPECT_LT(st.st_blocks * 512, 4 << 20);  // 24 KiB of data, whatever the block size
  }
}

void makeLink(const std::u16string& target, const std::u16string& at) {
  ASSERT_EQ(symlink(toUtf8(target).c_str(), toUtf8(at).c_str()), 0) << toUtf8(at);
}

// B/dir is a link to a folder outside the roots: nothing is written, created, given attributes
// or deleted through it, nor through a link that leads nowhere or into a cycle; removing such
// a link removes the link alone.
TEST_F(FileOpsTest, PosixNothingIsWrittenCreatedOrDeletedBelowALinkToAFolder) {
  TempDir outside;
  writeFile(outside.at("precious.txt"), "precious");
  writeFile(outside.at("a"), "outside a");
  writeFile(dir_.at("src"), "new a");
  std::u16string b = dir_.at("B");
  makeDir(b);
  makeLink(outside.path(), dir_.at("B/dir"));
  makeLink(dir_.at("B/loop2"), dir_.at("B/loop1"));
  makeLink(dir_.at("B/loop1"), dir_.at("B/loop2"));
  makeLink(outside.at("missing"), dir_.at("B/dangling"));
  size_t start = b.size() + 1;

  EXPECT_EQ(copyFile(sys_, dir_.at("B/dir/a").c_str(), dir_.at("src").c_str(), attr::Archive,
                     options(start)),
            Rc::CannotOpen);
  FileNode file{};
  Path precious(dir_.at("B/dir/precious.txt"));
  EXPECT_EQ(deleteEntry(sys_, &file, precious.get(), &cancel_, start),
            Rc::CannotWrite);
  updateAttributes(sys_, dir_.at("B/dir/precious.txt").c_str(), 0x04, start);
  createFolder(sys_, dir_.at("B/dir/new").c_str(), start);
  for (const char* chain : {"B/dir/x/y", "B/dangling/x", "B/loop1/x"}) {
    Path p(dir_.at(chain));
    createFolderChain(sys_, p.get(), p.length);
    EXPECT_EQ(std::u16string(p.get()), dir_.at(chain));
  }
  EXPECT_EQ(namesIn(outside.path()), (std::set<std::u16string>{u"a", u"precious.txt"}));
  EXPECT_EQ(readFile(outside.at("a")), "outside a");
  EXPECT_FALSE(attributesOf(outside.at("precious.txt")) & attr::ReadOnly);

  for (const char* top : {"B/dir", "B/loop1", "B/dangling"}) {
    SCOPED_TRACE(top);
    Path p(dir_.at(top));
    ASSERT_RC_OK(deleteTree(sys_, p.get(), p.length, &cancel_));
  }
  EXPECT_EQ(namesIn(b), std::set<std::u16string>{u"loop2"});
  EXPECT_EQ(readFile(outside.at("precious.txt")), "precious");
}

// A link to a file outside: replacing it replaces the link, setting attributes leaves the
// outside file as it was, deleting it removes the link alone.
TEST_F(FileOpsTest, PosixALinkToAFileIsReplacedAndRemovedAsALink) {
  TempDir outside;
  writeFile(outside.at("target"), "outside");
  writeFile(dir_.at("src"), "new");
  makeLink(outside.at("target"), dir_.at("link"));
  size_t start = dir_.path().size() + 1;
  updateAttributes(sys_, dir_.at("link").c_str(), 0x04 | 0x02, start);
  EXPECT_EQ(modeOf(outside.at("target")) & 0200, 0200u);
  ReplaceOutcome r = replaceFile(sys_, dir_.at("link").c_str(), dir_.at("src").c_str(), 0x01,
                                 options(start));
  ASSERT_RC_OK(r.copyResult);
  EXPECT_TRUE(r.oldReplaced);
  EXPECT_FALSE(attributesOf(dir_.at("link")) & attr::ReparsePoint);
  EXPECT_EQ(readFile(dir_.at("link")), "new");
  makeLink(outside.at("target"), dir_.at("again"));
  FileNode file{};
  Path again(dir_.at("again"));
  ASSERT_RC_OK(deleteEntry(sys_, &file, again.get(), &cancel_, start));
  EXPECT_FALSE(exists(dir_.at("again")));
  EXPECT_EQ(readFile(outside.at("target")), "outside");
}
#endif

TEST_F(FileOpsTest, CancelledDeleteTreeKeepsTheFolder) {
  for (int i = 0; i < 5; ++i) writeFile(dir_.at("t/f" + std::to_string(i)), "x");
  cancel_ = 1;
  Path t(dir_.at("t"));
  EXPECT_EQ(deleteTree(sys_, t.get(), t.length, &cancel_), Rc::CannotWrite);
  EXPECT_EQ(namesIn(dir_.at("t")).size(), 5u);
}

TEST_F(FileOpsTest, CreateFolderChainCreatesTheOuterMissingFolderFirst) {
  makeDir(dir_.at("have"));
  Path p(dir_.at("have/one/two"));
  FaultFs fs(sys_);
  fs.setLogging(true);
  createFolderChain(fs, p.get(), p.length);
  EXPECT_EQ(std::u16string(p.get()), dir_.at("have/one/two"));
  EXPECT_TRUE(exists(dir_.at("have/one/two")));
  std::vector<std::string> expected = {"createDirectory " + toUtf8(dir_.at("have/one")),
                                       "createDirectory " + toUtf8(dir_.at("have/one/two"))};
  EXPECT_EQ(fs.log(), expected);
  createFolderChain(fs, p.get(), p.length);  // exists: nothing more
  EXPECT_EQ(fs.log().size(), 2u);
}

class ResolveTest : public CompareFixture {};

TEST_F(ResolveTest, CreatesNewIntermediateFoldersOuterFirstAndRejectsWhatIsNotInTheTree) {
  writeFile(src_.at("New/Deeper/file.txt"), "x");
  writeFile(src_.at("old/a.txt"), "x");
  makeDir(trg_.at("old"));
  ASSERT_RC_OK(compare());
  FaultFs fs(systemFs());
  fs.setLogging(true);

  Path p(trg_.path() + kPathSeparator + nativeSeparators("New/Deeper/file.txt"));
  size_t start = trg_.path().size() + 1;
  EXPECT_EQ(resolveRecordPath(fs, p.get(), start, roots_->children), node("New/Deeper/file.txt"));
  EXPECT_EQ(std::u16string(p.get()), trg_.path() + kPathSeparator +
                                         nativeSeparators("New/Deeper/file.txt"));
  std::vector<std::string> expected = {"createDirectory " + toUtf8(trg_.at("New")),
                                       "createDirectory " + toUtf8(trg_.at("New/Deeper"))};
  EXPECT_EQ(fs.log(), expected);

  // Stored paths use the source's exact spelling.
  for (const char* bad : {"old/missing.txt", "missing/a.txt", "old/a.txt/x", "old/../old/a.txt",
                          "./old/a.txt", "old//a.txt", "", "old/", "new/deeper/FILE.TXT"}) {
    SCOPED_TRACE(bad);
    Path q(trg_.path() + kPathSeparator + nativeSeparators(bad));
    EXPECT_EQ(resolveRecordPath(fs, q.get(), start, roots_->children), nullptr);
  }
  EXPECT_EQ(fs.log().size(), 2u);  // an existing folder (old) is not created
}

#ifndef _WIN32
TEST_F(ResolveTest, PosixNoFolderIsCreatedBelowALink) {
  TempDir outside;
  writeFile(src_.at("old/New/file.txt"), "x");
  ASSERT_EQ(symlink(toUtf8(outside.path()).c_str(), toUtf8(trg_.at("old")).c_str()), 0);
  ASSERT_RC_OK(compare());
  Path p(trg_.path() + kPathSeparator + nativeSeparators("old/New/file.txt"));
  resolveRecordPath(systemFs(), p.get(), trg_.path().size() + 1, roots_->children);
  EXPECT_TRUE(namesIn(outside.path()).empty());
}

// A mirror sync into a target whose folder is a link to one outside, and whose files are
// links to files outside: the outside files are neither deleted, nor overwritten, nor made
// read-only; a link to a file is replaced as a link.
class MirrorTest : public CompareFixture {};

// A 0700 folder must not arrive as 0755: a folder takes its source's bits as a file does,
// never set-uid, set-gid or sticky; the owner keeps read, write and search (a later sync must
// write into it). Until its entries are handed over it is the owner's alone.
TEST_F(MirrorTest, PosixFoldersTakeTheirSourcesPermissions) {
  struct Case {
    const char* name;
    mode_t source;
    uint32_t expected;
  } cases[] = {{"private", 0700, 0700}, {"group", 0751, 0751}, {"drop", 03777, 0777},
               {"locked", 0500, 0700}, {"new/deeper", 0710, 0710}};
  for (const Case& c : cases) writeAt(src_.at(std::string(c.name) + "/f"), c.name, kT);
  // There already: a file is added to it, but the folder itself is not made.
  writeAt(src_.at("shared/g"), "new", kT);
  writeAt(trg_.at("shared/old"), "old", kT);
  chmod(toUtf8(src_.at("shared")).c_str(), 0750);
  chmod(toUtf8(trg_.at("shared")).c_str(), 0777);
  for (const Case& c : cases) ASSERT_EQ(chmod(toUtf8(src_.at(c.name)).c_str(), c.source), 0);
  ASSERT_RC_OK(compare());
  mark(roots_, kMirror, 0);
  SyncStats ok, failed;
  SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  request.cancel = &cancel_;
  ASSERT_RC_OK(syncAll(request, {ok, failed}));
  EXPECT_EQ(valueOf(failed.addedFiles), 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readFile(trg_.at(std::string(c.name) + "/f")), c.name);
    EXPECT_EQ(modeOf(trg_.at(c.name)), c.expected);
  }
  EXPECT_EQ(modeOf(trg_.at("new")), modeOf(src_.at("new")) | 0700);
  // The folder that was there already keeps its bits: the comparison sees no difference in
  // them (nor in a file's), so the walk only enters it.
  EXPECT_EQ(modeOf(trg_.at("shared")), 0777u);
  chmod(toUtf8(src_.at("locked")).c_str(), 0700);

  // One folder made alone: the owner's until its bits are carried.
  ASSERT_EQ(chmod(toUtf8(src_.at("shared")).c_str(), 0755), 0);
  createFolder(systemFs(), trg_.at("fresh").c_str(), 0, src_.at("shared").c_str());
  EXPECT_EQ(modeOf(trg_.at("fresh")), 0700u);
  carryFolderPermissions(systemFs(), trg_.at("fresh").c_str(), src_.at("shared").c_str());
  EXPECT_EQ(modeOf(trg_.at("fresh")), 0755u);
}

TEST_F(MirrorTest, PosixAMirrorSyncNeverReachesThroughLinks) {
  TempDir outside;
  writeAt(outside.at("precious.txt"), "precious", kT);
  writeAt(outside.at("a"), "outside a", kT);
  writeAt(outside.at("f.txt"), "same", kT);
  writeAt(outside.at("g.txt"), "outside g", kT);
  writeAt(src_.at("dir/a"), "new a", kT + kHour);
  writeAt(src_.at("f.txt"), "same", kT);
  systemFs().setAttributes(src_.at("f.txt").c_str(), attr::ReadOnly | attr::Archive);
  writeAt(src_.at("g.txt"), "new g", kT + kHour);
  ASSERT_EQ(symlink(toUtf8(outside.path()).c_str(), toUtf8(trg_.at("dir")).c_str()), 0);
  ASSERT_EQ(symlink(toUtf8(outside.at("f.txt")).c_str(), toUtf8(trg_.at("f.txt")).c_str()), 0);
  ASSERT_EQ(symlink(toUtf8(outside.at("g.txt")).c_str(), toUtf8(trg_.at("g.txt")).c_str()), 0);
  ASSERT_RC_OK(compare());
  mark(roots_, kMirror, 0);
  SyncStats ok, failed;
  SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  request.cancel = &cancel_;
  ASSERT_RC_OK(syncAll(request, {ok, failed}));
  EXPECT_EQ(readFile(outside.at("precious.txt")), "precious");
  EXPECT_EQ(readFile(outside.at("a")), "outside a");
  EXPECT_FALSE(attributesOf(outside.at("f.txt")) & attr::ReadOnly);
  EXPECT_EQ(readFile(outside.at("g.txt")), "outside g");
  EXPECT_EQ(readFile(trg_.at("g.txt")), "new g");
  EXPECT_FALSE(attributesOf(trg_.at("g.txt")) & attr::ReparsePoint);
}
#endif

TEST_F(FileOpsTest, UpdateAttributesSetsTheNodesAttributes) {
  writeFile(dir_.at("ReadMe.txt"), "content");
  std::u16string wanted = dir_.path() + kPathSeparator + u"ReadMe.txt";
  updateAttributes(sys_, wanted.c_str(), 0x04 | 0x01);  // read-only, archive
  EXPECT_EQ(namesIn(dir_.path()), std::set<std::u16string>{u"ReadMe.txt"});
  EXPECT_TRUE(attributesOf(wanted) & attr::ReadOnly);
  EXPECT_EQ(readFile(wanted), "content");
  updateAttributes(sys_, wanted.c_str(), 0);
  EXPECT_FALSE(attributesOf(wanted) & attr::ReadOnly);
}

TEST(TemporaryPathTest, FreshFilesInTheDestinationsFolderAndNoneWithoutAFolder) {
  TempDir dir;
  std::u16string dst = dir.at("file");
  std::vector<char16_t> a(kPathBufferUnits), b(kPathBufferUnits);
  FileHandle fa, fb;
  ASSERT_TRUE(createTemporary(systemFs(), dst.c_str(), attr::Normal, a, &fa));
  ASSERT_TRUE(createTemporary(systemFs(), dst.c_str(), attr::Normal, b, &fb));
  systemFs().close(fa);
  systemFs().close(fb);
  std::u16string ta(a.data()), tb(b.data());
  EXPECT_NE(ta, tb);
  EXPECT_EQ(ta.substr(0, dir.path().size() + 1), dir.path() + kPathSeparator);
  EXPECT_TRUE(isTemporaryName(ta.c_str() + dir.path().size() + 1));
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);
  EXPECT_FALSE(createTemporary(systemFs(), u"nofolder", attr::Normal, a, &fa));
}

// A new name is refused whatever holds it, a link that leads nowhere too (the creation would
// otherwise make a file wherever it points), and nothing there changes.
TEST(TemporaryPathTest, CreateNewRefusesEveryTakenName) {
  TempDir dir;
  writeFile(dir.at("file"), "old");
  makeDir(dir.at("folder"));
  FileHandle f;
  EXPECT_EQ(systemFs().createNew(dir.at("file").c_str(), attr::Normal, kOwnerOnly, &f),
            FsStatus::Exists);
  EXPECT_EQ(systemFs().createNew(dir.at("folder").c_str(), attr::Normal, kOwnerOnly, &f),
            FsStatus::Exists);
  EXPECT_EQ(readFile(dir.at("file")), "old");
#ifndef _WIN32
  TempDir elsewhere;
  std::string target = toUtf8(elsewhere.at("made"));
  ASSERT_EQ(symlink(target.c_str(), toUtf8(dir.at("dangling")).c_str()), 0);
  EXPECT_EQ(systemFs().createNew(dir.at("dangling").c_str(), attr::Normal, kOwnerOnly, &f),
            FsStatus::Exists);
  EXPECT_TRUE(namesIn(elsewhere.path()).empty());
#endif
}

}  // namespace
}  // namespace fw
