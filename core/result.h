// Result codes: what every operation of the engine returns, passed upwards unchanged.
// Nothing in the engine throws.
#ifndef FERRYWICK_CORE_RESULT_H
#define FERRYWICK_CORE_RESULT_H

namespace fw {

enum class Rc : int {
  Ok = 0,           // success (also a run that was only cancelled)
  Failed = 1,       // bad or unexpected data, compression or seek error, conversion failure
  OutOfMemory = 2,  // no memory for a buffer or a pool block
  BadRequest = 3,   // missing argument, bad pool request, name over 259 characters, refused sync
  CannotOpen = 4,   // a file to read cannot be opened, or a copy's destination cannot be created
  CannotWrite = 5,  // an output cannot be created or written, or an entry cannot be removed
};

// The one table of names, used by the command line's output and the tests.
constexpr const char* rcName(Rc rc) {
  switch (rc) {
    case Rc::Ok: return "Ok";
    case Rc::Failed: return "Failed";
    case Rc::OutOfMemory: return "OutOfMemory";
    case Rc::BadRequest: return "BadRequest";
    case Rc::CannotOpen: return "CannotOpen";
    case Rc::CannotWrite: return "CannotWrite";
  }
  return "Unknown";
}

constexpr int rcValue(Rc rc) { return static_cast<int>(rc); }

}  // namespace fw

#endif  // FERRYWICK_CORE_RESULT_H
