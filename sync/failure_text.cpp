#include "sync/failure_text.h"

#include <new>

#include "platform/long_path.h"

namespace fw {
namespace {

// Where no file-system call failed, the engine refused on its own: the rules of the file
// operations that keep a sync inside its folders and away from what it must not open.
const char* refusalWords(Rc rc) {
  switch (rc) {
    case Rc::BadRequest: return "its name or path is too long";
    case Rc::Failed: return "its data is not what was expected";
    default:
      return "a link to a folder lies on its path, it lies too deep, or it is a special file "
             "that a sync leaves alone";
  }
}

}  // namespace

std::string failureText(const char* action, Rc rc, const FsFailure& why) {
  if (why.failed()) return std::string(action) + ": " + fsFailureText(why);
  if (rc == Rc::OutOfMemory) return std::string(action) + ": out of memory";
  return std::string(action) + ": " + refusalWords(rc);
}

void logFailure(FailureLog* log, const char16_t* path, const std::string& reason,
                const FsFailure& why) {
  if (!log) return;
  try {
    log->push_back({fromLongPath(path), reason, why.status, why.osError});
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace fw
