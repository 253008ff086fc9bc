#include "app/logic/project_model.h"
#include "app/logic/project_session.h"

#include <gtest/gtest.h>

#include "core/result_test_util.h"
#include "formats/format_test_util.h"
#include "formats/project_file.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {
namespace {

using Strings = std::vector<std::u16string>;

TEST(PadRowsTest, ShorterSideGetsEmptyPartnersAndEmptyTailRowsVanish) {
  Strings s = {u"a", u"b"}, t = {u"x"};
  padRows(s, t);
  EXPECT_EQ(s, (Strings{u"a", u"b"}));
  EXPECT_EQ(t, (Strings{u"x", u""}));

  // A row empty on both sides at the end goes; an empty row in the middle stays.
  s = {u"a", u"", u"c", u""};
  t = {u"", u"", u"z", u"", u""};
  padRows(s, t);
  EXPECT_EQ(s, (Strings{u"a", u"", u"c", u""}));
  EXPECT_EQ(t, (Strings{u"", u"", u"z", u""}));

  s = {};
  t = {u"x", u"y"};
  padRows(s, t);
  EXPECT_EQ(s, (Strings{u"", u""}));
}

TEST(ProjectModelTest, ButtonsFollowKindsSelectionAndRunningWorker) {
  Workspace ws;
  ButtonStates b = buttonStates(ws, -1, false);
  EXPECT_TRUE(b.add);
  EXPECT_FALSE(b.edit);
  EXPECT_FALSE(b.remove);
  EXPECT_FALSE(b.compare);

  ws.sides[0].selected().roots = {u"C:\\a"};
  b = buttonStates(ws, 0, false);
  EXPECT_TRUE(b.edit && b.remove && b.compare);
  // A cancelled worker that has not returned yet keeps Compare off.
  EXPECT_FALSE(buttonStates(ws, 0, true).compare);

  ws.sides[0].kind = SideKind::SavedState;
  ws.sides[1].kind = SideKind::SavedDifference;
  b = buttonStates(ws, -1, false);
  EXPECT_FALSE(b.add);
  EXPECT_FALSE(b.compare);  // the saved state's input has no rows
}

TEST(ProjectModelTest, RemoveRowSelectsTheRowThatTookItsPlace) {
  Workspace ws;
  ws.sides[0].selected().roots = {u"a", u"b", u"c"};
  ws.sides[1].selected().roots = {u"x", u"y", u"z"};
  EXPECT_EQ(removeRow(ws, 1), 1);
  EXPECT_EQ(ws.sides[0].selected().roots, (Strings{u"a", u"c"}));
  EXPECT_EQ(ws.sides[1].selected().roots, (Strings{u"x", u"z"}));
  EXPECT_EQ(removeRow(ws, 1), -1);  // the last row: no selection
  EXPECT_EQ(removeRow(ws, 0), -1);
  EXPECT_TRUE(ws.sides[0].selected().roots.empty());
}

TEST(ProjectModelTest, FolderPairRecordAddsEditsAndCutsLongPaths) {
  Workspace ws;
  ws.sides[1].kind = SideKind::SavedState;
  ws.sides[1].selected().roots = {u"C:\\saved"};
  padSelectedRows(ws);
  ws.addMode = true;
  ws.currentRow = 1;
  FolderPairRecord pair = folderPairFor(ws);
  EXPECT_TRUE(pair.sourceEditable);
  EXPECT_FALSE(pair.targetEditable);
  EXPECT_TRUE(pair.source.empty());
  pair.source = std::u16string(300, u'p');
  storeFolderPair(ws, pair);
  ASSERT_EQ(ws.sides[0].selected().roots.size(), 2u);
  EXPECT_EQ(ws.sides[0].selected().roots[1].size(), 259u);
  EXPECT_EQ(ws.sides[1].selected().roots, (Strings{u"C:\\saved", u""}));

  ws.addMode = false;
  ws.currentRow = 0;
  pair = folderPairFor(ws);
  EXPECT_EQ(pair.target, u"C:\\saved");
  pair.source = u"D:\\new";
  storeFolderPair(ws, pair);
  EXPECT_EQ(ws.sides[0].selected().roots[0], u"D:\\new");
  EXPECT_EQ(ws.sides[1].selected().roots.size(), 2u);
}

// The rows as OK would leave them: the edited row against itself and against the others, and
// nothing for a saved side or for other rows that overlap one another.
TEST(ProjectModelTest, FolderPairOverlapNamesOnlyTheEditedRowsFolders) {
  TempDir dir;
  makeDir(dir.at("a/sub"));
  makeDir(dir.at("b"));
  Workspace ws;
  ws.sides[0].inputs[0].roots = {dir.at("b"), dir.at("x")};
  ws.sides[1].inputs[0].roots = {dir.at("c"), dir.at("x/in")};  // row 2 overlaps itself
  ws.addMode = true;
  ws.currentRow = 2;
  FolderPairRecord pair;
  pair.source = dir.at("a");
  pair.target = dir.at("a/sub");
  EXPECT_EQ(folderPairOverlapText(systemFs(), ws, pair),
            u"Row 3: the target " + dir.at("a/sub") + u" lies inside the source " + dir.at("a") +
                u".\n");
  pair.target = dir.at("b");
  const std::u16string same = folderPairOverlapText(systemFs(), ws, pair);
  EXPECT_EQ(same.find(u"Row 1's source " + dir.at("b")), 0u) << toUtf8(same);
  EXPECT_NE(same.find(u"same folder"), std::u16string::npos) << toUtf8(same);
  pair.target = dir.at("d");
  EXPECT_EQ(folderPairOverlapText(systemFs(), ws, pair), u"");

  // Editing row 1 in place: its old folders are not counted against the new ones.
  ws.addMode = false;
  ws.currentRow = 0;
  pair.source = dir.at("b");
  pair.target = dir.at("b/new");
  EXPECT_EQ(folderPairOverlapText(systemFs(), ws, pair).find(u"Row 1: the target"), 0u);
  // A saved target holds no folders.
  ws.sides[1].kind = SideKind::SavedState;
  EXPECT_EQ(folderPairOverlapText(systemFs(), ws, pair), u"");
}

TEST(ProjectModelTest, SwapExchangesInputsKindsAndKindBoxTexts) {
  Workspace ws;
  ws.sides[0].inputs[0].roots = {u"src"};
  ws.sides[1].kind = SideKind::SavedState;
  ws.sides[1].inputs[1].roots = {u"saved"};
  ws.sides[1].inputs[1].savedFile = u"b.fws";
  ws.kindLabels[1][1] = u"b.fws";
  padSelectedRows(ws);
  swapSides(ws);
  EXPECT_EQ(ws.sides[0].kind, SideKind::SavedState);
  EXPECT_EQ(ws.sides[0].selected().savedFile, u"b.fws");
  EXPECT_EQ(ws.kindLabels[0][1], u"b.fws");
  EXPECT_EQ(ws.kindLabels[1][1], u"Saved state");
  EXPECT_EQ(ws.sides[1].selected().roots, (Strings{u"src"}));
}

TEST(ProjectModelTest, FiltersEndInDoubleNulAndKindBoxesFitLongestEntry) {
  FileFilter f = fileFilterFor(SideKind::SavedDifference);
  EXPECT_EQ(std::u16string(f.defaultExtension), u"fwd");
  ASSERT_GE(f.filter.size(), 2u);
  EXPECT_EQ(f.filter.substr(f.filter.size() - 2), std::u16string(2, u'\0'));
  EXPECT_EQ(std::u16string(f.filter.c_str()), u"Ferrywick Diff (*.fwd)");

  Workspace ws;
  EXPECT_EQ(ws.kindBoxChars[0], 16);  // "Saved difference"
  ws.kindLabels[1][0] = u"a-very-long-project-name.fwp";
  fitKindBoxChars(ws);
  EXPECT_EQ(ws.kindBoxChars[1], 28);
  newProject(ws);
  EXPECT_EQ(ws.kindLabels[1][0], u"File system");
}

class LoadSideFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  Workspace ws;
};

TEST_F(LoadSideFileTest, ProjectLoadedIntoEitherSideSplitsIntoSourceAndTargetColumns) {
  const std::u16string path = dir.at("pairs.fwp");
  ASSERT_RC_OK(saveProject(systemFs(), Strings{u"/s1", u"/s2"}, Strings{u"/t1"}, path.c_str()));
  ws.sides[0].inputs[0].roots = {u"old"};
  ws.sides[1].inputs[1].roots = {u"kept"};

  ASSERT_RC_OK(loadSideFile(ws, path.c_str(), kTargetSide, SideKind::FileSystem));
  EXPECT_EQ(ws.sides[0].inputs[0].roots, (Strings{u"/s1", u"/s2"}));
  EXPECT_EQ(ws.sides[1].inputs[0].roots, (Strings{u"/t1", u""}));
  EXPECT_EQ(ws.sides[1].inputs[1].roots, (Strings{u"kept"}));  // other kinds untouched
  EXPECT_EQ(ws.kindLabels[0][0], u"pairs.fwp");
  EXPECT_EQ(ws.kindLabels[1][0], u"pairs.fwp");
  EXPECT_EQ(ws.kindBoxChars[0], 16);
}

TEST_F(LoadSideFileTest, UnreadableFileLeavesSideEmptyUnderTheKindsOwnText) {
  const std::u16string bad = dir.at("bad.fws");
  writeFile(bad, "not a state file");
  ws.sides[1].inputs[1].roots = {u"before"};
  ws.sides[1].inputs[1].savedFile = u"before.fws";
  ws.kindLabels[1][1] = u"before.fws";
  EXPECT_NE(loadSideFile(ws, bad.c_str(), kTargetSide, SideKind::SavedState), Rc::Ok);
  EXPECT_TRUE(ws.sides[1].inputs[1].roots.empty());
  EXPECT_FALSE(ws.sides[1].inputs[1].hasSavedFile());
  EXPECT_EQ(ws.kindLabels[1][1], u"Saved state");

  // A project that fails leaves the project shown as it was: rows, names, file.
  const std::u16string good = dir.at("good.fwp");
  ASSERT_RC_OK(saveProject(systemFs(), Strings{u"a"}, Strings{u"b"}, good.c_str()));
  ASSERT_RC_OK(loadSideFile(ws, good.c_str(), kSourceSide, SideKind::FileSystem));
  ws.sides[0].inputs[0].roots.push_back(u"added");
  EXPECT_NE(loadSideFile(ws, bad.c_str(), kSourceSide, SideKind::FileSystem), Rc::Ok);
  EXPECT_EQ(ws.sides[0].inputs[0].roots, (Strings{u"a", u"added"}));
  EXPECT_EQ(ws.kindLabels[0][0], u"good.fwp");
  EXPECT_EQ(ws.project.path, good);
  EXPECT_TRUE(projectChanged(ws));

  // So does one whose list cannot be two columns of the same length.
  const std::u16string odd = dir.at("odd.fwp");
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, odd,
                            std::string("a\0b\0c\0\0", 7)));
  EXPECT_NE(loadSideFile(ws, odd.c_str(), kSourceSide, SideKind::FileSystem), Rc::Ok);
  EXPECT_EQ(ws.sides[0].inputs[0].roots, (Strings{u"a", u"added"}));
  EXPECT_EQ(ws.sides[1].inputs[0].roots, (Strings{u"b"}));
  EXPECT_EQ(ws.shell.recentProjects, (Strings{good}));
}

TEST_F(LoadSideFileTest, StartupTokenNamingAStateFileLoadsItAsSavedState) {
  makeDir(dir.at("src/sub"));
  makeDir(dir.at("trg"));
  writeFile(dir.at("src/sub/f.txt"), "hello");
  Workspace compared;
  compared.sides[0].inputs[0].roots = {dir.at("src")};
  compared.sides[1].inputs[0].roots = {dir.at("trg")};
  publishSides(compared);
  ASSERT_RC_OK(runTask(TaskId::Compare, compared.task));
  const std::u16string state = dir.at("machine-b.fws");
  compared.task.saveFileName = state;
  ASSERT_RC_OK(runTask(TaskId::SaveTargetState, compared.task));

  ASSERT_TRUE(loadStartupFile(ws, state.c_str()));
  EXPECT_EQ(ws.sides[0].kind, SideKind::SavedState);
  EXPECT_EQ(ws.sides[0].selected().savedFile, state);
  EXPECT_EQ(ws.sides[0].selected().roots, (Strings{dir.at("trg")}));
  EXPECT_EQ(ws.kindLabels[0][1], u"machine-b.fws");
  EXPECT_EQ(ws.kindLabels[0][0], u"File system");  // the failed project attempt

  EXPECT_FALSE(loadStartupFile(ws, dir.at("missing.fwp").c_str()));
}

TEST_F(LoadSideFileTest, NewProjectReleasesTheComparison) {
  makeDir(dir.at("a"));
  writeFile(dir.at("a/x"), "1");
  ws.sides[0].inputs[0].roots = {dir.at("a")};
  publishSides(ws);
  ASSERT_RC_OK(runTask(TaskId::Compare, ws.task));
  ASSERT_NE(ws.task.firstRoot, nullptr);
  newProject(ws);
  EXPECT_EQ(ws.task.firstRoot, nullptr);
  EXPECT_EQ(ws.task.pool.blockCount(), 0u);
  EXPECT_TRUE(ws.sides[0].inputs[0].roots.empty());
}

}  // namespace
}  // namespace fw
