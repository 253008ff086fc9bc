// Generated tree pairs shaped like real disks, synced directly and through saved files, with
// the promises checked after every run:
//   (a) after a sync without failures the same comparison finds nothing to do;
//   (b) nothing outside the two roots changed;
//   (c) nothing that could not be read, or could not be paired, was changed on either side;
//   (d) every file afterwards holds one of the contents that existed before (none is torn).
// The mix: case-only differences, case twins (where the file system has them), a file against
// a folder, dot-files, read-only and hidden files, empty folders, times at the 2-second edge,
// unreadable folders (through a failing Fs), missing roots, links to folders and files inside
// and outside the roots, dangling links and FIFOs (POSIX).
// FW_PROPERTY_CASES sets the number of tree pairs; FW_PROPERTY_SEED the first seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/file_header.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/wine.h"
#include "sync/sync_test_support.h"
#include "sync/task.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fw {
namespace {

namespace stdfs = std::filesystem;

#ifdef _WIN32
constexpr bool kPosix = false;
#else
constexpr bool kPosix = true;
#endif
constexpr bool kSpecialEntries = true;

// One entry as found on disk, for comparing before and after.
struct Seen {
  char kind;  // 'f' file, 'd' folder, 'l' link, 'p' FIFO
  std::string content;
  bool operator==(const Seen&) const = default;
};
using Snapshot = std::map<std::string, Seen>;  // by path below the case's folder, '/'-joined

std::string readAll(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Snapshot snapshot(const stdfs::path& base) {
  Snapshot out;
  std::error_code ec;
  for (auto it = stdfs::recursive_directory_iterator(base, ec);
       it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string rel = stdfs::relative(it->path(), base).generic_string();
    stdfs::file_status st = it->symlink_status();
    if (stdfs::is_symlink(st)) out[rel] = {'l', stdfs::read_symlink(it->path()).string()};
    else if (stdfs::is_directory(st)) out[rel] = {'d', ""};
    else if (stdfs::is_regular_file(st)) out[rel] = {'f', readAll(it->path())};
    else out[rel] = {'p', ""};
  }
  return out;
}

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed), seed_(seed) {}
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  bool chance(int percent) { return pick(100) < percent; }

  // Fills one folder level on both sides; sides[k] empty where that side has no such folder.
  void fill(const stdfs::path sides[2], int depth) {
    static const char* kNames[] = {"a",    "b.txt",  "Doc",     "doc",  "DOC",     ".profile",
                                   "kind", "x.h",    "X.h",     "sub",  "locked",  "empty",
                                   "lnk",  "Notes.md", "notes.MD", "z"};
    int count = 2 + pick(5);
    std::set<std::string> used;
    for (int i = 0; i < count; ++i) {
      std::string name = kNames[pick(static_cast<int>(std::size(kNames)))];
      if (!used.insert(name).second) continue;
      for (int s = 0; s < 2; ++s)
        if (!sides[s].empty() && !kPosix && holdsOtherSpelling(sides[s], name)) goto next;
      {
        stdfs::path made[2];
        for (int s = 0; s < 2; ++s) {
          if (sides[s].empty()) continue;
          made[s] = makeEntry(sides[s] / name, name, depth);
        }
        if (depth < 2 && (!made[0].empty() || !made[1].empty())) {
          stdfs::path below[2];
          for (int s = 0; s < 2; ++s)
            if (!made[s].empty() && stdfs::is_directory(stdfs::symlink_status(made[s])))
              below[s] = made[s];
          if (!below[0].empty() || !below[1].empty()) fill(below, depth + 1);
        }
      }
    next:;
    }
  }

  stdfs::path outside;

 private:
  static bool holdsOtherSpelling(const stdfs::path& folder, const std::string& name) {
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(folder, ec)) {
      std::string n = e.path().filename().string();
      if (n.size() == name.size() && n != name &&
          std::equal(n.begin(), n.end(), name.begin(),
                     [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        return true;
    }
    return false;
  }

  // Makes what one side has under this name; returns the path of a folder to fill, or of a
  // file, or "" for nothing.
  stdfs::path makeEntry(const stdfs::path& path, const std::string& name, int depth) {
    int kind = pick(100);
    if (kind < 25) return {};
    if (name == "locked" || name == "empty" || (kind < 45 && depth < 2)) {
      stdfs::create_directory(path);
      return name == "empty" ? stdfs::path() : path;
    }
#ifndef _WIN32
    if (kSpecialEntries && (name == "lnk" || kind < 52)) {
      static const char* kTargets[] = {"dir", "file.txt", "missing", "."};
      std::string to = kTargets[pick(4)];
      stdfs::path target = to == "." ? path.parent_path() : outside / to;
      symlink(target.c_str(), path.c_str());
      return {};
    }
    if (kSpecialEntries && kind < 55) {
      mkfifo(path.c_str(), 0644);
      return {};
    }
#endif
    // Versions: few, so that both sides often hold the same bytes.
    std::string content = "v" + std::to_string(pick(3)) + "-" + std::to_string(seed_ % 7);
    if (chance(20)) content += std::string(70000 + pick(3) * 10, 'x');
    writeFile(stdfs::path(path).u16string(), content);
    static const int64_t kShifts[] = {0, 0, 0, 10000000, 20000000, 20000001, 30000000,
                                      36000000000LL};
    uint64_t t = kT + static_cast<uint64_t>(kShifts[pick(8)]);
    setModified(stdfs::path(path).u16string(), t);
    uint32_t a = attr::Archive;
    if (chance(8)) a |= attr::ReadOnly;
    if (chance(15)) a |= attr::Hidden;
    systemFs().setAttributes(stdfs::path(path).u16string().c_str(), a);
    return path;
  }

  std::mt19937 rng_;
  uint32_t seed_;
};

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

class SyncPropertyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    faults_.failPath(FsOp::FindFirst, nativeLocked(), FsStatus::AccessDenied);
  }
  static std::u16string nativeLocked() {
    return std::u16string(1, kPathSeparator) + u"locked" + kPathSeparator + u"*";
  }

  // A comparison of the case's two sides as the task runner makes it, marked with masks.
  Rc compare(TaskState& s, uint32_t flagsSrc, uint32_t flagsTrg) {
    s.fs = &faults_;
    s.settings.flagsSrc = flagsSrc;
    s.settings.flagsTrg = flagsTrg;
    Rc rc = runTask(TaskId::Compare, s);
    if (rc == Rc::Ok) mark(s.firstRoot, flagsSrc, flagsTrg);
    return rc;
  }
  static void setSide(TaskState& s, int side, SideKind kind, const stdfs::path& where) {
    s.kind[side] = kind;
    SideInput& in = s.inputs[side][static_cast<int>(kind)];
    if (kind == SideKind::FileSystem) {
      in.roots = {where.u16string()};
    } else {
      in.savedFile = where.u16string();
      in.roots = {u"r"};
    }
  }
  static bool nothingToDo(TaskState& s, uint32_t flagsSrc, uint32_t flagsTrg) {
    FileNode top{};
    top.flags = Folder;
    top.children = s.firstRoot;
    markTree(&top, makeMarkMasks(flagsSrc, flagsTrg, 0), nullptr);
    for (int k = 0; k < 2; ++k)
      if (top.counts[k].filesAdd + top.counts[k].filesModify + top.counts[k].filesDelete) return false;
    return true;
  }
  static uint32_t failedFiles(const TaskState& s) {
    return valueOf(s.failedStats.addedFiles) + valueOf(s.failedStats.modifiedFiles) +
           valueOf(s.failedStats.deletedFiles);
  }
  // The paths below which nothing may change: what could not be read and what could not be
  // paired, on both sides.
  static std::vector<std::string> untouchable(TaskState& s) {
    std::vector<std::string> out;
    for (const UnlistedFolder& u : unlistedFolders(s.firstRoot))
      out.push_back(stdfs::path(u.path).generic_string());
    for (const std::u16string& c : conflictingEntries(s.firstRoot))
      out.push_back(stdfs::path(c).generic_string());
    return out;
  }

  // Checks (b), (c), (d) between two snapshots of the case folder.
  void checkPromises(const Snapshot& before, const Snapshot& after,
                     const std::vector<std::string>& kept, const char* how) {
    std::set<std::string> contents;
    for (const auto& [path, seen] : before)
      if (seen.kind == 'f') contents.insert(seen.content);
    auto under = [](const std::string& path, const std::string& top) {
      return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
                             path[top.size()] == '/');
    };
    for (const auto& [path, seen] : after) {
      if (seen.kind == 'f' && !under(path, "outside")) {
        EXPECT_TRUE(contents.count(seen.content)) << how << ": torn or foreign file " << path;
      }
    }
    for (const auto* snap : {&before, &after}) {
      for (const auto& [path, seen] : *snap) {
        bool fixed = under(path, "outside") || seen.kind == 'p';
        for (const std::string& k : kept)
          for (const char* side : {"src/", "trg/"})
            if (under(path, side + k)) fixed = true;
        if (!fixed) continue;
        auto a = before.find(path);
        auto b = after.find(path);
        bool same = a != before.end() && b != after.end() && a->second == b->second;
        EXPECT_TRUE(same) << how << ": " << path << " changed: "
                          << (a == before.end() ? '-' : a->second.kind) << " to "
                          << (b == after.end() ? '-' : b->second.kind);
      }
    }
  }

  FaultFs faults_{systemFs()};
};

TEST_F(SyncPropertyTest, GeneratedTreePairsKeepEveryPromiseDirectlyAndThroughSavedFiles) {
  int cases = envInt("FW_PROPERTY_CASES", runningUnderWine() ? 30 : 120);
  uint32_t first = static_cast<uint32_t>(envInt("FW_PROPERTY_SEED", 1));
  for (uint32_t seed = first; seed < first + static_cast<uint32_t>(cases); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    stdfs::path base(dir.path());
    Generator gen(seed);
    gen.outside = base / "outside";
    stdfs::create_directories(gen.outside / "dir");
    writeFile((gen.outside / "dir" / "precious.txt").u16string(), "outside bytes");
    writeFile((gen.outside / "file.txt").u16string(), "outside file");
    stdfs::path src = base / "src", trg = base / "trg";
    bool missing[2] = {gen.chance(6), gen.chance(6)};
    stdfs::path sides[2];
    if (!missing[0]) stdfs::create_directory(sides[0] = src);
    if (!missing[1]) stdfs::create_directory(sides[1] = trg);
    gen.fill(sides, 0);
    bool mirror = gen.chance(50);
    uint32_t flagsSrc = mirror ? kMirror : kDefaultFlagsSrc;
    uint32_t flagsTrg = mirror ? 0 : kDefaultFlagsTrg;
    const char* how = mirror ? "mirror" : "default";

    // Straight from folder to folder.
    {
      Snapshot before = snapshot(base);
      if (std::getenv("FW_PROPERTY_SHOW"))
        for (const auto& [p, e] : before) std::printf("%c %s\n", e.kind, p.c_str());
      TaskState s;
      setSide(s, 0, SideKind::FileSystem, src);
      setSide(s, 1, SideKind::FileSystem, trg);
      ASSERT_EQ(compare(s, flagsSrc, flagsTrg), Rc::Ok);
      std::vector<std::string> kept = untouchable(s);
      ASSERT_EQ(runTask(TaskId::Sync, s), Rc::Ok);
      checkPromises(before, snapshot(base), kept, how);
      if (failedFiles(s) == 0) {
        ASSERT_EQ(compare(s, flagsSrc, flagsTrg), Rc::Ok);
        EXPECT_TRUE(nothingToDo(s, flagsSrc, flagsTrg)) << how << ": a second sync has work";
      }
    }
    if (::testing::Test::HasFailure()) return;

    // Through saved files, as between two machines: the target's state, the source's
    // difference against it, applied to the target.
    {
      for (const char* name : {"src/n.txt", "trg/n.txt"})
        if (stdfs::is_directory(base / stdfs::path(name).parent_path()) && gen.chance(50))
          writeFile((base / name).u16string(), std::string("second round ") + name);
      stdfs::path state = base / "t.fws", diff = base / "d.fwd";
      Snapshot before = snapshot(base);
      TaskState a;
      setSide(a, 0, SideKind::FileSystem, src);
      setSide(a, 1, SideKind::FileSystem, trg);
      ASSERT_EQ(compare(a, kMirror, 0), Rc::Ok);
      std::vector<std::string> kept = untouchable(a);
      a.saveFileName = state.u16string();
      Rc saved = runTask(TaskId::SaveTargetState, a);
      if (saved != Rc::Ok) {
        EXPECT_FALSE(stdfs::exists(state)) << "a refused save wrote a file";
        continue;
      }
      TaskState b;
      setSide(b, 0, SideKind::FileSystem, src);
      setSide(b, 1, SideKind::SavedState, state);
      ASSERT_EQ(compare(b, kMirror, 0), Rc::Ok);
      b.saveFileName = diff.u16string();
      b.settings.split = gen.chance(30);
      b.settings.splitSize = 1;
      if (runTask(TaskId::SaveDifference, b) != Rc::Ok) {
        EXPECT_FALSE(stdfs::exists(diff)) << "a refused save wrote a file";
        continue;
      }
      TaskState c;
      setSide(c, 0, SideKind::SavedDifference, diff);
      setSide(c, 1, SideKind::FileSystem, trg);
      ASSERT_EQ(compare(c, kMirror, 0), Rc::Ok);
      ASSERT_EQ(runTask(TaskId::Sync, c), Rc::Ok);
      Snapshot after = snapshot(base);
      for (Snapshot* snap : {&before, &after})
        for (auto it = snap->begin(); it != snap->end();)
          it = it->first.find(".fw") != std::string::npos ? snap->erase(it) : std::next(it);
      checkPromises(before, after, kept, "through saved files");
      if (failedFiles(c) == 0) {
        TaskState d;
        setSide(d, 0, SideKind::FileSystem, src);
        setSide(d, 1, SideKind::FileSystem, trg);
        ASSERT_EQ(compare(d, kMirror, 0), Rc::Ok);
        EXPECT_TRUE(nothingToDo(d, kMirror, 0)) << "through saved files: the target differs";
      }
    }
    if (::testing::Test::HasFailure()) return;
  }
}

// A FaultFs that says whether it may be used by several threads: a sync then copies its files
// on threads of their own, or all in the walk. Its faults go by path, so they strike the same
// files whatever the order of the calls.
class ThreadedFaultFs : public FaultFs {
 public:
  ThreadedFaultFs(Fs& base, bool concurrent) : FaultFs(base), concurrent_(concurrent) {}
  bool concurrentUse() const override { return concurrent_; }

 private:
  bool concurrent_;
};

// What a run leaves and reports, with the case folder's path taken out.
struct RunResult {
  Snapshot after;
  std::vector<uint64_t> tallies;
  std::vector<std::string> failures;
  bool operator==(const RunResult&) const = default;
};

RunResult syncGenerated(uint32_t seed, bool concurrent) {
  TempDir dir;
  stdfs::path base(dir.path());
  Generator gen(seed);
  gen.outside = base / "outside";
  stdfs::create_directories(gen.outside / "dir");
  stdfs::path sides[2] = {base / "src", base / "trg"};
  for (const stdfs::path& side : sides) stdfs::create_directory(side);
  gen.fill(sides, 0);
  ThreadedFaultFs fs(systemFs(), concurrent);
  fs.failPath(FsOp::FindFirst, u"locked", FsStatus::AccessDenied);
  fs.failPath(FsOp::Create, u"x.h", FsStatus::AccessDenied);  // copies that fail, named
  fs.failPath(FsOp::Rename, u"Notes.md", FsStatus::AccessDenied);
  TaskState s;
  s.fs = &fs;
  bool mirror = gen.chance(50);
  s.settings.flagsSrc = mirror ? kMirror : kDefaultFlagsSrc;
  s.settings.flagsTrg = mirror ? 0 : kDefaultFlagsTrg;
  for (int side = 0; side < 2; ++side) {
    s.kind[side] = SideKind::FileSystem;
    s.inputs[side][static_cast<int>(SideKind::FileSystem)].roots = {sides[side].u16string()};
  }
  RunResult r;
  if (runTask(TaskId::Compare, s) != Rc::Ok) return r;
  mark(s.firstRoot, s.settings.flagsSrc, s.settings.flagsTrg);
  if (runTask(TaskId::Sync, s) != Rc::Ok) return r;
  const std::string prefix = base.string();
  auto strip = [&](std::string text) {
    for (size_t at; (at = text.find(prefix)) != std::string::npos;) text.erase(at, prefix.size());
    return text;
  };
  for (auto& [path, seen] : snapshot(base)) r.after[path] = {seen.kind, strip(seen.content)};
  for (const SyncStats* st : {&s.okStats, &s.failedStats})
    r.tallies.insert(r.tallies.end(),
                     {valueOf(st->untouchedFiles), valueOf(st->addedFiles),
                      valueOf(st->modifiedFiles), valueOf(st->deletedFiles),
                      valueOf(st->untouchedBytes), valueOf(st->addedBytes),
                      valueOf(st->deletedBytes)});
  for (const EntryFailure& f : s.failures)
    r.failures.push_back(strip(stdfs::path(f.path).string()) + ": " + f.reason);
  return r;
}

// Files copied on threads of their own leave the same trees, the same tallies and the same
// failures, named in the same order, as a sync that copies them one after another.
TEST(ThreadedCopyTest, GeneratedTreePairsEndAsASyncOnOneThreadLeavesThem) {
  int cases = envInt("FW_PROPERTY_CASES", runningUnderWine() ? 10 : 30);
  int withFailures = 0;
  for (uint32_t seed = 1; seed <= static_cast<uint32_t>(cases); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RunResult alone = syncGenerated(seed, false);
    RunResult threaded = syncGenerated(seed, true);
    ASSERT_FALSE(alone.after.empty());
    EXPECT_EQ(threaded.after, alone.after);
    EXPECT_EQ(threaded.tallies, alone.tallies);
    EXPECT_EQ(threaded.failures, alone.failures);
    if (!alone.failures.empty()) ++withFailures;
  }
  EXPECT_GT(withFailures, cases / 4);  // the cases do reach the copies that fail
}

}  // namespace
}  // namespace fw
