// The Win32 file system where Windows has more to get wrong than fs_test.cpp shows: paths in
// the long form beyond MAX_PATH, files locked or read-only or hidden, junctions, and the case
// table taken from the locale.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/case_map.h"
#include "platform/fs.h"
#include "platform/long_path.h"
#include "platform/testing/temp_dir.h"

namespace fw {
namespace {

std::u16string longForm(const std::u16string& path) {
  std::u16string out(kPathBufferUnits, u'\0');
  out.resize(toLongPath(out.data(), out.size(), path.c_str()));
  return out;
}

// Real entries of a folder (without "." and ".."), with their sizes; the status of findFirst.
std::vector<std::pair<std::u16string, uint64_t>> list(const std::u16string& folder,
                                                      FsStatus* status) {
  Fs& fs = systemFs();
  std::u16string pattern = folder + u"\\*";
  FindHandle h;
  FindEntry e;
  std::vector<std::pair<std::u16string, uint64_t>> out;
  *status = fs.findFirst(pattern.c_str(), &h, &e);
  if (*status != FsStatus::Ok) return out;
  do {
    std::u16string n = e.name;
    if (n != u"." && n != u"..") out.emplace_back(n, e.size);
  } while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  return out;
}

TEST(Win32FsTest, PathsBeyondMaxPathWorkInTheLongForm) {
  TempDir dir;
  Fs& fs = systemFs();
  std::u16string relative;
  std::vector<std::u16string> folders;
  for (char16_t i = u'0'; i < u'3'; ++i) {
    relative += u'\\' + std::u16string(100, u'n') + i;
    folders.push_back(longForm(dir.path()) + relative);
    ASSERT_EQ(fs.createDirectory(folders.back().c_str()), FsStatus::Ok);
  }
  std::u16string deep = folders.back();
  ASSERT_GT(deep.size(), 300u);

  std::u16string file = deep + u"\\data.bin";
  FileHandle f;
  ASSERT_EQ(fs.createAlways(file.c_str(), attr::Normal, &f), FsStatus::Ok);
  ASSERT_EQ(fs.write(f, "long", 4), FsStatus::Ok);
  fs.close(f);
  EXPECT_EQ(readFile(file), "long");
  FsStatus s;
  auto entries = list(deep, &s);
  ASSERT_EQ(s, FsStatus::Ok);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, u"data.bin");
  EXPECT_EQ(entries[0].second, 4u);

  std::u16string renamed = deep + u"\\renamed.bin";
  ASSERT_EQ(fs.rename(file.c_str(), renamed.c_str(), true), FsStatus::Ok);
  uint32_t a = 0;
  EXPECT_EQ(fs.getAttributes(renamed.c_str(), &a), FsStatus::Ok);
  // Longer than MAX_PATH, and handed back without the prefix.
  std::u16string full;
  ASSERT_EQ(fs.fullPath(renamed.c_str(), &full), FsStatus::Ok);
  EXPECT_EQ(full, dir.path() + relative + u"\\renamed.bin");

  // std::filesystem cannot be trusted with this depth: take it down through Fs.
  EXPECT_EQ(fs.deleteFile(renamed.c_str()), FsStatus::Ok);
  for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    EXPECT_EQ(fs.removeDirectory(it->c_str()), FsStatus::Ok);
}

TEST(Win32FsTest, ListingsInTheLongFormTellMissingFolders) {
  TempDir dir;
  FsStatus s;
  list(longForm(dir.path()) + u"\\missing\\below", &s);
  EXPECT_EQ(s, FsStatus::NotFound);
  EXPECT_EQ(systemFs().lastOsError(), ERROR_PATH_NOT_FOUND);
  // A drive's root, whose folder part needs its separator.
  list(longForm(dir.path().substr(0, 2)), &s);
  EXPECT_EQ(s, FsStatus::Ok);
}

TEST(Win32FsTest, LockedReadOnlyAndHiddenFiles) {
  TempDir dir;
  Fs& fs = systemFs();
  std::u16string p = dir.at("open.txt");
  FileHandle writer, other;
  ASSERT_EQ(fs.createAlways(p.c_str(), attr::Normal, &writer), FsStatus::Ok);
  // Open elsewhere is "in use", told apart from a denial, and worded so.
  EXPECT_EQ(fs.openRead(p.c_str(), &other), FsStatus::InUse);
  EXPECT_EQ(fs.lastOsError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(fsFailureText({FsStatus::InUse, fs.lastOsError()}), "another program has it open");
  EXPECT_EQ(fs.createAlways(p.c_str(), attr::Normal, &other), FsStatus::InUse);
  EXPECT_EQ(other, kInvalidHandle);
  fs.close(writer);

  // Created read-only, the new file is still written through its handle; after that it is
  // neither replaced nor deleted.
  std::u16string ro = dir.at("ro.txt");
  ASSERT_EQ(fs.createAlways(ro.c_str(), attr::ReadOnly, &writer), FsStatus::Ok);
  EXPECT_EQ(fs.write(writer, "kept", 4), FsStatus::Ok);
  EXPECT_EQ(fs.setFileTimes(writer, 131000000000000000ull, 131000000000000000ull,
                            131000000000000000ull),
            FsStatus::Ok);
  fs.close(writer);
  EXPECT_TRUE(attributesOf(ro) & attr::ReadOnly);
  EXPECT_EQ(fs.createAlways(ro.c_str(), attr::Normal, &other), FsStatus::AccessDenied);
  EXPECT_EQ(fs.lastOsError(), ERROR_ACCESS_DENIED);
  // The system's own message follows the words, without its line end.
  std::string denied = fsFailureText({FsStatus::AccessDenied, ERROR_ACCESS_DENIED});
  EXPECT_EQ(denied.rfind("access is denied", 0), 0u) << denied;
  EXPECT_NE(osErrorText(ERROR_ACCESS_DENIED), "");
  EXPECT_EQ(osErrorText(ERROR_ACCESS_DENIED).find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(readFile(ro), "kept");
  EXPECT_EQ(modifiedOf(ro), 131000000000000000ull);

  // Hidden and system files are replaced like any other and take the new attributes.
  std::u16string hidden = dir.at("desktop.ini");
  ASSERT_EQ(fs.createAlways(hidden.c_str(), attr::Hidden | attr::System, &writer), FsStatus::Ok);
  fs.close(writer);
  ASSERT_EQ(fs.createAlways(hidden.c_str(), attr::Normal, &writer), FsStatus::Ok);
  EXPECT_EQ(fs.write(writer, "new", 3), FsStatus::Ok);
  fs.close(writer);
  EXPECT_EQ(attributesOf(hidden) & (attr::Hidden | attr::System), 0u);
  EXPECT_EQ(readFile(hidden), "new");
  ASSERT_EQ(fs.createAlways(hidden.c_str(), attr::Hidden, &writer), FsStatus::Ok);
  fs.close(writer);
  EXPECT_TRUE(attributesOf(hidden) & attr::Hidden);
}

TEST(Win32FsTest, RenameOntoItsOwnNameTakesTheSpellingAskedFor) {
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("readme.TXT"), "c");
  std::u16string wanted = dir.at("ReadMe.txt");
  ASSERT_EQ(fs.rename(wanted.c_str(), wanted.c_str(), false), FsStatus::Ok);
  FsStatus s;
  auto entries = list(dir.path(), &s);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, u"ReadMe.txt");
  EXPECT_EQ(readFile(wanted), "c");
  // A read-only file is its own target here, not one to be refused.
  ASSERT_EQ(fs.setAttributes(wanted.c_str(), attr::ReadOnly), FsStatus::Ok);
  ASSERT_EQ(fs.rename(wanted.c_str(), dir.at("README.TXT").c_str(), true), FsStatus::Ok);
  entries = list(dir.path(), &s);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, u"README.TXT");
}

// A junction at link to target, through the reparse point call; false where the file system
// has none (Wine).
bool makeJunction(const std::u16string& link, const std::u16string& target) {
  if (!CreateDirectoryW(reinterpret_cast<const wchar_t*>(link.c_str()), nullptr)) return false;
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(link.c_str()), GENERIC_WRITE, 0,
                         nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::u16string substitute = u"\\??\\" + target;
  WORD bytes = static_cast<WORD>(substitute.size() * 2);
  // Tag, data length, reserved; substitute name offset and length, print name offset and
  // length; the substitute name and an empty print name, both terminated.
  std::vector<char> buffer(8 + 8 + bytes + 4, 0);
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  WORD header[6] = {static_cast<WORD>(buffer.size() - 8), 0, 0, bytes,
                    static_cast<WORD>(bytes + 2), 0};
  std::memcpy(buffer.data(), &tag, 4);
  std::memcpy(buffer.data() + 4, header, sizeof header);
  std::memcpy(buffer.data() + 16, substitute.data(), bytes);
  DWORD got = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &got, nullptr);
  DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) {
    RemoveDirectoryW(reinterpret_cast<const wchar_t*>(link.c_str()));
    SetLastError(err);
  }
  return ok;
}

TEST(Win32FsTest, JunctionsAreMarkedRemovedAloneAndNeverEmptyWhenDangling) {
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("real/keep.txt"), "k");
  if (!makeJunction(dir.at("link"), dir.at("real")))
    GTEST_SKIP() << "no junctions on this file system (error " << GetLastError() << ")";

  std::u16string pattern = dir.path() + u"\\*";
  FindHandle h;
  FindEntry e;
  ASSERT_EQ(fs.findFirst(pattern.c_str(), &h, &e), FsStatus::Ok);
  uint32_t linkAttributes = 0;
  do
    if (std::u16string(e.name) == u"link") linkAttributes = e.attributes;
  while (fs.findNext(h, &e) == FsStatus::Ok);
  fs.findClose(h);
  EXPECT_EQ(linkAttributes & (attr::Directory | attr::ReparsePoint),
            attr::Directory | attr::ReparsePoint);
  FileIdentity viaLink, real;
  ASSERT_EQ(fs.identify(dir.at("link").c_str(), &viaLink), FsStatus::Ok);
  ASSERT_EQ(fs.identify(dir.at("real").c_str(), &real), FsStatus::Ok);
  EXPECT_EQ(viaLink, real);

  // With its target gone the junction is still there, but must not list as an empty folder.
  removeTree(dir.at("real"));
  FsStatus s;
  list(dir.at("link"), &s);
  EXPECT_NE(s, FsStatus::Ok);

  writeFile(dir.at("real/keep.txt"), "k");
  ASSERT_EQ(fs.removeDirectory(dir.at("link").c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(dir.at("link")));
  EXPECT_EQ(readFile(dir.at("real/keep.txt")), "k");
}

TEST(Win32FsTest, TheRecycleBinTakesFilesAndFoldersButNoReadOnlyFile) {
  TempDir dir;
  Fs& fs = systemFs();
  writeFile(dir.at("bin-me.txt"), "x");
  writeFile(dir.at("folder/inner.txt"), "y");
  writeFile(dir.at("locked.txt"), "z");
  ASSERT_EQ(fs.setAttributes(dir.at("locked.txt").c_str(), attr::ReadOnly), FsStatus::Ok);
  EXPECT_EQ(fs.moveToRecycleBin(longForm(dir.at("bin-me.txt")).c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(dir.at("bin-me.txt")));
  EXPECT_EQ(fs.moveToRecycleBin(longForm(dir.at("folder")).c_str()), FsStatus::Ok);
  EXPECT_FALSE(exists(dir.at("folder")));
  EXPECT_EQ(fs.moveToRecycleBin(dir.at("locked.txt").c_str()), FsStatus::AccessDenied);
  EXPECT_EQ(readFile(dir.at("locked.txt")), "z");
  EXPECT_EQ(fs.moveToRecycleBin(dir.at("never-was").c_str()), FsStatus::NotFound);
  fs.setAttributes(dir.at("locked.txt").c_str(), attr::Normal);
}

// Copies as a sync's copy does: copyData block by block until it gives nothing or says it
// cannot, then reads and writes the rest. *inSystem: whether copyData took the first block.
void copyAsASyncDoes(const std::u16string& from, const std::u16string& to, bool* inSystem) {
  Fs& fs = systemFs();
  FileHandle in, out;
  ASSERT_EQ(fs.openRead(from.c_str(), &in), FsStatus::Ok);
  ASSERT_EQ(fs.createAlways(to.c_str(), attr::Archive, &out), FsStatus::Ok);
  constexpr uint32_t kBlock = 65536;
  std::vector<char> buffer(kBlock);
  *inSystem = false;
  for (bool first = true;; first = false) {
    uint32_t got = 0;
    FsStatus s = fs.copyData(in, out, kBlock, &got);
    if (s == FsStatus::Unsupported) break;
    ASSERT_EQ(s, FsStatus::Ok);
    if (first) *inSystem = true;
    if (got == 0) break;
  }
  for (;;) {
    uint32_t got = 0;
    ASSERT_EQ(fs.read(in, buffer.data(), kBlock, &got), FsStatus::Ok);
    if (got == 0) break;
    ASSERT_EQ(fs.write(out, buffer.data(), got), FsStatus::Ok);
  }
  fs.close(out);
  fs.close(in);
}

// A file of 16 MiB with 64 KiB of data at its start and in its middle and holes between and at
// its end: the copy has the same bytes and size and, where the file system keeps sparse files,
// only the data allocated. Where it keeps none (Wine keeps none), the source is no sparse file
// and copyData leaves the copy to the reads and writes: the plain copy is what is checked then.
TEST(Win32FsTest, ASparseFileCopiesWithItsHolesOrWholeWhereThereAreNone) {
  TempDir dir;
  const std::u16string source = longForm(dir.at("sparse.img"));
  const std::u16string copy = longForm(dir.at("copy.img"));
  constexpr LONGLONG kSize = 16 << 20;
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(source.c_str()),
                         GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILE_SET_SPARSE_BUFFER on = {};
  on.SetSparse = TRUE;
  DWORD n = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, &on, sizeof on, nullptr, 0, &n, nullptr);
  const std::string data = randomBytes(65536, 7);
  for (LONGLONG at : {LONGLONG{0}, kSize / 2}) {
    LARGE_INTEGER to;
    to.QuadPart = at;
    ASSERT_TRUE(SetFilePointerEx(h, to, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr));
  }
  FILE_END_OF_FILE_INFO eof = {};
  eof.EndOfFile.QuadPart = kSize;
  ASSERT_TRUE(SetFileInformationByHandle(h, FileEndOfFileInfo, &eof, sizeof eof));
  CloseHandle(h);
  const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(source.c_str()));
  const bool sparse = (attributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;

  bool inSystem = false;
  copyAsASyncDoes(source, copy, &inSystem);
  EXPECT_EQ(readFile(dir.at("copy.img")), readFile(dir.at("sparse.img")));
  WIN32_FILE_ATTRIBUTE_DATA copied;
  ASSERT_TRUE(GetFileAttributesExW(reinterpret_cast<const wchar_t*>(copy.c_str()),
                                   GetFileExInfoStandard, &copied));
  EXPECT_EQ((uint64_t{copied.nFileSizeHigh} << 32) | copied.nFileSizeLow,
            static_cast<uint64_t>(kSize));
  if (!sparse) {
    EXPECT_FALSE(inSystem) << "a file that is not sparse is left to the reads and writes";
    std::printf("[   NOTE   ] no sparse files here: the plain copy was checked\n");
    return;
  }
  EXPECT_TRUE(inSystem);
  if (copied.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) {
    DWORD high = 0;
    const DWORD low =
        GetCompressedFileSizeW(reinterpret_cast<const wchar_t*>(copy.c_str()), &high);
    EXPECT_LT((uint64_t{high} << 32) | low, uint64_t{4} << 20) << "the holes were written out";
  }
}

TEST(Win32FsTest, CaseTableSpansTheSurrogateGap) {
  const char16_t* t = lowerCaseTable();
  EXPECT_EQ(t[0x00C9], 0x00E9);  // before the gap
  EXPECT_EQ(t[0x0416], 0x0436);
  EXPECT_EQ(t[0xD800], 0xD800);  // surrogates stay
  EXPECT_EQ(t[0xDFFF], 0xDFFF);
  EXPECT_EQ(t[0xE000], 0xE000);  // after it, units are still in their own places
  EXPECT_EQ(t[0xFF21], 0xFF41);
  EXPECT_EQ(t[0xFFFF], 0xFFFF);
}

}  // namespace
}  // namespace fw
