// The main window as the user sees it: start-up with a file, the kind boxes, rows, swapping,
// scrolling in step, loading and saving projects through the file dialogs.
#include "app/gui_tests/gui_fixture.h"
#include "app/resources/product.h"
#include "sync/task.h"

namespace fw {
namespace {

class MainWindowGuiTest : public GuiTest {
 protected:
  // A state file of folder `name` (made empty if missing), as machine B would save it.
  std::u16string stateFile(const std::string& file, const std::string& name) {
    makeDir(dir.at(name));
    TaskState task;
    task.fs = &systemFs();
    task.inputs[1][0].roots = {dir.at(name)};
    task.inputs[0][0].roots = {u""};
    EXPECT_EQ(runTask(TaskId::Compare, task), Rc::Ok);
    task.saveFileName = dir.at(file);
    EXPECT_EQ(runTask(TaskId::SaveTargetState, task), Rc::Ok);
    return task.saveFileName;
  }
};

TEST_F(MainWindowGuiTest, QuotedProjectOnCommandLineFillsBothColumns) {
  const std::u16string path =
      project("My pairs.fwp", {u"C:\\src\\a", u"C:\\src\\b"}, {u"D:\\trg\\a", u""});
  ProgramRun run(quoted(path) + u" ignored");

  wchar_t cls[64];
  GetClassNameW(run.main(), cls, 64);
  EXPECT_EQ(fromWide(cls), u"Ferrywick_MainWnd");
  EXPECT_EQ(textOf(run.main()), u"My pairs.fwp - Ferrywick");
  EXPECT_EQ(listItems(list(run, 0)), (Strings{u"C:\\src\\a", u"C:\\src\\b"}));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{u"D:\\trg\\a", u""}));
  for (int side = 0; side < 2; ++side) {
    EXPECT_EQ(comboSelectionText(kindBox(run, side)), u"My pairs.fwp");
    EXPECT_EQ(comboItem(kindBox(run, side), 1), u"Saved state");
    EXPECT_EQ(comboItem(kindBox(run, side), 2), u"Saved difference");
  }
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_COMPARE)));
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_ADD)));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_EDIT)));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_DELETE)));

  HMENU help = GetSubMenu(GetMenu(run.main()), 1);
  wchar_t item[64] = L"";
  GetMenuStringW(help, 0, item, 64, MF_BYPOSITION);
  EXPECT_EQ(fromWide(item), u"" FW_WEB_ADDRESS);
  EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(IDM_WEB));

  MINMAXINFO info{};
  SendMessageW(run.main(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 500);
  EXPECT_EQ(info.ptMinTrackSize.y, 220);
}

TEST_F(MainWindowGuiTest, StateFileOnCommandLineLoadsAsSavedState) {
  const std::u16string state = stateFile("b.fws", "machine-b");
  ProgramRun run(state);
  HWND box = kindBox(run, 0);
  EXPECT_EQ(SendMessageW(box, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(comboSelectionText(box), u"b.fws");
  EXPECT_EQ(comboItem(box, 0), u"File system");  // the project attempt failed silently
  EXPECT_EQ(comboSelectionText(kindBox(run, 1)), u"File system");
  EXPECT_EQ(listItems(list(run, 0)), (Strings{dir.at("machine-b")}));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{u""}));
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_COMPARE)));
}

TEST_F(MainWindowGuiTest, SwitchingToSavedKindAsksForFileAndCancelLeavesEmptyRows) {
  ProgramRun run(project("p.fwp", {u"C:\\a", u"C:\\b"}, {u"D:\\a", u"D:\\b"}));
  chooseKind(run, 0, 1);
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(waitGone(open));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)) == Strings{u"", u""}; }));
  EXPECT_EQ(comboSelectionText(kindBox(run, 0)), u"Saved state");
  EXPECT_EQ(listItems(list(run, 1)), (Strings{u"D:\\a", u"D:\\b"}));
  EXPECT_FALSE(findWindow(run, u"Error"));  // a cancelled dialog is not a wrong format
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_ADD)));

  chooseKind(run, 1, 2);
  open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(waitGone(open));
  ASSERT_TRUE(waitUntil([&] { return !IsWindowEnabled(run.control(IDC_ADD)); }));
  EXPECT_TRUE(listItems(list(run, 0)).empty());  // empty on both sides: the rows vanish

  // Back to the folders: the project's rows are still there.
  chooseKind(run, 0, 0);
  chooseKind(run, 1, 0);
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).size() == 2; }));
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_ADD)));
}

// A saved side whose Open was cancelled has no file, which is not an empty side: Compare stays
// off until it has one, and a Compare that comes anyway is refused, naming the side.
TEST_F(MainWindowGuiTest, CompareWaitsForTheFileOfASavedSide) {
  writeFile(dir.at("src/a.txt"), "a");
  const std::u16string state = stateFile("b.fws", "machine-b");
  ProgramRun run(quoted(project("p.fwp", {dir.at("src")}, {dir.at("trg")})));
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_COMPARE)));
  chooseKind(run, 1, 1);
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(waitGone(open));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 1)) == Strings{u""}; }));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_COMPARE)));

  command(run.main(), IDC_COMPARE);
  HWND error = waitForWindow(run, u"Error", 10000);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(messageText(error),
            u"Operation failed!\n\nThe target is set to \"Saved state\" but has no file: choose "
            u"one with the \"...\" button beside it. Without its file the side is not compared "
            u"as empty. Nothing was read or changed.");
  command(error, IDOK);
  ASSERT_TRUE(waitGone(error));
  EXPECT_FALSE(findWindow(run, u"File Tree"));
  EXPECT_TRUE(IsWindowEnabled(run.main()));

  // The "..." beside it gives the side its file: Compare is on again.
  click(run.control(IDC_BROWSE_TARGET));
  open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  answerFileDialog(open, state);
  ASSERT_TRUE(waitGone(open));
  ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(run.control(IDC_COMPARE)) != 0; }));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{dir.at("machine-b")}));
}

// Arrow keys move over the kinds without opening anything; Enter confirms; leaving the box
// puts back the kind in force when the one shown would need a file.
TEST_F(MainWindowGuiTest, KindsChosenWithTheKeysWaitForEnter) {
  ProgramRun run(project("p.fwp", {u"C:\\a"}, {u"D:\\a"}));
  HWND box = kindBox(run, 0);
  run.onWindowThread([&] { SetFocus(box); });
  pressKey(box, VK_DOWN);
  ASSERT_TRUE(waitUntil([&] { return comboSelectionText(box) == u"Saved state"; }));
  pressKey(box, VK_DOWN);
  ASSERT_TRUE(waitUntil([&] { return comboSelectionText(box) == u"Saved difference"; }));
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(findWindow(run, u"Open"));
  SideKind kind = SideKind::FileSystem;
  run.onWindowThread([&] { kind = workspace().sides[0].kind; });
  EXPECT_EQ(kind, SideKind::FileSystem);
  EXPECT_EQ(listItems(list(run, 0)), (Strings{u"C:\\a"}));

  // Leaving the box: the difference would need a file, so the folders stay.
  run.onWindowThread([&] { SetFocus(list(run, 0)); });
  ASSERT_TRUE(waitUntil([&] { return SendMessageW(box, CB_GETCURSEL, 0, 0) == 0; }));
  EXPECT_FALSE(findWindow(run, u"Open"));

  // Enter on a kind picked with the keys asks for its file.
  run.onWindowThread([&] { SetFocus(box); });
  pressKey(box, VK_DOWN);
  ASSERT_TRUE(waitUntil([&] { return comboSelectionText(box) == u"Saved state"; }));
  pressKey(box, VK_RETURN);
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(waitGone(open));
  run.onWindowThread([&] { kind = workspace().sides[0].kind; });
  EXPECT_EQ(kind, SideKind::SavedState);
}

// A saved side with a long name widens its kind box: the box and the "..." beside it are drawn
// anew where they now are, with nothing of the old text left.
TEST_F(MainWindowGuiTest, ALongSavedFileNameRedrawsTheKindBoxAndItsButton) {
  const std::u16string file =
      stateFile("a state file with a rather long name for the box.fws", "b");
  ProgramRun run(project("p.fwp", {u"C:\\a"}, {u"D:\\a"}));
  ASSERT_TRUE(run.settle());
  RECT before{};
  GetWindowRect(kindBox(run, 1), &before);
  chooseKind(run, 1, 1);
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  answerFileDialog(open, file);
  ASSERT_TRUE(waitGone(open));
  ASSERT_TRUE(waitUntil([&] {
    return comboSelectionText(kindBox(run, 1)) ==
           u"a state file with a rather long name for the box.fws";
  }));
  ASSERT_TRUE(run.settle());
  RECT after{};
  GetWindowRect(kindBox(run, 1), &after);
  EXPECT_GT(after.right - after.left, before.right - before.left);
  EXPECT_TRUE(screenShowsRepaint(run, run.control(IDC_BROWSE_TARGET)));
  EXPECT_TRUE(screenShowsRepaint(run, kindBox(run, 1)));
}

// The File menu's keys and F5, shown in the menu; none acts while a dialog is open over the
// window or, for F5, while Compare is disabled.
TEST_F(MainWindowGuiTest, KeysOfTheFileMenuAndF5) {
  writeFile(dir.at("src/a.txt"), "a");
  makeDir(dir.at("trg"));
  ProgramRun run(quoted(project("p.fwp", {dir.at("src")}, {dir.at("trg")})));
  HMENU file = GetSubMenu(GetMenu(run.main()), 0);
  wchar_t text[64] = L"";
  GetMenuStringW(file, IDM_NEW, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(fromWide(text), u"&New\tCtrl+N");
  GetMenuStringW(file, IDM_OPEN, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(fromWide(text), u"&Open...\tCtrl+O");
  GetMenuStringW(file, IDM_SAVE, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(fromWide(text), u"&Save\tCtrl+S");
  GetMenuStringW(file, IDM_SAVE_AS, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(fromWide(text), u"&Save As...\tCtrl+Shift+S");

  // A key of the accelerator table arrives as WM_KEYDOWN with Ctrl held: the test holds it.
  const auto withControl = [&](WORD key) {
    run.onWindowThread([&] {
      BYTE keys[256] = {};
      GetKeyboardState(keys);
      keys[VK_CONTROL] = 0x80;
      SetKeyboardState(keys);
    });
    pressKey(run.control(IDC_LIST_SOURCE), key);
    EXPECT_TRUE(run.settle());
    run.onWindowThread([&] {
      BYTE keys[256] = {};
      GetKeyboardState(keys);
      keys[VK_CONTROL] = 0;
      SetKeyboardState(keys);
    });
  };
  // Ctrl+S saves to the project's own file, without a dialog.
  removeTree(dir.at("p.fwp"));
  withControl('S');
  EXPECT_TRUE(waitUntil([&] { return exists(dir.at("p.fwp")); }));
  EXPECT_FALSE(findWindow(run, u"Save As"));
  withControl('O');
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(waitGone(open));

  pressKey(run.control(IDC_LIST_SOURCE), VK_F5);
  HWND tree = waitForDialog(run, u"File Tree", 10000);
  ASSERT_NE(tree, nullptr);
  // The File Tree window is modal: the main window's keys do nothing meanwhile.
  pressKey(run.control(IDC_LIST_SOURCE), VK_F5);
  withControl('N');
  EXPECT_EQ(listItems(list(run, 0)), (Strings{dir.at("src")}));
  command(tree, IDCANCEL);
  ASSERT_TRUE(waitGone(tree));
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(findWindow(run, u"File Tree"));

  withControl('N');
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).empty(); }));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_COMPARE)));
  pressKey(run.control(IDC_LIST_SOURCE), VK_F5);
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(findThreadWindow(run, [](HWND w) { return classOf(w) == u"#32770"; }));
}

TEST_F(MainWindowGuiTest, RowsAreAddedEditedSelectedInBothAndDeleted) {
  ProgramRun run;
  click(run.control(IDC_ADD));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  SetDlgItemTextW(pair, IDC_PAIR_SOURCE_EDIT, L"C:\\one");
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, L"D:\\one");
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  click(run.control(IDC_ADD));
  pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(itemText(pair, IDC_PAIR_SOURCE_EDIT), u"");  // add mode starts empty
  SetDlgItemTextW(pair, IDC_PAIR_SOURCE_EDIT, L"C:\\two");
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).size() == 2; }));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{u"D:\\one", u""}));
  EXPECT_EQ(listSelection(list(run, 0)), 1);
  EXPECT_EQ(listSelection(list(run, 1)), 1);
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_COMPARE)));

  // Selecting in the target list selects the same row in the source list.
  chooseRow(run, 1, 0);
  EXPECT_EQ(listSelection(list(run, 0)), 0);
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_EDIT)));

  // Edit, then Cancel: nothing changes. Edit, then OK: the row is shown again in place.
  click(run.control(IDC_EDIT));
  pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(itemText(pair, IDC_PAIR_TARGET_EDIT), u"D:\\one");
  SetDlgItemTextW(pair, IDC_PAIR_SOURCE_EDIT, L"changed");
  command(pair, IDCANCEL);
  ASSERT_TRUE(waitGone(pair));
  PostMessageW(run.main(), WM_COMMAND, MAKEWPARAM(IDC_LIST_SOURCE, LBN_DBLCLK),
               reinterpret_cast<LPARAM>(list(run, 0)));
  pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, L"D:\\edited");
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 1))[0] == u"D:\\edited"; }));
  EXPECT_EQ(listItems(list(run, 0)), (Strings{u"C:\\one", u"C:\\two"}));
  EXPECT_EQ(listSelection(list(run, 0)), 0);
  EXPECT_EQ(listSelection(list(run, 1)), 0);

  // Delete the first row: the row that took its place is selected in both lists.
  click(run.control(IDC_DELETE));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).size() == 1; }));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{u""}));
  EXPECT_EQ(listSelection(list(run, 0)), 0);
  EXPECT_EQ(listSelection(list(run, 1)), 0);
  click(run.control(IDC_DELETE));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).empty(); }));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_DELETE)));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_COMPARE)));
}

TEST_F(MainWindowGuiTest, SwapExchangesListsKindsAndTheFileNamesInTheKindBoxes) {
  const std::u16string state = stateFile("b.fws", "machine-b");
  ProgramRun run(state);
  command(run.main(), IDM_SWAP);
  ASSERT_TRUE(waitUntil([&] { return comboSelectionText(kindBox(run, 1)) == u"b.fws"; }));
  EXPECT_EQ(SendMessageW(kindBox(run, 1), CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(comboSelectionText(kindBox(run, 0)), u"File system");
  EXPECT_EQ(comboItem(kindBox(run, 0), 1), u"Saved state");
  EXPECT_EQ(listItems(list(run, 1)), (Strings{dir.at("machine-b")}));
  EXPECT_EQ(listItems(list(run, 0)), (Strings{u""}));
}

TEST_F(MainWindowGuiTest, ScrollingOneListScrollsTheOther) {
  Strings many;
  for (int i = 0; i < 60; ++i) many.push_back(u"C:\\folder" + toUtf16(std::to_string(i)));
  ProgramRun run(project("many.fwp", many, many));
  HWND source = list(run, 0), target = list(run, 1);
  SendMessageW(source, WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_GT(listTop(source), 0);
  EXPECT_EQ(listTop(target), listTop(source));

  SendMessageW(target, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA * 2)), 0);
  EXPECT_EQ(listTop(source), listTop(target));

  chooseRow(run, 0, 0);
  run.onWindowThread([&] { SetFocus(source); });
  SendMessageW(source, WM_KEYDOWN, VK_END, 0);
  EXPECT_GT(listTop(source), 20);
  EXPECT_EQ(listTop(target), listTop(source));
  EXPECT_EQ(listSelection(target), 59);  // the key moved the selection, mirrored too
}

TEST_F(MainWindowGuiTest, DeletingNearTheEndOfALongListKeepsBothTopsEqual) {
  Strings many;
  for (int i = 0; i < 40; ++i) many.push_back(u"C:\\folder" + toUtf16(std::to_string(i)));
  ProgramRun run(project("many.fwp", many, many));
  HWND source = list(run, 0), target = list(run, 1);
  // Deleting near the end, the row chosen in either list: each list fills the space left at
  // its end, and the row that took the deleted one's place is selected in both.
  for (int rows = 40; rows > 30; --rows) {
    chooseRow(run, rows % 2, rows - 2);
    click(run.control(IDC_DELETE));
    ASSERT_TRUE(waitUntil([&] { return listItems(target).size() == static_cast<size_t>(rows - 1); }));
    ASSERT_TRUE(run.settle());  // the rows go first, the selection after them
    EXPECT_GT(listTop(source), 0);
    EXPECT_EQ(listTop(target), listTop(source)) << rows;
    EXPECT_EQ(listSelection(source), rows - 2);
    EXPECT_EQ(listSelection(target), rows - 2);
  }
  // The last row: nothing is selected after it.
  click(run.control(IDC_DELETE));
  ASSERT_TRUE(waitUntil([&] { return listItems(source).size() == 29; }));
  ASSERT_TRUE(run.settle());
  EXPECT_EQ(listTop(target), listTop(source));
  EXPECT_EQ(listSelection(target), -1);
  // A selection scrolled out of view by the other list: both come back to it together.
  chooseRow(run, 1, 26);
  SendMessageW(target, WM_VSCROLL, SB_TOP, 0);
  ASSERT_EQ(listTop(source), 0);
  click(run.control(IDC_DELETE));
  ASSERT_TRUE(waitUntil([&] { return listItems(source).size() == 28; }));
  ASSERT_TRUE(run.settle());
  EXPECT_GT(listTop(source), 0);
  EXPECT_EQ(listTop(target), listTop(source));
  EXPECT_EQ(listSelection(target), 26);
}

TEST_F(MainWindowGuiTest, BrowseLoadsProjectIntoBothColumnsAndBadFileSaysWrongFormat) {
  ProgramRun run;
  const std::u16string path = project("load.fwp", {u"C:\\x"}, {u"D:\\y"});
  click(run.control(IDC_BROWSE_TARGET));
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  answerFileDialog(open, path);
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 1)) == Strings{u"D:\\y"}; }));
  EXPECT_EQ(listItems(list(run, 0)), (Strings{u"C:\\x"}));
  EXPECT_EQ(comboSelectionText(kindBox(run, 0)), u"load.fwp");

  writeFile(dir.at("bad.fwp"), "this is no project");
  command(run.main(), IDM_OPEN);
  open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  answerFileDialog(open, dir.at("bad.fwp"));
  HWND error = waitForWindow(run, u"Error");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(messageText(error), u"Wrong file format! " + dir.at("bad.fwp") +
                                    u" is not a project of this program");
  command(error, IDOK);
  ASSERT_TRUE(waitGone(error));
  // The project shown stays as it was.
  ASSERT_TRUE(run.settle());
  EXPECT_EQ(listItems(list(run, 0)), (Strings{u"C:\\x"}));
  EXPECT_EQ(listItems(list(run, 1)), (Strings{u"D:\\y"}));
  EXPECT_EQ(comboSelectionText(kindBox(run, 0)), u"load.fwp");
  EXPECT_EQ(textOf(run.main()), u"load.fwp - Ferrywick");
}

TEST_F(MainWindowGuiTest, SaveAsWritesTheFolderColumns) {
  ProgramRun run(project("in.fwp", {u"C:\\a", u""}, {u"D:\\a", u"D:\\b"}));
  command(run.main(), IDM_SAVE_AS);
  HWND save = waitForWindow(run, u"Save As");
  ASSERT_NE(save, nullptr);
  answerFileDialog(save, dir.at("out"));  // the default extension is added
  ASSERT_TRUE(waitUntil([&] { return exists(dir.at("out.fwp")); }));
  Project saved;
  ASSERT_TRUE(waitUntil([&] {
    return loadProject(systemFs(), dir.at("out.fwp").c_str(), &saved) == Rc::Ok;
  }));
  EXPECT_EQ(saved.source, (Strings{u"C:\\a", u""}));
  EXPECT_EQ(saved.target, (Strings{u"D:\\a", u"D:\\b"}));
}

// Adds a row through the folder pair dialog.
void addRow(const ProgramRun& run, const std::u16string& source, const std::u16string& target) {
  const size_t rows = listItems(run.control(IDC_LIST_SOURCE)).size();
  click(run.control(IDC_ADD));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  SetDlgItemTextW(pair, IDC_PAIR_SOURCE_EDIT, wide(source));
  SetDlgItemTextW(pair, IDC_PAIR_TARGET_EDIT, wide(target));
  command(pair, IDOK);
  ASSERT_TRUE(waitGone(pair));
  ASSERT_TRUE(waitUntil([&] { return listItems(run.control(IDC_LIST_SOURCE)).size() == rows + 1; }));
}

// The question before changed rows are dropped; answers it, false when it did not come.
[[nodiscard]] bool answerSaveChanges(const ProgramRun& run, const std::u16string& name,
                                     int answer) {
  HWND ask = waitForDialog(run, u"Ferrywick", 10000);
  if (!ask) return false;
  EXPECT_EQ(messageText(ask), u"Save changes to " + name + u"?");
  command(ask, answer);
  return waitGone(ask);
}

TEST_F(MainWindowGuiTest, ChangedRowsAskToBeSavedAndCancelKeepsThem) {
  ProgramRun run(quoted(project("p.fwp", {u"C:\\a"}, {u"D:\\a"})));
  addRow(run, u"C:\\b", u"D:\\b");
  const Strings rows{u"C:\\a", u"C:\\b"};

  // New, Open and closing the window: Cancel leaves everything as it was.
  for (int id : {IDM_NEW, IDM_OPEN}) {
    command(run.main(), id);
    ASSERT_TRUE(answerSaveChanges(run, u"p.fwp", IDCANCEL));
    ASSERT_TRUE(run.settle());
    EXPECT_FALSE(findWindow(run, u"Open"));
    EXPECT_EQ(listItems(list(run, 0)), rows);
  }
  PostMessageW(run.main(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(answerSaveChanges(run, u"p.fwp", IDCANCEL));
  ASSERT_TRUE(run.settle());
  EXPECT_TRUE(IsWindow(run.main()));
  EXPECT_EQ(listItems(list(run, 0)), rows);
  EXPECT_EQ(textOf(run.main()), u"p.fwp - Ferrywick");

  // No drops the changes: the file keeps its one row.
  command(run.main(), IDM_NEW);
  ASSERT_TRUE(answerSaveChanges(run, u"p.fwp", IDNO));
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).empty(); }));
  EXPECT_EQ(textOf(run.main()), u"Untitled - Ferrywick");
  Project saved;
  ASSERT_EQ(loadProject(systemFs(), dir.at("p.fwp").c_str(), &saved), Rc::Ok);
  EXPECT_EQ(saved.source, (Strings{u"C:\\a"}));

  // A new project unchanged asks nothing; changed, Yes saves it through Save As first.
  command(run.main(), IDM_NEW);
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(findWindow(run, u"Ferrywick"));
  addRow(run, u"C:\\new", u"");
  command(run.main(), IDM_OPEN);
  ASSERT_TRUE(answerSaveChanges(run, u"Untitled", IDYES));
  HWND save = waitForWindow(run, u"Save As");
  ASSERT_NE(save, nullptr);
  answerFileDialog(save, dir.at("new.fwp"));
  HWND open = waitForWindow(run, u"Open");
  ASSERT_NE(open, nullptr);
  PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(waitGone(open));
  ASSERT_EQ(loadProject(systemFs(), dir.at("new.fwp").c_str(), &saved), Rc::Ok);
  EXPECT_EQ(saved.source, (Strings{u"C:\\new"}));
  EXPECT_EQ(textOf(run.main()), u"new.fwp - Ferrywick");
}

// The File menu's recent projects, above Exit: "&1" the one used last.
Strings recentItems(const ProgramRun& run) {
  HMENU file = GetSubMenu(GetMenu(run.main()), 0);
  Strings items;
  for (int i = 0; i < GetMenuItemCount(file); ++i) {
    const UINT id = GetMenuItemID(file, i);
    if (id < IDM_RECENT_FIRST || id > IDM_RECENT_LAST) continue;
    EXPECT_EQ(id, static_cast<UINT>(IDM_RECENT_FIRST + items.size()));
    wchar_t text[300] = L"";
    GetMenuStringW(file, static_cast<UINT>(i), text, 300, MF_BYPOSITION);
    items.push_back(fromWide(text));
  }
  if (!items.empty()) {
    const int count = GetMenuItemCount(file);
    EXPECT_EQ(GetMenuItemID(file, count - 1), static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(GetMenuItemID(file, count - 3), static_cast<UINT>(IDM_RECENT_FIRST + items.size() - 1));
  }
  return items;
}

TEST_F(MainWindowGuiTest, SaveWritesTheSameFileAndRecentProjectsAreListedAndKept) {
  const std::u16string in = project("in.fwp", {u"C:\\a"}, {u"D:\\a"});
  {
    ProgramRun run(quoted(in));
    EXPECT_EQ(recentItems(run), (Strings{u"&1 " + in}));
    addRow(run, u"C:\\b", u"D:\\b");
    command(run.main(), IDM_SAVE);
    // Read once the save is done: a read while the program puts the new file in the old one's
    // place would hold the old one open, and the replacement would fail for it.
    ASSERT_TRUE(run.settle());
    Project saved;
    ASSERT_EQ(loadProject(systemFs(), in.c_str(), &saved), Rc::Ok);
    EXPECT_EQ(saved.source.size(), 2u);
    EXPECT_EQ(saved.target, (Strings{u"D:\\a", u"D:\\b"}));
    EXPECT_FALSE(findWindow(run, u"Save As"));

    command(run.main(), IDM_SAVE_AS);
    HWND save = waitForWindow(run, u"Save As");
    ASSERT_NE(save, nullptr);
    answerFileDialog(save, dir.at("out.fwp"));
    ASSERT_TRUE(waitUntil([&] { return textOf(run.main()) == u"out.fwp - Ferrywick"; }));
    EXPECT_EQ(comboSelectionText(kindBox(run, 1)), u"out.fwp");
    EXPECT_EQ(recentItems(run), (Strings{u"&1 " + dir.at("out.fwp"), u"&2 " + in}));
  }
  // Kept for the next start; a recent project opens from the menu.
  ProgramRun run;
  EXPECT_EQ(recentItems(run), (Strings{u"&1 " + dir.at("out.fwp"), u"&2 " + in}));
  command(run.main(), IDM_RECENT_FIRST + 1);
  ASSERT_TRUE(waitUntil([&] { return listItems(list(run, 0)).size() == 2; }));
  EXPECT_EQ(textOf(run.main()), u"in.fwp - Ferrywick");
  EXPECT_EQ(recentItems(run), (Strings{u"&1 " + in, u"&2 " + dir.at("out.fwp")}));

  // A recent project that is gone is named, and leaves the list; the rows stay.
  removeTree(dir.at("out.fwp"));
  command(run.main(), IDM_RECENT_FIRST + 1);
  HWND error = waitForWindow(run, u"Error");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(messageText(error).rfind(dir.at("out.fwp") + u" cannot be opened", 0), 0u)
      << toUtf8(messageText(error));
  command(error, IDOK);
  ASSERT_TRUE(waitGone(error));
  ASSERT_TRUE(run.settle());
  EXPECT_EQ(recentItems(run), (Strings{u"&1 " + in}));
  EXPECT_EQ(listItems(list(run, 0)).size(), 2u);
}

}  // namespace
}  // namespace fw
