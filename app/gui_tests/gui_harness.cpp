#include "app/gui_tests/gui_harness.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/program.h"
#include "app/resources/resource_ids.h"
#include "app/settings_registry.h"

namespace fw {
namespace {

constexpr UINT kRunOnThread = WM_APP + 50;
// Posted with a ticket in wParam and the counter to store it in as lParam (ProgramRun::settle).
constexpr UINT kSettled = WM_APP + 51;

using WindowTest = std::function<bool(HWND)>;

BOOL CALLBACK firstMatching(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<std::pair<const WindowTest*, HWND>*>(param);
  if (!IsWindowVisible(window) || !(*search->first)(window)) return TRUE;
  search->second = window;
  return FALSE;
}

// Runs the function kRunOnThread carries. A message-only window of the program's thread keeps
// the test's machinery out of the program's windows; a hook would slow every message down.
LRESULT CALLBACK runnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunOnThread) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 0;
  }
  if (message == kSettled) {
    reinterpret_cast<std::atomic<unsigned>*>(lParam)->store(static_cast<unsigned>(wParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND createRunner() {
  static const wchar_t kClass[] = L"FerrywickTestRunner";
  WNDCLASSW cls{};
  cls.lpfnWndProc = runnerProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = kClass;
  RegisterClassW(&cls);  // fails harmlessly when a run before this one registered it
  return CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance,
                         nullptr);
}

// The thread every program run of the process uses, one run after another. One thread, not
// one per run, because COM keeps something of every apartment that ever handed out an object:
// under Wine each apartment leaves an endpoint behind that the RPC server thread waits on, and
// once more than its wait can hold have gathered (after about sixty runs that opened a file
// dialog) the next Open dialog waits forever for that thread. This thread's apartment is opened
// once and outlives the runs, whose own CoInitialize then only nests in it.
class ProgramThread {
 public:
  static ProgramThread& get() {
    static ProgramThread* thread = new ProgramThread;  // lives until the process ends
    return *thread;
  }

  // Starts job on the thread, after the run before it has ended.
  void start(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !job_ && !busy_; });
    job_ = std::move(job);
    wake_.notify_all();
  }
  // Waits until the job started last has returned.
  void waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !job_ && !busy_; });
  }

 private:
  ProgramThread() {
    // The program's windows go on the test's desktop (under Wine a new thread would start on
    // the default one).
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    std::thread([this, desktop] {
      SetThreadDesktop(desktop);
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      for (;;) {
        std::function<void()> job;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          wake_.wait(lock, [this] { return static_cast<bool>(job_); });
          job = std::move(job_);
          job_ = nullptr;
          busy_ = true;
        }
        job();
        // What a run left in the queue (posted to windows that are gone) is not the next's.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          busy_ = false;
        }
        idle_.notify_all();
      }
    }).detach();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::function<void()> job_;
  bool busy_ = false;
};

}  // namespace

ProgramRun::ProgramRun(const std::u16string& commandLine, std::function<void()> onStart) {
  std::atomic<HWND>& started = started_;
  std::atomic<bool>& failed = failed_;
  std::atomic<DWORD>& threadId = threadIdShared_;
  std::atomic<HWND>& runner = runner_;
  running_ = true;
  ProgramThread::get().start([&started, &failed, &threadId, &runner, commandLine, onStart] {
    threadId = GetCurrentThreadId();
    runner = createRunner();
    if (!startProgram(GetModuleHandleW(nullptr), reinterpret_cast<const wchar_t*>(commandLine.c_str()),
                      SW_SHOWNORMAL)) {
      failed = true;
      DestroyWindow(runner);
      return;
    }
    if (onStart) onStart();
    started = app().mainWindow;
    runMessageLoop();
    shutdownProgram();
    DestroyWindow(runner);
  });
  // A checked wait: under a heavy load the start alone can take several seconds.
  const bool ended = waitUntil([&] { return started.load() || failed.load(); }, 30000);
  threadId_ = threadId.load();
  main_ = started.load();
  if (!main_) ADD_FAILURE() << (ended ? "the program did not start" : "the program's start timed out");
}

ProgramRun::~ProgramRun() { exit(); }

void ProgramRun::onWindowThread(const std::function<void()>& f) const {
  SendMessageW(runner_.load(), kRunOnThread, 0, reinterpret_cast<LPARAM>(&f));
}

bool ProgramRun::settle(int timeoutMs) const {
  const unsigned ticket = ++settleTicket_;
  if (!PostMessageW(runner_.load(), kSettled, ticket, reinterpret_cast<LPARAM>(&settled_)))
    return false;
  return waitUntil([&] { return settled_.load() == ticket; }, timeoutMs);
}

bool ProgramRun::workerBusy() const {
  bool busy = false;
  onWindowThread([&] { busy = app().gate.running() || app().gate.pending().has_value(); });
  return busy;
}

void ProgramRun::exit() {
  if (!running_) return;
  if (main_ && IsWindow(main_)) PostMessageW(main_, WM_CLOSE, 0, 0);
  // A test that stopped early can leave a modal dialog open, which keeps the main window from
  // closing: cancel the program's dialogs until it has shut down, so that a failure stays one
  // failure and does not hang the rest of the run.
  // A project with changes asks whether to save them: No, so that a test leaves no file behind.
  const DWORD thread = threadId_;
  const auto saveQuestion = [&] {
    return findThreadWindow(*this, [](HWND w) {
      return classOf(w) == u"#32770" && messageText(w).rfind(u"Save changes to ", 0) == 0;
    });
  };
  while (thread && IsWindow(main_)) {
    if (waitUntil([&] { return !IsWindow(main_) || saveQuestion(); }, 2000)) {
      if (HWND question = saveQuestion()) {
        PostMessageW(question, WM_COMMAND, IDNO, 0);
        (void)waitGone(question);
      }
      continue;
    }
    EnumThreadWindows(thread, [](HWND w, LPARAM) -> BOOL {
      wchar_t cls[16] = L"";
      GetClassNameW(w, cls, 16);
      if (std::wstring(cls) == L"#32770") PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    }, 0);
    if (main_ && IsWindow(main_)) PostMessageW(main_, WM_CLOSE, 0, 0);
  }
  ProgramThread::get().waitIdle();
  running_ = false;
  main_ = nullptr;
}

std::u16string classOf(HWND window) {
  wchar_t cls[64] = L"";
  GetClassNameW(window, cls, 64);
  return fromWide(cls);
}

HWND findThreadWindow(const ProgramRun& run, const std::function<bool(HWND)>& test) {
  std::pair<const WindowTest*, HWND> search{&test, nullptr};
  EnumThreadWindows(run.threadId(), firstMatching, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

HWND findAnyWindow(const std::function<bool(HWND)>& test) {
  std::pair<const WindowTest*, HWND> search{&test, nullptr};
  EnumWindows(firstMatching, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

HWND findWindow(const ProgramRun& run, const std::u16string& caption) {
  return findThreadWindow(run, [&](HWND w) { return textOf(w) == caption; });
}

HWND waitForWindow(const ProgramRun& run, const std::u16string& caption, int timeoutMs) {
  HWND found = nullptr;
  return waitUntil([&] { return (found = findWindow(run, caption)) != nullptr; }, timeoutMs)
             ? found
             : nullptr;
}

HWND waitForDialog(const ProgramRun& run, const std::u16string& caption, int timeoutMs) {
  HWND found = nullptr;
  return waitUntil([&] {
    found = findThreadWindow(
        run, [&](HWND w) { return textOf(w) == caption && classOf(w) == u"#32770"; });
    return found != nullptr;
  }, timeoutMs) ? found : nullptr;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(15);
  }
  return true;
}

bool waitGone(HWND window, int timeoutMs) {
  return waitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

std::u16string textOf(HWND window) { return windowText(window); }
std::u16string itemText(HWND dialog, int id) { return windowText(GetDlgItem(dialog, id)); }

std::vector<std::u16string> listItems(HWND list) {
  std::vector<std::u16string> items;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::vector<wchar_t> buffer(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1);
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer.data()));
    items.push_back(fromWide(buffer.data()));
  }
  return items;
}

int listSelection(HWND list) { return static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0)); }
int listTop(HWND list) { return static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0)); }

std::u16string comboItem(HWND box, int index) {
  std::vector<wchar_t> buffer(static_cast<size_t>(SendMessageW(box, CB_GETLBTEXTLEN, index, 0)) + 1);
  SendMessageW(box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
  return fromWide(buffer.data());
}

std::u16string comboSelectionText(HWND box) {
  const int selection = static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0));
  return selection < 0 ? u"" : comboItem(box, selection);
}

std::u16string messageText(HWND box) { return itemText(box, 0xFFFF); }

void click(HWND button) {
  EXPECT_TRUE(IsWindowEnabled(button)) << "clicking a disabled button";
  HWND parent = GetParent(button);
  PostMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

void mouseClick(HWND window, POINT client, MouseButton button, int clicks) {
  POINT screen = client;
  ClientToScreen(window, &screen);
  // Every event carries the position itself: under load, pointer motion from an earlier move
  // can still arrive, and a button message must not read the cursor from it.
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  INPUT at{};
  at.type = INPUT_MOUSE;
  at.mi.dx = static_cast<LONG>((screen.x * 65536LL + 32768) / width);
  at.mi.dy = static_cast<LONG>((screen.y * 65536LL + 32768) / height);
  at.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  // The pointer goes there first. A motion from an earlier move that the window's thread has
  // yet to take from the X server would move it back (and, coming between a button's press and
  // its release, turn the click into a drag): the window's thread is made to take what is
  // pending (a message sent to it), and the move is repeated until the pointer stays put.
  const auto pointerThere = [&] {
    POINT now{};
    return GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
  };
  const bool there = waitUntil([&] {
    SendInput(1, &at, sizeof at);
    if (!waitUntil(pointerThere, 1000)) return false;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
    return pointerThere();
  });
  if (!there) {
    ADD_FAILURE() << "the pointer did not reach " << screen.x << "," << screen.y;
    return;
  }
  const DWORD down = button == MouseButton::Left ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN;
  const DWORD up = button == MouseButton::Left ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTUP;
  std::vector<INPUT> inputs;
  for (int i = 0; i < clicks; ++i)
    for (DWORD flags : {down, up}) {
      INPUT in = at;
      in.mi.dwFlags |= flags;
      inputs.push_back(in);
    }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

namespace {
INPUT pointerAt(POINT screen, DWORD flags) {
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = static_cast<LONG>((screen.x * 65536LL + 32768) / width);
  in.mi.dy = static_cast<LONG>((screen.y * 65536LL + 32768) / height);
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
  return in;
}
}  // namespace

void mouseDrag(POINT from, POINT to) {
  INPUT start = pointerAt(from, 0);
  const bool there = waitUntil([&] {
    SendInput(1, &start, sizeof start);
    POINT now{};
    return GetCursorPos(&now) && now.x == from.x && now.y == from.y;
  });
  if (!there) {
    ADD_FAILURE() << "the pointer did not reach " << from.x << "," << from.y;
    return;
  }
  INPUT down = pointerAt(from, MOUSEEVENTF_LEFTDOWN);
  SendInput(1, &down, sizeof down);
  constexpr int kSteps = 10;
  for (int i = 1; i <= kSteps; ++i) {
    const POINT p{from.x + (to.x - from.x) * i / kSteps, from.y + (to.y - from.y) * i / kSteps};
    INPUT move = pointerAt(p, 0);
    SendInput(1, &move, sizeof move);
    Sleep(20);  // pacing of a hand's motion: the frame follows each step
  }
  INPUT up = pointerAt(to, MOUSEEVENTF_LEFTUP);
  SendInput(1, &up, sizeof up);
}

std::vector<uint32_t> pixelsOnScreen(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return {};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> pixels;
  if (bits) {
    const auto* p = static_cast<const uint32_t*>(bits);
    pixels.assign(p, p + static_cast<size_t>(w) * h);
    for (uint32_t& v : pixels) v &= 0xFFFFFF;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

bool screenShowsRepaint(const ProgramRun& run, HWND window) {
  // What the program has painted by itself: once neither the window nor its parent waits for a
  // paint, and the screen has stopped changing.
  const auto painted = [&] {
    bool pending = true;
    run.onWindowThread([&] {
      HWND parent = GetParent(window);
      pending = GetUpdateRect(window, nullptr, FALSE) ||
                (parent && GetUpdateRect(parent, nullptr, FALSE));
    });
    return !pending;
  };
  std::vector<uint32_t> shown;
  const bool settled = waitUntil([&] {
    if (!painted()) return false;
    std::vector<uint32_t> now = pixelsOnScreen(window);
    Sleep(100);
    const bool still = !now.empty() && now == pixelsOnScreen(window);
    shown = std::move(now);
    return still;
  });
  if (!settled) return false;
  run.onWindowThread([&] {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  });
  // The repaint reaches the screen a little later under load: wait for it to match.
  return waitUntil([&] { return pixelsOnScreen(window) == shown; }, 2000);
}

namespace {
struct StaticText {
  HWND window;
  RECT box;   // the control, in the dialog's client coordinates
  RECT text;  // where its text is drawn
  std::string name;
};

std::vector<StaticText> staticTexts(HWND dialog) {
  std::vector<StaticText> out;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!IsWindowVisible(c) || classOf(c) != u"Static") continue;
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    const LONG kind = style & SS_TYPEMASK;
    if (kind != SS_LEFT && kind != SS_RIGHT && kind != SS_CENTER) continue;
    const std::u16string text = textOf(c);
    RECT box{};
    GetWindowRect(c, &box);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    HDC dc = GetDC(c);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
    RECT need{0, 0, box.right - box.left, 0};
    UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    DrawTextW(dc, reinterpret_cast<const wchar_t*>(text.c_str()), -1, &need, flags);
    SelectObject(dc, old);
    ReleaseDC(c, dc);
    const int w = need.right - need.left, h = need.bottom - need.top;
    RECT at{box.left, box.top, box.left + w, box.top + h};
    if (kind == SS_RIGHT) at = {box.right - w, box.top, box.right, box.top + h};
    if (kind == SS_CENTER) {
      const int left = box.left + (box.right - box.left - w) / 2;
      at = {left, box.top, left + w, box.top + h};
    }
    std::string name;
    for (char16_t u : text) name += u == u'\n' ? '|' : static_cast<char>(u < 128 ? u : '?');
    out.push_back({c, box, at, name});
  }
  return out;
}
}  // namespace

std::vector<std::string> textLayoutFaults(HWND dialog) {
  std::vector<std::string> faults;
  const std::vector<StaticText> texts = staticTexts(dialog);
  for (size_t i = 0; i < texts.size(); ++i) {
    const StaticText& a = texts[i];
    if (a.name.empty()) continue;  // paints its box, but has no text of its own to lose
    if (a.text.bottom > a.box.bottom || a.text.right - a.text.left > a.box.right - a.box.left)
      faults.push_back("\"" + a.name + "\" needs " +
                       std::to_string(a.text.right - a.text.left) + "x" +
                       std::to_string(a.text.bottom - a.text.top) + " pixels in a box of " +
                       std::to_string(a.box.right - a.box.left) + "x" +
                       std::to_string(a.box.bottom - a.box.top));
    // A control later in the dialog is painted after this one: its box must leave the text be.
    for (size_t j = i + 1; j < texts.size(); ++j) {
      RECT overlap{};
      if (IntersectRect(&overlap, &a.text, &texts[j].box))
        faults.push_back("\"" + texts[j].name + "\" is painted over the text of \"" + a.name +
                         "\"");
    }
  }
  return faults;
}

void pressKey(HWND window, WORD virtualKey) {
  PostMessageW(window, WM_KEYDOWN, virtualKey, 1);
  PostMessageW(window, WM_KEYUP, virtualKey, 0xC0000001);
}

void command(HWND window, int id) { PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void chooseKind(const ProgramRun& run, int side, int kind) {
  HWND box = run.control(IDC_KIND_SOURCE + side);
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(kind), 0);
  PostMessageW(run.main(), WM_COMMAND, MAKEWPARAM(IDC_KIND_SOURCE + side, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(box));
}

void chooseRow(const ProgramRun& run, int side, int row) {
  HWND list = run.control(IDC_LIST_SOURCE + side);
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
  SendMessageW(run.main(), WM_COMMAND, MAKEWPARAM(IDC_LIST_SOURCE + side, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

void answerFileDialog(HWND dialog, const std::u16string& path) {
  // The file name box: a combo box (cmb13) in the newer dialog, an edit (edt1) in the older.
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) name = GetDlgItem(dialog, 0x480);
  ASSERT_NE(name, nullptr) << "no file name box in the file dialog";
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide(path)));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

void deleteSettingsKey() {
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    RegDeleteTreeW(hive, settingsKey());
    RegDeleteKeyW(hive, settingsKey());
  }
}

}  // namespace fw
