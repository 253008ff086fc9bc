#include "fuzz/fuzz_entry.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "core/comparison.h"
#include "core/ignore_list.h"
#include "formats/compressed_writer.h"
#include "formats/difference_check.h"
#include "formats/project_file.h"
#include "formats/state_file.h"
#include "platform/text.h"

namespace fw {
namespace {

constexpr FileHandle kFirstMemoryHandle = FileHandle(1) << 40;
// Rows compared at most: a long list of root names is legal, but each row scans the folder.
constexpr size_t kMaxRows = 8;

// FW_FUZZ_VERBOSE set: each step's result on stderr, for looking at one input.
void note(const char* step, Rc rc) {
  static const bool verbose = std::getenv("FW_FUZZ_VERBOSE") != nullptr;
  if (verbose) std::fprintf(stderr, "%s: %s\n", step, rcName(rc));
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
  }
}

// A small real folder, made once per process and removed at its end.
struct RealFolder {
  std::u16string path;
  RealFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::random_device rd;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path dir = fs::temp_directory_path(ec) /
                   ("fwfuzz-" + std::to_string(stamp) + "-" + std::to_string(rd()));
    fs::create_directories(dir / "sub" / "deeper", ec);
    path = dir.u16string();
    Fs& sys = systemFs();
    const char* files[] = {"a", "B.txt", "thumbs.db", "sub/c", "sub/deeper/d", "x"};
    for (const char* f : files) {
      std::u16string p = path;
      for (const char* c = f; *c; ++c) {
        if (c == f || c[-1] == '/') p += kPathSeparator;
        if (*c != '/') p += static_cast<char16_t>(*c);
      }
      FileHandle h;
      if (sys.createAlways(p.c_str(), attr::Normal, &h) == FsStatus::Ok) {
        sys.write(h, f, static_cast<uint32_t>(std::strlen(f)));
        sys.close(h);
      }
    }
  }
  ~RealFolder() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(path), ec);
  }
};

const std::u16string& realFolder() {
  static RealFolder folder;
  return folder.path;
}

bool longestRootFits(const FileNode* roots) {
  for (const FileNode* r = roots; r; r = r->link[1])
    if (length16(r->name) > kMaxStoredName) return false;
  return true;
}

// Puts the volumes in input, separated by kVolumeMark, into fs under the names of a set whose
// first volume is `first`. Returns how many there are.
uint32_t putVolumes(MemoryFs& fs, const std::u16string& first, const std::string& input) {
  const size_t markLength = std::strlen(kVolumeMark);
  uint32_t volume = 0;
  for (size_t at = 0;; ++volume) {
    size_t mark = input.find(kVolumeMark, at);
    std::u16string name = volumeName(first, volume);
    if (mark == std::string::npos) {
      fs.files[name] = input.substr(at);
      return volume + 1;
    }
    fs.files[name] = input.substr(at, mark - at);
    at = mark + markLength;
  }
}

// Loads file as side `side` of a comparison against the real folder.
Rc compareAgainstFolder(MemoryFs& fs, const std::u16string& file, int side, NodePool& pool,
                        FileNode** roots) {
  SideInput saved;
  saved.savedFile = file;
  SideKind kind;
  if (readSavedRoots(fs, file.c_str(), &saved.roots, &kind) != Rc::Ok) saved.roots = {u"R"};
  if (saved.roots.size() > kMaxRows) saved.roots.resize(kMaxRows);
  SideInput folder;
  folder.roots.assign(saved.roots.size(), realFolder());
  CancelFlag cancel{0};
  CompareContext ctx;
  ctx.fs = &fs;
  ctx.pool = &pool;
  ctx.ignoreList = kDefaultIgnoreList;
  ctx.cancel = &cancel;
  SavedSides sides(ctx);
  return side == 0 ? compareSides(&saved, &folder, roots, ctx)
                   : compareSides(&folder, &saved, roots, ctx);
}

}  // namespace

// --- MemoryFs ----------------------------------------------------------------------------

MemoryFs::MemoryFs() : ForwardingFs(systemFs()), next_(kFirstMemoryHandle) {}

bool MemoryFs::isMemory(const char16_t* p) {
  return p && p[0] == u'm' && p[1] == u'e' && p[2] == u'm' && p[3] == u':';
}
bool MemoryFs::isMemoryHandle(FileHandle f) { return f >= kFirstMemoryHandle; }

FsStatus MemoryFs::openRead(const char16_t* p, FileHandle* f) {
  if (!isMemory(p)) return base_.openRead(p, f);
  if (!files.count(p)) return FsStatus::NotFound;
  *f = next_++;
  open_[*f] = Open{p, 0};
  return FsStatus::Ok;
}

FsStatus MemoryFs::createAlways(const char16_t* p, uint32_t a, FileHandle* f) {
  if (!isMemory(p)) return base_.createAlways(p, a, f);
  files[p].clear();
  *f = next_++;
  open_[*f] = Open{p, 0};
  return FsStatus::Ok;
}

FsStatus MemoryFs::read(FileHandle f, void* b, uint32_t n, uint32_t* got) {
  if (!isMemoryHandle(f)) return base_.read(f, b, n, got);
  Open& o = open_.at(f);
  const std::string& data = files[o.path];
  *got = 0;
  if (o.position < data.size()) {
    uint64_t left = data.size() - o.position;
    *got = static_cast<uint32_t>(left < n ? left : n);
    std::memcpy(b, data.data() + o.position, *got);
    o.position += *got;
  }
  return FsStatus::Ok;
}

FsStatus MemoryFs::write(FileHandle f, const void* d, uint32_t n) {
  if (!isMemoryHandle(f)) return base_.write(f, d, n);
  Open& o = open_.at(f);
  std::string& data = files[o.path];
  if (data.size() < o.position + n) data.resize(o.position + n);
  std::memcpy(&data[o.position], d, n);
  o.position += n;
  return FsStatus::Ok;
}

FsStatus MemoryFs::seek(FileHandle f, uint64_t offset) {
  if (!isMemoryHandle(f)) return base_.seek(f, offset);
  open_.at(f).position = offset;
  return FsStatus::Ok;
}

FsStatus MemoryFs::tell(FileHandle f, uint64_t* offset) {
  if (!isMemoryHandle(f)) return base_.tell(f, offset);
  *offset = open_.at(f).position;
  return FsStatus::Ok;
}

void MemoryFs::close(FileHandle f) {
  if (!isMemoryHandle(f)) return base_.close(f);
  check(open_.erase(f) == 1, "a memory file closed twice");
}

FsStatus MemoryFs::deleteFile(const char16_t* p) {
  if (!isMemory(p)) return base_.deleteFile(p);
  return files.erase(p) ? FsStatus::Ok : FsStatus::NotFound;
}

FsStatus MemoryFs::getAttributes(const char16_t* p, uint32_t* a) {
  if (!isMemory(p)) return base_.getAttributes(p, a);
  if (!files.count(p)) return FsStatus::NotFound;
  *a = attr::Normal;
  return FsStatus::Ok;
}

FsStatus MemoryFs::rename(const char16_t* from, const char16_t* to, bool replace) {
  if (!isMemory(from) && !isMemory(to)) return base_.rename(from, to, replace);
  if (!isMemory(from) || !isMemory(to)) return FsStatus::Unsupported;
  auto source = files.find(from);
  if (source == files.end()) return FsStatus::NotFound;
  if (!replace && files.count(to)) return FsStatus::Exists;
  std::string data = std::move(source->second);
  files.erase(source);
  files[to] = std::move(data);
  return FsStatus::Ok;
}

// --- Seeds -------------------------------------------------------------------------------

namespace {

const std::string z(1, '\0');

std::string le64(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
std::string file(const std::string& name, uint64_t t, uint64_t size, int attributes) {
  return name + z + le64(t) + le64(size) + std::string(1, static_cast<char>(attributes));
}
std::string folder(const std::string& name) { return name + z + std::string(17, '\0'); }

// A state or difference file of the given tree section (and data section for a difference).
std::string written(MemoryFs& fs, FileKind kind, const std::string& tree,
                    const std::string* data = nullptr) {
  const char16_t* path = kind == FileKind::StateFile ? u"mem:/s.fws" : u"mem:/d.fwd";
  std::unique_ptr<CompressedWriter> w;
  CompressedWriter::create(fs, kind, path, 0, kNoSplit, &w);
  w->openVolume();
  w->beginStream();
  w->writeBytes(tree.data(), tree.size());
  w->finishStream();
  w->recordTreeEnd();
  if (data) {
    w->beginStream();
    w->writeBytes(data->data(), data->size());
    w->finishStream();
  }
  w->closeVolume(true);
  w->commit();
  w.reset();
  return fs.files[path];
}

std::string u32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// The same difference as two volumes, cut inside its tree section's stream.
std::string split(const std::string& d, size_t cut) {
  size_t treeEnd = getU32(reinterpret_cast<const uint8_t*>(d.data()) + 15);
  std::string body = d.substr(19);
  std::string v0 = d.substr(0, 10) + u32(0) + std::string(1, '\0') + u32(0) + body.substr(0, cut);
  std::string v1 = d.substr(0, 10) + u32(1) + std::string(1, '\x03') +
                   u32(static_cast<uint32_t>(treeEnd - cut)) + body.substr(cut);
  return v0 + kVolumeMark + v1;
}

}  // namespace

std::vector<Seed> makeSeeds() {
  std::vector<Seed> seeds;
  auto put = [&](const char* target, const char* name, const std::string& bytes) {
    seeds.push_back(Seed{target, name, bytes});
  };
  MemoryFs fs;

  saveProject(fs, {u"A", u"C"}, {u"B", u""}, u"mem:/p.fwp");
  std::string project = fs.files[u"mem:/p.fwp"];
  put("string_list", "project", std::string(1, '\0') + project);
  put("string_list", "project-cut", std::string(1, '\0') + project.substr(0, project.size() - 6));
  saveProject(fs, {}, {}, u"mem:/p.fwp");
  put("string_list", "project-empty", std::string(1, '\0') + fs.files[u"mem:/p.fwp"]);
  {  // three strings: no two columns of the same length
    std::unique_ptr<CompressedWriter> w;
    CompressedWriter::create(fs, FileKind::ProjectFile, u"mem:/p.fwp", 0, kNoSplit, &w);
    w->openVolume();
    w->beginStream();
    const std::string odd = "a" + z + "b" + z + "c" + z + z;
    w->writeBytes(odd.data(), odd.size());
    w->finishStream();
    w->commit();
  }
  put("string_list", "project-odd", std::string(1, '\0') + fs.files[u"mem:/p.fwp"]);

  uint64_t t = 132500000000000000ull;
  std::string tree = "R" + z + " " + z + z +                                   // root names
                     file("a", t, 1, 1) + folder("sub") + file("c", t + 1, 5, 0) +
                     folder("new") + z + z + file("x", 0, 0, 2) + z + z +       // root R
                     file("only", t, 3, 8) + z;                                // root " "
  std::string data = u32(0) + "sub\\c" + z + "ccccc";
  std::string state = written(fs, FileKind::StateFile, tree);
  std::string diff = written(fs, FileKind::DifferenceFile, tree, &data);
  put("string_list", "state", std::string(1, '\1') + state);
  put("string_list", "difference", std::string(1, '\2') + diff);

  put("saved_side", "state-source", std::string(1, '\0') + state);
  put("saved_side", "state-target", std::string(1, '\1') + state);
  put("saved_side", "state-cut", std::string(1, '\0') + state.substr(0, state.size() - 10));
  put("saved_side", "difference-target", std::string(1, '\3') + diff);
  put("saved_side", "difference-split", std::string(1, '\2') + split(diff, 20));
  std::string odd = "R" + z + z + folder("Thumbs.db") + file("in", t, 1, 0) + z +
                    file("sub", t, 9, 0) + folder("a") + folder("deeper") + z + z +
                    file("B.TXT", t, 5, 0) + z;
  put("saved_side", "merge-kinds", std::string(1, '\1') + written(fs, FileKind::StateFile, odd));
  // Files no writer makes: a name twice in a folder (and its case twin, which is legal), a
  // stream whose checksum is wrong, a state left without its flags.
  std::string twice = "R" + z + z + file("a", t, 1, 0) + file("A", t, 1, 0) + folder("d") +
                      file("x", t, 2, 0) + file("x", t, 2, 0) + z + z;
  put("saved_side", "name-twice", std::string(1, '\0') + written(fs, FileKind::StateFile, twice));
  std::string flipped = state;
  flipped.back() = static_cast<char>(flipped.back() ^ 1);
  put("saved_side", "state-bad-checksum", std::string(1, '\1') + flipped);
  std::string unflagged = state;
  unflagged[14] = 0;
  put("saved_side", "state-unflagged", std::string(1, '\0') + unflagged);

  // Differences whose data sections are whole, or break one rule of the check each.
  const std::string c = u32(0) + "sub\\c" + z;
  auto difference = [&](const char* name, const std::string& section) {
    put("difference", name, std::string(1, '\0') + written(fs, FileKind::DifferenceFile, tree,
                                                              &section));
  };
  put("difference", "whole", std::string(1, '\0') + diff);
  put("difference", "split", std::string(1, '\0') + split(diff, 20));
  put("difference", "split-by-last-volume", std::string(1, '\1') + split(diff, 20));
  std::string firstVolume = split(diff, 20);
  put("difference", "first-volume-only",
      std::string(1, '\0') + firstVolume.substr(0, firstVolume.find(kVolumeMark)));
  put("difference", "data-cut", std::string(1, '\0') + diff.substr(0, diff.size() - 8));
  difference("no-data", "");
  difference("two-roots", c + "ccccc" + u32(0) + "sub\\new" + z + u32(1) + "only" + z + "ooo");
  difference("not-in-tree", u32(0) + "sub\\nowhere" + z);
  difference("twice", c + "ccccc" + c + "ccccc");
  difference("contents-short", c + "ccc");
  difference("contents-long", c + "ccccccc");
  difference("root-out-of-range", u32(5) + "sub\\c" + z + "ccccc");
  difference("roots-out-of-order", u32(1) + "only" + z + "ooo" + c + "ccccc");
  return seeds;
}

// --- Entry points ------------------------------------------------------------------------

int fuzzStringList(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const FileKind kinds[] = {FileKind::ProjectFile, FileKind::StateFile,
                                   FileKind::DifferenceFile};
  FileKind kind = kinds[data[0] % 3];
  MemoryFs fs;
  std::u16string path = std::u16string(u"mem:/in") + fileExtension(kind);
  fs.files[path].assign(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::u16string> list;
  Rc rc = readStringList(fs, &list, path.c_str(), kind);
  note("readStringList", rc);
  check(rc == Rc::Ok || list.empty(), "a failed read left strings in the list");
  if (rc == Rc::Ok) {
    for (const std::u16string& s : list) check(s.size() <= kMaxListString, "string too long");
    Project project;
    if (kind == FileKind::ProjectFile) {
      Rc loaded = loadProject(fs, path.c_str(), &project);
      check((loaded == Rc::Ok) == (list.size() % 2 == 0),
            "a project loads unless its list has an odd number of strings");
    }
    if (kind == FileKind::ProjectFile && list.size() % 2 == 0) {
      Rc saved = saveProject(fs, project, u"mem:/out.fwp");
      check(saved == Rc::Ok || saved == Rc::BadRequest, "saving a read project failed");
      if (saved == Rc::Ok) {
        std::vector<std::u16string> again;
        check(readStringList(fs, &again, u"mem:/out.fwp", kind) == Rc::Ok,
              "a saved project does not read back");
        check(again == list, "a saved project reads back differently");
      }
    }
  }
  check(fs.files.size() <= 2, "stray files");
  return 0;
}

int fuzzDifference(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::u16string first = u"mem:/in.fwd";
  MemoryFs fs;
  uint32_t volumes =
      putVolumes(fs, first, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  const std::u16string path = (data[0] & 1) ? volumeName(first, volumes - 1) : first;
  const size_t files = fs.files.size();
  DifferenceCheck result;
  Rc rc = verifyDifference(fs, path.c_str(), &result);
  note("verifyDifference", rc);
  check((rc == Rc::Ok) == result.fault.empty(), "a fault named for a whole difference or none "
                                                 "for a broken one");
  check(rc != Rc::Ok || (result.volumes >= 1 && result.volumes <= volumes),
        "a verified difference read volumes it does not have");
  Rc stream = checkDataStream(fs, path.c_str());
  note("checkDataStream", stream);
  check(rc != Rc::Ok || stream == Rc::Ok, "a verified difference's data stream is not whole");
  check(fs.files.size() == files, "a check wrote a file");
  return 0;
}

int fuzzSavedSide(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int side = data[0] & 1;
  std::u16string first = (data[0] & 2) ? u"mem:/in.fwd" : u"mem:/in.fws";
  MemoryFs fs;
  putVolumes(fs, first, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  NodePool pool(1 << 20);
  FileNode* roots = nullptr;
  Rc rc = compareAgainstFolder(fs, first, side, pool, &roots);
  note("compareSides", rc);
  check(rc == Rc::Ok || roots == nullptr, "a failed comparison left a tree");
  if (rc != Rc::Ok || !roots) return 0;
  FileNode top{};
  top.flags = Folder;
  top.children = roots;
  markTree(&top, makeMarkMasks(kDefaultFlagsSrc, kDefaultFlagsTrg, kDefaultFlagsColorize),
           nullptr);
  // What was loaded can be saved, and what was saved loads again.
  Rc saved = saveSideState(fs, roots, side, u"mem:/out.fws");
  note("saveSideState", saved);
  check(saved == Rc::Ok || (saved == Rc::BadRequest && !longestRootFits(roots)),
        "saving a loaded side failed");
  if (saved != Rc::Ok) return 0;
  NodePool pool2(1 << 20);
  FileNode* again = nullptr;
  check(compareAgainstFolder(fs, u"mem:/out.fws", side, pool2, &again) == Rc::Ok,
        "a saved side does not load again");
  return 0;
}

}  // namespace fw
