#include "app/safety_net.h"

#include <string>

#include "app/app_state.h"
#include "app/logic/sync_plan.h"
#include "app/logic/task_flow.h"
#include "app/resources/resource_ids.h"
#include "app/tasks.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"
#include "sync/discard.h"
#include "sync/sync_walk.h"

namespace fw {
namespace {

// The popup that holds the item with this command, and the item's position in it.
HMENU popupHolding(HMENU bar, UINT command, int* position) {
  const int popups = GetMenuItemCount(bar);
  for (int i = 0; i < popups; ++i) {
    HMENU popup = GetSubMenu(bar, i);
    if (!popup) continue;
    const int items = GetMenuItemCount(popup);
    for (int j = 0; j < items; ++j) {
      if (GetMenuItemID(popup, j) == command) {
        *position = j;
        return popup;
      }
    }
  }
  return nullptr;
}

}  // namespace

void showSafetyChecks(HWND window) {
  HMENU bar = GetMenu(window);
  if (!bar) return;
  const bool on = workspace().settings().recycleBin != 0;
  CheckMenuItem(bar, kRecycleBinCommand, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
  const bool ask = workspace().shell.askBeforeSync != 0;
  CheckMenuItem(bar, kAskBeforeSyncCommand, MF_BYCOMMAND | (ask ? MF_CHECKED : MF_UNCHECKED));
}

namespace {

// What the question before a sync shows, and the answer to "Do not ask again".
struct SyncQuestion {
  std::u16string text;            // LF between lines
  const wchar_t* question = L"";  // the line above the buttons
  bool offerNoAsk = false;        // only a question without warnings may be turned off
  bool noAsk = false;
};

std::u16string withCrLf(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\n') out += u'\r';
    out += c;
  }
  return out;
}

INT_PTR CALLBACK syncQuestionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* q = reinterpret_cast<SyncQuestion*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      q = reinterpret_cast<SyncQuestion*>(lParam);
      centreOnOwner(dialog);
      SetDlgItemTextW(dialog, IDC_CONFIRM_TEXT, wide(withCrLf(q->text)));
      SetDlgItemTextW(dialog, IDC_CONFIRM_QUESTION, q->question);
      if (!q->offerNoAsk) ShowWindow(GetDlgItem(dialog, IDC_CONFIRM_NO_ASK), SW_HIDE);
      SetFocus(GetDlgItem(dialog, IDNO));  // Enter and Space answer No
      return FALSE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id != IDYES && id != IDNO && id != IDCANCEL) return FALSE;
      q->noAsk = IsDlgButtonChecked(dialog, IDC_CONFIRM_NO_ASK) == BST_CHECKED;
      EndDialog(dialog, id == IDYES ? IDYES : IDNO);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

bool confirmSync(HWND owner) {
  Workspace& ws = workspace();
  TaskState& task = ws.task;
  const SideInput& target = task.inputs[1][static_cast<int>(SideKind::FileSystem)];
  if (!task.settings.backupDir.empty() && task.fs) {
    std::u16string longForm;
    std::string why;
    if (prepareBackupFolder(*task.fs, task.settings.backupDir, task.currentInput(0), target,
                            &longForm, &why) != Rc::Ok) {
      std::u16string text = toUtf16("The sync cannot keep old versions: " + why + ".");
      MessageBoxW(owner, wide(text), L"Error", MB_OK | MB_ICONERROR);
      return false;
    }
  }
  // The counts the sync will act on: the tree marked with its masks, as it marks it (unless a
  // cancelled worker still reads it; the File Tree window has marked it with them).
  const SyncSettings& s = task.settings;
  const MarkMasks masks = makeMarkMasks(s.flagsSrc, s.flagsTrg, s.flagsColorize);
  if (task.firstRoot && !workerRunning()) markTree(task.firstRoot, masks, nullptr);

  // Room on every volume the sync writes to, checked as the sync will check it, but while the
  // user still has the tree and every untick to change.
  if (task.firstRoot && task.fs) {
    FailureLog failures;
    const bool frees = s.backupDir.empty() && !s.recycleBin;
    if (checkSyncRoom(*task.fs, task.firstRoot, task.currentInput(0), target, frees, &failures) ==
        Rc::CannotWrite) {
      MessageBoxW(owner, wide(u"The sync cannot start:\r\n" + failureListText(failures)),
                  L"Error", MB_OK | MB_ICONERROR);
      return false;
    }
  }

  // What to beware of: missing folders, entries left alone, much to delete. These are always
  // asked; the plain question only while the user has not turned it off.
  std::u16string warnings = syncWarnings(task);
  const MassDeleteLimits limits{s.massDeletePercent, s.massDeleteFiles, s.massDeleteShareFiles};
  const DeletionCount count = countDeletions(task.firstRoot, task.currentInput(0), target, limits);
  if (count.needsConfirmation()) warnings += massDeletionText(count, limits) + u"\n";
  if (warnings.empty() && !ws.shell.askBeforeSync) return true;

  SyncQuestion q;
  const SyncPlan plan = planSync(task.firstRoot, task.currentInput(0), target, masks);
  q.text = u"The sync will do this:\n" + syncPlanText(plan, app().decimalPoint);
  if (!warnings.empty()) q.text = warnings + u"\n" + q.text;
  q.question = warnings.empty() ? L"Start the sync?" : L"Sync anyway?";
  q.offerNoAsk = warnings.empty();
  const INT_PTR answer = DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_SYNC_CONFIRM), owner,
                                         syncQuestionProc, reinterpret_cast<LPARAM>(&q));
  if (q.offerNoAsk && q.noAsk) {
    ws.shell.askBeforeSync = 0;
    showSafetyChecks(app().mainWindow);
  }
  return answer == IDYES;
}

bool confirmRootsApart(HWND owner) {
  Workspace& ws = workspace();
  if (!ws.task.fs) return true;
  // The sides as the comparison will read them (published when its worker starts).
  const std::u16string text = overlappingRootsText(*ws.task.fs, ws.sides[kSourceSide].selected(),
                                                   ws.sides[kTargetSide].selected());
  if (text.empty()) return true;
  MessageBoxW(owner, wide(text), L"Error", MB_OK | MB_ICONERROR);
  return false;
}

void addSafetyMenuItems(HWND window) {
  HMENU bar = GetMenu(window);
  int position = 0;
  HMENU file = bar ? popupHolding(bar, IDM_SAFETY, &position) : nullptr;
  if (!file && bar) file = popupHolding(bar, IDM_OPTIONS, &position);
  if (!file) return;
  InsertMenuW(file, static_cast<UINT>(position + 1), MF_BYPOSITION | MF_STRING,
              static_cast<UINT_PTR>(kRecycleBinCommand), kRecycleBinItemText);
  InsertMenuW(file, static_cast<UINT>(position + 2), MF_BYPOSITION | MF_STRING,
              static_cast<UINT_PTR>(kAskBeforeSyncCommand), kAskBeforeSyncItemText);
  showSafetyChecks(window);
}

bool onSafetyCommand(HWND window, int id) {
  if (id == IDM_SAFETY) {
    runSafetyDialog(window);
    return true;
  }
  uint32_t* on = nullptr;
  if (id == kRecycleBinCommand) on = &workspace().settings().recycleBin;
  if (id == kAskBeforeSyncCommand) on = &workspace().shell.askBeforeSync;
  if (!on) return false;
  *on = *on ? 0 : 1;
  showSafetyChecks(window);
  return true;
}

}  // namespace fw
