// Runs the real program's windows on a thread of their own inside the test process (one thread
// for all runs, one run at a time) and lets a
// test drive them the way a user would: through control ids, commands, and the dialogs it finds
// by their captions. Every test starts a fresh program run; the registry key is cleaned first
// unless the test keeps it.
#ifndef FERRYWICK_APP_GUI_TESTS_GUI_HARNESS_H
#define FERRYWICK_APP_GUI_TESTS_GUI_HARNESS_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace fw {

class ProgramRun {
 public:
  // Starts the program with the command line; `onStart` runs on the window thread right after
  // start-up (to swap the file system, say).
  explicit ProgramRun(const std::u16string& commandLine = u"",
                      std::function<void()> onStart = nullptr);
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  HWND main() const { return main_; }
  HWND control(int id) const { return GetDlgItem(main_, id); }
  DWORD threadId() const { return threadId_; }
  // Runs f on the window thread and waits for it (for reading program state safely).
  void onWindowThread(const std::function<void()>& f) const;
  // Closes the main window as Exit does and waits until the program has shut down.
  void exit();
  // Waits until the window thread has handled every message posted to it before this call
  // (and whatever those handlers did without waiting for the user): a message posted now
  // comes after them. False on timeout.
  bool settle(int timeoutMs = 5000) const;
  // Whether a worker runs or a task waits for one (read on the window thread).
  bool workerBusy() const;

 private:
  std::atomic<HWND> started_{nullptr};
  std::atomic<bool> failed_{false};
  std::atomic<DWORD> threadIdShared_{0};
  std::atomic<HWND> runner_{nullptr};
  mutable std::atomic<unsigned> settled_{0};
  mutable unsigned settleTicket_ = 0;
  bool running_ = false;  // started on the program thread and not yet waited for
  HWND main_ = nullptr;
  DWORD threadId_ = 0;
};

// A visible top-level window of the program with this caption, waited for; null on timeout.
// (A shell dialog can take several seconds to appear on a loaded machine.)
HWND waitForWindow(const ProgramRun& run, const std::u16string& caption, int timeoutMs = 15000);
// A dialog (window class #32770) with this caption, waited for: tells the small progress
// window from the main window, which has the same caption.
HWND waitForDialog(const ProgramRun& run, const std::u16string& caption, int timeoutMs = 15000);
// Whether such a window exists now.
HWND findWindow(const ProgramRun& run, const std::u16string& caption);
// The first visible top-level window of the program's thread, or of any program, that passes
// the test; null when there is none.
HWND findThreadWindow(const ProgramRun& run, const std::function<bool(HWND)>& test);
HWND findAnyWindow(const std::function<bool(HWND)>& test);
std::u16string classOf(HWND window);
// Polls the condition until it holds; false on timeout. Callers check the result.
[[nodiscard]] bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Waits until the window is gone.
[[nodiscard]] bool waitGone(HWND window, int timeoutMs = 5000);

std::u16string textOf(HWND window);
std::u16string itemText(HWND dialog, int id);
std::vector<std::u16string> listItems(HWND list);
int listSelection(HWND list);
int listTop(HWND list);
std::u16string comboSelectionText(HWND box);
std::u16string comboItem(HWND box, int index);
// The text of a message box.
std::u16string messageText(HWND box);

// A user's click on an enabled button (posted, so that a modal dialog it opens does not block
// the test).
void click(HWND button);
// A user's click at a point of the window's client area, through the system's input queue, so
// that the button messages and the position a handler reads with GetMessagePos agree. Two
// clicks make a double-click. Fails the test when the pointer does not get there.
enum class MouseButton { Left, Right };
void mouseClick(HWND window, POINT client, MouseButton button = MouseButton::Left, int clicks = 1);
// A user's drag with the left button from one screen point to another, in steps, through the
// system's input queue (to resize a window by its frame, say).
void mouseDrag(POINT fromScreen, POINT toScreen);
// The screen's pixels inside the window's rectangle, row by row.
std::vector<uint32_t> pixelsOnScreen(HWND window);
// Whether the screen shows the window as a full repaint of it (and its children) draws it:
// false when part of it still shows old pixels or was never painted.
bool screenShowsRepaint(const ProgramRun& run, HWND window);
// What a reader of the dialog would find wrong with its texts: a static whose text (in its own
// font, wrapped as the control wraps it) does not fit its box, or a static painted after
// another over that one's text. One line for each, empty when every text shows whole.
std::vector<std::string> textLayoutFaults(HWND dialog);
// Keys as a user types them (posted to the window that has the focus on the program's thread).
void pressKey(HWND window, WORD virtualKey);
// A command as a menu sends it.
void command(HWND window, int id);
// Selects an entry of a kind box as the user does (the selection plus its notification).
void chooseKind(const ProgramRun& run, int side, int kind);
// Selects a row in a list as the user does.
void chooseRow(const ProgramRun& run, int side, int row);
// Fills in the file name of an Open or Save dialog and confirms it.
void answerFileDialog(HWND dialog, const std::u16string& path);

// Removes the key "SOFTWARE\Ferrywick" from both hives.
void deleteSettingsKey();

}  // namespace fw

#endif  // FERRYWICK_APP_GUI_TESTS_GUI_HARNESS_H
