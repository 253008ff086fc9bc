// The real file system of this build, through Fs: the behaviour the engine relies on.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "platform/long_path.h"
#include "platform/testing/temp_dir.h"
#include "platform/testing/wine.h"
#include "platform/text.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/posix/no_replace_rename.h"
#endif

namespace fw {
namespace {

#ifndef _WIN32
std::string native(const std::u16string& path) { return toUtf8(path); }
#endif

// The attributes of every entry of a folder, by name.
std::map<std::string, FindEntry> listEntries(const std::u16string& folder) {
  Fs& fs = systemFs();
  std::u16string pattern = folder + kPathSeparator + u"*";
  std::map<std::string, FindEntry> out;
  FindHandle h;
  FindEntry e;
  EXPECT_EQ(fs.findFirst(pattern.c_str(), &h, &e), FsStatus::Ok);
  do {
    std::u16string n = e.name;
    if (n != u"." && n != u"..") out[toUtf8(n)] = e;
  } while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  return out;
}

std::set<std::string> listNames(const std::u16string& folder, FsStatus* status = nullptr) {
  Fs& fs = systemFs();
  std::u16string pattern = folder + kPathSeparator + u"*";
  FindHandle h;
  FindEntry e;
  std::set<std::string> names;
  FsStatus s = fs.findFirst(pattern.c_str(), &h, &e);
  if (status) *status = s;
  if (s != FsStatus::Ok) return names;
  do {
    std::u16string n = e.name;
    if (n != u"." && n != u"..") names.insert(toUtf8(n));
  } while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  return names;
}

TEST(FsTest, ListsFoldersAndTellsMissingFromEmpty) {
  TempDir dir;
  writeFile(dir.at("a.txt"), "hello");
  makeDir(dir.at("sub"));
  makeDir(dir.at("empty"));
  EXPECT_EQ(listNames(dir.path()), (std::set<std::string>{"a.txt", "empty", "sub"}));

  FsStatus s;
  EXPECT_TRUE(listNames(dir.at("empty"), &s).empty());
  EXPECT_EQ(s, FsStatus::Ok);
  listNames(dir.at("missing"), &s);
  EXPECT_EQ(s, FsStatus::NotFound);
  // A file where a folder is expected exists: it is not "not found".
  listNames(dir.at("a.txt"), &s);
  EXPECT_NE(s, FsStatus::Ok);
  EXPECT_NE(s, FsStatus::NotFound);
}

TEST(FsTest, EntriesCarrySizeTimeAndKind) {
  TempDir dir;
  writeFile(dir.at("f.bin"), std::string(70000, 'x'));
  setModified(dir.at("f.bin"), 132000000000000000ull);
  makeDir(dir.at("d"));
  Fs& fs = systemFs();
  std::u16string pattern = dir.path() + kPathSeparator + u"*";
  FindHandle h;
  FindEntry e;
  ASSERT_EQ(fs.findFirst(pattern.c_str(), &h, &e), FsStatus::Ok);
  int seen = 0;
  do {
    std::u16string n = e.name;
    if (n == u"f.bin") {
      ++seen;
      EXPECT_EQ(e.size, 70000u);
      EXPECT_EQ(e.modified, 132000000000000000ull);
      EXPECT_FALSE(e.attributes & attr::Directory);
    } else if (n == u"d") {
      ++seen;
      EXPECT_TRUE(e.attributes & attr::Directory);
      EXPECT_EQ(e.size, 0u);
    }
  } while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  EXPECT_EQ(seen, 2);
}

// What a sync looks at before it acts and around a copy: the entry as its folder's listing has
// it, and the open file's size and times, whose change time no writer can put back.
TEST(FsTest, StampsAgreeWithTheListingAndTheChangeTimeMovesWithEveryWrite) {
  TempDir dir;
  Fs& fs = systemFs();
  const uint64_t t = 132000000000000000ull;
  writeFile(dir.at("f.bin"), std::string(70000, 'x'));
  setModified(dir.at("f.bin"), t);
  makeDir(dir.at("d"));
  std::map<std::string, FindEntry> listed = listEntries(dir.path());
  FileStamp st;
  ASSERT_EQ(fs.getEntryStamp(dir.at("f.bin").c_str(), &st), FsStatus::Ok);
  EXPECT_EQ(st.size, listed["f.bin"].size);
  EXPECT_EQ(st.modified, listed["f.bin"].modified);
  EXPECT_EQ(st.attributes, 0u);
  ASSERT_EQ(fs.getEntryStamp(dir.at("d").c_str(), &st), FsStatus::Ok);
  EXPECT_EQ(st.attributes, attr::Directory);
  EXPECT_EQ(st.size, 0u);
  EXPECT_EQ(fs.getEntryStamp(dir.at("none").c_str(), &st), FsStatus::NotFound);

  FileHandle f;
  FileStamp before, after;
  ASSERT_EQ(fs.openRead(dir.at("f.bin").c_str(), &f), FsStatus::Ok);
  ASSERT_EQ(fs.getFileStamp(f, &before), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(before.size, 70000u);
  EXPECT_EQ(before.modified, t);
  EXPECT_NE(before.changed, 0u);
  // Rewritten with the same size and given its old time back: only the change time tells.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  writeFile(dir.at("f.bin"), std::string(70000, 'y'));
  setModified(dir.at("f.bin"), t);
  ASSERT_EQ(fs.openRead(dir.at("f.bin").c_str(), &f), FsStatus::Ok);
  ASSERT_EQ(fs.getFileStamp(f, &after), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(after.size, before.size);
  EXPECT_EQ(after.modified, before.modified);
  EXPECT_GT(after.changed, before.changed);

#ifndef _WIN32
  // A link as the listing has it: a link to a file by its target, with ReparsePoint.
  ASSERT_EQ(symlink(native(dir.at("f.bin")).c_str(), native(dir.at("lf")).c_str()), 0);
  ASSERT_EQ(symlink(native(dir.at("d")).c_str(), native(dir.at("ld")).c_str()), 0);
  ASSERT_EQ(symlink(native(dir.at("gone")).c_str(), native(dir.at("lx")).c_str()), 0);
  ASSERT_EQ(fs.getEntryStamp(dir.at("lf").c_str(), &st), FsStatus::Ok);
  EXPECT_EQ(st.attributes, attr::ReparsePoint);
  EXPECT_EQ(st.size, 70000u);
  EXPECT_EQ(st.modified, t);
  ASSERT_EQ(fs.getEntryStamp(dir.at("ld").c_str(), &st), FsStatus::Ok);
  EXPECT_EQ(st.attributes, attr::Directory | attr::ReparsePoint);
  ASSERT_EQ(fs.getEntryStamp(dir.at("lx").c_str(), &st), FsStatus::Ok);
  EXPECT_EQ(st.attributes, attr::Device | attr::ReparsePoint);
  listed = listEntries(dir.path());
  for (const char* name : {"lf", "ld", "lx"}) {
    ASSERT_EQ(fs.getEntryStamp(dir.at(name).c_str(), &st), FsStatus::Ok);
    EXPECT_EQ(st.attributes,
              listed[name].attributes & (attr::Directory | attr::ReparsePoint | attr::Device))
        << name;
  }
#endif
}

TEST(FsTest, ReadWriteSeekAndTimes) {
  TempDir dir;
  Fs& fs = systemFs();
  std::u16string p = dir.at("data");
  FileHandle f;
  ASSERT_EQ(fs.createAlways(p.c_str(), attr::Normal, &f), FsStatus::Ok);
  ASSERT_EQ(fs.write(f, "0123456789", 10), FsStatus::Ok);
  ASSERT_EQ(fs.seek(f, 2), FsStatus::Ok);
  ASSERT_EQ(fs.write(f, "AB", 2), FsStatus::Ok);
  uint64_t at = 0;
  ASSERT_EQ(fs.tell(f, &at), FsStatus::Ok);
  EXPECT_EQ(at, 4u);
  ASSERT_EQ(fs.setFileTimes(f, 131000000000000000ull, 131000000000000000ull,
                            131000000012345670ull),
            FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(readFile(p), "01AB456789");
  EXPECT_EQ(modifiedOf(p), 131000000012345670ull);

  // Creating again replaces the content.
  ASSERT_EQ(fs.createAlways(p.c_str(), attr::Normal, &f), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(readFile(p), "");

  ASSERT_EQ(fs.openRead(dir.at("nothing").c_str(), &f), FsStatus::NotFound);
  EXPECT_EQ(f, kInvalidHandle);
}

TEST(FsTest, CopyInsideTheSystemOrSayItCannot) {
  TempDir dir;
  Fs& fs = systemFs();
  std::string content(200000, 'c');
  content[123456] = 'x';
  writeFile(dir.at("from"), content);
  FileHandle in, out;
  ASSERT_EQ(fs.openRead(dir.at("from").c_str(), &in), FsStatus::Ok);
  ASSERT_EQ(fs.createAlways(dir.at("to").c_str(), attr::Normal, &out), FsStatus::Ok);
  uint32_t got = 0;
  uint64_t total = 0;
  FsStatus s;
  while ((s = fs.copyData(in, out, 65536, &got)) == FsStatus::Ok && got > 0) total += got;
  fs.close(in);
  fs.close(out);
  if (s == FsStatus::Unsupported) GTEST_SKIP() << "no copy inside the system here";
  ASSERT_EQ(s, FsStatus::Ok);
  EXPECT_EQ(total, content.size());
  EXPECT_EQ(readFile(dir.at("to")), content);
}

TEST(FsTest, ReadOnlyFilesResistDeletionAndReplacement) {
  TempDir dir;
  Fs& fs = systemFs();
  std::u16string p = dir.at("ro.txt");
  writeFile(p, "keep");
  ASSERT_EQ(fs.setAttributes(p.c_str(), attr::ReadOnly | attr::Archive), FsStatus::Ok);
  EXPECT_TRUE(attributesOf(p) & attr::ReadOnly);
  EXPECT_EQ(fs.deleteFile(p.c_str()), FsStatus::AccessDenied);
  FileHandle f;
  EXPECT_EQ(fs.createAlways(p.c_str(), attr::Normal, &f), FsStatus::AccessDenied);
  std::u16string other = dir.at("other.txt");
  writeFile(other, "new");
  EXPECT_NE(fs.rename(other.c_str(), p.c_str(), true), FsStatus::Ok);
  EXPECT_EQ(readFile(p), "keep");

  ASSERT_EQ(fs.setAttributes(p.c_str(), attr::Normal), FsStatus::Ok);
  EXPECT_FALSE(attributesOf(p) & attr::ReadOnly);
  EXPECT_EQ(fs.deleteFile(p.c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(p));
}

TEST(FsTest, HiddenSystemAndArchiveBitsSurvive) {
  TempDir dir;
  Fs& fs = systemFs();
  std::u16string p = dir.at("plain.txt");
  writeFile(p, "x");
  ASSERT_EQ(fs.setAttributes(p.c_str(), attr::Hidden | attr::System), FsStatus::Ok);
  uint32_t a = attributesOf(p);
  // A file system without extended attributes drops these bits; this one must keep them.
  // Wine reports every file as Archive, whatever was set.
  uint32_t checked = attr::Hidden | attr::System | (runningUnderWine() ? 0 : attr::Archive);
  EXPECT_EQ(a & checked, attr::Hidden | attr::System);
  ASSERT_EQ(fs.setAttributes(p.c_str(), attr::Archive), FsStatus::Ok);
  EXPECT_EQ(attributesOf(p) & (attr::Hidden | attr::System | attr::Archive), attr::Archive);
}

// The listing reads the stored bits where there are any and gives the defaults where there
// are none, entry by entry, exactly as getAttributes does; a folder too big for one read of
// its entries is listed whole, each entry once.
TEST(FsTest, ListingAgreesWithGetAttributesOnStoredAndMissingBits) {
  TempDir dir;
  Fs& fs = systemFs();
  std::map<std::u16string, uint32_t> set;  // name -> bits given; files not in it get none
  const uint32_t kinds[] = {attr::Hidden, attr::System | attr::Archive, attr::Archive,
                            attr::Normal, attr::ReadOnly | attr::Hidden};
  for (int i = 0; i < 700; ++i) {
    std::u16string name = toUtf16("entry-with-a-long-name-to-fill-buffers-" + std::to_string(i));
    std::u16string path = dir.at(toUtf8(name));
#ifndef _WIN32
    // As any other program makes them: no bits stored.
    if (i % 50 == 7) {
      ASSERT_EQ(mkdir(native(path).c_str(), 0755), 0);
    } else {
      FILE* f = fopen(native(path).c_str(), "w");
      ASSERT_NE(f, nullptr);
      fclose(f);
    }
#else
    if (i % 50 == 7) makeDir(path);
    else writeFile(path, "x");
#endif
    if (i % 3 == 0) {
      uint32_t bits = kinds[(i / 3) % 5];
      ASSERT_EQ(fs.setAttributes(dir.at(toUtf8(name)).c_str(), bits), FsStatus::Ok);
      set[name] = bits;
    }
  }
#ifndef _WIN32
  FILE* dot = fopen(native(dir.at(".dotfile")).c_str(), "w");
  ASSERT_NE(dot, nullptr);
  fclose(dot);
#else
  writeFile(dir.at(".dotfile"), "x");
#endif
  std::u16string pattern = dir.path() + kPathSeparator + u"*";
  FindHandle h;
  FindEntry e;
  ASSERT_EQ(fs.findFirst(pattern.c_str(), &h, &e), FsStatus::Ok);
  std::set<std::u16string> seen;
  FsStatus status = FsStatus::Ok;
  for (; status == FsStatus::Ok; status = fs.findNext(h, &e)) {
    std::u16string name = e.name;
    if (name == u"." || name == u"..") continue;
    EXPECT_TRUE(seen.insert(name).second) << toUtf8(name) << " listed twice";
    uint32_t direct = 0;
    ASSERT_EQ(fs.getAttributes(dir.at(toUtf8(name)).c_str(), &direct), FsStatus::Ok);
    EXPECT_EQ(e.attributes, direct) << toUtf8(name);
#ifndef _WIN32
    constexpr uint32_t kDos = attr::Hidden | attr::System | attr::Archive;
    auto it = set.find(name);
    bool folder = e.attributes & attr::Directory;
    uint32_t expected = it != set.end() ? (it->second & kDos)
                                        : (folder ? 0 : attr::Archive) |
                                              (name[0] == u'.' ? attr::Hidden : 0);
    EXPECT_EQ(e.attributes & kDos, expected) << toUtf8(name);
#endif
  }
  EXPECT_EQ(status, FsStatus::NoMoreFiles);
  fs.findClose(h);
  EXPECT_EQ(seen.size(), 701u);
}

TEST(FsTest, RenameReplacesAndFixesLetterCase) {
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("a.tmp"), "new");
  writeFile(dir.at("a.txt"), "old");
  EXPECT_EQ(fs.rename(dir.at("a.tmp").c_str(), dir.at("a.txt").c_str(), false), FsStatus::Exists);
  ASSERT_EQ(fs.rename(dir.at("a.tmp").c_str(), dir.at("a.txt").c_str(), true), FsStatus::Ok);
  EXPECT_EQ(readFile(dir.at("a.txt")), "new");
  EXPECT_FALSE(exists(dir.at("a.tmp")));

  ASSERT_EQ(fs.rename(dir.at("a.txt").c_str(), dir.at("A.TXT").c_str(), false), FsStatus::Ok);
  EXPECT_EQ(listNames(dir.path()), (std::set<std::string>{"A.TXT"}));
}

TEST(FsTest, AHardLinkKeepsTheDataWhenTheFirstNameIsReplacedOrRemoved) {
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("a.txt"), "old");
  FsStatus linked = fs.createHardLink(dir.at("a.txt").c_str(), dir.at("b.txt").c_str());
  if (linked == FsStatus::Unsupported && runningUnderWine())
    GTEST_SKIP() << "this Wine keeps no hard links; the engine copies instead";
  ASSERT_EQ(linked, FsStatus::Ok);
  EXPECT_EQ(readFile(dir.at("b.txt")), "old");
  // Attributes belong to the data, whichever name sets them.
  uint32_t a = 0;
  ASSERT_EQ(fs.setAttributes(dir.at("a.txt").c_str(), attr::ReadOnly), FsStatus::Ok);
  ASSERT_EQ(fs.getAttributes(dir.at("b.txt").c_str(), &a), FsStatus::Ok);
  EXPECT_TRUE(a & attr::ReadOnly);
  ASSERT_EQ(fs.setAttributes(dir.at("b.txt").c_str(), attr::Normal), FsStatus::Ok);
  // Replacing the first name leaves the data under the second.
  writeFile(dir.at("new.tmp"), "new");
  ASSERT_EQ(fs.rename(dir.at("new.tmp").c_str(), dir.at("a.txt").c_str(), true), FsStatus::Ok);
  EXPECT_EQ(readFile(dir.at("a.txt")), "new");
  EXPECT_EQ(readFile(dir.at("b.txt")), "old");

  // A taken name is not replaced; nothing is linked from a missing file or to a folder.
  EXPECT_EQ(fs.createHardLink(dir.at("a.txt").c_str(), dir.at("b.txt").c_str()), FsStatus::Exists);
  EXPECT_EQ(readFile(dir.at("b.txt")), "old");
  EXPECT_EQ(fs.createHardLink(dir.at("none").c_str(), dir.at("c.txt").c_str()),
            FsStatus::NotFound);
  makeDir(dir.at("folder"));
  EXPECT_NE(fs.createHardLink(dir.at("folder").c_str(), dir.at("d").c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(dir.at("c.txt")));
  EXPECT_FALSE(exists(dir.at("d")));
#ifndef _WIN32
  // A symbolic link gets the second name itself, not what it leads to.
  ASSERT_EQ(symlink("a.txt", native(dir.at("sym")).c_str()), 0);
  ASSERT_EQ(fs.createHardLink(dir.at("sym").c_str(), dir.at("sym2").c_str()), FsStatus::Ok);
  struct stat st;
  ASSERT_EQ(lstat(native(dir.at("sym2")).c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
#endif
}

#ifdef _WIN32
TEST(FsTest, NamesResolveWithoutRegardToCase) {
  TempDir dir;
  writeFile(dir.at("Docs/Report.TXT"), "r");
  EXPECT_EQ(readFile(dir.at("docs/report.txt")), "r");
  EXPECT_EQ(listNames(dir.at("DOCS")), (std::set<std::string>{"Report.TXT"}));
  // Creating under another spelling replaces the existing file.
  writeFile(dir.at("docs/REPORT.txt"), "s");
  EXPECT_EQ(listNames(dir.at("Docs")), (std::set<std::string>{"Report.TXT"}));
  EXPECT_EQ(readFile(dir.at("Docs/Report.TXT")), "s");
}
#else
TEST(FsTest, PosixPathsAreUsedExactlyAsSpelled) {
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("music/a.txt"), "a");
  uint32_t a = 0;
  // Another spelling of a folder or file is another entry, not this one.
  EXPECT_EQ(fs.getAttributes(dir.at("Music").c_str(), &a), FsStatus::NotFound);
  EXPECT_EQ(fs.getAttributes(dir.at("music/A.txt").c_str(), &a), FsStatus::NotFound);
  FileHandle h;
  EXPECT_EQ(fs.openRead(dir.at("Music/a.txt").c_str(), &h), FsStatus::NotFound);
  // Case twins live side by side, each written and removed alone.
  writeFile(dir.at("music/A.txt"), "A");
  EXPECT_EQ(listNames(dir.at("music")), (std::set<std::string>{"a.txt", "A.txt"}));
  EXPECT_EQ(readFile(dir.at("music/a.txt")), "a");
  ASSERT_EQ(fs.deleteFile(dir.at("music/A.txt").c_str()), FsStatus::Ok);
  EXPECT_EQ(readFile(dir.at("music/a.txt")), "a");
  // A rename to another spelling of the same name takes that spelling.
  ASSERT_EQ(fs.rename(dir.at("music/a.txt").c_str(), dir.at("music/A.TXT").c_str(), false),
            FsStatus::Ok);
  EXPECT_EQ(listNames(dir.at("music")), (std::set<std::string>{"A.TXT"}));
}
#endif

TEST(FsTest, FoldersAndIdentity) {
  TempDir dir;
  Fs& fs = systemFs();
  std::u16string d = dir.at("d");
  ASSERT_EQ(fs.createDirectory(d.c_str()), FsStatus::Ok);
  EXPECT_EQ(fs.createDirectory(d.c_str()), FsStatus::Exists);
  EXPECT_EQ(fs.createDirectory(dir.at("x/y").c_str()), FsStatus::NotFound);
  writeFile(dir.at("d/f"), "1");
  EXPECT_EQ(fs.removeDirectory(d.c_str()), FsStatus::NotEmpty);
  FileIdentity a, b;
  ASSERT_EQ(fs.identify(d.c_str(), &a), FsStatus::Ok);
  ASSERT_EQ(fs.identify((d + kPathSeparator + u"." ).c_str(), &b), FsStatus::Ok);
  EXPECT_EQ(a, b);
  ASSERT_EQ(fs.deleteFile(dir.at("d/f").c_str()), FsStatus::Ok);
  EXPECT_EQ(fs.removeDirectory(d.c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(d));
}

// The lock of one run per folder: exclusive against every other holder, shared among readers,
// one lock for every spelling of a folder, and a second holder in this process is refused like
// another process.
TEST(FsTest, AFolderLockExcludesOtherHoldersWhateverPathLeadsThere) {
  TempDir dir;
  Fs& fs = systemFs();
  makeDir(dir.at("f/sub"));
  const std::u16string f = dir.at("f");
#ifdef _WIN32
  const std::u16string dotted = f + kPathSeparator + u".";
#else
  const std::u16string dotted = dir.at("f/sub") + kPathSeparator + u"..";
#endif
  FolderLock writer, second, reader, another;
  ASSERT_EQ(fs.lockFolder(f.c_str(), true, &writer), FsStatus::Ok);
  EXPECT_TRUE(writer.held());
  EXPECT_EQ(fs.lockFolder(dotted.c_str(), true, &second), FsStatus::InUse);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(fs.lockFolder(f.c_str(), false, &reader), FsStatus::InUse);
  // Another folder, even the one inside, is another lock.
  ASSERT_EQ(fs.lockFolder(dir.at("f/sub").c_str(), true, &second), FsStatus::Ok);
  fs.unlockFolder(&second);
  fs.unlockFolder(&writer);
  EXPECT_FALSE(writer.held());
  // Readers share; a writer waits for the last of them.
  ASSERT_EQ(fs.lockFolder(f.c_str(), false, &reader), FsStatus::Ok);
  ASSERT_EQ(fs.lockFolder(dotted.c_str(), false, &another), FsStatus::Ok);
  EXPECT_EQ(fs.lockFolder(f.c_str(), true, &writer), FsStatus::InUse);
  fs.unlockFolder(&reader);
  EXPECT_EQ(fs.lockFolder(f.c_str(), true, &writer), FsStatus::InUse);
  fs.unlockFolder(&another);
  ASSERT_EQ(fs.lockFolder(f.c_str(), true, &writer), FsStatus::Ok);
  fs.unlockFolder(&writer);
  EXPECT_EQ(fs.lockFolder(dir.at("missing").c_str(), true, &writer), FsStatus::NotFound);
  EXPECT_FALSE(writer.held());
  EXPECT_TRUE(listNames(f) == std::set<std::string>{"sub"});  // nothing written into it
#ifndef _WIN32
  // Through a link, and from another process that holds the same kind of lock.
  ASSERT_EQ(symlink(native(f).c_str(), native(dir.at("link")).c_str()), 0);
  ASSERT_EQ(fs.lockFolder(dir.at("link").c_str(), true, &writer), FsStatus::Ok);
  EXPECT_EQ(fs.lockFolder(f.c_str(), false, &reader), FsStatus::InUse);
  fs.unlockFolder(&writer);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FolderLock held;
    char c = systemFs().lockFolder(f.c_str(), true, &held) == FsStatus::Ok ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    sleep(30);  // ended by the parent
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(fs.lockFolder(f.c_str(), false, &reader), FsStatus::InUse);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  // The lock died with its process.
  ASSERT_EQ(fs.lockFolder(f.c_str(), true, &writer), FsStatus::Ok);
  fs.unlockFolder(&writer);
#endif
}

TEST(FsTest, FullPathFoldsDotsAndIsAbsolute) {
  TempDir dir;
  std::u16string full;
  std::u16string messy = dir.path() + kPathSeparator + u"a" + kPathSeparator + u".." +
                         kPathSeparator + u"." + kPathSeparator + u"b";
  ASSERT_EQ(systemFs().fullPath(messy.c_str(), &full), FsStatus::Ok);
  EXPECT_EQ(full, dir.path() + kPathSeparator + u"b");
}

TEST(FsTest, ResolvedPathIsWhereAFolderReallyLies) {
  TempDir dir;
  Fs& fs = systemFs();
  makeDir(dir.at("real/sub"));
  std::u16string resolved;
  const std::u16string dots = dir.at("real") + kPathSeparator + u".." + kPathSeparator +
                              u"real" + kPathSeparator + u"sub";
  ASSERT_EQ(fs.resolvedPath(dots.c_str(), &resolved), FsStatus::Ok);
  FileIdentity a, b;
  ASSERT_EQ(fs.identify(resolved.c_str(), &a), FsStatus::Ok) << toUtf8(resolved);
  ASSERT_EQ(fs.identify(dir.at("real/sub").c_str(), &b), FsStatus::Ok);
  EXPECT_EQ(a, b);
  EXPECT_EQ(resolved.find(u".."), std::u16string::npos) << toUtf8(resolved);
  EXPECT_EQ(fs.resolvedPath(dir.at("missing").c_str(), &resolved), FsStatus::NotFound);
#ifndef _WIN32
  // Through a link: the path of what it leads to, whose parents are the real ones.
  ASSERT_EQ(symlink(toUtf8(dir.at("real/sub")).c_str(), toUtf8(dir.at("link")).c_str()), 0);
  std::u16string viaLink, direct;
  ASSERT_EQ(fs.resolvedPath(dir.at("link").c_str(), &viaLink), FsStatus::Ok);
  ASSERT_EQ(fs.resolvedPath(dir.at("real/sub").c_str(), &direct), FsStatus::Ok);
  EXPECT_EQ(viaLink, direct);
#endif
}

#ifndef _WIN32
TEST(FsTest, PosixLinksToFoldersAreMarkedAndRemovedAlone) {
  TempDir dir;
  writeFile(dir.at("real/keep.txt"), "k");
  ASSERT_EQ(symlink(toUtf8(dir.at("real")).c_str(), toUtf8(dir.at("link")).c_str()), 0);
  Fs& fs = systemFs();
  std::u16string pattern = dir.path() + u"/*";
  FindHandle h;
  FindEntry e;
  ASSERT_EQ(fs.findFirst(pattern.c_str(), &h, &e), FsStatus::Ok);
  bool sawLink = false;
  do {
    if (std::u16string(e.name) == u"link") {
      sawLink = true;
      EXPECT_EQ(e.attributes & (attr::Directory | attr::ReparsePoint),
                attr::Directory | attr::ReparsePoint);
    }
  } while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  EXPECT_TRUE(sawLink);
  ASSERT_EQ(fs.removeDirectory(dir.at("link").c_str()), FsStatus::Ok);
  EXPECT_EQ(readFile(dir.at("real/keep.txt")), "k");
}

// FIFOs, sockets, devices and links that lead nowhere hold no data to copy: they are listed
// as Device, never opened (a FIFO would block the open or the first read, a device would never
// end), and never created over, replaced or given attributes.
TEST(FsTest, PosixSpecialEntriesAreListedAsDeviceAndNeverOpened) {
  alarm(20);  // a blocked open would otherwise hang the run
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("file"), "data");
  ASSERT_EQ(mkfifo(native(dir.at("fifo")).c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/zero", native(dir.at("zero")).c_str()), 0);
  ASSERT_EQ(symlink(native(dir.at("missing")).c_str(), native(dir.at("dangling")).c_str()), 0);
  ASSERT_EQ(symlink(native(dir.at("cycle2")).c_str(), native(dir.at("cycle1")).c_str()), 0);
  ASSERT_EQ(symlink(native(dir.at("cycle1")).c_str(), native(dir.at("cycle2")).c_str()), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string socketPath = native(dir.at("sock"));
  bool haveSocket = socketPath.size() < sizeof address.sun_path;
  if (haveSocket) {
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    haveSocket = bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  close(sock);

  std::map<std::string, FindEntry> entries = listEntries(dir.path());
  std::vector<std::string> special = {"fifo", "zero", "dangling", "cycle1", "cycle2"};
  if (haveSocket) special.push_back("sock");
  for (const std::string& name : special) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(entries.count(name));
    EXPECT_EQ(entries[name].attributes & (attr::Device | attr::Directory), attr::Device);
    EXPECT_EQ(entries[name].size, 0u);
    uint32_t a = 0;
    ASSERT_EQ(fs.getAttributes(dir.at(name).c_str(), &a), FsStatus::Ok);
    EXPECT_EQ(a & (attr::Device | attr::Directory), attr::Device);

    FileHandle f;
    EXPECT_NE(fs.openRead(dir.at(name).c_str(), &f), FsStatus::Ok);
    EXPECT_EQ(f, kInvalidHandle);
    EXPECT_EQ(fs.createAlways(dir.at(name).c_str(), attr::Normal, &f), FsStatus::AccessDenied);
    EXPECT_EQ(f, kInvalidHandle);
    EXPECT_EQ(fs.setAttributes(dir.at(name).c_str(), attr::ReadOnly), FsStatus::AccessDenied);
    writeFile(dir.at("new"), "new");
    EXPECT_EQ(fs.rename(dir.at("new").c_str(), dir.at(name).c_str(), true),
              FsStatus::AccessDenied);
  }
  EXPECT_FALSE(entries["file"].attributes & attr::Device);
  EXPECT_FALSE(exists(dir.at("missing")));  // nothing was created through the dangling link
  struct stat st;
  ASSERT_EQ(lstat(native(dir.at("fifo")).c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  alarm(0);
}

// A folder that gives its names but refuses to have its entries examined (read permission
// without search permission) must fail to list, not read as empty: a mirror sync would take
// its files for gone. Root may examine anything, so as root the listing runs in a child
// process that has become the unprivileged user "nobody".
TEST(FsTest, PosixAFolderWhoseEntriesCannotBeExaminedFailsToList) {
  TempDir dir;
  writeFile(dir.at("locked/a.txt"), "a");
  writeFile(dir.at("locked/b.txt"), "b");
  std::u16string pattern = dir.at("locked") + u"/*";
  bool root = geteuid() == 0;
  ASSERT_EQ(chmod(native(dir.path()).c_str(), 0755), 0);
  ASSERT_EQ(chmod(native(dir.at("locked")).c_str(), root ? 0744 : 0644), 0);
  auto list = [&] {
    FindHandle h;
    FindEntry e;
    FsStatus s = systemFs().findFirst(pattern.c_str(), &h, &e);
    while (s == FsStatus::Ok) {
      if (std::u16string(e.name) != u"." && std::u16string(e.name) != u"..") break;  // an entry
      s = systemFs().findNext(h, &e);
    }
    if (h != kInvalidHandle) systemFs().findClose(h);
    return s;
  };
  FsStatus s;
  if (!root) {
    s = list();
  } else {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
      _exit(static_cast<int>(list()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "cannot become another user here";
    s = static_cast<FsStatus>(WEXITSTATUS(status));
  }
  chmod(native(dir.at("locked")).c_str(), 0755);
  EXPECT_TRUE(s == FsStatus::AccessDenied || s == FsStatus::IoError) << fsStatusName(s);
}

// Where a rename cannot refuse a taken name, two threads giving files one new name at once:
// each time exactly one gets it, the other's file stays where it was, nothing is replaced.
TEST(FsTest, PosixARenameToANewNameWithoutTheSystemsRefusalNeverReplaces) {
  TempDir dir;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    writeFile(dir.at("one"), "one");
    writeFile(dir.at("two"), "two");
    makeDir(dir.at("folder"));
    std::string target = native(dir.at("name"));
    std::atomic<int> ready{0};
    int results[3] = {-1, -1, -1};
    auto race = [&](int i, const std::string& from) {
      ++ready;
      while (ready.load() < 3) {
      }
      results[i] = renameWithoutReplacing(from.c_str(), target.c_str());
    };
    std::thread a(race, 0, native(dir.at("one")));
    std::thread b(race, 1, native(dir.at("two")));
    std::thread c(race, 2, native(dir.at("folder")));
    a.join();
    b.join();
    c.join();
    int won = 0;
    for (int r : results) {
      if (r == 0) ++won;
      else EXPECT_TRUE(r == EEXIST || r == EISDIR || r == ENOTDIR) << r;
    }
    EXPECT_EQ(won, 1);
    // The winner's entry is at the name, whole; every loser is where it was.
    struct stat st;
    ASSERT_EQ(lstat(target.c_str(), &st), 0);
    if (results[2] == 0) {
      EXPECT_TRUE(S_ISDIR(st.st_mode));
    } else {
      EXPECT_EQ(readFile(dir.at("name")), results[0] == 0 ? "one" : "two");
    }
    for (int i = 0; i < 3; ++i) {
      const char* name = i == 0 ? "one" : i == 1 ? "two" : "folder";
      EXPECT_EQ(lstat(native(dir.at(name)).c_str(), &st) == 0, results[i] != 0) << name;
    }
    removeTree(dir.at("name"));
    removeTree(dir.at("one"));
    removeTree(dir.at("two"));
    removeTree(dir.at("folder"));
  }
  // A taken name of any kind is refused and nothing moves.
  writeFile(dir.at("a"), "a");
  writeFile(dir.at("b"), "b");
  EXPECT_EQ(renameWithoutReplacing(native(dir.at("a")).c_str(), native(dir.at("b")).c_str()),
            EEXIST);
  EXPECT_EQ(readFile(dir.at("a")), "a");
  EXPECT_EQ(readFile(dir.at("b")), "b");
  EXPECT_EQ(renameWithoutReplacing(native(dir.at("a")).c_str(), native(dir.at("c")).c_str()), 0);
  EXPECT_EQ(readFile(dir.at("c")), "a");
}

// A symbolic link to a file is the entry itself: it is replaced and removed as a link, and
// setting attributes on it never reaches the file it points to.
TEST(FsTest, PosixALinkToAFileIsTheEntryAndItsTargetIsNeverTouched) {
  TempDir dir, outside;
  Fs& fs = systemFs();
  writeFile(outside.at("target"), "outside");
  ASSERT_EQ(chmod(native(outside.at("target")).c_str(), 0644), 0);
  makeDir(outside.at("folder"));
  ASSERT_EQ(symlink(native(outside.at("target")).c_str(), native(dir.at("link")).c_str()), 0);
  ASSERT_EQ(symlink(native(outside.at("target")).c_str(), native(dir.at("other")).c_str()), 0);
  ASSERT_EQ(symlink(native(outside.at("folder")).c_str(), native(dir.at("dirlink")).c_str()), 0);

  EXPECT_EQ(fs.setAttributes(dir.at("link").c_str(), attr::ReadOnly | attr::Hidden),
            FsStatus::AccessDenied);
  struct stat st;
  ASSERT_EQ(stat(native(outside.at("target")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  writeFile(dir.at("new"), "new");
  ASSERT_EQ(fs.rename(dir.at("new").c_str(), dir.at("link").c_str(), true), FsStatus::Ok);
  ASSERT_EQ(lstat(native(dir.at("link")).c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(readFile(dir.at("link")), "new");
  // A link to a folder is a folder here: not replaced by a file.
  writeFile(dir.at("new"), "new");
  EXPECT_EQ(fs.rename(dir.at("new").c_str(), dir.at("dirlink").c_str(), true),
            FsStatus::AccessDenied);
  ASSERT_EQ(fs.deleteFile(dir.at("other").c_str()), FsStatus::Ok);
  EXPECT_EQ(readFile(outside.at("target")), "outside");
  EXPECT_TRUE(exists(outside.at("folder")));
}

TEST(FsTest, PosixPermissionBitsAreGivenFromCreationAndKeepTheReadOnlyState) {
  TempDir dir;
  Fs& fs = systemFs();
  auto mode = [&](const char* name) {
    struct stat st;
    return stat(native(dir.at(name)).c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  writeFile(dir.at("old"), "old content");
  ASSERT_EQ(chmod(native(dir.at("old")).c_str(), 0666), 0);
  FileHandle f;
  ASSERT_EQ(fs.createWithPermissions(dir.at("old").c_str(), attr::Normal, kOwnerOnly, &f),
            FsStatus::Ok);
  EXPECT_EQ(mode("old"), 0600u);  // before a byte is written
  uint32_t bits = 0;
  ASSERT_EQ(fs.getFilePermissions(f, &bits), FsStatus::Ok);
  EXPECT_EQ(bits, 0600u);
  ASSERT_EQ(fs.setFilePermissions(f, 06755), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(mode("old"), 0755u);
  EXPECT_EQ(readFile(dir.at("old")), "");

  ASSERT_EQ(fs.createWithPermissions(dir.at("ro").c_str(), attr::ReadOnly, kOwnerOnly, &f),
            FsStatus::Ok);
  EXPECT_EQ(mode("ro"), 0400u);
  ASSERT_EQ(fs.setFilePermissions(f, 0664), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(mode("ro"), 0444u);
  ASSERT_EQ(fs.getPermissions(dir.at("ro").c_str(), &bits), FsStatus::Ok);
  EXPECT_EQ(bits, 0444u);
  EXPECT_EQ(fs.getPermissions(dir.at("none").c_str(), &bits), FsStatus::NotFound);
}


TEST(FsTest, PosixADotFileIsHiddenByItsNameOnlyUntilItsStoredBitsSayOtherwise) {
  TempDir dir;
  Fs& fs = systemFs();
  FILE* f = fopen((toUtf8(dir.path()) + "/.profile").c_str(), "w");  // as any program makes it
  ASSERT_NE(f, nullptr);
  fclose(f);
  uint32_t a = 0;
  ASSERT_EQ(fs.getAttributes(dir.at(".profile").c_str(), &a), FsStatus::Ok);
  EXPECT_TRUE(a & attr::Hidden);
  // Carried from Windows with only the archive bit: not hidden, so that it compares equal.
  ASSERT_EQ(fs.setAttributes(dir.at(".profile").c_str(), attr::Archive), FsStatus::Ok);
  ASSERT_EQ(fs.getAttributes(dir.at(".profile").c_str(), &a), FsStatus::Ok);
  EXPECT_FALSE(a & attr::Hidden);
  EXPECT_TRUE(a & attr::Archive);
}

TEST(FsTest, PosixNamesThatAreNotUtf8SurviveListingAndOpening) {
  TempDir dir;
  std::string raw = toUtf8(dir.path()) + "/caf\xe9";
  FILE* f = fopen(raw.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("bytes", f);
  fclose(f);
  writeFile(dir.at("caf\xc3\xa9"), "text");  // the valid spelling is another name
  Fs& fs = systemFs();
  std::u16string pattern = dir.path() + u"/*";
  FindHandle h;
  FindEntry e;
  ASSERT_EQ(fs.findFirst(pattern.c_str(), &h, &e), FsStatus::Ok);
  std::set<std::u16string> names;
  do names.insert(e.name);
  while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_TRUE(names.count(u"caf\xdce9"));
  EXPECT_TRUE(names.count(u"caf\u00e9"));
  EXPECT_EQ(readFile(dir.path() + u"/caf\xdce9"), "bytes");
  EXPECT_EQ(readFile(dir.path() + u"/caf\u00e9"), "text");
}
#endif

// Each failure reads as what it is, for a person and for a machine; the system's own message
// is added only where the words alone say little.
TEST(FsTest, FailuresAreWordedOnePerStatus) {
  const std::pair<FsStatus, const char*> words[] = {
      {FsStatus::DiskFull, "disk-full"},         {FsStatus::AccessDenied, "access-denied"},
      {FsStatus::InUse, "in-use"},               {FsStatus::InvalidName, "invalid-name"},
      {FsStatus::NotFound, "not-found"},         {FsStatus::Exists, "exists"},
      {FsStatus::NotEmpty, "not-empty"},         {FsStatus::IoError, "io-error"},
      {FsStatus::Unsupported, "unsupported"},    {FsStatus::CrossDevice, "cross-device"},
      {FsStatus::NoMoreFiles, "io-error"},       {FsStatus::Ok, "other"}};
  std::set<std::string> texts;
  for (const auto& [status, word] : words) {
    EXPECT_STREQ(fsStatusWord(status), word) << fsStatusName(status);
    std::string text = fsFailureText({status, 0});
    EXPECT_EQ(text.empty(), status == FsStatus::Ok) << fsStatusName(status);
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(words) - 1);  // IoError and NoMoreFiles share theirs
  EXPECT_EQ(fsFailureText({FsStatus::DiskFull, 0}), "the disk is full");
  EXPECT_EQ(fsFailureText({FsStatus::InUse, 0}), "another program has it open");
  EXPECT_EQ(fsFailureText({FsStatus::AccessDenied, 0}), "access is denied");
  EXPECT_EQ(fsFailureText({FsStatus::InvalidName, 0}), "the file system does not allow this name");
  EXPECT_EQ(osErrorText(0), "");
#ifndef _WIN32
  // A read-only volume is a denial whose system message says more; a full disk's adds nothing.
  EXPECT_EQ(fsFailureText({FsStatus::AccessDenied, EROFS}),
            "access is denied (" + std::string(std::strerror(EROFS)) + ")");
  EXPECT_EQ(fsFailureText({FsStatus::DiskFull, ENOSPC}), "the disk is full");
  EXPECT_EQ(fsFailureText({FsStatus::IoError, EIO}),
            "the system reports an error (" + std::string(std::strerror(EIO)) + ")");
#endif

  // kept() takes the failing thread's error with the status, and leaves a success unrecorded.
  FsFailure why;
  std::u16string missing = TempDir().at("nowhere");
  uint32_t a = 0;
  EXPECT_EQ(kept(systemFs(), systemFs().getAttributes(missing.c_str(), &a), &why),
            FsStatus::NotFound);
  EXPECT_EQ(why.status, FsStatus::NotFound);
  EXPECT_NE(why.osError, 0);
  EXPECT_EQ(kept(systemFs(), FsStatus::Ok, &why), FsStatus::Ok);
  EXPECT_EQ(why.status, FsStatus::NotFound);
}

// A path in the form the engine builds below a root (the long form on Windows).
std::u16string longOf(const std::u16string& path) {
  std::u16string out(kPathBufferUnits, 0);
  out.resize(toLongPath(out.data(), out.size(), path.c_str()));
  return out;
}

// Makes at a link to the folder target; false where this system or user may not.
bool folderLink(const std::u16string& target, const std::u16string& at) {
  std::error_code ec;
  std::filesystem::create_directory_symlink(std::filesystem::path(target),
                                            std::filesystem::path(at), ec);
  return !ec;
}

// Below an added root, a folder on the way that is a link is never followed, whatever the
// call: it is refused (not reported missing) and what lies behind it stays as it was.
TEST(FsTest, BelowARootAFolderLinkOnTheWayIsRefusedByEveryCall) {
  TempDir dir;
  writeFile(dir.at("outside/secret.txt"), "SECRET");
  makeDir(dir.at("outside/sub"));
  writeFile(dir.at("root/keep.txt"), "k");
  if (!folderLink(dir.at("outside"), dir.at("root/d"))) GTEST_SKIP() << "no folder links here";
  Fs& fs = systemFs();
  auto in = [&](const char* relative) { return longOf(dir.at(relative)); };
  {
    RunRoots roots(fs);
    ASSERT_EQ(roots.add(dir.at("root")), FsStatus::Ok);
    std::u16string secret = in("root/d/secret.txt");
    FileHandle f = kInvalidHandle;
    uint32_t a = 0;
    FindHandle h;
    FindEntry e;
    auto refused = [&](FsStatus s, const char* what) {
      EXPECT_EQ(s, FsStatus::AccessDenied) << what << ": " << fsStatusName(s);
#ifndef _WIN32
      EXPECT_EQ(fs.lastOsError(), ELOOP) << what;
#endif
    };
    refused(fs.openRead(secret.c_str(), &f), "openRead");
    refused(fs.getAttributes(secret.c_str(), &a), "getAttributes");
    refused(fs.setAttributes(secret.c_str(), attr::ReadOnly), "setAttributes");
    refused(fs.deleteFile(secret.c_str()), "deleteFile");
    refused(fs.createAlways(in("root/d/new.txt").c_str(), attr::Normal, &f), "createAlways");
    refused(fs.createNew(in("root/d/new.txt").c_str(), attr::Normal, kOwnerOnly, &f),
            "createNew");
    refused(fs.createDirectory(in("root/d/made").c_str()), "createDirectory");
    refused(fs.removeDirectory(in("root/d/sub").c_str()), "removeDirectory");
    refused(fs.rename(in("root/keep.txt").c_str(), in("root/d/keep.txt").c_str(), true),
            "rename into");
    refused(fs.rename(secret.c_str(), in("root/stolen.txt").c_str(), false), "rename out of");
    refused(fs.findFirst((in("root/d") + kPathSeparator + u"*").c_str(), &h, &e), "list it");
    refused(fs.findFirst((in("root/d/sub") + kPathSeparator + u"*").c_str(), &h, &e),
            "list below it");
    FsStatus linked = fs.createHardLink(secret.c_str(), in("root/hard.txt").c_str());
    EXPECT_TRUE(linked == FsStatus::AccessDenied || linked == FsStatus::Unsupported)
        << fsStatusName(linked);
    // Nothing there is still NotFound; the link itself is an entry of the root as before.
    EXPECT_EQ(fs.getAttributes(in("root/none/x.txt").c_str(), &a), FsStatus::NotFound);
    ASSERT_EQ(fs.getAttributes(in("root/d").c_str(), &a), FsStatus::Ok);
    EXPECT_EQ(a & (attr::Directory | attr::ReparsePoint), attr::Directory | attr::ReparsePoint);
    EXPECT_EQ(fs.openRead(in("root/keep.txt").c_str(), &f), FsStatus::Ok);
    fs.close(f);
  }
  EXPECT_EQ(readFile(dir.at("outside/secret.txt")), "SECRET");
  EXPECT_EQ(listNames(dir.at("outside")), (std::set<std::string>{"secret.txt", "sub"}));
  EXPECT_FALSE(exists(dir.at("root/stolen.txt")));
  EXPECT_FALSE(exists(dir.at("root/hard.txt")));
  // Once the root is dropped, the path is used by name again, the link followed.
  uint32_t a = 0;
  EXPECT_EQ(systemFs().getAttributes(longOf(dir.at("root/d/secret.txt")).c_str(), &a),
            FsStatus::Ok);
}

// Below an added root the calls do what they do without one, also where the folders a call
// works in were renamed or removed and made again by earlier calls.
TEST(FsTest, BelowARootEveryCallWorksAsWithoutOne) {
  TempDir dir;
  Fs& fs = systemFs();
  auto in = [&](const char* relative) { return longOf(dir.at(relative)); };
  RunRoots roots(fs);
  ASSERT_EQ(roots.add(dir.path()), FsStatus::Ok);
  ASSERT_EQ(fs.createDirectory(in("a").c_str()), FsStatus::Ok);
  ASSERT_EQ(fs.createDirectory(in("a/b").c_str()), FsStatus::Ok);
  FileHandle f = kInvalidHandle;
  ASSERT_EQ(fs.createAlways(in("a/b/x.txt").c_str(), attr::Normal, &f), FsStatus::Ok);
  ASSERT_EQ(fs.write(f, "data", 4), FsStatus::Ok);
  fs.close(f);
  ASSERT_EQ(fs.createNew(in("a/b/y.txt").c_str(), attr::Normal, kOwnerOnly, &f), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(fs.createNew(in("a/b/y.txt").c_str(), attr::Normal, kOwnerOnly, &f), FsStatus::Exists);
  ASSERT_EQ(fs.rename(in("a/b/x.txt").c_str(), in("a/b/y.txt").c_str(), true), FsStatus::Ok);
  EXPECT_EQ(readFile(dir.at("a/b/y.txt")), "data");
  ASSERT_EQ(fs.setAttributes(in("a/b/y.txt").c_str(), attr::Hidden), FsStatus::Ok);
  uint32_t a = 0;
  ASSERT_EQ(fs.getAttributes(in("a/b/y.txt").c_str(), &a), FsStatus::Ok);
  EXPECT_EQ(a & (attr::Hidden | attr::Directory), attr::Hidden);
  EXPECT_EQ(listNames(in("a/b")), (std::set<std::string>{"y.txt"}));
  // A file on the way is no folder, and nothing there is NotFound.
  EXPECT_NE(fs.getAttributes(in("a/b/y.txt/z").c_str(), &a), FsStatus::Ok);
  EXPECT_EQ(fs.getAttributes(in("a/none/z").c_str(), &a), FsStatus::NotFound);
  // a is renamed and made again: the calls below "a" reach the new folder, not the old one.
  ASSERT_EQ(fs.rename(in("a").c_str(), in("old").c_str(), false), FsStatus::Ok);
  ASSERT_EQ(fs.createDirectory(in("a").c_str()), FsStatus::Ok);
  ASSERT_EQ(fs.createDirectory(in("a/b").c_str()), FsStatus::Ok);
  ASSERT_EQ(fs.createAlways(in("a/b/new.txt").c_str(), attr::Normal, &f), FsStatus::Ok);
  fs.close(f);
  EXPECT_TRUE(exists(dir.at("a/b/new.txt")));
  EXPECT_FALSE(exists(dir.at("old/b/new.txt")));
  // The same after a removal.
  ASSERT_EQ(fs.deleteFile(in("a/b/new.txt").c_str()), FsStatus::Ok);
  ASSERT_EQ(fs.removeDirectory(in("a/b").c_str()), FsStatus::Ok);
  ASSERT_EQ(fs.createDirectory(in("a/b").c_str()), FsStatus::Ok);
  ASSERT_EQ(fs.createAlways(in("a/b/again.txt").c_str(), attr::Normal, &f), FsStatus::Ok);
  fs.close(f);
  EXPECT_TRUE(exists(dir.at("a/b/again.txt")));
  EXPECT_EQ(fs.setAttributes(in("old/b/y.txt").c_str(), attr::Normal), FsStatus::Ok);
  EXPECT_EQ(fs.deleteFile(in("old/b/y.txt").c_str()), FsStatus::Ok);
  EXPECT_EQ(fs.removeDirectory(in("old/b").c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(dir.at("old/b")));
#ifndef _WIN32
  // A path a user gave that leaves the root by ".." is used by name, as without roots.
  writeFile(dir.at("beside.txt"), "b");
  EXPECT_EQ(fs.openRead(in("a/../beside.txt").c_str(), &f), FsStatus::Ok);
  fs.close(f);
#endif
}

// The root itself may be a link: it is followed, and the folders below it are its own.
// A folder swapped for a link after a call worked in it is not followed either.
TEST(FsTest, ARootThatIsALinkIsFollowedAndAFolderSwappedLaterIsNot) {
  TempDir dir;
  writeFile(dir.at("real/a/f.txt"), "f");
  makeDir(dir.at("outside"));
  if (!folderLink(dir.at("real"), dir.at("root"))) GTEST_SKIP() << "no folder links here";
  Fs& fs = systemFs();
  auto in = [&](const char* relative) { return longOf(dir.at(relative)); };
  RunRoots roots(fs);
  ASSERT_EQ(roots.add(dir.at("root")), FsStatus::Ok);
  uint32_t a = 0;
  ASSERT_EQ(fs.getAttributes(in("root/a/f.txt").c_str(), &a), FsStatus::Ok);
  // a is moved away and a link to the outside put in its place.
  std::filesystem::rename(std::filesystem::path(dir.at("real/a")),
                          std::filesystem::path(dir.at("real/moved")));
  ASSERT_TRUE(folderLink(dir.at("outside"), dir.at("real/a")));
  FileHandle f = kInvalidHandle;
  FsStatus s = fs.createAlways(in("root/a/new.txt").c_str(), attr::Normal, &f);
  if (s == FsStatus::Ok) fs.close(f);
  EXPECT_TRUE(s == FsStatus::Ok || s == FsStatus::AccessDenied) << fsStatusName(s);
  s = fs.deleteFile(in("root/a/f.txt").c_str());
  EXPECT_TRUE(s == FsStatus::Ok || s == FsStatus::AccessDenied) << fsStatusName(s);
  // Whether the call worked on in the folder it held (now "moved") or was refused, the
  // outside folder got nothing.
  EXPECT_TRUE(listNames(dir.at("outside")).empty());
}

#ifdef _WIN32
TEST(FsTest, Win32DevicesAreNotOpenedAsFiles) {
  FileHandle f;
  EXPECT_NE(systemFs().openRead(u"\\\\.\\NUL", &f), FsStatus::Ok);
  EXPECT_EQ(f, kInvalidHandle);
}
#endif

}  // namespace
}  // namespace fw
