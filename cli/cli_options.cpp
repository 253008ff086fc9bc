#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fw_version.h"

namespace fw {

const char* cliUsage() {
  return "Usage: ferrywick-cli COMMAND [OPTIONS] [SOURCE TARGET]\n"
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
         "Options:\n"
         "  --flags-src MASK   categories the source wins (default 0xD8)\n"
         "  --flags-trg MASK   categories the target wins (default 0x24)\n"
         "                     0x08 only in source, 0x04 only in target, 0x10 newer in source,\n"
         "                     0x20 newer in target, 0xC0 other difference\n"
         "  --mirror           make the target like the source (--flags-src 0xFC --flags-trg 0)\n"
         "  --ignore LIST      names to leave out, ';'-separated, '*' wildcard (default thumbs.db)\n"
         "  --split MIB        save-diff: volumes of MIB MiB\n"
         "  -o FILE            save-state, save-diff: the file to write\n"
         "  --side source|target   save-state: which side (default source)\n"
         "  --dry-run          sync: show what would be done, change nothing\n"
         "  --no-verify        accepted, no effect: a difference is checked as it is applied\n"
         "  --ignore-time-shift H  files of equal size whose times differ by 1 to H whole hours\n"
         "                     (0 to 24; FAT drives, daylight saving) count as unchanged\n"
         "\n"
         "Safety net (sync):\n"
         "  --backup-dir DIR   move every file the sync deletes or replaces into DIR, under its\n"
         "                     path below its root, as 'name YYYY-MM-DD HHMMSS.ext'\n"
         "  --allow-mass-delete  sync even when it deletes more than the limits below\n"
         "  --mass-delete-percent N  a side of a row losing more than N% of its files needs\n"
         "                     --allow-mass-delete (default 50)\n"
         "  --mass-delete-files N    so do more than N deleted files in all (default 1000)\n"
         "  --json             one JSON object per line\n"
         "  --quiet            no entry lines, no progress\n"
         "  --help, --version\n"
         "\n"
         "Exit status: 0 success (compare: nothing to do), 1 compare found actions or sync had\n"
         "failures, 2 the operation failed, 64 usage error.\n";
}

const char* cliVersion() { return "ferrywick-cli " FW_VERSION_TEXT; }

namespace {

// ---- Parsing: argv to a record. Each option's handler turns its text into the field it sets
// and refuses a value that field cannot hold; which options go together is checked afterwards.

using OptionHandler = bool (*)(CliOptions& o, const std::string& name, const std::string& value,
                               std::string* error);

struct OptionEntry {
  const char* name;
  const char* alias;  // nullptr when there is none
  bool takesValue;
  OptionHandler apply;
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

template <uint32_t CliOptions::*Field>
bool setMask(CliOptions& o, const std::string& name, const std::string& value,
             std::string* error) {
  errno = 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(value.c_str(), &end, 0);
  if (errno || value.empty() || *end || v > 0xFF || value[0] == '-') {
    *error = name + " takes a mask from 0 to 0xFF, hexadecimal with 0x or decimal";
    return false;
  }
  o.*Field = static_cast<uint32_t>(v);
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

bool setMirror(CliOptions& o, const std::string&, const std::string&, std::string*) {
  o.flagsSrc = 0xFC;
  o.flagsTrg = 0;
  return true;
}

bool setSplit(CliOptions& o, const std::string&, const std::string& value, std::string* error) {
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(value.c_str(), &end, 10);
  if (errno || value.empty() || *end || n > 2147483646) {
    *error = "--split takes a whole number of MiB";
    return false;
  }
  if (n < 1) {
    *error = "The split limit is too small, must be at least 1 MB!";
    return false;
  }
  o.split = true;
  o.splitMiB = static_cast<int32_t>(n);
  return true;
}

// A whole number from 0 to most, for the field.
template <uint32_t CliOptions::*Field, uint32_t Most>
bool setCount(CliOptions& o, const std::string& name, const std::string& value,
              std::string* error) {
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(value.c_str(), &end, 10);
  if (errno || value.empty() || *end || value[0] == '-' || v > Most) {
    *error = name + " takes a whole number from 0 to " + std::to_string(Most);
    return false;
  }
  o.*Field = static_cast<uint32_t>(v);
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

// Every option but --help and --version, which win wherever they stand. A new option is a field
// in CliOptions, a line here (a handler above, or setFlag/setText for the plain kinds), a line in
// cliUsage() and, where it goes with some commands only, a rule in validate().
const OptionEntry kOptions[] = {
    {"--source", nullptr, true, addText<&CliOptions::sources>},
    {"--target", nullptr, true, addText<&CliOptions::targets>},
    {"--project", nullptr, true, setProject},
    {"--flags-src", nullptr, true, setMask<&CliOptions::flagsSrc>},
    {"--flags-trg", nullptr, true, setMask<&CliOptions::flagsTrg>},
    {"--mirror", nullptr, false, setMirror},
    {"--ignore", nullptr, true, setText<&CliOptions::ignore>},
    {"--split", nullptr, true, setSplit},
    {"-o", "--output", true, setText<&CliOptions::output>},
    {"--side", nullptr, true, setSide},
    {"--dry-run", nullptr, false, setFlag<&CliOptions::dryRun, true>},
    {"--no-verify", nullptr, false, setFlag<&CliOptions::verify, false>},
    {"--json", nullptr, false, setFlag<&CliOptions::json, true>},
    {"--quiet", "-q", false, setFlag<&CliOptions::quiet, true>},
    {"--ignore-time-shift", nullptr, true, setCount<&CliOptions::timeShiftHours, 24>},
    {"--backup-dir", nullptr, true, setText<&CliOptions::backupDir>},
    {"--allow-mass-delete", nullptr, false, setFlag<&CliOptions::allowMassDelete, true>},
    {"--mass-delete-percent", nullptr, true, setCount<&CliOptions::massDeletePercent, 100>},
    {"--mass-delete-files", nullptr, true,
     setCount<&CliOptions::massDeleteFiles, 0xFFFFFFFFu>},
};

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
    if (const OptionEntry* option = findOption(a)) {
      std::string value;
      if (option->takesValue) {
        if (i + 1 >= argc) {
          *error = "option " + a + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      if (!option->apply(*o, a, value, error)) return false;
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
  if (o->flagsSrc & o->flagsTrg) {
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
  if (o->split && o->command != CliCommand::SaveDiff) {
    *error = "--split belongs to save-diff";
    return false;
  }
  if (o->command != CliCommand::Sync &&
      (!o->backupDir.empty() || o->allowMassDelete)) {
    *error = "--backup-dir and --allow-mass-delete belong to sync";
    return false;
  }
  return true;
}

}  // namespace

bool parseCliOptions(int argc, const char* const* argv, CliOptions* o, std::string* error) {
  *o = CliOptions{};
  o->command = helpOrVersion(argc, argv);
  if (o->command != CliCommand::None) return true;
  std::vector<std::string> positional;
  return parseArgs(argc, argv, o, &positional, error) && validate(positional, o, error);
}

}  // namespace fw
