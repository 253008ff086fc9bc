#include "sync/failure_text.h"

namespace fw {

std::string failureText(const char* action, Rc rc, const FsFailure& why) {
  if (why.failed()) return std::string(action) + ": " + fsFailureText(why);
  if (rc == Rc::OutOfMemory) return std::string(action) + ": out of memory";
  return std::string(action) + " (" + rcName(rc) + ")";
}

}  // namespace fw
