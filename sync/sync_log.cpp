#include "sync/sync_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>

#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/file_ops.h"

namespace fw {
namespace {

// The line end of the system's own text files: the Windows program's log is read in its
// editors.
#ifdef _WIN32
constexpr std::string_view kEol = "\r\n";
#else
constexpr std::string_view kEol = "\n";
#endif

constexpr size_t kBlock = 65536;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t secondsOf(const std::tm& t) {
  return daysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) * 86400 + t.tm_hour * 3600 +
         t.tm_min * 60 + t.tm_sec;
}

std::u16string digits(int value, int width) {
  std::u16string out(static_cast<size_t>(width), u'0');
  for (int i = width - 1; i >= 0 && value > 0; --i, value /= 10)
    out[static_cast<size_t>(i)] = static_cast<char16_t>(u'0' + value % 10);
  return out;
}

bool allDigits(std::u16string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// An entry's path for a person: without the long-path prefix, names as UTF-8 (a unit that is
// no character escaped as the command line's paths are).
std::string shown(const std::u16string& path) { return toUtf8Escaped(fromLongPath(path.c_str())); }

const char* doneWord(EntryDone what) {
  switch (what) {
    case EntryDone::Copied: return "copied     ";
    case EntryDone::Replaced: return "replaced   ";
    case EntryDone::Attributes: return "attributes ";
    case EntryDone::Deleted: return "deleted    ";
    case EntryDone::FolderCreated: return "new folder ";
    case EntryDone::LeftAlone: return "left alone ";
  }
  return "done       ";
}

const char* resultWords(Rc rc) {
  switch (rc) {
    case Rc::OutOfMemory: return "out of memory";
    case Rc::BadRequest: return "refused";
    case Rc::CannotOpen: return "a file could not be opened";
    case Rc::CannotWrite: return "a file or folder could not be written";
    default: return "bad or unexpected data";
  }
}

std::string totalLine(const char* label, uint64_t ok, const uint64_t* failed) {
  char line[96];
  if (failed)
    std::snprintf(line, sizeof line, "  %-17s%16llu%16llu", label,
                  static_cast<unsigned long long>(ok), static_cast<unsigned long long>(*failed));
  else
    std::snprintf(line, sizeof line, "  %-17s%16llu", label,
                  static_cast<unsigned long long>(ok));
  return line;
}

}  // namespace

LogTime localTimeNow() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{}, utc{};
#ifdef _WIN32
  localtime_s(&local, &now);
  gmtime_s(&utc, &now);
#else
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
#endif
  LogTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.offsetMinutes = static_cast<int>((secondsOf(local) - secondsOf(utc)) / 60);
  return t;
}

std::string logTimeText(const LogTime& t) {
  const int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.offsetMinutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

std::u16string logFileName(const LogTime& t, int n) {
  std::u16string name = u"sync-" + digits(t.year, 4) + digits(t.month, 2) + digits(t.day, 2) +
                        u"-" + digits(t.hour, 2) + digits(t.minute, 2) + digits(t.second, 2);
  if (n > 1) name += u"-" + toUtf16(std::to_string(n));
  return name + u".log";
}

bool isLogFileName(std::u16string_view name) {
  // "sync-" 8 digits "-" 6 digits, then "-" and a number of the same second, then ".log".
  constexpr std::u16string_view kPrefix = u"sync-", kSuffix = u".log";
  if (name.size() < 24 || name.substr(0, 5) != kPrefix ||
      name.substr(name.size() - 4) != kSuffix)
    return false;
  if (!allDigits(name.substr(5, 8)) || name[13] != u'-' || !allDigits(name.substr(14, 6)))
    return false;
  std::u16string_view rest = name.substr(20, name.size() - 24);
  return rest.empty() || (rest.size() >= 2 && rest[0] == u'-' && allDigits(rest.substr(1)));
}

std::vector<std::u16string> logsToPrune(std::vector<LogFolderEntry> listing, size_t keep) {
  std::erase_if(listing, [](const LogFolderEntry& e) { return !isLogFileName(e.name); });
  std::vector<std::u16string> names;
  if (listing.size() <= keep) return names;
  std::sort(listing.begin(), listing.end(), [](const LogFolderEntry& a, const LogFolderEntry& b) {
    return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
  });
  for (size_t i = 0; i + keep < listing.size(); ++i) names.push_back(std::move(listing[i].name));
  return names;
}

void pruneLogs(Fs& fs, const std::u16string& folder, size_t keep) {
  try {
    std::u16string base(kPathBufferUnits, u'\0');
    size_t n = toLongPath(base.data(), base.size(), folder.c_str());
    if (n == 0) return;
    base.resize(n);
    if (base.back() != kPathSeparator) base += kPathSeparator;
    std::vector<LogFolderEntry> listing;
    FindHandle find;
    auto entry = std::make_unique<FindEntry>();
    if (fs.findFirst((base + u"*").c_str(), &find, entry.get()) != FsStatus::Ok) return;
    do {
      if (!(entry->attributes & (attr::Directory | attr::Device | attr::ReparsePoint)))
        listing.push_back({entry->name, entry->modified});
    } while (fs.findNext(find, entry.get()) == FsStatus::Ok);
    fs.findClose(find);
    for (const std::u16string& name : logsToPrune(std::move(listing), keep))
      fs.deleteFile((base + name).c_str());
  } catch (const std::bad_alloc&) {
    // The logs stay until the next run prunes them.
  }
}

SyncLog::~SyncLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != kInvalidHandle) {
    flush();
    if (file_ != kInvalidHandle) fs_.close(file_);
  }
}

bool SyncLog::open(const std::u16string& longPath, bool replace, FsFailure* why) {
  FsStatus s = replace ? fs_.createAlways(longPath.c_str(), attr::Normal, &file_)
                       : fs_.createNew(longPath.c_str(), attr::Normal, kDefaultPermissions,
                                       &file_);
  if (kept(fs_, s, why) == FsStatus::Ok) return true;
  file_ = kInvalidHandle;
  return false;
}

bool SyncLog::create(const std::u16string& file, const SideInput& source,
                     const SideInput& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  FsFailure why;
  try {
    path_ = file;
    std::u16string longPath(kPathBufferUnits, u'\0');
    size_t n = toLongPath(longPath.data(), longPath.size(), file.c_str());
    longPath.resize(n);
    if (n == 0 || !open(longPath, true, &why)) {
      if (n == 0) why.status = FsStatus::InvalidName;
      fail("cannot create the log", why);
      return false;
    }
    created_ = true;
    writeHeading(source, target);
  } catch (const std::bad_alloc&) {
    fail("cannot write the log", why);
  }
  return good();
}

bool SyncLog::createIn(const std::u16string& folder, const SideInput& source,
                       const SideInput& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  FsFailure why;
  try {
    path_ = folder;
    std::u16string longPath(kPathBufferUnits, u'\0');
    size_t n = toLongPath(longPath.data(), longPath.size(), folder.c_str());
    if (n == 0 || n + 1 + 32 >= kPathBufferUnits) {
      why.status = FsStatus::InvalidName;
      fail("cannot create the log", why);
      return false;
    }
    if (longPath[n - 1] == kPathSeparator) longPath[--n] = 0;
    createFolderChain(fs_, longPath.data(), n);
    longPath.resize(n);
    longPath += kPathSeparator;
    if (path_.empty() || path_.back() != kPathSeparator) path_ += kPathSeparator;
    const LogTime start = now();
    // Two runs within one second: the later one takes the next number.
    for (int i = 1; i <= 99 && file_ == kInvalidHandle; ++i) {
      const std::u16string name = logFileName(start, i);
      if (open(longPath + name, false, &why)) path_ += name;
      else if (why.status != FsStatus::Exists) break;
    }
    if (file_ == kInvalidHandle) {
      fail("cannot create a log", why);
      return false;
    }
    created_ = true;
    writeHeading(source, target);
  } catch (const std::bad_alloc&) {
    fail("cannot write the log", why);
  }
  return good();
}

void SyncLog::writeHeading(const SideInput& source, const SideInput& target) {
  std::string text = "Ferrywick sync log";
  text += kEol;
  if (source.hasSavedFile())
    text += "Apply of the saved difference " + shown(source.savedFile);
  else
    text += "Sync of folders";
  text += kEol;
  text += "Started:  " + logTimeText(now());
  text += kEol;
  // The rows a run walks: those with a source root and a target root.
  for (size_t i = 0; i < source.roots.size() && i < target.roots.size(); ++i) {
    if (source.roots[i].empty() || target.roots[i].empty()) continue;
    text += "Row " + std::to_string(i + 1) + ":    " + shown(source.roots[i]) + " -> " +
            shown(target.roots[i]);
    text += kEol;
  }
  text += kEol;
  add(text);
}

void SyncLog::entryDone(EntryDone what, const char16_t* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!good()) return;
  try {
    std::string line = doneWord(what);
    line += toUtf8Escaped(fromLongPath(path));
    line += kEol;
    add(line);
  } catch (const std::bad_alloc&) {
    fail("cannot write the log", {});
  }
}

void SyncLog::finish(Rc result, bool cancelled, const SyncStats& ok, const SyncStats& failed,
                     const FailureLog& failures) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!good()) return;
  try {
    std::string text(kEol);
    for (const EntryFailure& f : failures) {
      text += "failed     " + shown(f.path) + ": " + f.reason;
      text += kEol;
    }
    if (!failures.empty()) text += kEol;
    text += "Result:   ";
    if (result != Rc::Ok && !failures.empty())
      text += "stopped before the end; the last failure above says why";
    else if (result != Rc::Ok)
      text += std::string("stopped before the end: ") + resultWords(result);
    else
      text += cancelled ? "cancelled; what is listed above was done" : "finished";
    text += kEol;
    text += "Failed entries: " + std::to_string(failures.size());
    text += kEol;
    char heading[64];
    std::snprintf(heading, sizeof heading, "  %-17s%16s%16s", "Totals", "Ok", "Failed");
    text += heading;
    text += kEol;
    const uint64_t failedCounts[] = {valueOf(failed.addedFiles), valueOf(failed.modifiedFiles),
                                     valueOf(failed.deletedFiles), valueOf(failed.addedBytes),
                                     valueOf(failed.deletedBytes)};
    const std::string lines[] = {
        totalLine("Untouched files:", valueOf(ok.untouchedFiles), nullptr),
        totalLine("Added files:", valueOf(ok.addedFiles), &failedCounts[0]),
        totalLine("Modified files:", valueOf(ok.modifiedFiles), &failedCounts[1]),
        totalLine("Deleted files:", valueOf(ok.deletedFiles), &failedCounts[2]),
        totalLine("Untouched bytes:", valueOf(ok.untouchedBytes), nullptr),
        totalLine("Added bytes:", valueOf(ok.addedBytes), &failedCounts[3]),
        totalLine("Deleted bytes:", valueOf(ok.deletedBytes), &failedCounts[4]),
    };
    for (const std::string& line : lines) {
      text += line;
      text += kEol;
    }
    text += "Ended:    " + logTimeText(now());
    text += kEol;
    add(text);
  } catch (const std::bad_alloc&) {
    fail("cannot write the log", {});
  }
  flush();
  if (file_ != kInvalidHandle) {
    fs_.close(file_);
    file_ = kInvalidHandle;
  }
}

void SyncLog::add(std::string_view text) {
  buffer_ += text;
  if (buffer_.size() >= kBlock) flush();
}

void SyncLog::flush() {
  if (file_ == kInvalidHandle || buffer_.empty()) return;
  FsFailure why;
  if (kept(fs_, fs_.write(file_, buffer_.data(), static_cast<uint32_t>(buffer_.size())), &why) !=
      FsStatus::Ok)
    fail("cannot write the log", why);
  buffer_.clear();
}

void SyncLog::fail(const char* what, const FsFailure& why) {
  if (!problem_.empty()) return;  // the first failure is the one to tell
  try {
    problem_ = std::string(what) + " " + shown(path_) + ": " +
               (why.failed() ? fsFailureText(why) : std::string("out of memory"));
  } catch (const std::bad_alloc&) {
  }
  if (problem_.empty()) problem_ = "out of memory";
  if (file_ != kInvalidHandle) {
    fs_.close(file_);
    file_ = kInvalidHandle;
  }
  buffer_.clear();
}

}  // namespace fw
