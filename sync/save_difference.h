// Saving a difference: the tree section of the source side, then a data section with the
// contents of every file whose action carries the source's version to the target, optionally
// split into volumes.
#ifndef FERRYWICK_SYNC_SAVE_DIFFERENCE_H
#define FERRYWICK_SYNC_SAVE_DIFFERENCE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/file_node.h"
#include "core/result.h"
#include "formats/compressed_writer.h"
#include "platform/fs.h"
#include "sync/sync_request.h"
#include "sync/sync_stats.h"
#include "sync/sync_walk.h"

namespace fw {

// Writes the difference of the request's compared tree to fileName, in volumes of splitLimit
// MiB (kNoSplit: one volume of any size). The files whose contents are carried are those whose
// action under the request's sourceWins alone takes carried data (actionOf, entry_action.h):
// what the target wins is for the apply to weigh. tallies.ok receives one addedFiles per
// carried file and its bytes as they are compressed. The volumes are written under temporary
// names and take their names only once the whole set is complete (CompressedWriter::commit),
// so a cancelled save (Ok) and a failed one leave no volume of the new set behind and every
// file of the chosen name as it was. failedEntry, when given, is cleared and, when the failure
// came from a source entry (one that cannot be opened or read, changed since the comparison,
// or has a name that cannot be stored), receives its path: the source root as given, the
// separator and the relative path (a tree section failure names the root node's name instead
// of the root).
Rc saveDifference(const SyncRequest& request, SyncTallies tallies, const char16_t* fileName,
                  int32_t splitLimit, std::u16string* failedEntry = nullptr);

// The writing of a difference's data section: the walk's state and the writer.
struct DataWalk {
  WalkContext walk;                       // its masks: the source's categories alone
  CompressedWriter* writer = nullptr;
  std::u16string* failedEntry = nullptr;  // where the source entry that ended it is named
};

// Writes the DataEntries of one folder pair's tree (the children of its root node).
// data.walk.sourcePath holds the pair's source root in long form, pathEnd units long;
// data.walk.sourceRootLength is pathEnd plus one. Stops with Ok at the cancel flag. Failed when
// a file's size differs from the comparison's or a read fails, CannotOpen for a file that
// cannot be opened, BadRequest for a name holding a backslash (the stored path's separator) or
// a relative path too long for the writer.
Rc writeRootData(DataWalk& data, FileNode* tree, size_t pathEnd);

// Compresses the file at path into the writer in 64 KiB pieces, adding every piece to
// *counter and counting the file's bytes in *local. The data are of one version of the file:
// its size, last-write time and change time (Fs::getFileStamp) are read before and after, and
// must be recorded's (when given: the source side of the node the tree section holds, a file
// there and no link unless the comparison saw one) and stay the same; the save then fails
// rather than store a mix (a new comparison and save take the new version). CannotOpen when it cannot be opened, Failed when a read fails or the file is not
// that one version, or the writer's code.
Rc copyFileData(CompressedWriter* writer, Fs& fs, const char16_t* path,
                std::atomic<uint64_t>* counter, uint64_t* local, const CancelFlag* cancel,
                const FileNode* recorded = nullptr);

// The data section of the request's compared tree through writer, the tree section being
// written: the tree marked with the request's masks (markForJob), every pair whose source root
// is set, in row order, by writeRootData. Ok also when
// cancelled (the stream is then left unfinished).
Rc writeDataSection(const SyncRequest& request, SyncTallies tallies, CompressedWriter& writer,
                    std::u16string* failedEntry = nullptr);

// The start and the end of a difference's data section on data.writer.
Rc beginDataSection(DataWalk& data);
Rc endDataSection(DataWalk& data);

}  // namespace fw

#endif  // FERRYWICK_SYNC_SAVE_DIFFERENCE_H
