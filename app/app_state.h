// The Windows program's state, one instance for the whole run, owned by the window thread:
// the window handles, fonts, the Workspace (sides, task state, settings) and the worker
// bookkeeping. A worker reads only the handles it posts to (atomic) and the task state.
#ifndef FERRYWICK_APP_APP_STATE_H
#define FERRYWICK_APP_APP_STATE_H

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/task_flow.h"
#include "app/logic/workspace.h"

namespace fw {

struct MainControls {
  HWND label[2] = {};
  HWND kindBox[2] = {};
  // The kind box's selection changes while a key moves it with the list closed: the choice
  // waits for Enter (or for the focus to leave), so that passing over a saved kind opens
  // nothing.
  bool kindByKey[2] = {};
  HWND browse[2] = {};
  HWND list[2] = {};
  HWND add = nullptr, edit = nullptr, remove = nullptr, compare = nullptr;
};

struct Fonts {
  HFONT normal = nullptr;   // Arial 14: kind boxes, browse buttons, lists, row buttons
  HFONT label = nullptr;    // Arial 16, 600: "Source", "Target", "Compare"
  HFONT heading = nullptr;  // Arial 15, bold: File Tree headings
  HFONT small = nullptr;    // Arial 12: File Tree side captions
};

struct App {
  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;
  HACCEL accelerators = nullptr;  // the main window's keys
  MainControls controls;
  Fonts fonts;
  std::unique_ptr<Workspace> ws;
  char decimalPoint = '.';

  // Published for the worker, which posts its result there; null when none is open.
  std::atomic<HWND> progressWindow{nullptr};
  std::atomic<HWND> fileTreeWindow{nullptr};
  TaskId progressTask = TaskId::Compare;  // what the progress window shows

  // Set by the File Tree window once the user has said Yes to the question before a sync, for
  // the Sync command it posts to the main window; that command asks only when it is not set.
  bool syncConfirmed = false;
  // The progress window of a sync was cancelled: once its worker returns, the summary says
  // what was done before it stopped.
  bool syncCancelled = false;

  TaskGate gate;                  // one worker at a time
  HANDLE workerThread = nullptr;  // the running worker, until it reports back
};

App& app();
Workspace& workspace();

// Resets everything to the state before start-up (the tests start the program many times).
void resetApp();

inline const wchar_t* wide(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::u16string fromWide(const wchar_t* s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
std::u16string windowText(HWND window);

// Moves and sizes the parent's controls in one step and repaints the parent with all its
// children, so that nothing moved keeps old pixels or vanishes until something else paints.
struct ControlPlace {
  HWND control;
  int x, y, width, height;
};
void placeControls(HWND parent, const std::vector<ControlPlace>& places);

// Moves the window so that its centre is the owner's (the dialogs open over what opened them).
// The window stays inside the work area of its monitor.
void centreOver(HWND owner, HWND window);
// centreOver the window's owner, when it has one.
void centreOnOwner(HWND window);

// The main window's message boxes: caption "Error", error icon, owned by the main window.
void showError(const wchar_t* text);

}  // namespace fw

#endif  // FERRYWICK_APP_APP_STATE_H
