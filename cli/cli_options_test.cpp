#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sync/settings_table.h"

namespace fw {
namespace {

bool parse(std::vector<const char*> args, CliOptions* o, std::string* error) {
  args.insert(args.begin(), "ferrywick-cli");
  return parseCliOptions(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(CliOptionsTest, PositionalSidesDefaultsAndRepeatedRows) {
  CliOptions o;
  std::string e;
  ASSERT_TRUE(parse({"compare", "a", "b"}, &o, &e)) << e;
  EXPECT_EQ(o.command, CliCommand::Compare);
  EXPECT_EQ(o.sources, std::vector<std::string>{"a"});
  EXPECT_EQ(o.targets, std::vector<std::string>{"b"});
  EXPECT_EQ(o.settings.flagsSrc, 0xD8u);
  EXPECT_EQ(o.settings.flagsTrg, 0x24u);
  EXPECT_EQ(o.settings.ignore, u"thumbs.db");
  ASSERT_TRUE(parse({"sync", "--source", "s1", "--source", "s2", "--target", "t1", "--json",
                     "--ignore", ""},
                    &o, &e));
  EXPECT_EQ(o.sources.size(), 2u);
  EXPECT_TRUE(o.json);
  EXPECT_EQ(o.settings.ignore, u"");
}

TEST(CliOptionsTest, MasksInHexOrDecimalAndNeverInBoth) {
  CliOptions o;
  std::string e;
  ASSERT_TRUE(parse({"compare", "--flags-src", "0xFC", "--flags-trg", "0", "a", "b"}, &o, &e));
  EXPECT_EQ(o.settings.flagsSrc, 0xFCu);
  ASSERT_TRUE(parse({"compare", "--flags-src", "216", "a", "b"}, &o, &e));
  EXPECT_EQ(o.settings.flagsSrc, 0xD8u);
  ASSERT_TRUE(parse({"compare", "--mirror", "a", "b"}, &o, &e));
  EXPECT_EQ(o.settings.flagsSrc, 0xFCu);
  EXPECT_EQ(o.settings.flagsTrg, 0u);
  EXPECT_FALSE(parse({"compare", "--flags-src", "0x0C", "a", "b"}, &o, &e));  // 0x04 twice
  EXPECT_FALSE(parse({"compare", "--flags-src", "zz", "a", "b"}, &o, &e));
  EXPECT_FALSE(parse({"compare", "--flags-src", "0x100", "a", "b"}, &o, &e));
}

TEST(CliOptionsTest, SplitLimitAndOutputRules) {
  CliOptions o;
  std::string e;
  EXPECT_FALSE(parse({"save-diff", "--split", "0", "-o", "d.fwd", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "The split limit is too small, must be at least 1 MB!");
  ASSERT_TRUE(parse({"save-diff", "--split", "1", "-o", "d.fwd", "a", "b"}, &o, &e));
  EXPECT_EQ(o.settings.split, 1u);
  EXPECT_EQ(o.settings.splitSize, 1u);
  EXPECT_FALSE(parse({"save-diff", "a", "b"}, &o, &e));  // no -o
  EXPECT_FALSE(parse({"compare", "--split", "2", "a", "b"}, &o, &e));
  ASSERT_TRUE(parse({"save-state", "--side", "target", "-o", "s.fws", "a", "b"}, &o, &e));
  EXPECT_EQ(o.side, 1);
  EXPECT_FALSE(parse({"save-state", "--side", "left", "-o", "s.fws", "a"}, &o, &e));
}

TEST(CliOptionsTest, AliasesFlagsAndValuesThatLookLikeOptions) {
  CliOptions o;
  std::string e;
  ASSERT_TRUE(parse({"sync", "--output", "x", "-q", "--dry-run", "--no-verify", "--ignore",
                     "--json", "a", "b"},
                    &o, &e))
      << e;
  EXPECT_EQ(o.output, "x");
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.dryRun);
  EXPECT_FALSE(o.verify);
  EXPECT_EQ(o.settings.ignore, u"--json");  // a value, not the option
  EXPECT_FALSE(o.json);
  ASSERT_TRUE(parse({"compare", "--ignore", "--help"}, &o, &e));  // wins even as a value
  EXPECT_EQ(o.command, CliCommand::Help);
  EXPECT_FALSE(parse({"compare", "--project", "a.fwp", "--project", "b.fwp"}, &o, &e));
  EXPECT_EQ(e, "--project may be given once");
  // The first fault in the order given is the one named.
  EXPECT_FALSE(parse({"save-diff", "--split", "x", "--side", "left", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "--split takes a whole number of MiB");
  EXPECT_FALSE(parse({"compare", "--flags-trg", "-1", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "--flags-trg takes a mask from 0 to 0xFF, hexadecimal with 0x or decimal");
}

// Every option of the setting table: listed in the usage with its default, taken at the ends of
// its range and refused just outside them, into its own field (and the switch it turns on).
TEST(CliOptionsTest, EverySettingOptionIsParsedWithinItsRangeAndListed) {
  const std::string usage = cliUsage();
  for (const SettingEntry& e : settingTable()) {
    if (!e.option) continue;  // the Windows program's alone
    SCOPED_TRACE(e.option);
    EXPECT_NE(usage.find(std::string("  ") + e.option + " " + e.optionValue), std::string::npos);
    EXPECT_EQ(usage.find('{'), std::string::npos);  // every value filled in
    // --split goes with save-diff, the safety net's with sync; a mask is given after both masks
    // are cleared, so that it never overlaps the other.
    auto parseWith = [&](const std::string& value, CliOptions* o, std::string* error) {
      if (e.turnsOn)
        return parse({"save-diff", "-o", "d.fwd", e.option, value.c_str(), "a", "b"}, o, error);
      return parse({"sync", "--flags-src", "0", "--flags-trg", "0", e.option, value.c_str(), "a",
                    "b"},
                   o, error);
    };
    CliOptions o;
    std::string error;
    if (e.text) {
      ASSERT_TRUE(parseWith("x;\xC3\xA9", &o, &error)) << error;
      EXPECT_EQ(o.settings.*e.text, u"x;\u00E9");
      continue;
    }
    if (std::string(e.help).find("{default}") != std::string::npos) {
      EXPECT_NE(usage.find("(default " + settingValueText(e, e.defaultNumber) + ")"),
                std::string::npos);
    }
    for (uint32_t v : {e.least, e.most}) {
      ASSERT_TRUE(parseWith(settingValueText(e, v), &o, &error)) << error;
      EXPECT_EQ(o.settings.*e.number, v);
      if (e.turnsOn) {
        EXPECT_EQ(o.settings.*e.turnsOn, 1u);
      }
    }
    if (e.most < UINT32_MAX) {
      EXPECT_FALSE(parseWith(std::to_string(uint64_t{e.most} + 1), &o, &error));
      EXPECT_NE(error.find(e.option), std::string::npos) << error;
    }
    EXPECT_FALSE(parseWith(std::to_string(int64_t{e.least} - 1), &o, &error));
    EXPECT_FALSE(parseWith("", &o, &error));
  }
  // The ranges themselves, as the messages give them.
  CliOptions o;
  std::string e;
  EXPECT_FALSE(parse({"compare", "--ignore-time-shift", "25", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "--ignore-time-shift takes a whole number from 0 to 24");
  EXPECT_FALSE(parse({"sync", "--mass-delete-percent", "101", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "--mass-delete-percent takes a whole number from 0 to 100");
  EXPECT_FALSE(parse({"save-diff", "--split", "2147483647", "-o", "d.fwd", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "--split takes a whole number of MiB");
}

TEST(CliOptionsTest, UsageErrors) {
  CliOptions o;
  std::string e;
  EXPECT_FALSE(parse({}, &o, &e));
  EXPECT_FALSE(parse({"frobnicate"}, &o, &e));
  EXPECT_FALSE(parse({"compare"}, &o, &e));           // no sides
  EXPECT_FALSE(parse({"compare", "only-one"}, &o, &e));
  EXPECT_FALSE(parse({"compare", "--bogus", "a", "b"}, &o, &e));
  EXPECT_FALSE(parse({"compare", "--source"}, &o, &e));
  EXPECT_FALSE(parse({"roots"}, &o, &e));
  ASSERT_TRUE(parse({"roots", "p.fwp"}, &o, &e));
  EXPECT_EQ(o.file, "p.fwp");
  ASSERT_TRUE(parse({"compare", "--help"}, &o, &e));
  EXPECT_EQ(o.command, CliCommand::Help);
  ASSERT_TRUE(parse({"--version"}, &o, &e));
  EXPECT_EQ(o.command, CliCommand::Version);
}

TEST(CliOptionsTest, LogFileBelongsToASyncThatRuns) {
  CliOptions o;
  std::string e;
  ASSERT_TRUE(parse({"sync", "--log-file", "run.log", "a", "b"}, &o, &e)) << e;
  EXPECT_EQ(o.logFile, "run.log");
  EXPECT_FALSE(parse({"sync", "--dry-run", "--log-file", "run.log", "a", "b"}, &o, &e));
  EXPECT_EQ(e, "--log-file belongs to sync, without --dry-run");
  EXPECT_FALSE(parse({"save-diff", "--log-file", "run.log", "-o", "d.fwd", "a", "b"}, &o, &e));
  EXPECT_FALSE(parse({"sync", "a", "b", "--log-file"}, &o, &e));  // no FILE
}

}  // namespace
}  // namespace fw
