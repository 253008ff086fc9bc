// The folder pair dialog with a saved side, the Options dialog's presets and row texts, and the
// About box, through the real windows.
#include <shlobj.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "app/gui_tests/gui_fixture.h"
#include "sync/task.h"

namespace fw {
namespace {

class DialogsGuiTest : public GuiTest {};

// A dialog of the program owned by the window: the shell's folder browser has no fixed caption.
HWND waitForOwnedDialog(const ProgramRun& run, HWND owner) {
  HWND found = nullptr;
  return waitUntil([&] {
    found = findThreadWindow(run, [&](HWND w) {
      return GetWindow(w, GW_OWNER) == owner && classOf(w) == u"#32770";
    });
    return found != nullptr;
  }, 30000) ? found : nullptr;
}

// The first child window, at any depth, that passes the test.
HWND findChild(HWND parent, const std::function<bool(HWND)>& test) {
  std::pair<const std::function<bool(HWND)>*, HWND> search{&test, nullptr};
  EnumChildWindows(parent, [](HWND w, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<std::pair<const std::function<bool(HWND)>*, HWND>*>(p);
    if (!(*s->first)(w)) return TRUE;
    s->second = w;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// The text of the item selected in the folder browser's tree.
std::u16string browserSelection(HWND browser) {
  HWND tree = findChild(browser, [](HWND w) { return classOf(w) == u"SysTreeView32"; });
  if (!tree) return u"";
  auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!item) return u"";
  wchar_t text[MAX_PATH] = L"";
  TVITEMW it{};
  it.mask = TVIF_TEXT | TVIF_HANDLE;
  it.hItem = item;
  it.pszText = text;
  it.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
  return fromWide(text);
}

TEST_F(DialogsGuiTest, FolderPairDialogDisablesASavedSideAndFocusesTheOther) {
  // A source of kind "Saved state": its path shows greyed, the focus is on the target field.
  makeDir(dir.at("machine-b"));
  TaskState task;
  task.fs = &systemFs();
  task.inputs[0][0].roots = {dir.at("machine-b")};
  ASSERT_EQ(runTask(TaskId::Compare, task), Rc::Ok);
  task.saveFileName = dir.at("b.fws");
  ASSERT_EQ(runTask(TaskId::SaveSourceState, task), Rc::Ok);
  ProgramRun run(dir.at("b.fws"));
  chooseRow(run, 0, 0);
  click(run.control(IDC_EDIT));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  HWND targetEdit = GetDlgItem(pair, IDC_PAIR_TARGET_EDIT);
  EXPECT_TRUE(waitUntil([&] { return focusOf(run) == targetEdit; }))
      << "the focus is not on the target field";
  EXPECT_EQ(itemText(pair, IDC_PAIR_SOURCE_EDIT), dir.at("machine-b"));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pair, IDC_PAIR_SOURCE_EDIT)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pair, IDC_PAIR_SOURCE_BROWSE)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pair, IDC_PAIR_TARGET_BROWSE)));
  // Text beyond 259 characters is cut off.
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, std::wstring(300, L'x').c_str());
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{std::u16string(259, u'x')}));
  EXPECT_EQ(listItems(list(run, 0)), (Strings{dir.at("machine-b")}));

  // Add mode on folders: empty fields, focus on the source.
  chooseKind(run, 0, 0);
  click(run.control(IDC_ADD));
  pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  HWND sourceEdit = GetDlgItem(pair, IDC_PAIR_SOURCE_EDIT);
  EXPECT_TRUE(waitUntil([&] { return focusOf(run) == sourceEdit; }))
      << "the focus is not on the source field";
  EXPECT_EQ(itemText(pair, IDC_PAIR_SOURCE_EDIT), u"");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pair, IDC_PAIR_SOURCE_EDIT)));
  command(pair, IDCANCEL);
  ASSERT_TRUE(waitGone(pair));
}

// Folders that overlap are named below the fields as they are typed; OK still takes them.
TEST_F(DialogsGuiTest, FolderPairDialogWarnsOfFoldersThatOverlapAsTheyAreTyped) {
  makeDir(dir.at("a/sub"));
  makeDir(dir.at("b"));
  ProgramRun run(quoted(project("p.fwp", {dir.at("b")}, {dir.at("c")})));
  click(run.control(IDC_ADD));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(itemText(pair, IDC_PAIR_WARNING), u"");
  SetDlgItemTextW(pair, IDC_PAIR_SOURCE_EDIT, reinterpret_cast<const wchar_t*>(dir.at("a").c_str()));
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT,
                  reinterpret_cast<const wchar_t*>(dir.at("a/sub").c_str()));
  const std::u16string inside = u"Row 2: the target " + dir.at("a/sub") +
                                u" lies inside the source " + dir.at("a") + u".\n";
  EXPECT_TRUE(waitUntil([&] { return itemText(pair, IDC_PAIR_WARNING) == inside; }))
      << toUtf8(itemText(pair, IDC_PAIR_WARNING));
  // The same folder as row 1's source, spelled another way.
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT,
                  reinterpret_cast<const wchar_t*>((dir.at("a") + u"\\..\\b").c_str()));
  EXPECT_TRUE(waitUntil([&] {
    return itemText(pair, IDC_PAIR_WARNING).find(u"same folder") != std::u16string::npos;
  })) << toUtf8(itemText(pair, IDC_PAIR_WARNING));
  EXPECT_EQ(textLayoutFaults(pair), std::vector<std::string>{});
  // Apart again: the warning goes.
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, reinterpret_cast<const wchar_t*>(dir.at("d").c_str()));
  EXPECT_TRUE(waitUntil([&] { return itemText(pair, IDC_PAIR_WARNING).empty(); }));
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT,
                  reinterpret_cast<const wchar_t*>(dir.at("a/sub").c_str()));
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{dir.at("c"), dir.at("a/sub")}));
}

// The browser is asked for its folder by our own callback as it opens and fills its tree one
// folder at a time down to it, reading each folder on the way: the test's folders lie at the
// top of the drive, so that a deep temporary folder on a loaded machine does not make it slow.
TEST_F(DialogsGuiTest, FolderBrowserStartsAtTheTypedFolderAndPutsThePickedOneIntoItsField) {
  const std::u16string top = dir.path().substr(0, 3) + u"fw-browse-" +
                             toUtf16(std::to_string(GetCurrentProcessId())) + u"-" +
                             toUtf16(std::to_string(GetTickCount()));
  makeDir(top + u"\\picked");
  struct Remove {
    std::u16string path;
    ~Remove() { removeTree(path); }
  } remove{top};
  ProgramRun run;
  click(run.control(IDC_ADD));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, L"typed");

  // Named for its side, with a button for a new folder; Cancel leaves the field.
  click(GetDlgItem(pair, IDC_PAIR_TARGET_BROWSE));
  HWND browser = waitForOwnedDialog(run, pair);
  ASSERT_NE(browser, nullptr) << "no folder browser";
  EXPECT_NE(findChild(browser, [](HWND w) { return textOf(w) == u"Choose the target folder"; }),
            nullptr);
  EXPECT_NE(findChild(browser, [](HWND w) {
    return classOf(w) == u"Button" && textOf(w).find(u"New Folder") != std::u16string::npos;
  }), nullptr) << "no button for a new folder";
  command(browser, IDCANCEL);
  ASSERT_TRUE(waitGone(browser));
  EXPECT_EQ(itemText(pair, IDC_PAIR_TARGET_EDIT), u"typed");

  // It opens at the folder typed; the user picks the folder inside it, and OK puts that one's
  // path into the field.
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, wide(top));
  click(GetDlgItem(pair, IDC_PAIR_TARGET_BROWSE));
  browser = waitForOwnedDialog(run, pair);
  ASSERT_NE(browser, nullptr);
  const std::u16string topName = top.substr(3);
  ASSERT_TRUE(waitUntil([&] { return browserSelection(browser) == topName; }, 30000))
      << "the browser did not open at the typed folder: " << toUtf8(browserSelection(browser))
      << [&] {
           std::string out;
           findChild(browser, [&](HWND w) {
             out += " [" + toUtf8(classOf(w)) + " '" + toUtf8(textOf(w)) + "']";
             return false;
           });
           return out;
         }();
  HWND tree = findChild(browser, [](HWND w) { return classOf(w) == u"SysTreeView32"; });
  ASSERT_NE(tree, nullptr);
  ASSERT_TRUE(waitUntil([&] {
    if (browserSelection(browser) == u"picked") return IsWindowEnabled(GetDlgItem(browser, IDOK)) != 0;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    auto child = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
    if (!child) return false;
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
    return false;
  }, 15000)) << "the folder inside could not be picked";
  click(GetDlgItem(browser, IDOK));
  ASSERT_TRUE(waitGone(browser));
  EXPECT_EQ(itemText(pair, IDC_PAIR_TARGET_EDIT), top + u"\\picked");
  EXPECT_EQ(itemText(pair, IDC_PAIR_SOURCE_EDIT), u"");
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{top + u"\\picked"}));
}

// Edit selects the path shown, so that typing replaces it.
TEST_F(DialogsGuiTest, EditSelectsTheFieldsTextSoTypingReplacesIt) {
  ProgramRun run(quoted(project("p.fwp", {u"C:\\old"}, {u"D:\\old"})));
  chooseRow(run, 0, 0);
  click(run.control(IDC_EDIT));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  HWND source = GetDlgItem(pair, IDC_PAIR_SOURCE_EDIT);
  ASSERT_TRUE(waitUntil([&] { return focusOf(run) == source; }));
  DWORD from = 1, to = 0;
  SendMessageW(source, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 6u);
  PostMessageW(source, WM_CHAR, L'E', 0);
  ASSERT_TRUE(waitUntil([&] { return itemText(pair, IDC_PAIR_SOURCE_EDIT) == u"E"; }));
  command(pair, IDCANCEL);
  ASSERT_TRUE(waitGone(pair));
}

// The presets set every row's radios; the words beside each row follow them and a radio
// clicked by itself; the dialog shows every text whole, the longest words too.
TEST_F(DialogsGuiTest, OptionsPresetsSetTheRadiosAndEachRowSaysWhatASyncDoes) {
  ProgramRun run;
  command(run.main(), IDM_OPTIONS);
  HWND options = waitForDialog(run, u"Options");
  ASSERT_NE(options, nullptr);
  const auto effects = [&] {
    Strings out;
    for (int r = 0; r < 5; ++r) out.push_back(itemText(options, IDC_OPT_FIRST_EFFECT + r));
    return out;
  };
  // The column checked in each row: 0 Source, 1 Target, 2 No change.
  const auto columns = [&] {
    std::vector<int> out;
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 3; ++c)
        if (SendDlgItemMessageW(options, IDC_OPT_FIRST_RADIO + 4 * r + c, BM_GETCHECK, 0, 0) ==
            BST_CHECKED)
          out.push_back(c);
    return out;
  };
  EXPECT_EQ(columns(), (std::vector<int>{0, 1, 0, 1, 0}));
  EXPECT_EQ(effects(), (Strings{u"copy to target", u"copy to source", u"copy to target",
                                u"copy to source", u"copy to target"}));
  EXPECT_EQ(textLayoutFaults(options), std::vector<std::string>{});

  click(GetDlgItem(options, IDC_OPT_PRESET_MIRROR));
  ASSERT_TRUE(waitUntil([&] { return columns() == std::vector<int>{0, 0, 0, 0, 0}; }));
  EXPECT_EQ(effects(), (Strings{u"copy to target", u"delete on target", u"copy to target",
                                u"copy to target", u"copy to target"}));
  EXPECT_EQ(textLayoutFaults(options), std::vector<std::string>{});

  // "Only in source" set to "Target" by a click of its own reads as a deletion.
  PostMessageW(GetDlgItem(options, IDC_OPT_FIRST_RADIO + 1), BM_CLICK, 0, 0);
  EXPECT_TRUE(waitUntil([&] { return effects()[0] == u"delete on source"; }))
      << toUtf8(effects()[0]);
  EXPECT_EQ(textLayoutFaults(options), std::vector<std::string>{});

  click(GetDlgItem(options, IDC_OPT_PRESET_TWO_WAY));
  ASSERT_TRUE(waitUntil([&] { return columns() == std::vector<int>{0, 1, 0, 1, 0}; }));
  EXPECT_EQ(effects()[0], u"copy to target");
  EXPECT_EQ(effects()[1], u"copy to source");

  click(GetDlgItem(options, IDC_OPT_PRESET_UPDATE));
  ASSERT_TRUE(waitUntil([&] { return columns() == std::vector<int>{0, 2, 0, 2, 0}; }));
  EXPECT_EQ(effects(), (Strings{u"copy to target", u"nothing", u"copy to target", u"nothing",
                                u"copy to target"}));
  // The colours are not the presets' to change; OK keeps what the preset set.
  for (int r = 0; r < 5; ++r)
    EXPECT_EQ(SendDlgItemMessageW(options, IDC_OPT_FIRST_RADIO + 4 * r + 3, BM_GETCHECK, 0, 0),
              BST_CHECKED);
  click(GetDlgItem(options, IDOK));
  ASSERT_TRUE(waitGone(options));
  uint32_t src = 0, trg = 0, col = 0;
  run.onWindowThread([&] {
    src = workspace().settings().flagsSrc;
    trg = workspace().settings().flagsTrg;
    col = workspace().settings().flagsColorize;
  });
  EXPECT_EQ(src, 0xD8u);
  EXPECT_EQ(trg, 0u);
  EXPECT_EQ(col, 0xFCu);
}

TEST_F(DialogsGuiTest, AboutBoxShowsItsLinkAndCloses) {
  ProgramRun run;
  command(run.main(), IDM_ABOUT);
  HWND about = waitForDialog(run, u"Donate");
  ASSERT_NE(about, nullptr);
  HWND link = GetDlgItem(about, IDC_DONATE_LINK);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(GetWindowLongPtrW(link, GWLP_USERDATA) != 0);  // subclassed, the old procedure kept
  EXPECT_EQ(itemText(about, IDOK), u"OK");
  // Every paragraph shows whole, none runs into the next, and the box opens over its owner.
  EXPECT_EQ(textLayoutFaults(about), std::vector<std::string>{});
  RECT owner{}, box{};
  GetWindowRect(run.main(), &owner);
  GetWindowRect(about, &box);
  EXPECT_NEAR((box.left + box.right) / 2, (owner.left + owner.right) / 2, 1);
  EXPECT_NEAR((box.top + box.bottom) / 2, (owner.top + owner.bottom) / 2, 1);
  command(about, IDCANCEL);
  ASSERT_TRUE(waitGone(about));
  EXPECT_TRUE(IsWindowEnabled(run.main()));
}

}  // namespace
}  // namespace fw
