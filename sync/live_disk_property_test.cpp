// Generated tree pairs on a disk that other programs go on changing: between the comparison
// and the sync a mutator edits, deletes, creates and retimes random files on both sides, swaps
// a folder for a link to a folder outside both (where the system makes such links), and it
// writes into a file while the sync copies it. After every sync:
//   (a) no version that existed when the sync began is lost, unless the comparison told the
//       sync to replace or delete exactly that version (an entry it saw and nobody touched);
//   (b) every entry the mutator touched is as the mutator left it, and named by the run when
//       the sync was to act on it (on itself, or on a folder above it);
//   (c) every file holds a version that existed (none is torn);
//   (d) nothing outside the two folders changed, and nothing of it was read into them;
//   (e) a second comparison and sync, with nobody writing, end with nothing left to do.
// FW_PROPERTY_CASES sets the number of tree pairs; FW_PROPERTY_SEED the first seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/entry_action.h"
#include "core/sibling_tree.h"
#include "platform/testing/wine.h"
#include "sync/sync_test_support.h"
#include "sync/task.h"

namespace fw {
namespace {

namespace stdfs = std::filesystem;

#ifdef _WIN32
constexpr bool kPosixBuild = false;
#else
constexpr bool kPosixBuild = true;
#endif

// Every file below base by its '/'-joined path ("src/a/b.txt"), with its content; folders
// with the content "/", links with kLinkContent.
using Files = std::map<std::string, std::string>;
constexpr const char* kLinkContent = "->";

std::string readAll(const stdfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

Files snapshot(const stdfs::path& base,
               std::initializer_list<const char*> folders = {"src", "trg"}) {
  Files out;
  for (const char* side : folders) {
    std::error_code ec;
    for (auto it = stdfs::recursive_directory_iterator(base / side, ec);
         it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      std::string rel = it->path().lexically_relative(base).generic_string();
      if (stdfs::is_symlink(it->symlink_status()))
        out[rel] = kLinkContent;
      else
        out[rel] = stdfs::is_directory(it->symlink_status()) ? "/" : readAll(it->path());
    }
  }
  return out;
}

// The same '/'-joined path on the other side ("src/a" for "trg/a").
std::string twinOf(const std::string& path) {
  return (path.compare(0, 3, "src") == 0 ? "trg" : "src") + path.substr(3);
}

// Whether path lies below folder (not at it).
bool isBelow(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// Writes into the file a copy reads, at the nth read of the run: the same size, other bytes,
// the old time put back, as another program would. Everything else is forwarded.
class WriteWhileReadFs : public ForwardingFs {
 public:
  WriteWhileReadFs(Fs& base, int nth) : ForwardingFs(base), nth_(nth) {}
  FsStatus openRead(const char16_t* p, FileHandle* f) override {
    FsStatus s = base_.openRead(p, f);
    if (s == FsStatus::Ok) open_[*f] = p;
    return s;
  }
  void close(FileHandle f) override {
    open_.erase(f);
    base_.close(f);
  }
  FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override {
    if (--nth_ == 0 && open_.count(f)) {
      const std::u16string& path = open_[f];
      FileHandle h;
      FsStatus s = base_.openRead(path.c_str(), &h);
      uint64_t modified = 0;
      if (s == FsStatus::Ok) {
        base_.getFileTime(h, &modified);
        base_.close(h);
        std::string now = readFile(path);
        for (char& c : now) c = static_cast<char>(c ^ 0x20);
        writeFile(path, now);
        setModified(path, modified);
        written = path;
        content = now;
      }
    }
    return base_.read(f, b, n, got);
  }
  std::u16string written;  // the file written into, if any
  std::string content;     // what it holds since

 private:
  int nth_;
  std::map<FileHandle, std::u16string> open_;
};

class LiveDiskCase {
 public:
  LiveDiskCase(uint32_t seed, const stdfs::path& base) : rng_(seed), seed_(seed), base_(base) {}
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  bool chance(int percent) { return pick(100) < percent; }

  // Fills one level of both sides. A name is a folder on both sides or on neither, so that no
  // file stands against a folder.
  void fill(const std::string& rel, int depth) {
    static const char* kNames[] = {"a.txt", "b", "c.md", "d", "e.bin", "f", "g.txt"};
    for (const char* name : kNames) {
      if (!chance(45)) continue;
      std::string path = rel.empty() ? name : rel + "/" + name;
      bool folder = depth < 2 && (name[0] == 'b' || name[0] == 'd');
      bool on[2] = {chance(75), chance(75)};
      for (int s = 0; s < 2; ++s) {
        if (!on[s]) continue;
        stdfs::path p = (base_ / kSide[s] / path).make_preferred();
        if (!stdfs::is_directory(p.parent_path())) continue;  // the folder is not on this side
        if (folder) {
          stdfs::create_directories(p);
        } else {
          std::string content = "v" + std::to_string(pick(3)) + " " + path;
          if (chance(15)) content += std::string(70000, static_cast<char>('a' + pick(3)));
          writeFile(p.u16string(), content);
          static const uint64_t kTimes[] = {kT, kT, kT + kHour, kT + 2 * kHour};
          setModified(p.u16string(), kTimes[pick(4)]);
        }
      }
      if (folder) fill(path, depth + 1);
    }
  }

  // Edits, deletes, creates and retimes a few files on either side; returns the touched paths.
  std::set<std::string> mutate() {
    std::set<std::string> touched;
    Files now = snapshot(base_);
    std::vector<std::string> files, folders = {"src", "trg"};
    for (const auto& [path, content] : now) (content == "/" ? folders : files).push_back(path);
    int count = pick(5);
    for (int i = 0; i < count; ++i) {
      int what = pick(4);
      if (what == 2 || files.empty()) {  // a new file in some folder
        std::string path = folders[pick(static_cast<int>(folders.size()))] + "/new" +
                           std::to_string(i) + ".txt";
        if (now.count(path)) continue;
        writeAt((base_ / path).make_preferred().u16string(), "created " + std::to_string(seed_),
                kT);
        touched.insert(path);
        continue;
      }
      const std::string& path = files[pick(static_cast<int>(files.size()))];
      if (touched.count(path)) continue;
      std::u16string p = (base_ / path).make_preferred().u16string();
      if (what == 0) writeAt(p, "edited " + std::to_string(i) + " " + path, kT + 3 * kHour);
      else if (what == 1) stdfs::remove(p);
      else setModified(p, kT + 5 * kHour + static_cast<uint64_t>(i));
      touched.insert(path);
    }
    // Last, as no later change may reach through it: a folder below a root moved away (to
    // away/, beside the roots) and a link to outside/ put in its place.
    if (swapFolders_ && folders.size() > 2 && chance(40)) {
      const std::string& path = folders[2 + pick(static_cast<int>(folders.size()) - 2)];
      std::error_code ec;
      stdfs::rename(base_ / path, base_ / "away", ec);
      if (!ec) {
        stdfs::create_directory_symlink(base_ / "outside", base_ / path, ec);
        if (!ec) {
          swapped = path;
          touched.insert(path);
        }
      }
    }
    return touched;
  }

  // Where links to folders can be made, outside/ beside the roots with a few files, for the
  // mutator to swap a folder for a link to it.
  void allowFolderSwaps() {
    swapFolders_ = true;
    stdfs::create_directories(base_ / "outside" / "d");
    writeFile((base_ / "outside" / "secret.txt").u16string(), "outside secret");
    writeFile((base_ / "outside" / "d" / "g.txt").u16string(), "outside g");
    setModified((base_ / "outside" / "secret.txt").u16string(), kT);
  }
  std::string swapped;  // the folder swapped for a link, if any

  static constexpr const char* kSide[2] = {"src", "trg"};

 private:
  std::mt19937 rng_;
  uint32_t seed_;
  stdfs::path base_;
  bool swapFolders_ = false;
};

class LiveDiskPropertyTest : public ::testing::Test {
 protected:
  static Rc compare(TaskState& s, Fs& fs, uint32_t flagsSrc, uint32_t flagsTrg) {
    s.fs = &fs;
    s.settings.flagsSrc = flagsSrc;
    s.settings.flagsTrg = flagsTrg;
    Rc rc = runTask(TaskId::Compare, s);
    if (rc == Rc::Ok) mark(s.firstRoot, flagsSrc, flagsTrg);
    return rc;
  }
  static bool nothingToDo(TaskState& s) {
    FileNode top{};
    top.flags = Folder;
    top.children = s.firstRoot;
    markTree(&top, makeMarkMasks(s.settings.flagsSrc, s.settings.flagsTrg, 0), nullptr);
    for (int k = 0; k < 2; ++k)
      if (top.counts[k].filesAdd + top.counts[k].filesModify + top.counts[k].filesDelete)
        return false;
    return true;
  }
  // The node of a '/'-joined path below a side ("src/a/b.txt"), or null.
  static const FileNode* nodeOf(const TaskState& s, const std::string& path) {
    const FileNode* n = s.firstRoot;
    size_t start = path.find('/') + 1;
    while (n && start != 0 && start <= path.size()) {
      size_t end = path.find('/', start);
      std::string name = path.substr(start, end == std::string::npos ? end : end - start);
      n = findNode(n->children, toUtf16(name).c_str());
      start = end == std::string::npos ? 0 : end + 1;
    }
    return n;
  }
};

TEST_F(LiveDiskPropertyTest, ChangesMadeAfterTheComparisonAreNeverLostAndAlwaysNamed) {
  int cases = envInt("FW_PROPERTY_CASES", runningUnderWine() ? 30 : 200);
  uint32_t first = static_cast<uint32_t>(envInt("FW_PROPERTY_SEED", 1));
  int namedCases = 0, writtenWhileRead = 0, swappedFolders = 0;
  for (uint32_t seed = first; seed < first + static_cast<uint32_t>(cases); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    stdfs::path base(dir.path());
    stdfs::create_directory(base / "src");
    stdfs::create_directory(base / "trg");
    LiveDiskCase gen(seed, base);
    gen.fill("", 0);
    if (kPosixBuild && !runningUnderWine()) gen.allowFolderSwaps();
    const Files outside = snapshot(base, {"outside"});
    bool mirror = gen.chance(50);
    uint32_t flagsSrc = mirror ? kMirror : kDefaultFlagsSrc;
    uint32_t flagsTrg = mirror ? 0 : kDefaultFlagsTrg;

    TaskState s;
    s.kind[0] = s.kind[1] = SideKind::FileSystem;
    s.inputs[0][0].roots = {(base / "src").u16string()};
    s.inputs[1][0].roots = {(base / "trg").u16string()};
    ASSERT_EQ(compare(s, systemFs(), flagsSrc, flagsTrg), Rc::Ok);
    const Files compared = snapshot(base);
    std::set<std::string> touched = gen.mutate();
    Files before = snapshot(base);  // what the sync meets
    // Windows lets nobody write a file open for reading; there the write is left out.
    WriteWhileReadFs fs(systemFs(), runningUnderWine() || !kPosixBuild ? 0 : 1 + gen.pick(6));
    s.fs = &fs;
    ASSERT_EQ(runTask(TaskId::Sync, s), Rc::Ok);
    std::string duringCopy;
    if (!fs.written.empty()) {
      duringCopy = stdfs::path(fs.written).lexically_relative(base).generic_string();
      before[duringCopy] = fs.content;
      touched.insert(duringCopy);
      ++writtenWhileRead;
    }
    Files after = snapshot(base);
    if (!gen.swapped.empty()) ++swappedFolders;
    MarkMasks masks = makeMarkMasks(flagsSrc, flagsTrg, 0);
    std::set<std::string> named;
    for (const EntryFailure& f : s.failures)
      named.insert(stdfs::path(f.path).lexically_relative(base).generic_string());
    if (!named.empty()) ++namedCases;

    // What the sync was told to do at path's side, by the node the comparison made.
    auto toldTo = [&](const std::string& path) {
      const FileNode* n = nodeOf(s, path);
      if (!n) return EntryAction{};
      EntryAction a = actionOf(n, masks);
      int side = path.compare(0, 3, "src") == 0 ? 0 : 1;
      return a.changes == side ? a : EntryAction{};
    };
    // Whether the sync was to act on the file at path: change it, copy it to the other side,
    // or delete a folder above it.
    auto involved = [&](const std::string& path) {
      if (const FileNode* n = nodeOf(s, path)) {
        EntryAction a = actionOf(n, masks);
        if (toldTo(path).what != EntryChange::None || a.what == EntryChange::Add ||
            a.what == EntryChange::Replace)
          return true;
      }
      for (std::string p = path.substr(0, path.rfind('/')); p.find('/') != std::string::npos;
           p.erase(p.rfind('/')))
        if (toldTo(p).what == EntryChange::Delete) return true;
      return false;
    };
    // Whether the entry, or a folder above it, is named, on either side: a copy whose source
    // and destination both changed names the one it looked at first.
    auto namedAtOrAbove = [&](const std::string& path) {
      for (std::string p = path; p.find('/') != std::string::npos; p.erase(p.rfind('/'))) {
        if (named.count(p) || named.count(twinOf(p))) return true;
      }
      return false;
    };
    // A file created after the comparison in a folder to be deleted keeps the folders above it:
    // named are they, or an entry in the outermost of them that stayed for the same reason.
    auto explained = [&](const std::string& path) {
      if (namedAtOrAbove(path)) return true;
      if (compared.count(path)) return false;
      std::string top;
      for (std::string p = path.substr(0, path.rfind('/')); p.find('/') != std::string::npos;
           p.erase(p.rfind('/')))
        if (toldTo(p).what == EntryChange::Delete) top = p;
      for (const std::string& n : named)
        if (!top.empty() && (n == top || isBelow(n, top))) return true;
      return false;
    };
    // (a) and (b), file by file.
    std::set<std::string> versions;
    for (const Files* f : {&compared, static_cast<const Files*>(&before)})
      for (const auto& [path, content] : *f) versions.insert(content);
    // A name at, above or below path, on either side.
    auto namedAround = [&](const std::string& path) {
      if (namedAtOrAbove(path)) return true;
      for (const std::string& n : named)
        if (isBelow(n, path) || isBelow(twinOf(n), path)) return true;
      return false;
    };
    for (const auto& [path, content] : before) {
      if (content == "/") continue;
      if (path == gen.swapped) {
        // The link stays, and if the sync was to act on anything the folder held (or on its
        // twin's entries through it), what it left alone is named.
        EXPECT_EQ(after.count(path) ? after.at(path) : "", kLinkContent)
            << path << ": the link put in a folder's place was not left alone";
        bool acted = involved(path);
        for (const auto& [was, c] : compared)
          for (const std::string& w : {was, twinOf(was)})
            if (isBelow(w, path) && involved(w)) acted = true;
        if (acted) {
          EXPECT_TRUE(namedAround(path)) << path << ": swapped for a link, not named";
        }
        continue;
      }
      auto now = after.find(path);
      bool kept = now != after.end() && now->second == content;
      if (touched.count(path)) {
        EXPECT_TRUE(kept) << path << ": touched after the comparison, yet changed by the sync";
        if (involved(path)) {
          EXPECT_TRUE(explained(path)) << path << ": left alone without a word";
        }
        continue;
      }
      if (kept) continue;
      // Changed by the sync: only as it was told, from the version compared.
      bool inFolderToDelete = false;
      for (std::string p = path.substr(0, path.rfind('/')); p.find('/') != std::string::npos;
           p.erase(p.rfind('/')))
        if (toldTo(p).what == EntryChange::Delete) inFolderToDelete = true;
      EXPECT_TRUE(toldTo(path).what != EntryChange::None || inFolderToDelete)
          << path << ": lost without being told to";
    }
    // Created after the comparison inside a folder the sync was to delete: still there, and
    // the folder (or an entry on the way to it) named.
    for (const std::string& path : touched) {
      if (compared.count(path) || !before.count(path)) continue;
      EXPECT_TRUE(after.count(path)) << path << ": created after the comparison, then lost";
      if (involved(path)) {
        EXPECT_TRUE(explained(path)) << path << ": not named";
      }
    }
    // (c)
    for (const auto& [path, content] : after)
      EXPECT_TRUE(versions.count(content)) << path << ": torn or foreign content";
    // (d)
    EXPECT_EQ(snapshot(base, {"outside"}), outside) << "a folder outside both was changed";
    if (!duringCopy.empty()) {
      EXPECT_TRUE(named.count(duringCopy)) << duringCopy << ": written while copied, not named";
    }
    if (::testing::Test::HasFailure()) {
      for (const std::string& t : touched) std::printf("touched %s\n", t.c_str());
      for (const std::string& n : named) std::printf("named %s\n", n.c_str());
      return;
    }

    // (e) Nobody writes now: a second comparison and sync put the sides in step (the link
    // gone, as a link to a folder is never entered).
    if (!gen.swapped.empty()) stdfs::remove(base / gen.swapped);
    TaskState again;
    again.kind[0] = again.kind[1] = SideKind::FileSystem;
    again.inputs[0][0].roots = s.inputs[0][0].roots;
    again.inputs[1][0].roots = s.inputs[1][0].roots;
    ASSERT_EQ(compare(again, systemFs(), flagsSrc, flagsTrg), Rc::Ok);
    ASSERT_EQ(runTask(TaskId::Sync, again), Rc::Ok);
    for (const EntryFailure& f : again.failures)
      ADD_FAILURE() << "second run: " << toUtf8(f.path) << ": " << f.reason;
    ASSERT_EQ(compare(again, systemFs(), flagsSrc, flagsTrg), Rc::Ok);
    EXPECT_TRUE(nothingToDo(again)) << (mirror ? "mirror" : "default") << ": sides differ";
    if (::testing::Test::HasFailure()) return;
  }
  // The cases do reach what they are about.
  EXPECT_GT(namedCases, cases / 5);
  if (kPosixBuild && !runningUnderWine()) {
    EXPECT_GT(writtenWhileRead, cases / 5);
    EXPECT_GT(swappedFolders, cases / 10);
  }
}

}  // namespace
}  // namespace fw
