// BlockDeflater: one ordinary zlib stream, compressed on several threads.
//
// The input is cut into blocks of kDeflateBlockSize bytes at fixed offsets of the stream; the
// last block holds the rest, 1 to kDeflateBlockSize bytes (none only in an empty stream). Each block is deflated on its own as raw deflate data,
// primed with the last kDeflateDictionary bytes of the block before it as its dictionary, and
// ended with a sync flush, which leaves the output byte-aligned; the last block ends the
// deflate data instead. The blocks' outputs are put in order between the zlib header (78 9C:
// deflate, 32 KiB window, the default level, no preset dictionary) and the Adler-32 of the
// whole input, which is combined from the blocks' own. Any zlib inflate reads the result as one
// stream; the bytes depend on the input alone, never on the number of threads or on how the
// input was handed in.
//
// Output reaches the sink in order: the header as a piece of its own, then every block as one
// piece, the last block together with the checksum as the final piece (final true).
// At most twice as many blocks as threads are in flight; with one thread every block is
// compressed on the calling thread.
//
// Results: Ok; OutOfMemory (buffers, a thread that cannot be started); Failed (a zlib error);
// or the sink's code, which ends the stream (nothing more is given to the sink). The
// destructor stops the threads after the block each is on and drops what is not written.
#ifndef FERRYWICK_FORMATS_BLOCK_DEFLATE_H
#define FERRYWICK_FORMATS_BLOCK_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/result.h"

namespace fw {

inline constexpr size_t kDeflateBlockSize = 131072;
inline constexpr size_t kDeflateDictionary = 32768;

// Where the compressed bytes go, in order.
class DeflateSink {
 public:
  virtual ~DeflateSink() = default;
  virtual Rc put(const uint8_t* data, size_t n, bool final) = 0;
};

// Threads a block stream uses when asked for 0: one per core the system reports (at least 1,
// at most 16).
unsigned defaultDeflateThreads();

class BlockDeflater {
 public:
  // threads 0: defaultDeflateThreads().
  static Rc create(unsigned threads, DeflateSink& sink, std::unique_ptr<BlockDeflater>* out);
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  Rc write(const uint8_t* data, size_t n);
  // Compresses what is left as the last block, waits for every block and puts the last piece
  // with the checksum. Nothing may be written afterwards.
  Rc finish();

  unsigned threads() const;

 private:
  struct State;
  explicit BlockDeflater(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

}  // namespace fw

#endif  // FERRYWICK_FORMATS_BLOCK_DEFLATE_H
