#include "app/logic/project_session.h"

#include <gtest/gtest.h>

#include "app/logic/project_model.h"
#include "core/result_test_util.h"
#include "formats/format_test_util.h"
#include "formats/project_file.h"
#include "platform/testing/temp_dir.h"

namespace fw {
namespace {

using Strings = std::vector<std::u16string>;

TEST(ProjectSessionTest, ChangesCountAsTheRowsTheFileWouldHold) {
  Workspace ws;
  EXPECT_FALSE(projectChanged(ws));
  EXPECT_EQ(projectTitle(ws), u"Untitled - Ferrywick");

  ws.sides[0].inputs[0].roots = {u"C:\\a"};
  EXPECT_TRUE(projectChanged(ws));
  markProjectSaved(ws, u"C:\\p\\pairs.fwp");
  EXPECT_FALSE(projectChanged(ws));
  EXPECT_EQ(projectTitle(ws), u"pairs.fwp - Ferrywick");
  EXPECT_EQ(ws.kindLabels[1][0], u"pairs.fwp");

  // Padding that the lists add, and a trailing row empty on both sides, change nothing.
  ws.sides[1].inputs[0].roots = {u""};
  ws.sides[0].inputs[0].roots = {u"C:\\a", u""};
  EXPECT_FALSE(projectChanged(ws));
  // A changed text, an emptied middle row, a swap of the columns do.
  ws.sides[0].inputs[0].roots = {u"C:\\A"};
  EXPECT_TRUE(projectChanged(ws));
  ws.sides[0].inputs[0].roots = {u"", u"C:\\a"};
  EXPECT_TRUE(projectChanged(ws));
  ws.sides[0].inputs[0].roots = {};
  ws.sides[1].inputs[0].roots = {u"C:\\a"};
  EXPECT_TRUE(projectChanged(ws));
  // The saved kinds are not part of the project.
  ws.sides[1].inputs[0].roots = {};
  ws.sides[0].inputs[0].roots = {u"C:\\a"};
  ws.sides[1].inputs[1].roots = {u"D:\\state"};
  EXPECT_FALSE(projectChanged(ws));

  newProject(ws);
  EXPECT_FALSE(projectChanged(ws));
  EXPECT_EQ(projectName(ws), u"Untitled");
}

TEST(ProjectSessionTest, RecentProjectsComeFirstOnceWithoutRegardToCaseAndAtMostEight) {
  Strings recent;
  for (int i = 1; i <= 9; ++i) rememberRecent(recent, u"C:\\p" + std::u16string(1, u'0' + i));
  ASSERT_EQ(recent.size(), kRecentProjects);
  EXPECT_EQ(recent.front(), u"C:\\p9");
  EXPECT_EQ(recent.back(), u"C:\\p2");  // the oldest fell off

  // A path used again moves up, in the spelling used last.
  rememberRecent(recent, u"c:\\P5");
  EXPECT_EQ(recent.size(), kRecentProjects);
  EXPECT_EQ(recent[0], u"c:\\P5");
  EXPECT_EQ(recent[1], u"C:\\p9");
  EXPECT_EQ(std::count(recent.begin(), recent.end(), u"C:\\p5"), 0);

  forgetRecent(recent, u"C:\\P9");
  EXPECT_EQ(recent.size(), kRecentProjects - 1);
  EXPECT_EQ(recent[1], u"C:\\p8");
  forgetRecent(recent, u"C:\\missing");
  EXPECT_EQ(recent.size(), kRecentProjects - 1);

  EXPECT_EQ(recentMenuText(0, u"C:\\R&D\\a.fwp"), u"&1 C:\\R&&D\\a.fwp");
  EXPECT_EQ(recentMenuText(7, u"x"), u"&8 x");
}

TEST(ProjectSessionTest, RefusedProjectIsNamedWithWhatIsWrongWithIt) {
  TempDir dir;
  Fs& fs = systemFs();
  const auto text = [&](const std::u16string& path) {
    Project p;
    const Rc rc = loadProject(fs, path.c_str(), &p);
    EXPECT_NE(rc, Rc::Ok);
    return projectRefusalText(fs, path, rc);
  };
  const std::u16string missing = dir.at("missing.fwp");
  EXPECT_EQ(text(missing).rfind(missing + u" cannot be opened: ", 0), 0u) << toUtf8(text(missing));

  const std::u16string foreign = dir.at("notes.fwp");
  writeFile(foreign, "this is no project at all");
  EXPECT_EQ(text(foreign), u"Wrong file format! " + foreign + u" is not a project of this program");
  const std::u16string tiny = dir.at("tiny.fwp");
  writeFile(tiny, "KTRV");
  EXPECT_EQ(text(tiny), u"Wrong file format! " + tiny + u" is not a project of this program");

  const std::u16string state = dir.at("b.fws");
  ASSERT_RC_OK(writeRawFile(fs, FileKind::StateFile, state, std::string("x\0\0", 3)));
  EXPECT_EQ(text(state), u"Wrong file format! " + state + u" is a saved state, not a project");

  const std::u16string damaged = dir.at("damaged.fwp");
  ASSERT_RC_OK(saveProject(fs, Strings{u"C:\\a"}, Strings{u"D:\\b"}, damaged.c_str()));
  std::string bytes = readFile(damaged);
  bytes[kProjectHeaderSize + 2] = static_cast<char>(0xff);  // a deflate block of no type
  writeFile(damaged, bytes);
  EXPECT_EQ(text(damaged), u"Wrong file format! " + damaged + u" is damaged");
  bytes[kMagicSize] = 7;
  writeFile(damaged, bytes);
  EXPECT_EQ(text(damaged),
            u"Wrong file format! " + damaged + u" was written by another version of this program");
}

}  // namespace
}  // namespace fw
