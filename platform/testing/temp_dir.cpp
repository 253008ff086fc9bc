#include "platform/testing/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "platform/fs.h"
#include "platform/text.h"

namespace fw {
namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> gCounter{0};

fs::path toPath(const std::u16string& p) { return fs::path(p); }

}  // namespace

TempDir::TempDir() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = fs::current_path();
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate =
        base / ("fwtest-" + std::to_string(stamp) + "-" + std::to_string(gCounter++));
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.u16string();
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary folder";
}

TempDir::~TempDir() {
  if (!path_.empty()) removeTree(path_);
}

std::u16string TempDir::at(const std::string& relative) const {
  return path_ + kPathSeparator + nativeSeparators(relative);
}

std::u16string nativeSeparators(const std::string& relative) {
  std::u16string out = toUtf16(relative);
  for (char16_t& c : out)
    if (c == u'/') c = kPathSeparator;
  return out;
}

namespace {

// Creates the folders of path through Fs, so that a folder that exists in other letter case is
// reused as the engine would.
void makeParents(const std::u16string& path, bool includingLast) {
  Fs& sys = systemFs();
  size_t end = includingLast ? path.size() : path.rfind(kPathSeparator);
  if (end == std::u16string::npos) return;
  for (size_t i = 1; i <= end; ++i) {
    if (i != end && path[i] != kPathSeparator) continue;
    std::u16string prefix = path.substr(0, i);
    uint32_t a;
    if (sys.getAttributes(prefix.c_str(), &a) != FsStatus::Ok) sys.createDirectory(prefix.c_str());
  }
}

}  // namespace

void writeFile(const std::u16string& path, const std::string& content) {
  makeParents(path, false);
  Fs& sys = systemFs();
  FileHandle f;
  if (sys.createAlways(path.c_str(), attr::Normal, &f) != FsStatus::Ok) {
    ADD_FAILURE() << "cannot create " << toUtf8(path);
    return;
  }
  if (!content.empty() &&
      sys.write(f, content.data(), static_cast<uint32_t>(content.size())) != FsStatus::Ok)
    ADD_FAILURE() << "cannot write " << toUtf8(path);
  sys.close(f);
}

std::string readFile(const std::u16string& path) {
  Fs& sys = systemFs();
  FileHandle f;
  if (sys.openRead(path.c_str(), &f) != FsStatus::Ok) {
    ADD_FAILURE() << "cannot open " << toUtf8(path);
    return {};
  }
  std::string out;
  char buffer[65536];
  uint32_t got = 0;
  while (sys.read(f, buffer, sizeof buffer, &got) == FsStatus::Ok && got > 0)
    out.append(buffer, got);
  sys.close(f);
  return out;
}

bool exists(const std::u16string& path) {
  uint32_t a;
  return systemFs().getAttributes(path.c_str(), &a) == FsStatus::Ok;
}

void makeDir(const std::u16string& path) {
  makeParents(path, true);
  if (!exists(path)) ADD_FAILURE() << "cannot create folder " << toUtf8(path);
}

void setModified(const std::u16string& path, uint64_t fileTime) {
  std::string content = readFile(path);
  uint32_t attributes = attributesOf(path);
  Fs& sys = systemFs();
  sys.setAttributes(path.c_str(), attr::Normal);
  FileHandle f;
  if (sys.createAlways(path.c_str(), attr::Normal, &f) != FsStatus::Ok) {
    ADD_FAILURE() << "cannot rewrite " << toUtf8(path);
    return;
  }
  if (!content.empty()) sys.write(f, content.data(), static_cast<uint32_t>(content.size()));
  if (sys.setFileTimes(f, fileTime, fileTime, fileTime) != FsStatus::Ok)
    ADD_FAILURE() << "cannot set times of " << toUtf8(path);
  sys.close(f);
  sys.setAttributes(path.c_str(), attributes & ~attr::Directory);
}

uint64_t modifiedOf(const std::u16string& path) {
  Fs& sys = systemFs();
  FileHandle f;
  if (sys.openRead(path.c_str(), &f) != FsStatus::Ok) {
    ADD_FAILURE() << "cannot open " << toUtf8(path);
    return 0;
  }
  uint64_t t = 0;
  sys.getFileTime(f, &t);
  sys.close(f);
  return t;
}

uint32_t attributesOf(const std::u16string& path) {
  uint32_t a = 0;
  if (systemFs().getAttributes(path.c_str(), &a) != FsStatus::Ok)
    ADD_FAILURE() << "no attributes for " << toUtf8(path);
  return a;
}

void removeTree(const std::u16string& path) {
  std::error_code ec;
  // Read-only entries would stop the removal on Windows: make everything writable first.
  for (auto it = fs::recursive_directory_iterator(toPath(path), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_symlink(ec)) continue;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  fs::permissions(toPath(path), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(toPath(path), ec);
}

}  // namespace fw
