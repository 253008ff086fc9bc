// What the names and headers of a split difference's volumes prove about the set they form.
//
// A volume's header holds its kind, version, number and flags, nothing that names its set: two
// sets saved under one name cannot be told apart by their headers alone. What does tell them
// apart is the chain (every volume numbered as its name says, none before the one flagged last
// flagged so, one volume at most holding the tree section's end) and, in the end, the streams:
// the volumes of two sets do not inflate as one stream with a correct checksum. The readers
// check the chain when a later volume is named and the streams as they read; a save checks both
// before it removes an old volume that its own set does not replace.
#ifndef FERRYWICK_FORMATS_VOLUME_SET_H
#define FERRYWICK_FORMATS_VOLUME_SET_H

#include <cstdint>
#include <string>

#include "core/cancel_flag.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

// Splits the name of a later volume as the writer makes it: "d.001.fwd" ... "d.999.fwd" (the
// extension in any letter case) give the first volume's name "d.fwd" and the number. Any other
// name, "d.000.fwd", "pc.2024.fwd" or "d.fwd" among them, is a file of its own name: false.
bool parseVolumeName(const std::u16string& name, std::u16string* first, uint32_t* number);

// Why a named volume does not belong where its name puts it.
enum class VolumeFault {
  None,
  FirstMissing,   // the set's first volume cannot be opened
  Missing,        // a volume between the first and the named one cannot be opened
  NotAVolume,     // the file is no volume of a difference (its header)
  WrongNumber,    // its header gives another number than its name
  SetEnds,        // a volume before the named one is flagged as the last
  TwoTreeEnds,    // two volumes each say the tree section ended in them
};

struct VolumeCheck {
  VolumeFault fault = VolumeFault::None;
  uint32_t at = 0;       // the volume the fault was found in
  uint32_t number = 0;   // WrongNumber: the number in its header
  uint32_t volumes = 0;  // SetEnds: the volumes of the set
};

// Checks the file named, a later volume's name (parseVolumeName), as that volume of the set
// that begins with first: its own header first, then the headers of the volumes before it. Ok;
// CannotOpen for a missing volume (FirstMissing, Missing, or the named file itself); Failed for
// the other faults; OutOfMemory. check says which.
Rc checkNamedVolume(Fs& fs, const std::u16string& named, const std::u16string& first,
                    uint32_t number, VolumeCheck* check);

// The sentence for a named volume refused by checkNamedVolume ("d.003.fwd is not part of the
// set that begins with d.fwd, which has 1 volume"); empty when path is no later volume's name
// or the check passes. For the messages of the programs and of verifyDifference.
std::string volumeRefusal(Fs& fs, const char16_t* path);

// What the programs say of a saved file (a project, state or difference) that the readers
// refused, naming it: "<path> cannot be opened" when it cannot be; volumeRefusal's sentence
// where path is a later volume's name that is no volume of its set there; otherwise
// kWrongFileFormat and "<path> is damaged, or it is not a file of this program".
inline constexpr char kWrongFileFormat[] = "Wrong file format!";
std::string refusedFileText(Fs& fs, const std::u16string& path);

// For a save that replaces the set beginning with first by one of kept volumes: how many
// volumes that old set proves to have. Only when its headers chain beyond kept (numbered as
// named, up to the one flagged last) are its streams read, both of them whole with their
// checksums; anything short of that proves only kept volumes, so that nothing the new set does
// not replace is taken for the old set's.
uint32_t provenOldVolumes(Fs& fs, const std::u16string& first, uint32_t kept);

// Inflates one stream of the difference at path (any volume of its set), the tree's or the
// data's, to its end, which must come where the headers say, with its checksum. Ok also when
// cancelled; otherwise the reader's code.
Rc readStreamWhole(Fs& fs, const char16_t* path, bool tree, const CancelFlag* cancel);

}  // namespace fw

#endif  // FERRYWICK_FORMATS_VOLUME_SET_H
