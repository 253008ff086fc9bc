// State and difference files: the tree section that keeps one side of a comparison, its
// writers, the reader that merges a saved tree into a comparison tree as one side, and the
// framing of the difference's data entries. The layouts are in docs/formats.md.
//
// Tree section (inflated):  rootNames  then, per root, its TreeRecords and a 0 byte
//   rootNames:   one string per root (" " for an empty name), then an empty string
//   TreeRecord:  name (UTF-8, 0 byte) | modified u64 | size u64 | AttrByte u8
//                modified 0 is a folder, followed by its records and a 0 byte
// Data section (difference files, a second stream): DataEntry* to the end of the stream
//   DataEntry:   rootIndex u32 | relativePath (UTF-8 names joined by "\", 0 byte) | contents
#ifndef FERRYWICK_FORMATS_STATE_FILE_H
#define FERRYWICK_FORMATS_STATE_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/file_node.h"
#include "core/node_pool.h"
#include "core/result.h"
#include "formats/compressed_reader.h"
#include "formats/compressed_writer.h"
#include "platform/fs.h"

namespace fw {

// The fixed part of a TreeRecord after its name: modified, size, attributes.
inline constexpr size_t kTreeRecordFixedSize = 17;
// The AttrByte bits a record may carry (archive, hidden, read-only, system); a record with any
// other bit set is refused as damaged (Failed): no writer stores one, and no file system could
// be given it.
inline constexpr uint8_t kAttrByteBits = 0x0F;
// How many folder levels a saved tree may have (a root's entries are level 1). The walks over
// a comparison tree recurse once per level with about a kilobyte of stack each, so a deeper
// tree is refused on both ends: the writer with BadRequest, the reader as damaged (Failed).
inline constexpr size_t kMaxTreeDepth = 512;

// One TreeRecord as read: the name converted to UTF-16, the fixed part decoded.
struct TreeRecord {
  const char16_t* name;
  uint64_t modified;  // 0: a folder
  uint64_t size;
  uint8_t attributes;  // AttrByte
};

// True for a name a saved tree may hold: not empty, not "." or "..", no "/", "\" or 0 unit.
bool isValidStoredName(const char16_t* name, size_t units);

// --- Writing -----------------------------------------------------------------------------

// Saves the tree below the chain of roots (linked by link[1]) for side 0 or 1 as a state file.
// The file is written under a temporary name and replaces a file at path only when complete
// (CompressedWriter::commit); after a failure the file at path is as it was. failedEntry: as
// for writeTreeSection.
Rc saveSideState(Fs& fs, FileNode* roots, int side, const char16_t* path,
                 std::u16string* failedEntry = nullptr);
// The roots' names (" " for an empty one) and the terminating empty string.
Rc rootNames(CompressedWriter& writer, FileNode* roots);
// Opens the writer's first volume and writes the whole tree section of the writer's side as
// one stream, finished, with treeEnd recorded. Without roots: BadRequest. failedEntry, when
// given, receives the path of an entry whose record cannot be written (a name over 259 units
// or that does not convert, a folder too deep): its root node's name, the separator and the
// names below it; or the root's name alone when that is the one that cannot be stored.
Rc writeTreeSection(CompressedWriter& writer, FileNode* roots,
                    std::u16string* failedEntry = nullptr);
// The records of one sibling tree in order, leaving out entries flagged absentFlag and what
// is below them. Folders nested deeper than kMaxTreeDepth levels: BadRequest. On a failure
// caused by an entry, failedEntry (when given) receives its path below the tree, names joined
// by the separator.
Rc writeTree(CompressedWriter& writer, FileNode* tree, uint32_t absentFlag,
             std::u16string* failedEntry = nullptr);

// The rootIndex and relativePath of a DataEntry; the contents follow with writeBytes.
Rc writeDataEntry(CompressedWriter& writer, uint32_t rootIndex, const char16_t* relativePath,
                  size_t units);

// --- Reading -----------------------------------------------------------------------------

struct TreeReadContext {
  CompressedReader* reader = nullptr;
  NodePool* pool = nullptr;
  const char16_t* ignoreList = nullptr;
  const CancelFlag* cancel = nullptr;  // seen before every record; a cancelled read stops, Ok
  // Ignored names become Ignored|Excluded nodes (with what is below them) instead of being
  // left out: a difference's data section names them, and their sizes say what to read past.
  bool keepIgnored = false;
  std::atomic<uint64_t>* entriesRead = nullptr;  // grows by every entry merged, when given
};

// Merges one folder level of the saved tree, and everything below it, into *tree as side 0 or
// 1, up to the 0 byte that ends the level; with skip, consumes it without merging. Names
// matching the ignore list are skipped with everything below them. Where the level already
// had entries (from the other side) names are looked up exactly as spelt, as the folder
// scanner looks them up, and every record goes in through mergeEntry as a listed entry does;
// names that differ only in letter case are paired after both sides are read. Failed: a bad
// name (see isValidStoredName, or longer than 259 units), a name that comes twice in one
// folder (exactly the same units; names that differ in letter case only are both taken), a
// tree deeper than kMaxTreeDepth, attribute bits outside kAttrByteBits, data that end early;
// OutOfMemory/BadRequest from the pool. In skip mode nothing is kept: the framing, names and
// attributes are checked, not the names' uniqueness.
Rc readTree(TreeReadContext& ctx, FileNode** tree, int side, bool skip);

// Opens path as a state file, else as a difference file (whose result then counts), starts
// inflating and reads past the root names, so that the reader stands before the first tree.
// roots, when given, receives the number of root names.
Rc openSavedTrees(CompressedReader& reader, const char16_t* path, size_t* roots = nullptr);

// Reads the rootIndex and relativePath of the next DataEntry of a data section (after
// findDataSection). The path is converted into path (capacity units, terminator included)
// with "\" between names, each of which must be a valid stored name; *units is its length.
// At the clean end of the stream *end is set and nothing else. Failed: damaged framing, a bad
// or too long path. The entry's contents follow at the reader's cursor (takeBytes).
Rc readDataEntry(CompressedReader& reader, uint32_t* rootIndex, char16_t* path,
                 size_t capacity, size_t* units, bool* end);

// A saved side of a comparison: the state-then-difference reader behind CompareContext::saved,
// for one side. Rows past the file's last root read as empty; a root stored without a name
// has its tree read past, so that the rows after it receive their own. Once the last root's
// tree is read, the tree section's stream must end there, complete and with its checksum
// (requireStreamEnd), or that read fails: a comparison never returns what a damaged file
// seemed to say.
class SavedSideReader : public SideSource {
 public:
  SavedSideReader() = default;
  // What readRow needs besides the file: the comparison's pool, ignore list and cancel flag
  // (all must outlive the reader's use), and the Fs to read through.
  void setup(Fs* fs, NodePool* pool, const char16_t* ignoreList, const CancelFlag* cancel);
  // Where the entries read are counted as they are merged (CompareContext::entriesRead).
  void countEntriesIn(std::atomic<uint64_t>* entriesRead) { read_.entriesRead = entriesRead; }
  // Opens the saved file of the one side given (as a state file, else as a difference file)
  // and reads past its list of root names; both sides, or none: BadRequest.
  Rc open(const SideInput* source, const SideInput* target) override;
  Rc readRow(size_t row, FileNode* root) override;
  // Ends the decompression and closes the file; harmless when not open.
  void close() override;
  CompressedReader* reader() { return reader_.get(); }
  // Whether the file (rather than memory or the request) failed the last open or a read since:
  // Failed, damaged or no saved file; CannotOpen, a volume of a difference could not be
  // opened; otherwise Ok. faultText says so in words that name the file or the volume
  // (refusedFileText, volume_set.h), empty when fault() is Ok.
  Rc fault() const { return fault_; }
  std::string faultText();

 private:
  // Merges the next root's tree into *tree; with skip, consumes it without merging.
  Rc readNextTree(FileNode** tree, bool skip);

  Fs* fs_ = nullptr;
  TreeReadContext read_;
  std::unique_ptr<CompressedReader> reader_;
  const SideInput* input_ = nullptr;
  int side_ = 0;
  size_t treesLeft_ = 0;  // roots whose trees are still to be read
  Rc fault_ = Rc::Ok;
  std::u16string faultVolume_;  // the volume open when fault_ came
  // Notes a failure of the file itself (see fault); returns rc.
  Rc noteFault(Rc rc);
};

// Two saved-side readers wired into a comparison context: construct after filling ctx's fs,
// pool, ignore list and cancel flag; ctx.saved points at them while this object lives.
//   CompareContext ctx; ctx.fs = ...; ...; SavedSides saved(ctx); compareSides(..., ctx);
struct SavedSides {
  explicit SavedSides(CompareContext& ctx);
  ~SavedSides();
  SavedSides(const SavedSides&) = delete;
  SavedSides& operator=(const SavedSides&) = delete;
  SavedSideReader side[2];
  CompareContext& ctx;
};

}  // namespace fw

#endif  // FERRYWICK_FORMATS_STATE_FILE_H
