// What the command line writes for entries a sync could not handle, from a run whose file
// system fails in the ways a user must tell apart.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "cli/cli_output.h"
#include "cli/json.h"
#include "core/compare_fixture.h"
#include "platform/testing/fault_fs.h"
#include "sync/sync_all.h"

namespace fw {
namespace {

using FailureReportTest = CompareFixture;

TEST_F(FailureReportTest, EachKindOfFailureReadsAsSuchInTextAndJson) {
  writeFile(trg_.at("busy.txt"), "b");
  writeFile(src_.at("denied.txt"), "d");
  writeFile(src_.at("full/f.txt"), "f");
  writeFile(src_.at("name.txt"), "n");
  FaultFs fs(systemFs());
  failFourWays(fs);
  ASSERT_EQ(compare(), Rc::Ok);
  constexpr uint32_t kMirror = 0xFC;
  totals(kMirror, 0);
  SyncStats ok, failed;
  CancelFlag cancel{0};
  FailureLog failures;
  SyncRequest request;
  request.fs = &fs;
  request.source = &source_;
  request.target = &target_;
  request.firstRoot = roots_;
  request.masks = makeMarkMasks(kMirror, 0, kDefaultFlagsColorize);
  request.cancel = &cancel;
  request.failures = &failures;
  ASSERT_EQ(syncAll(request, {ok, failed}), Rc::Ok);
  ASSERT_EQ(failures.size(), 4u);
  const std::string sep(1, static_cast<char>(kPathSeparator));
  const std::string root = toUtf8(trg_.path()) + sep;

  EXPECT_EQ(failureLine(failures[0]),
            "failed: " + root + "busy.txt: cannot delete: another program has it open");
  EXPECT_EQ(failureJson(failures[0]),
            "{\"failed\":" + jsonString(root + "busy.txt") +
                ",\"reason\":\"cannot delete: another program has it open\","
                "\"status\":\"in-use\",\"osError\":" + std::to_string(kBusyError) + "}");
  // Each of the others in walk order: its words on the line (the system's message may
  // follow), its stable word and code in the JSON.
  struct Expected {
    std::string name, words, status;
    int code;
  } expected[] = {
      {"denied.txt", "cannot copy: access is denied", "access-denied", kDeniedError},
      {"full" + sep + "f.txt", "cannot copy: the disk is full", "disk-full", kFullError},
      {"name.txt", "cannot copy: the file system does not allow this name", "invalid-name",
       kNameError},
  };
  for (size_t i = 0; i < 3; ++i) {
    const EntryFailure& f = failures[i + 1];
    const Expected& e = expected[i];
    std::string line = failureLine(f), json = failureJson(f);
    EXPECT_EQ(line.rfind("failed: " + root + e.name + ": " + e.words, 0), 0u) << line;
    EXPECT_NE(json.find("\"reason\":\"" + e.words), std::string::npos) << json;
    EXPECT_NE(json.find("\"status\":\"" + e.status + "\",\"osError\":" + std::to_string(e.code) +
                        "}"),
              std::string::npos)
        << json;
  }
}

TEST_F(FailureReportTest, AFailureWithoutAFileSystemCauseIsOther) {
  EntryFailure conflict{u"a", "left alone: cannot be paired with the other side"};
  EXPECT_EQ(failureJson(conflict),
            "{\"failed\":\"a\",\"reason\":\"left alone: cannot be paired with the other side\","
            "\"status\":\"other\",\"osError\":0}");
}

}  // namespace
}  // namespace fw
