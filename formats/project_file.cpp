#include "formats/project_file.h"

#include <cstring>
#include <memory>
#include <new>

#include "formats/compressed_reader.h"
#include "formats/compressed_writer.h"
#include "formats/state_file.h"
#include "platform/text.h"

namespace fw {

FolderPair Project::row(size_t i) const {
  FolderPair pair;
  if (i < source.size()) pair.source = source[i];
  if (i < target.size()) pair.target = target[i];
  return pair;
}

namespace {

Rc writeColumn(CompressedWriter& w, const std::vector<std::u16string>& column, size_t rows) {
  for (const std::u16string& s : column) {
    Rc rc = s.empty() ? w.writeName(u" ") : w.writeName(s.c_str());
    if (rc != Rc::Ok) return rc;
  }
  for (size_t i = column.size(); i < rows; ++i) {
    Rc rc = w.writeName(u" ");
    if (rc != Rc::Ok) return rc;
  }
  return Rc::Ok;
}

// Reads the strings of the list into *list; the reader is inflating.
Rc readList(CompressedReader& r, std::vector<std::u16string>* list) {
  char16_t text[kMaxListString + 1];
  for (;;) {
    if (r.available == 0) {
      Rc rc = r.refill();
      if (rc != Rc::Ok) return rc;
      if (r.available == 0) return Rc::Failed;  // the stream ended before the empty string
    }
    if (r.window[r.cursor] == 0) {  // the empty string that ends the list
      ++r.cursor;
      --r.available;
      r.consume();
      return Rc::Ok;
    }
    size_t bytes;
    Rc rc = r.scanString(&bytes);
    if (rc != Rc::Ok) return rc;
    size_t units = utf8ToUtf16(reinterpret_cast<const char*>(r.itemStart()), bytes, text,
                               kMaxListString);
    r.consume();
    if (units == kConversionFailed) return Rc::Failed;
    if (list->size() >= kMaxListStrings) return Rc::Failed;
    if (units > 0 && text[0] == u' ') units = 0;
    try {
      list->emplace_back(text, units);
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
  }
}

}  // namespace

Rc saveProject(Fs& fs, const std::vector<std::u16string>& source,
               const std::vector<std::u16string>& target, const char16_t* path) {
  std::unique_ptr<CompressedWriter> w;
  Rc rc = CompressedWriter::create(fs, FileKind::ProjectFile, path, 0, kNoSplit, &w);
  if (rc != Rc::Ok) return rc;
  rc = w->openVolume();
  if (rc == Rc::Ok) rc = w->beginStream();
  size_t rows = source.size() > target.size() ? source.size() : target.size();
  if (rc == Rc::Ok) rc = writeColumn(*w, source, rows);
  if (rc == Rc::Ok) rc = writeColumn(*w, target, rows);
  if (rc == Rc::Ok) rc = w->writeName(u"");
  if (rc == Rc::Ok) rc = w->finishStream();
  if (rc == Rc::Ok) rc = w->commit();
  return rc;  // destroying the writer removes what a failure left
}

Rc readStringList(Fs& fs, std::vector<std::u16string>* list, const char16_t* path,
                  FileKind kind) {
  if (!list) return Rc::BadRequest;
  list->clear();
  if (!path) return Rc::BadRequest;
  std::unique_ptr<CompressedReader> r;
  Rc rc = CompressedReader::create(fs, &r);
  if (rc != Rc::Ok) return rc;
  rc = r->openReader(kind, path);
  if (rc == Rc::OutOfMemory) return rc;
  if (rc == Rc::Ok) rc = r->startInflate(0);
  if (rc != Rc::Ok) return Rc::Failed;
  rc = readList(*r, list);
  // Nothing read counts before the stream proved whole, as for the tree readers: a project's
  // stream must end with its checksum at the end of the file; the root names of a state or
  // difference are followed by every root's tree, read past up to treeEnd.
  if (rc == Rc::Ok && hasVolumes(kind)) {
    TreeReadContext ctx;
    ctx.reader = r.get();
    for (size_t i = 0; i < list->size() && rc == Rc::Ok; ++i) rc = readTree(ctx, nullptr, 0, true);
  }
  if (rc == Rc::Ok) rc = r->requireStreamEnd(hasVolumes(kind));
  r->endInflate();
  if (rc != Rc::Ok) {
    list->clear();
    list->shrink_to_fit();
  }
  return rc;
}

Rc readSavedRoots(Fs& fs, const char16_t* path, std::vector<std::u16string>* roots,
                  SideKind* kind) {
  if (!kind) return Rc::BadRequest;
  Rc rc = readStringList(fs, roots, path, FileKind::StateFile);
  if (rc == Rc::Ok) {
    *kind = SideKind::SavedState;
    return rc;
  }
  rc = readStringList(fs, roots, path, FileKind::DifferenceFile);
  if (rc == Rc::Ok) *kind = SideKind::SavedDifference;
  return rc;
}

Rc loadProject(Fs& fs, const char16_t* path, Project* project) {
  if (!project) return Rc::BadRequest;
  project->source.clear();
  project->target.clear();
  std::vector<std::u16string> list;
  Rc rc = readStringList(fs, &list, path, FileKind::ProjectFile);
  if (rc != Rc::Ok) return rc;
  if (list.size() % 2 != 0) return Rc::Failed;
  size_t half = list.size() / 2;
  try {
    project->source.assign(std::make_move_iterator(list.begin()),
                           std::make_move_iterator(list.begin() + half));
    project->target.assign(std::make_move_iterator(list.begin() + half),
                           std::make_move_iterator(list.end()));
  } catch (const std::bad_alloc&) {
    project->source.clear();
    project->target.clear();
    return Rc::OutOfMemory;
  }
  return Rc::Ok;
}

}  // namespace fw
