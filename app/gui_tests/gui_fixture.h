// What every GUI test starts from: a clean settings key, a temporary folder, small helpers to
// make projects and folders.
#ifndef FERRYWICK_APP_GUI_TESTS_GUI_FIXTURE_H
#define FERRYWICK_APP_GUI_TESTS_GUI_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/gui_tests/gui_harness.h"
#include "app/resources/resource_ids.h"
#include "app/settings_registry.h"
#include "core/result_test_util.h"
#include "formats/project_file.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {

using Strings = std::vector<std::u16string>;

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override { deleteSettingsKey(); }
  void TearDown() override { deleteSettingsKey(); }

  std::u16string project(const std::string& name, const Strings& source, const Strings& target) {
    const std::u16string path = dir.at(name);
    EXPECT_EQ(saveProject(systemFs(), source, target, path.c_str()), Rc::Ok);
    return path;
  }
  static std::u16string quoted(const std::u16string& path) { return u"\"" + path + u"\""; }

  HWND list(const ProgramRun& run, int side) { return run.control(IDC_LIST_SOURCE + side); }
  HWND kindBox(const ProgramRun& run, int side) { return run.control(IDC_KIND_SOURCE + side); }

  // Answers the question "Before the sync" with IDYES or IDNO; false when it did not come or
  // did not close.
  [[nodiscard]] static bool answerSyncQuestion(const ProgramRun& run, int answer) {
    HWND question = waitForDialog(run, u"Before the sync", 10000);
    if (!question) return false;
    click(GetDlgItem(question, answer));
    return waitGone(question);
  }
  // The window that has the keyboard focus on the program's thread.
  static HWND focusOf(const ProgramRun& run) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(run.threadId(), &info);
    return info.hwndFocus;
  }

  TempDir dir;
};

}  // namespace fw

#endif  // FERRYWICK_APP_GUI_TESTS_GUI_FIXTURE_H
