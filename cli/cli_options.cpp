#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "core/file_node.h"
#include "fw_version.h"
#include "platform/text.h"
#include "sync/settings_table.h"

namespace fw {

namespace {

// ---- Parsing: argv to a record. Each option's handler turns its text into the field it sets
// and refuses a value that field cannot hold; which options go together is checked afterwards.
// The settings' options are those of the setting table, parsed by their kind (setSetting); the
// table here holds the tool's own.

using OptionHandler = bool (*)(CliOptions& o, const std::string& name, const std::string& value,
                               std::string* error);

struct OptionEntry {
  const char* name;
  const char* alias;  // nullptr when there is none
  const char* value;  // what the usage text calls its value; nullptr when it takes none
  OptionHandler apply;
  SettingGroup group;  // where the usage text lists it
  const char* help;    // its line there ("{mirror}": the masks of --mirror); nullptr: listed apart
};

template <bool CliOptions::*Field, bool Value>
bool setFlag(CliOptions& o, const std::string&, const std::string&, std::string*) {
  o.*Field = Value;
  return true;
}

template <std::string CliOptions::*Field>
bool setText(CliOptions& o, const std::string&, const std::string& value, std::string*) {
  o.*Field = value;
  return true;
}

template <std::vector<std::string> CliOptions::*Field>
bool addText(CliOptions& o, const std::string&, const std::string& value, std::string*) {
  (o.*Field).push_back(value);
  return true;
}

bool setProject(CliOptions& o, const std::string&, const std::string& value, std::string* error) {
  if (!o.project.empty()) {
    *error = "--project may be given once";
    return false;
  }
  o.project = value;
  return true;
}

// --mirror: every category to the source.
constexpr uint32_t kMirrorSrc = kCategoryBits;
constexpr uint32_t kMirrorTrg = 0;

bool setMirror(CliOptions& o, const std::string&, const std::string&, std::string*) {
  o.settings.flagsSrc = kMirrorSrc;
  o.settings.flagsTrg = kMirrorTrg;
  return true;
}

bool setSide(CliOptions& o, const std::string&, const std::string& value, std::string* error) {
  if (value != "source" && value != "target") {
    *error = "--side is source or target";
    return false;
  }
  o.side = value == "target" ? 1 : 0;
  return true;
}

// Every option of the tool's own but --help and --version, which win wherever they stand, in
// the order of the usage text (after the settings of their group). A new option is a field in
// CliOptions, a line here (a handler above, or setFlag/setText for the plain kinds) and, where
// it goes with some commands only, a rule in validate(); a new setting is an entry of the
// setting table instead.
const OptionEntry kOptions[] = {
    {"--source", nullptr, "PATH", addText<&CliOptions::sources>, SettingGroup::Options, nullptr},
    {"--target", nullptr, "PATH", addText<&CliOptions::targets>, SettingGroup::Options, nullptr},
    {"--project", nullptr, "FILE", setProject, SettingGroup::Options, nullptr},
    {"--mirror", nullptr, nullptr, setMirror, SettingGroup::Options,
     "make the target like the source ({mirror})"},
    {"-o", "--output", "FILE", setText<&CliOptions::output>, SettingGroup::Options,
     "save-state, save-diff: the file to write"},
    {"--side", nullptr, "source|target", setSide, SettingGroup::Options,
     "save-state: which side (default source)"},
    {"--log-file", nullptr, "FILE", setText<&CliOptions::logFile>, SettingGroup::Options,
     "sync: write a log of every entry done or failed, and the totals, to FILE"},
    {"--dry-run", nullptr, nullptr, setFlag<&CliOptions::dryRun, true>, SettingGroup::Options,
     "sync: show what would be done, change nothing"},
    {"--no-verify", nullptr, nullptr, setFlag<&CliOptions::verify, false>, SettingGroup::Options,
     "accepted, no effect: a difference is checked as it is applied"},
    {"--json", nullptr, nullptr, setFlag<&CliOptions::json, true>, SettingGroup::Options,
     "one JSON object per line"},
    {"--quiet", "-q", nullptr, setFlag<&CliOptions::quiet, true>, SettingGroup::Options,
     "no entry lines, no progress"},
    {"--allow-mass-delete", nullptr, nullptr, setFlag<&CliOptions::allowMassDelete, true>,
     SettingGroup::SafetyNet, "sync even when it deletes more than the limits above"},
};

// A setting's option: its value by the setting's kind into its field of o.settings.
bool setSetting(CliOptions& o, const SettingEntry& e, const std::string& name,
                const std::string& value, std::string* error) {
  char* end = nullptr;
  errno = 0;
  switch (e.kind) {
    case SettingKind::Mask: {
      unsigned long v = std::strtoul(value.c_str(), &end, 0);
      if (errno || value.empty() || *end || v < e.least || v > e.most || value[0] == '-') {
        *error = name + " takes a mask from " + settingValueText(e, e.least) + " to " +
                 settingValueText(e, e.most) + ", hexadecimal with 0x or decimal";
        return false;
      }
      o.settings.*e.number = static_cast<uint32_t>(v);
      break;
    }
    case SettingKind::Count: {
      unsigned long long v = std::strtoull(value.c_str(), &end, 10);
      if (errno || value.empty() || *end || value[0] == '-' || v < e.least || v > e.most) {
        *error = name + " takes a whole number from " + settingValueText(e, e.least) + " to " +
                 settingValueText(e, e.most);
        return false;
      }
      o.settings.*e.number = static_cast<uint32_t>(v);
      break;
    }
    case SettingKind::VolumeSize: {
      long n = std::strtol(value.c_str(), &end, 10);
      if (errno || value.empty() || *end || n > static_cast<long>(e.most)) {
        *error = name + " takes a whole number of MiB";
        return false;
      }
      if (n < static_cast<long>(e.least)) {
        *error = volumeSizeTooSmallText();
        return false;
      }
      o.settings.*e.number = static_cast<uint32_t>(n);
      break;
    }
    case SettingKind::Text:
      o.settings.*e.text = toUtf16Escaped(value);
      break;
  }
  if (e.turnsOn) o.settings.*e.turnsOn = 1;
  return true;
}

const OptionEntry* findOption(const std::string& word) {
  for (const OptionEntry& option : kOptions) {
    if (word == option.name || (option.alias && word == option.alias)) return &option;
  }
  return nullptr;
}

CliCommand commandOf(const std::string& word) {
  if (word == "compare") return CliCommand::Compare;
  if (word == "sync") return CliCommand::Sync;
  if (word == "save-state") return CliCommand::SaveState;
  if (word == "save-diff") return CliCommand::SaveDiff;
  if (word == "save-project") return CliCommand::SaveProject;
  if (word == "roots") return CliCommand::Roots;
  if (word == "verify") return CliCommand::Verify;
  return CliCommand::None;
}

// --help or --version anywhere, even where an option's value is expected.
CliCommand helpOrVersion(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") return CliCommand::Help;
    if (a == "--version") return CliCommand::Version;
  }
  return CliCommand::None;
}

// Fills *o from argv: the command, every option, and the words after the command in
// *positional. Stops at the first word it cannot take.
bool parseArgs(int argc, const char* const* argv, CliOptions* o,
               std::vector<std::string>* positional, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const OptionEntry* option = findOption(a);
    const SettingEntry* setting = option ? nullptr : settingForOption(a);
    if (option || setting) {
      std::string value;
      if (setting || option->value) {
        if (i + 1 >= argc) {
          *error = "option " + a + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      if (option ? !option->apply(*o, a, value, error) : !setSetting(*o, *setting, a, value, error))
        return false;
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (o->command == CliCommand::None) {
      o->command = commandOf(a);
      if (o->command == CliCommand::None) {
        *error = "unknown command " + a;
        return false;
      }
    } else {
      positional->push_back(a);
    }
  }
  return true;
}

// ---- Validation: what the parsed record may hold together.

bool needsOutput(CliCommand c) {
  return c == CliCommand::SaveState || c == CliCommand::SaveDiff ||
         c == CliCommand::SaveProject;
}

// roots FILE and verify FILE: one word, no sides.
bool takeFile(const std::vector<std::string>& positional, CliOptions* o, std::string* error) {
  if (positional.size() != 1 || !o->sources.empty() || !o->targets.empty()) {
    *error = std::string(o->command == CliCommand::Roots ? "roots" : "verify") +
             " takes exactly one FILE";
    return false;
  }
  o->file = positional[0];
  return true;
}

// SOURCE TARGET after the command add one row; save-state also takes SOURCE alone.
bool takeSides(const std::vector<std::string>& positional, CliOptions* o, std::string* error) {
  if (positional.size() == 2) {
    o->sources.push_back(positional[0]);
    o->targets.push_back(positional[1]);
  } else if (positional.size() == 1 && o->command == CliCommand::SaveState) {
    o->sources.push_back(positional[0]);  // the state of these folders alone
  } else if (!positional.empty()) {
    *error = "give SOURCE and TARGET together, or use --source and --target";
    return false;
  }
  if (o->sources.empty() && o->targets.empty() && o->project.empty()) {
    *error = "no sides given";
    return false;
  }
  return true;
}

bool validate(const std::vector<std::string>& positional, CliOptions* o, std::string* error) {
  if (o->command == CliCommand::None) {
    *error = "no command given";
    return false;
  }
  if (o->settings.flagsSrc & o->settings.flagsTrg) {
    *error = "a category cannot be in both --flags-src and --flags-trg";
    return false;
  }
  if (o->command == CliCommand::Roots || o->command == CliCommand::Verify) {
    return takeFile(positional, o, error);
  }
  if (!takeSides(positional, o, error)) return false;
  if (needsOutput(o->command) && o->output.empty()) {
    *error = "-o FILE is needed";
    return false;
  }
  if (o->settings.split && o->command != CliCommand::SaveDiff) {
    *error = "--split belongs to save-diff";
    return false;
  }
  if (o->command != CliCommand::Sync &&
      (!o->settings.backupDir.empty() || o->allowMassDelete)) {
    *error = "--backup-dir and --allow-mass-delete belong to sync";
    return false;
  }
  if (!o->logFile.empty() && (o->command != CliCommand::Sync || o->dryRun)) {
    *error = "--log-file belongs to sync, without --dry-run";
    return false;
  }
  return true;
}

// ---- The usage text.

// The column where an option's description starts, and where its further lines do.
constexpr size_t kHelpColumn = 21;

// text with every "{key}" of the pairs replaced by its value.
std::string filledIn(std::string text,
                     std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& [key, value] : values) {
    for (size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size()))
      text.replace(at, std::strlen(key), value);
  }
  return text;
}

// "  NAME VALUE" and the help from the column on (two blanks after a longer head), each further
// line of the help at the column.
void addUsageLines(std::string& out, const char* name, const char* value,
                   const std::string& help) {
  std::string head = std::string("  ") + name + (value ? std::string(" ") + value : "");
  head.append(head.size() + 2 > kHelpColumn ? 2 : kHelpColumn - head.size(), ' ');
  for (size_t start = 0;;) {
    const size_t end = help.find('\n', start);
    out += start == 0 ? head : std::string(kHelpColumn, ' ');
    out += help.substr(start, end == std::string::npos ? std::string::npos : end - start);
    out += '\n';
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

// The settings' options of a group, then the tool's own.
void addUsageGroup(std::string& out, SettingGroup group) {
  for (const SettingEntry& e : settingTable()) {
    if (!e.option || e.group != group) continue;
    const bool text = e.kind == SettingKind::Text;
    addUsageLines(
        out, e.option, e.optionValue,
        filledIn(e.help, {{"{default}", text ? toUtf8(e.defaultText)
                                             : settingValueText(e, e.defaultNumber)},
                          {"{least}", settingValueText(e, e.least)},
                          {"{most}", settingValueText(e, e.most)}}));
  }
  const SettingEntry& src = *settingOf(&SyncSettings::flagsSrc);
  const SettingEntry& trg = *settingOf(&SyncSettings::flagsTrg);
  const std::string mirror = std::string(src.option) + " " + settingValueText(src, kMirrorSrc) +
                             " " + trg.option + " " + settingValueText(trg, kMirrorTrg);
  for (const OptionEntry& option : kOptions) {
    if (option.help && option.group == group)
      addUsageLines(out, option.name, option.value, filledIn(option.help, {{"{mirror}", mirror}}));
  }
}

std::string usageText() {
  std::string out =
      "Usage: ferrywick-cli COMMAND [OPTIONS] [SOURCE TARGET]\n"
      "\n"
      "Commands:\n"
      "  compare      list every entry that differs, with its action, then the totals\n"
      "  sync         compare, then synchronise (source: folders or a saved difference)\n"
      "  save-state   compare, then save the state of --side to -o FILE.fws\n"
      "  save-diff    compare, then save the difference to -o FILE.fwd\n"
      "  save-project write the rows given with --source and --target to -o FILE.fwp\n"
      "  roots FILE   the root names stored in a project, state or difference file\n"
      "  verify FILE  check that a difference file and all its volumes are whole\n"
      "\n"
      "Sides:\n"
      "  --source PATH, --target PATH   a folder, or a saved state or difference file;\n"
      "                                 repeat for more rows (rows pair by position)\n"
      "  --project FILE.fwp             the rows of a project file\n"
      "\n"
      "Options:\n";
  addUsageGroup(out, SettingGroup::Options);
  out += "  --help, --version\n"
         "\n"
         "Safety net (sync):\n";
  addUsageGroup(out, SettingGroup::SafetyNet);
  out += "\n"
         "Exit status: 0 success (compare: nothing to do), 1 compare found actions or sync had\n"
         "failures, 2 the operation failed, 64 usage error.\n";
  return out;
}

}  // namespace

const char* cliUsage() {
  static const std::string text = usageText();
  return text.c_str();
}

const char* cliVersion() { return "ferrywick-cli " FW_VERSION_TEXT; }

bool parseCliOptions(int argc, const char* const* argv, CliOptions* o, std::string* error) {
  *o = CliOptions{};
  o->command = helpOrVersion(argc, argv);
  if (o->command != CliCommand::None) return true;
  std::vector<std::string> positional;
  return parseArgs(argc, argv, o, &positional, error) && validate(positional, o, error);
}

}  // namespace fw
