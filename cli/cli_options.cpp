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
         "  --no-verify        sync: do not check a difference source before applying it\n"
         "  --json             one JSON object per line\n"
         "  --quiet            no entry lines, no progress\n"
         "  --help, --version\n"
         "\n"
         "Exit status: 0 success (compare: nothing to do), 1 compare found actions or sync had\n"
         "failures, 2 the operation failed, 64 usage error.\n";
}

const char* cliVersion() { return "ferrywick-cli " FW_VERSION_TEXT; }

namespace {

bool parseMask(const char* text, uint32_t* mask) {
  errno = 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 0);
  if (errno || !*text || *end || v > 0xFF || text[0] == '-') return false;
  *mask = static_cast<uint32_t>(v);
  return true;
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

}  // namespace

bool parseCliOptions(int argc, const char* const* argv, CliOptions* o, std::string* error) {
  *o = CliOptions{};
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      o->command = CliCommand::Help;
      return true;
    }
    if (a == "--version") {
      o->command = CliCommand::Version;
      return true;
    }
  }
  auto value = [&](int& i, const std::string& name, std::string* out) {
    if (i + 1 >= argc) {
      *error = "option " + name + " needs a value";
      return false;
    }
    *out = argv[++i];
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string v;
    if (a == "--source" || a == "--target") {
      if (!value(i, a, &v)) return false;
      (a == "--source" ? o->sources : o->targets).push_back(v);
    } else if (a == "--project") {
      if (!o->project.empty()) {
        *error = "--project may be given once";
        return false;
      }
      if (!value(i, a, &o->project)) return false;
    } else if (a == "--flags-src" || a == "--flags-trg") {
      if (!value(i, a, &v)) return false;
      if (!parseMask(v.c_str(), a == "--flags-src" ? &o->flagsSrc : &o->flagsTrg)) {
        *error = a + " takes a mask from 0 to 0xFF, hexadecimal with 0x or decimal";
        return false;
      }
    } else if (a == "--mirror") {
      o->flagsSrc = 0xFC;
      o->flagsTrg = 0;
    } else if (a == "--ignore") {
      if (!value(i, a, &o->ignore)) return false;
    } else if (a == "--split") {
      if (!value(i, a, &v)) return false;
      char* end = nullptr;
      errno = 0;
      long n = std::strtol(v.c_str(), &end, 10);
      if (errno || v.empty() || *end || n > 2147483646) {
        *error = "--split takes a whole number of MiB";
        return false;
      }
      if (n < 1) {
        *error = "The split limit is too small, must be at least 1 MB!";
        return false;
      }
      o->split = true;
      o->splitMiB = static_cast<int32_t>(n);
    } else if (a == "-o" || a == "--output") {
      if (!value(i, a, &o->output)) return false;
    } else if (a == "--side") {
      if (!value(i, a, &v)) return false;
      if (v != "source" && v != "target") {
        *error = "--side is source or target";
        return false;
      }
      o->side = v == "target" ? 1 : 0;
    } else if (a == "--dry-run") {
      o->dryRun = true;
    } else if (a == "--no-verify") {
      o->verify = false;
    } else if (a == "--json") {
      o->json = true;
    } else if (a == "--quiet" || a == "-q") {
      o->quiet = true;
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
      positional.push_back(a);
    }
  }
  if (o->command == CliCommand::None) {
    *error = "no command given";
    return false;
  }
  if (o->flagsSrc & o->flagsTrg) {
    *error = "a category cannot be in both --flags-src and --flags-trg";
    return false;
  }
  if (o->command == CliCommand::Roots || o->command == CliCommand::Verify) {
    if (positional.size() != 1 || !o->sources.empty() || !o->targets.empty()) {
      *error = std::string(o->command == CliCommand::Roots ? "roots" : "verify") +
               " takes exactly one FILE";
      return false;
    }
    o->file = positional[0];
    return true;
  }
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
  bool needsOutput = o->command == CliCommand::SaveState || o->command == CliCommand::SaveDiff ||
                     o->command == CliCommand::SaveProject;
  if (needsOutput && o->output.empty()) {
    *error = "-o FILE is needed";
    return false;
  }
  if (o->split && o->command != CliCommand::SaveDiff) {
    *error = "--split belongs to save-diff";
    return false;
  }
  return true;
}

}  // namespace fw
