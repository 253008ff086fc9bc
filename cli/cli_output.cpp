#include "cli/cli_output.h"

#include <cstdio>

#include "cli/entry_report.h"
#include "cli/json.h"
#include "core/comparison.h"
#include "core/format_size.h"
#include "platform/text.h"

namespace fw {
namespace {

std::string sideJson(const SideInfo& s) {
  return "{\"size\":" + std::to_string(s.size) + ",\"modified\":" + std::to_string(s.modified) +
         ",\"attributes\":" + std::to_string(s.attributes) + "}";
}

void printEntry(const CliOptions& options, const EntryRow& e, bool manyRows) {
  const FileNode* n = e.node;
  // An entry of a saved difference that this side's ignore list leaves out: no part of a sync.
  const char* action = (n->flags & Ignored) ? "ignored" : actionName(e.action);
  if (options.json) {
    std::string flags = "\"" + categoryNames(n->flags, "\",\"") + "\"";
    std::printf(
        "{\"row\":%zu,\"path\":%s,\"kind\":\"%s\",\"flags\":[%s],\"excluded\":%s,"
        "\"action\":\"%s\",\"changes\":%s,\"source\":%s,\"target\":%s}\n",
        e.row, jsonString(e.path).c_str(), isFolder(n) ? "folder" : "file", flags.c_str(),
        (n->flags & Excluded) ? "true" : "false", action,
        e.action.changes < 0 ? "null" : e.action.changes == 0 ? "\"source\"" : "\"target\"",
        e.onSource ? sideJson(n->side[0]).c_str() : "null",
        e.onTarget ? sideJson(n->side[1]).c_str() : "null");
    return;
  }
  const char* where = e.action.changes < 0 ? "" : e.action.changes == 0 ? "source" : "target";
  std::string path = e.path;
  if (isFolder(n)) path += '/';
  if (manyRows) path = "[" + std::to_string(e.row) + "] " + path;
  std::printf("%-7s %-7s %-30s %s\n", action, where,
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

std::string statsJson(const SyncStats& s) {
  return "{\"untouchedFiles\":" + std::to_string(valueOf(s.untouchedFiles)) +
         ",\"addedFiles\":" + std::to_string(valueOf(s.addedFiles)) +
         ",\"modifiedFiles\":" + std::to_string(valueOf(s.modifiedFiles)) +
         ",\"deletedFiles\":" + std::to_string(valueOf(s.deletedFiles)) +
         ",\"untouchedBytes\":" + std::to_string(valueOf(s.untouchedBytes)) +
         ",\"addedBytes\":" + std::to_string(valueOf(s.addedBytes)) +
         ",\"deletedBytes\":" + std::to_string(valueOf(s.deletedBytes)) + "}";
}

}  // namespace

void reportFailure(const CliOptions& options, Rc rc, const std::string& message) {
  if (options.json)
    std::printf("{\"result\":\"%s\",\"message\":%s}\n", rc == Rc::Ok ? "Cancelled" : rcName(rc),
                jsonString(message).c_str());
  if (rc == Rc::Ok) std::fprintf(stderr, "ferrywick-cli: %s\n", message.c_str());
  else std::fprintf(stderr, "ferrywick-cli: %s (%s)\n", message.c_str(), rcName(rc));
}

void reportResult(const CliOptions& options) {
  if (options.json) std::printf("{\"result\":\"Ok\"}\n");
}

bool reportEntries(const CliOptions& options, FileNode* roots) {
  bool anyAction = false;
  bool manyRows = roots && roots->link[1];
  const SyncSettings& s = options.settings;
  forEachCategorizedEntry(roots, s.flagsSrc, s.flagsTrg, [&](const EntryRow& e) {
    // A Conflict is left alone, but the trees are not in step: as much to do as an action.
    if (e.action.changes >= 0 || e.action.what == EntryChange::Conflict) anyAction = true;
    if (!options.quiet || options.json) printEntry(options, e, manyRows);
  });
  // The counts of the marking pass that the comparison ran with these masks.
  FileNode top{};
  top.flags = Folder;
  top.children = roots;
  markTree(&top, makeMarkMasks(s.flagsSrc, s.flagsTrg, 0), nullptr);
  const SideCounts* c = top.counts;
  if (options.json) {
    std::printf("{\"totals\":{\"source\":%s,\"target\":%s}}\n", countsJson(c[0]).c_str(),
                countsJson(c[1]).c_str());
  } else {
    const char* names[2] = {"Source", "Target"};
    for (int s = 0; s < 2; ++s)
      std::printf("%s: %u files, %s; add %u (%s), modify %u, delete %u (%s)\n", names[s],
                  c[s].filesExisting, formatSize(c[s].bytesExisting).c_str(), c[s].filesAdd,
                  formatSize(c[s].bytesAdd).c_str(), c[s].filesModify, c[s].filesDelete,
                  formatSize(c[s].bytesDelete).c_str());
  }
  return anyAction;
}

std::string failureLine(const EntryFailure& f) {
  return "failed: " + toUtf8Escaped(f.path) + ": " + f.reason;
}

std::string failureJson(const EntryFailure& f) {
  return "{\"failed\":" + jsonString(toUtf8Escaped(f.path)) + ",\"reason\":" +
         jsonString(f.reason) + ",\"status\":\"" + fsStatusWord(f.status) +
         "\",\"osError\":" + std::to_string(f.osError) + "}";
}

void reportStats(const CliOptions& options, const SyncStats& ok, const SyncStats& failed,
                 const FailureLog* failures, size_t leftOut) {
  if (failures) {
    for (const EntryFailure& f : *failures) {
      std::fprintf(stderr, "ferrywick-cli: %s\n", failureLine(f).c_str());
      if (options.json) std::printf("%s\n", failureJson(f).c_str());
    }
  }
  bool whole = !anyFailure(failed) && leftOut == 0;
  if (options.json) {
    std::printf("{\"result\":\"%s\",\"ok\":%s,\"failed\":%s,\"leftOut\":%zu}\n",
                whole ? "Ok" : "Incomplete", statsJson(ok).c_str(), statsJson(failed).c_str(),
                leftOut);
    return;
  }
  std::printf("                     Ok     Failed\n");
  std::printf("Untouched files: %10u\n", valueOf(ok.untouchedFiles));
  std::printf("Added files:     %10u %10u\n", valueOf(ok.addedFiles), valueOf(failed.addedFiles));
  std::printf("Modified files:  %10u %10u\n", valueOf(ok.modifiedFiles),
              valueOf(failed.modifiedFiles));
  std::printf("Deleted files:   %10u %10u\n", valueOf(ok.deletedFiles),
              valueOf(failed.deletedFiles));
  std::printf("Untouched bytes: %10s\n", formatSize(valueOf(ok.untouchedBytes)).c_str());
  std::printf("Added bytes:     %10s %10s\n", formatSize(valueOf(ok.addedBytes)).c_str(),
              formatSize(valueOf(failed.addedBytes)).c_str());
  std::printf("Deleted bytes:   %10s %10s\n", formatSize(valueOf(ok.deletedBytes)).c_str(),
              formatSize(valueOf(failed.deletedBytes)).c_str());
}

bool anyFailure(const SyncStats& f) {
  return valueOf(f.addedFiles) || valueOf(f.modifiedFiles) || valueOf(f.deletedFiles) ||
         valueOf(f.addedBytes) || valueOf(f.deletedBytes);
}

void printProjectRow(const CliOptions& options, size_t row, const FolderPair& pair) {
  if (options.json)
    std::printf("{\"row\":%zu,\"source\":%s,\"target\":%s}\n", row,
                jsonString(toUtf8Escaped(pair.source)).c_str(),
                jsonString(toUtf8Escaped(pair.target)).c_str());
  else
    std::printf("%s\t%s\n", toUtf8Escaped(pair.source).c_str(),
                toUtf8Escaped(pair.target).c_str());
}

void printRootName(const CliOptions& options, size_t row, const std::u16string& name) {
  if (options.json)
    std::printf("{\"row\":%zu,\"root\":%s}\n", row, jsonString(toUtf8Escaped(name)).c_str());
  else
    std::printf("%s\n", toUtf8Escaped(name).c_str());
}

void reportCheck(const CliOptions& options, const DifferenceCheck& check) {
  if (options.json) {
    std::printf("{\"result\":\"Ok\",\"roots\":%u,\"volumes\":%u,\"entries\":%llu,\"bytes\":%llu}\n",
                check.roots, check.volumes, static_cast<unsigned long long>(check.dataEntries),
                static_cast<unsigned long long>(check.bytes));
    return;
  }
  std::printf("whole: %u root(s), %u volume(s), %llu data entries, %s of contents\n",
              check.roots, check.volumes, static_cast<unsigned long long>(check.dataEntries),
              formatSize(check.bytes).c_str());
}

}  // namespace fw
