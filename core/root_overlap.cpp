#include "core/root_overlap.h"

#include <algorithm>
#include <new>

#include "platform/case_map.h"
#include "platform/long_path.h"
#include "platform/text.h"

namespace fw {
namespace {

// Windows takes names without regard to letter case; POSIX as spelled.
constexpr bool kFoldCase = kPathSeparator == u'\\';

bool sameName(const std::u16string& a, const std::u16string& b) {
  if (!kFoldCase) return a == b;
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return simpleLowerCase(x) == simpleLowerCase(y);
         });
}

}  // namespace

std::u16string longForm(Fs& fs, const std::u16string& path) {
  std::u16string full;
  if (fs.fullPath(path.c_str(), &full) != FsStatus::Ok) full = path;
  std::u16string buffer(kPathBufferUnits, u'\0');
  size_t n = toLongPath(buffer.data(), buffer.size(), full.c_str());
  if (n > 1 && buffer[n - 1] == kPathSeparator && buffer[n - 2] != u':') --n;
  buffer.resize(n);
  return buffer;
}

namespace {

// Cuts the last name off path into *name; false at the volume's top, which keeps its
// separator ("/", "\\?\C:\").
bool cutLastName(std::u16string* path, std::u16string* name) {
  size_t cut = path->find_last_of(kPathSeparator);
  if (cut == std::u16string::npos) return false;
  // The long form's prefix is no folder: "\\?\UNC\server" stops there, not at "\".
  if (cut < 4 && path->compare(0, 4, u"\\\\?\\") == 0) return false;
  bool top = cut == 0 || (*path)[cut - 1] == u':';
  if (top && cut + 1 >= path->size()) return false;
  name->assign(*path, cut + 1);
  path->resize(top ? cut + 1 : cut);
  return true;
}

// Where a path leads: the identities of identitiesUp, and the names below the deepest part
// of the path that exists, outermost first. up is empty when not even the volume's top can be
// identified.
struct PathPlace {
  std::vector<FileIdentity> up;
  std::vector<std::u16string> rest;
};

// Throws std::bad_alloc only.
void findPlace(Fs& fs, const std::u16string& path, PathPlace* place) {
  place->up.clear();
  place->rest.clear();
  std::u16string dir = longForm(fs, path);
  if (dir.empty()) return;
  FileIdentity id;
  std::u16string name;
  while (fs.identify(dir.c_str(), &id) != FsStatus::Ok) {
    if (!cutLastName(&dir, &name)) {
      place->rest.clear();
      return;
    }
    place->rest.push_back(name);
  }
  std::reverse(place->rest.begin(), place->rest.end());
  // The folders above a link are not the ones that hold what it leads to: walk up from where
  // it really lies, where the system can say.
  std::u16string resolved;
  if (fs.resolvedPath(dir.c_str(), &resolved) == FsStatus::Ok && !resolved.empty()) {
    std::u16string real = longForm(fs, resolved);
    FileIdentity same;
    if (!real.empty() && fs.identify(real.c_str(), &same) == FsStatus::Ok && same == id)
      dir = std::move(real);
  }
  place->up.push_back(id);
  while (cutLastName(&dir, &name))
    if (fs.identify(dir.c_str(), &id) == FsStatus::Ok) place->up.push_back(id);
}

enum class Nesting { Apart, Inside, Same };

// Whether inner lies inside outer, or is the same folder. Places that cannot be identified are
// Apart.
Nesting nestingOf(const PathPlace& inner, const PathPlace& outer) {
  if (inner.up.empty() || outer.up.empty()) return Nesting::Apart;
  if (outer.rest.empty()) {
    if (inner.up[0] == outer.up[0]) return inner.rest.empty() ? Nesting::Same : Nesting::Inside;
    for (size_t k = 1; k < inner.up.size(); ++k)
      if (inner.up[k] == outer.up[0]) return Nesting::Inside;
    return Nesting::Apart;
  }
  // What lies inside a folder that does not exist does not exist either: both are reached
  // from the same existing folder, outer's names first.
  if (!(inner.up[0] == outer.up[0]) || inner.rest.size() < outer.rest.size())
    return Nesting::Apart;
  for (size_t k = 0; k < outer.rest.size(); ++k)
    if (!sameName(inner.rest[k], outer.rest[k])) return Nesting::Apart;
  return inner.rest.size() == outer.rest.size() ? Nesting::Same : Nesting::Inside;
}

}  // namespace

std::vector<FileIdentity> identitiesUp(Fs& fs, const std::u16string& path) {
  PathPlace place;
  findPlace(fs, path, &place);
  return std::move(place.up);
}

Rc findOverlappingRoots(Fs& fs, const SideInput* source, const SideInput* target,
                        std::vector<RootOverlap>* out) {
  try {
    out->clear();
    struct Placed {
      RootOverlap::Root root;
      PathPlace place;
    };
    std::vector<Placed> roots;
    const SideInput* sides[2] = {source, target};
    size_t rows = 0;
    for (const SideInput* s : sides)
      if (s && !s->hasSavedFile()) rows = std::max(rows, s->roots.size());
    for (size_t row = 0; row < rows; ++row) {
      for (int side = 0; side < 2; ++side) {
        const SideInput* s = sides[side];
        if (!s || s->hasSavedFile() || row >= s->roots.size() || s->roots[row].empty()) continue;
        Placed p{{row, side, s->roots[row]}, {}};
        findPlace(fs, p.root.path, &p.place);
        roots.push_back(std::move(p));
      }
    }
    // In the order of the rows: a pair by its earlier root, then by its later one.
    for (size_t i = 0; i < roots.size(); ++i) {
      for (size_t j = i + 1; j < roots.size(); ++j) {
        // The later root is named first where it lies inside the earlier one or is the same.
        if (Nesting n = nestingOf(roots[j].place, roots[i].place); n != Nesting::Apart)
          out->push_back({roots[j].root, roots[i].root, n == Nesting::Same});
        else if (nestingOf(roots[i].place, roots[j].place) == Nesting::Inside)
          out->push_back({roots[i].root, roots[j].root, false});
      }
    }
    return Rc::Ok;
  } catch (const std::bad_alloc&) {
    out->clear();
    return Rc::OutOfMemory;
  }
}

std::u16string rootOverlapText(const RootOverlap& o) {
  static const char16_t* const kSide[2] = {u"source", u"target"};
  auto row = [](size_t r) { return toUtf16(std::to_string(r + 1)); };
  const RootOverlap::Root& a = o.inner;
  const RootOverlap::Root& b = o.outer;
  if (a.row == b.row) {
    std::u16string text = u"row " + row(a.row) + u": the ";
    if (o.same) {
      // Source first, whichever was found first.
      const RootOverlap::Root& s = a.side == 0 ? a : b;
      const RootOverlap::Root& t = a.side == 0 ? b : a;
      return text + u"source " + s.path + u" and the target " + t.path + u" are the same folder";
    }
    return text + kSide[a.side] + u" " + a.path + u" lies inside the " + kSide[b.side] + u" " +
           b.path;
  }
  auto named = [&](const RootOverlap::Root& r) {
    return u"row " + row(r.row) + u"'s " + kSide[r.side] + u" " + r.path;
  };
  if (o.same) {
    const bool earlierFirst = b.row < a.row;
    return named(earlierFirst ? b : a) + u" and " + named(earlierFirst ? a : b) +
           u" are the same folder";
  }
  return named(a) + u" lies inside " + named(b);
}

}  // namespace fw
