// The log of a sync or of the apply of a saved difference: a UTF-8 text file that says when the
// run began and ended (local time with its offset from UTC), which rows it synchronised, every
// entry it copied, replaced, deleted or left alone, every entry that failed with why, and the
// totals the summary shows.
//
// The file is written at its final name as the run goes, in blocks of 64 KiB (and at the
// end): a run that is killed, or a program that crashes, still leaves what was done up to the
// last block, which is when a log is read most. The entries done come from the run as it goes
// (SyncObserver); the failures from the run's failure list at the end, in the order the run
// named them. A log that cannot be created or written never stops or fails the run: it is
// closed, the rest dropped, and problem() says why, for the caller to tell once.
#ifndef FERRYWICK_SYNC_SYNC_LOG_H
#define FERRYWICK_SYNC_SYNC_LOG_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/comparison.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_request.h"
#include "sync/sync_stats.h"

namespace fw {

// How many logs a folder of them keeps (pruneLogs): the newest.
inline constexpr size_t kLogsKept = 50;

// A moment in local time, with the local offset from UTC then, in minutes east.
struct LogTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  int offsetMinutes = 0;
};

LogTime localTimeNow();
// "2026-12-08 15:09:05 +01:00".
std::string logTimeText(const LogTime& t);
// The name of a log begun at t: "sync-20261208-150905.log"; with n above 1, the n-th of one
// second, "sync-20261208-150905-2.log".
std::u16string logFileName(const LogTime& t, int n = 1);
// Whether name is one logFileName gives: the only files pruneLogs ever deletes.
bool isLogFileName(std::u16string_view name);

// One file of a folder's listing.
struct LogFolderEntry {
  std::u16string name;
  uint64_t modified = 0;  // last-write time, FILETIME ticks
};

// Which files of listing go so that the newest keep of this program's logs remain: those named
// like them (isLogFileName), oldest first by last-write time, then by name. Nothing else in
// listing is ever named.
std::vector<std::u16string> logsToPrune(std::vector<LogFolderEntry> listing, size_t keep);

// Deletes in folder (as a user gives it) the logs logsToPrune names. A folder that cannot be
// listed, or a log that cannot be deleted, stays as it is.
void pruneLogs(Fs& fs, const std::u16string& folder, size_t keep = kLogsKept);

class SyncLog final : public SyncObserver {
 public:
  explicit SyncLog(Fs& fs) : fs_(fs) {}
  ~SyncLog() override;
  SyncLog(const SyncLog&) = delete;
  SyncLog& operator=(const SyncLog&) = delete;

  // Creates the log at file (as a user gives it; an existing file is replaced) and writes its
  // heading: the kind of run, its start and the rows of source and target (a source with a
  // saved file is the apply of that difference). False when it cannot be created (problem()).
  bool create(const std::u16string& file, const SideInput& source, const SideInput& target);
  // As create, the file a new one in folder named for the start (logFileName), the folder made
  // with its ancestors where it is missing.
  bool createIn(const std::u16string& folder, const SideInput& source, const SideInput& target);

  void entryDone(EntryDone what, const char16_t* path) override;

  // Writes the failures, how the run ended, the totals and the end, and closes the file.
  // cancelled: the run was stopped by the user.
  void finish(Rc result, bool cancelled, const SyncStats& ok, const SyncStats& failed,
              const FailureLog& failures);

  // The file as given (createIn: the folder and the new name); empty before create.
  const std::u16string& path() const { return path_; }
  // Whether the file was created (it is there, whole or not).
  bool created() const { return created_; }
  // Whether the log is whole so far: created, and no write failed.
  bool good() const { return file_ != kInvalidHandle && problem_.empty(); }
  // Why the log could not be created or written, for a person; empty when nothing failed.
  const std::string& problem() const { return problem_; }

  // Where the times come from; a test sets its own.
  LogTime (*now)() = localTimeNow;

 private:
  bool open(const std::u16string& longPath, bool replace, FsFailure* why);
  void writeHeading(const SideInput& source, const SideInput& target);
  // Adds text to the buffer, writing it out when it is full (mutex_ held).
  void add(std::string_view text);
  void flush();  // mutex_ held
  void fail(const char* what, const FsFailure& why);  // mutex_ held

  Fs& fs_;
  std::mutex mutex_;
  FileHandle file_ = kInvalidHandle;
  std::u16string path_;
  bool created_ = false;
  std::string buffer_;
  std::string problem_;
};

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_LOG_H
