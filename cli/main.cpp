// ferrywick-cli: compare, sync, save and apply from scripts.
#include <cstdio>
#include <string>

#include "cli/cli_options.h"
#include "cli/entry_report.h"
#include "cli/json.h"
#include "core/comparison.h"
#include "core/format_size.h"
#include "platform/text.h"

namespace fw {
namespace {

constexpr int kExitUsage = 64;
constexpr int kExitFailed = 2;

struct Run {
  CliOptions options;
  SideInput source, target;
  NodePool pool;
  CancelFlag cancel{0};
  FileNode* roots = nullptr;
  std::u16string ignore;
};

int fail(const Run& run, Rc rc, const std::string& message) {
  if (run.options.json)
    std::printf("{\"result\":\"%s\",\"message\":%s}\n", rcName(rc), jsonString(message).c_str());
  std::fprintf(stderr, "ferrywick-cli: %s (%s)\n", message.c_str(), rcName(rc));
  return kExitFailed;
}

std::string sideJson(const SideInfo& s) {
  return "{\"size\":" + std::to_string(s.size) + ",\"modified\":" + std::to_string(s.modified) +
         ",\"attributes\":" + std::to_string(s.attributes) + "}";
}

void printEntry(const Run& run, const EntryRow& e) {
  const FileNode* n = e.node;
  if (run.options.json) {
    std::string flags = "\"" + categoryNames(n->flags, "\",\"") + "\"";
    std::printf(
        "{\"row\":%zu,\"path\":%s,\"kind\":\"%s\",\"flags\":[%s],\"excluded\":%s,"
        "\"action\":\"%s\",\"changes\":%s,\"source\":%s,\"target\":%s}\n",
        e.row, jsonString(e.path).c_str(), isFolder(n) ? "folder" : "file", flags.c_str(),
        (n->flags & Excluded) ? "true" : "false", actionName(e.action),
        e.changes < 0 ? "null" : e.changes == 0 ? "\"source\"" : "\"target\"",
        e.onSource ? sideJson(n->side[0]).c_str() : "null",
        e.onTarget ? sideJson(n->side[1]).c_str() : "null");
    return;
  }
  const char* where = e.changes < 0 ? "" : e.changes == 0 ? "source" : "target";
  std::string path = e.path + (isFolder(n) ? "/" : "");
  if (run.source.roots.size() > 1 || run.target.roots.size() > 1)
    path = "[" + std::to_string(e.row) + "] " + path;
  std::printf("%-7s %-7s %-30s %s\n", actionName(e.action), where,
              categoryNames(n->flags, ",").c_str(), path.c_str());
}

std::string countsJson(const SideCounts& c) {
  return "{\"filesExisting\":" + std::to_string(c.filesExisting) +
         ",\"filesAdd\":" + std::to_string(c.filesAdd) +
         ",\"filesModify\":" + std::to_string(c.filesModify) +
         ",\"filesDelete\":" + std::to_string(c.filesDelete) +
         ",\"bytesExisting\":" + std::to_string(c.bytesExisting) +
         ",\"bytesAdd\":" + std::to_string(c.bytesAdd) +
         ",\"bytesDelete\":" + std::to_string(c.bytesDelete) + "}";
}

void printTotals(const Run& run, const SideCounts* c) {
  if (run.options.json) {
    std::printf("{\"totals\":{\"source\":%s,\"target\":%s}}\n", countsJson(c[0]).c_str(),
                countsJson(c[1]).c_str());
    return;
  }
  const char* names[2] = {"Source", "Target"};
  for (int s = 0; s < 2; ++s)
    std::printf("%s: %u files, %s; add %u (%s), modify %u, delete %u (%s)\n", names[s],
                c[s].filesExisting, formatSize(c[s].bytesExisting).c_str(), c[s].filesAdd,
                formatSize(c[s].bytesAdd).c_str(), c[s].filesModify, c[s].filesDelete,
                formatSize(c[s].bytesDelete).c_str());
}

Rc runCompare(Run& run) {
  CompareContext ctx;
  ctx.fs = &systemFs();
  ctx.pool = &run.pool;
  ctx.ignoreList = run.ignore.c_str();
  ctx.cancel = &run.cancel;
  return compareSides(run.source.roots.empty() ? nullptr : &run.source,
                      run.target.roots.empty() ? nullptr : &run.target, &run.roots, ctx);
}

// Lists the entries and totals; returns whether any entry has an action.
bool report(Run& run) {
  bool anyAction = false;
  forEachCategorizedEntry(run.roots, run.options.flagsSrc, run.options.flagsTrg,
                          [&](const EntryRow& e) {
                            if (e.action != EntryAction::None) anyAction = true;
                            if (!run.options.quiet || run.options.json) printEntry(run, e);
                          });
  FileNode top{};
  top.flags = Folder;
  top.children = run.roots;
  markTree(&top, makeMarkMasks(run.options.flagsSrc, run.options.flagsTrg, 0), nullptr);
  printTotals(run, top.counts);
  return anyAction;
}

void warnAboutRoots(const Run& run) {
  for (int s = 0; s < 2; ++s) {
    const SideInput& side = s == 0 ? run.source : run.target;
    if (side.hasSavedFile()) continue;
    for (const std::u16string& root : side.roots) {
      uint32_t a;
      if (!root.empty() && systemFs().getAttributes(root.c_str(), &a) == FsStatus::NotFound)
        std::fprintf(stderr, "ferrywick-cli: warning: %s folder %s does not exist\n",
                     s == 0 ? "source" : "target", toUtf8Escaped(root).c_str());
    }
  }
  for (const UnlistedFolder& u : unlistedFolders(run.roots))
    std::fprintf(stderr,
                 "ferrywick-cli: warning: %s folder %s could not be read; the entries below it "
                 "are left alone\n",
                 u.side == 0 ? "source" : "target", toUtf8Escaped(u.path).c_str());
}

bool setUpSides(Run& run) {
  for (const std::string& s : run.options.sources) run.source.roots.push_back(toUtf16(s));
  for (const std::string& t : run.options.targets) run.target.roots.push_back(toUtf16(t));
  run.ignore = toUtf16(run.options.ignore);
  return true;
}

int main(int argc, char** argv) {
  Run run;
  std::string error;
  if (!parseCliOptions(argc, argv, &run.options, &error)) {
    std::fprintf(stderr, "ferrywick-cli: %s\nTry 'ferrywick-cli --help'.\n", error.c_str());
    return kExitUsage;
  }
  switch (run.options.command) {
    case CliCommand::Help: std::fputs(cliUsage(), stdout); return 0;
    case CliCommand::Version: std::puts(cliVersion()); return 0;
    default: break;
  }
  if (!setUpSides(run)) return kExitFailed;
  if (run.options.command != CliCommand::Compare)
    return fail(run, Rc::BadRequest, "this command is not available in this build yet");
  Rc rc = runCompare(run);
  if (rc != Rc::Ok) return fail(run, rc, "the comparison failed");
  warnAboutRoots(run);
  return report(run) ? 1 : 0;
}

}  // namespace
}  // namespace fw

int main(int argc, char** argv) { return fw::main(argc, argv); }
