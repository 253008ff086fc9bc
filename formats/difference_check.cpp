#include "formats/difference_check.h"

#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "core/node_pool.h"
#include "core/sibling_tree.h"
#include "formats/compressed_reader.h"
#include "formats/state_file.h"
#include "formats/volume_set.h"
#include "platform/text.h"

namespace fw {
namespace {

struct Checker {
  Checker(Fs& f, DifferenceCheck* c) : fs(f), check(c) {}
  Fs& fs;
  DifferenceCheck* check;
  NodePool pool;
  std::vector<FileNode*> roots;  // each root's tree, as the tree section holds it

  Rc fault(Rc rc, const std::string& what) {
    if (check->fault.empty()) check->fault = what;
    return rc;
  }

  Rc openReader(std::unique_ptr<CompressedReader>* reader, const char16_t* path) {
    Rc rc = CompressedReader::create(fs, reader);
    if (rc != Rc::Ok) return fault(rc, "out of memory");
    rc = (*reader)->openReader(FileKind::DifferenceFile, path);
    if (rc == Rc::CannotOpen || rc == Rc::Failed) {
      // A later volume's name that is no volume of its set there: say how.
      std::string refusal = volumeRefusal(fs, path);
      if (!refusal.empty()) return fault(rc, refusal);
    }
    if (rc == Rc::CannotOpen) return fault(rc, "the file cannot be opened");
    if (rc != Rc::Ok) return fault(rc, "this is not a difference file");
    return Rc::Ok;
  }

  // A failure while reading on: name the volume the reader was at.
  Rc readFault(Rc rc, const CompressedReader& r, const std::string& what) {
    std::string volume = toUtf8Escaped(r.path());
    if (rc == Rc::CannotOpen) return fault(rc, "volume " + volume + " is missing");
    if (rc == Rc::OutOfMemory) return fault(rc, "out of memory");
    return fault(rc, what + " (in " + volume + ")");
  }

  Rc readTreeSection(const char16_t* path) {
    std::unique_ptr<CompressedReader> r;
    if (Rc rc = openReader(&r, path); rc != Rc::Ok) return rc;
    Rc rc = r->startInflate(0);
    if (rc != Rc::Ok) return readFault(rc, *r, "the tree section is damaged");
    for (;;) {  // the root names
      size_t length;
      rc = r->scanString(&length);
      if (rc != Rc::Ok) return readFault(rc, *r, "the list of root names is damaged");
      r->consume();
      if (length == 0) break;
      ++check->roots;
    }
    TreeReadContext ctx;
    ctx.reader = r.get();
    ctx.pool = &pool;
    roots.assign(check->roots, nullptr);
    for (uint32_t i = 0; i < check->roots; ++i) {
      rc = readTree(ctx, &roots[i], 0, false);
      if (rc != Rc::Ok)
        return readFault(rc, *r, "the records of root " + std::to_string(i) + " are damaged");
    }
    rc = r->requireStreamEnd(true);
    if (rc != Rc::Ok)
      return readFault(rc, *r,
                       "the tree section does not end whole where its header says, after its "
                       "last root");
    r->endInflate();
    return Rc::Ok;
  }

  // The node a data entry's path names, following its folders; null when it is not there.
  FileNode* resolve(uint32_t rootIndex, const char16_t* path, size_t units) {
    FileNode* tree = roots[rootIndex];
    FileNode* node = nullptr;
    std::u16string name;
    for (size_t i = 0; i <= units; ++i) {
      if (i < units && path[i] != u'\\') {
        name += path[i];
        continue;
      }
      node = findNode(tree, name.c_str());
      if (!node) return nullptr;
      tree = node->children;
      name.clear();
    }
    return node;
  }

  Rc readDataSection(const char16_t* path) {
    std::unique_ptr<CompressedReader> r;
    if (Rc rc = openReader(&r, path); rc != Rc::Ok) return rc;
    Rc rc = r->findDataSection();
    if (rc != Rc::Ok) return readFault(rc, *r, "the data section cannot be found");
    std::unique_ptr<char16_t[]> entryPath(new (std::nothrow) char16_t[kPathBufferUnits]);
    if (!entryPath) return fault(Rc::OutOfMemory, "out of memory");
    uint32_t lastRoot = 0;
    std::unordered_set<const FileNode*> carried;
    for (;;) {
      uint32_t rootIndex;
      size_t units;
      bool end = false;
      rc = readDataEntry(*r, &rootIndex, entryPath.get(), kPathBufferUnits, &units, &end);
      if (rc != Rc::Ok) return readFault(rc, *r, "a data entry is damaged");
      if (end) break;
      std::string shown = toUtf8Escaped(std::u16string_view(entryPath.get(), units));
      if (rootIndex >= check->roots || rootIndex < lastRoot)
        return fault(Rc::Failed, "data entry " + shown + " names root " +
                                     std::to_string(rootIndex) + ", out of order or range");
      lastRoot = rootIndex;
      FileNode* node = resolve(rootIndex, entryPath.get(), units);
      if (!node) return fault(Rc::Failed, "data entry " + shown + " is not in the tree section");
      try {
        if (!carried.insert(node).second)
          return fault(Rc::Failed, "data entry " + shown + " comes twice");
      } catch (const std::bad_alloc&) {
        return fault(Rc::OutOfMemory, "out of memory");
      }
      ++check->dataEntries;
      if (isFolder(node)) continue;
      for (uint64_t left = node->side[0].size; left > 0;) {
        const uint8_t* data;
        size_t n;
        rc = r->takeBytes(left, &data, &n);
        if (rc != Rc::Ok)
          return readFault(rc, *r, "the contents of " + shown + " end early");
        left -= n;
        check->bytes += n;
      }
    }
    check->volumes = r->volumeNumber + 1;
    if (!r->lastVolume())
      return fault(Rc::Failed, "the data end in volume " + toUtf8Escaped(r->path()) +
                                   ", which is not marked as the last one");
    rc = r->requireStreamEnd(false);
    if (rc != Rc::Ok) return readFault(rc, *r, "bytes follow the end of the data section");
    r->endInflate();
    return Rc::Ok;
  }
};

}  // namespace

Rc checkDataStream(Fs& fs, const char16_t* path, const CancelFlag* cancel) {
  return readStreamWhole(fs, path, false, cancel);
}

Rc verifyDifference(Fs& fs, const char16_t* path, DifferenceCheck* check) {
  *check = DifferenceCheck{};
  Checker c(fs, check);
  Rc rc = c.readTreeSection(path);
  if (rc == Rc::Ok) rc = c.readDataSection(path);
  return rc;
}

}  // namespace fw
