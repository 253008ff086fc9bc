#include "formats/block_deflate.h"

#include <zlib.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/zlib_version.h"

namespace fw {

// One block on its way: its input, the dictionary it is primed with, its compressed bytes.
// Outside the anonymous namespace: the deflater's State, which has linkage, holds them.
struct DeflateJob {
  std::unique_ptr<uint8_t[]> input;  // kDeflateBlockSize
  size_t inLen = 0;
  std::unique_ptr<uint8_t[]> dict;  // kDeflateDictionary: the previous block's last bytes
  size_t dictLen = 0;
  std::vector<uint8_t> output;
  size_t outLen = 0;
  uLong adler = 1;
  bool last = false;
  Rc rc = Rc::Ok;
  bool done = false;  // under State::mutex when threads run
};

namespace {

constexpr unsigned kMaxThreads = 16;
// The zlib header of a stream at the default level with a 32 KiB window and no dictionary.
constexpr uint8_t kZlibHeader[2] = {0x78, 0x9C};


bool initRaw(z_stream* z) {
  std::memset(z, 0, sizeof *z);
  return deflateInit2_(z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                       kZlibVersion, static_cast<int>(sizeof(z_stream))) == Z_OK;
}

// Deflates one block as raw data: primed with its dictionary, ended by a sync flush or, for
// the last block, by the end of the deflate data. Leaves room for the 4-byte checksum.
Rc compressBlock(z_stream* z, DeflateJob& job) {
  job.adler = adler32(1L, job.input.get(), static_cast<uInt>(job.inLen));
  if (deflateReset(z) != Z_OK) return Rc::Failed;
  if (job.dictLen > 0 &&
      deflateSetDictionary(z, job.dict.get(), static_cast<uInt>(job.dictLen)) != Z_OK)
    return Rc::Failed;
  try {
    size_t want = deflateBound(z, static_cast<uLong>(job.inLen)) + 64;
    if (job.output.size() < want) job.output.resize(want);
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
  z->next_in = job.input.get();
  z->avail_in = static_cast<uInt>(job.inLen);
  z->next_out = job.output.data();
  z->avail_out = static_cast<uInt>(job.output.size() - 4);
  for (;;) {
    int r = deflate(z, flush);
    if (r == Z_STREAM_ERROR) return Rc::Failed;
    if (job.last ? r == Z_STREAM_END : (z->avail_in == 0 && z->avail_out > 0)) break;
    if (z->avail_out > 0 && r != Z_OK && r != Z_BUF_ERROR) return Rc::Failed;
    if (z->avail_out == 0) {  // more than the bound: grow and go on
      size_t used = job.output.size() - 4;
      try {
        job.output.resize(job.output.size() * 2);
      } catch (const std::bad_alloc&) {
        return Rc::OutOfMemory;
      }
      z->next_out = job.output.data() + used;
      z->avail_out = static_cast<uInt>(job.output.size() - 4 - used);
    }
  }
  job.outLen = job.output.size() - 4 - z->avail_out;
  return Rc::Ok;
}

}  // namespace

unsigned defaultDeflateThreads() {
  unsigned n = std::thread::hardware_concurrency();
  if (n == 0) n = 1;
  return n > kMaxThreads ? kMaxThreads : n;
}

struct BlockDeflater::State {
  DeflateSink* sink = nullptr;
  unsigned threads = 1;
  std::vector<DeflateJob> ring;
  uint64_t submitted = 0;  // blocks handed to compression
  uint64_t emitted = 0;    // blocks given to the sink
  size_t fill = 0;         // bytes in the block being filled: ring[submitted % ring.size()]
  std::unique_ptr<uint8_t[]> tail;  // the last kDeflateDictionary bytes of the block before
  size_t tailLen = 0;
  uLong adler = 1;
  bool headerPut = false;
  bool finished = false;
  Rc failed = Rc::Ok;
  z_stream inlineStream{};  // one thread: the caller's own stream
  bool inlineReady = false;

  std::mutex mutex;
  std::condition_variable workReady;
  std::condition_variable jobDone;
  std::deque<DeflateJob*> queue;
  bool stop = false;
  std::vector<std::thread> workers;

  void workerLoop() {
    z_stream z;
    bool ready = initRaw(&z);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      workReady.wait(lock, [&] { return stop || !queue.empty(); });
      if (stop) break;
      DeflateJob* job = queue.front();
      queue.pop_front();
      lock.unlock();
      Rc rc = ready ? compressBlock(&z, *job) : Rc::OutOfMemory;
      lock.lock();
      job->rc = rc;
      job->done = true;
      jobDone.notify_all();
    }
    lock.unlock();
    if (ready) deflateEnd(&z);
  }

  DeflateJob& slot(uint64_t n) { return ring[n % ring.size()]; }

  // Waits for block emitted and gives its bytes to the sink.
  Rc emitOldest() {
    DeflateJob& job = slot(emitted);
    if (threads > 1) {
      std::unique_lock<std::mutex> lock(mutex);
      jobDone.wait(lock, [&] { return job.done; });
    }
    if (job.rc != Rc::Ok) return job.rc;
    if (!headerPut) {
      Rc rc = sink->put(kZlibHeader, sizeof kZlibHeader, false);
      if (rc != Rc::Ok) return rc;
      headerPut = true;
    }
    adler = adler32_combine(adler, job.adler, static_cast<z_off_t>(job.inLen));
    size_t n = job.outLen;
    if (job.last) {
      uint8_t* t = job.output.data() + n;  // compressBlock left room for these four bytes
      t[0] = static_cast<uint8_t>(adler >> 24);
      t[1] = static_cast<uint8_t>(adler >> 16);
      t[2] = static_cast<uint8_t>(adler >> 8);
      t[3] = static_cast<uint8_t>(adler);
      n += 4;
    }
    ++emitted;
    return sink->put(job.output.data(), n, job.last);
  }

  // Hands the block being filled to compression and makes the next slot free to fill.
  Rc submit(bool last) {
    DeflateJob& job = slot(submitted);
    job.inLen = fill;
    job.last = last;
    job.dictLen = tailLen;
    if (tailLen > 0) std::memcpy(job.dict.get(), tail.get(), tailLen);
    if (!last && fill >= kDeflateDictionary) {
      std::memcpy(tail.get(), job.input.get() + fill - kDeflateDictionary, kDeflateDictionary);
      tailLen = kDeflateDictionary;
    }
    job.rc = Rc::Ok;
    job.done = false;
    ++submitted;
    fill = 0;
    if (threads == 1) {
      job.rc = compressBlock(&inlineStream, job);
      job.done = true;
      return emitOldest();
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(&job);
    }
    workReady.notify_one();
    // The slot to fill next must be free; write out whatever is done in order meanwhile.
    while (submitted - emitted >= ring.size() || (last && emitted < submitted)) {
      Rc rc = emitOldest();
      if (rc != Rc::Ok) return rc;
    }
    return Rc::Ok;
  }

  void stopWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
      queue.clear();
    }
    workReady.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
  }
};

BlockDeflater::BlockDeflater(std::unique_ptr<State> state) : s_(std::move(state)) {}

BlockDeflater::~BlockDeflater() {
  s_->stopWorkers();
  if (s_->inlineReady) deflateEnd(&s_->inlineStream);
}

unsigned BlockDeflater::threads() const { return s_->threads; }

Rc BlockDeflater::create(unsigned threads, DeflateSink& sink, std::unique_ptr<BlockDeflater>* out) {
  out->reset();
  if (threads == 0) threads = defaultDeflateThreads();
  if (threads > kMaxThreads) threads = kMaxThreads;
  std::unique_ptr<State> s(new (std::nothrow) State);
  if (!s) return Rc::OutOfMemory;
  s->sink = &sink;
  s->threads = threads;
  try {
    s->ring.resize(threads == 1 ? 1 : 2 * threads);
    for (DeflateJob& job : s->ring) {
      job.input.reset(new uint8_t[kDeflateBlockSize]);
      job.dict.reset(new uint8_t[kDeflateDictionary]);
    }
    s->tail.reset(new uint8_t[kDeflateDictionary]);
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  std::unique_ptr<BlockDeflater> d(new (std::nothrow) BlockDeflater(std::move(s)));
  if (!d) return Rc::OutOfMemory;
  State& st = *d->s_;
  if (threads == 1) {
    if (!initRaw(&st.inlineStream)) return Rc::OutOfMemory;
    st.inlineReady = true;
  } else {
    try {
      for (unsigned i = 0; i < threads; ++i) st.workers.emplace_back([&st] { st.workerLoop(); });
    } catch (const std::system_error&) {
      return Rc::OutOfMemory;  // the destructor joins the ones that started
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
  }
  *out = std::move(d);
  return Rc::Ok;
}

Rc BlockDeflater::write(const uint8_t* data, size_t n) {
  State& s = *s_;
  if (s.failed != Rc::Ok) return s.failed;
  if (s.finished) return Rc::BadRequest;
  while (n > 0) {
    // A full block goes only once more input follows, so the last block (finish's) holds
    // data unless the whole stream is empty.
    if (s.fill == kDeflateBlockSize) {
      Rc rc = s.submit(false);
      if (rc != Rc::Ok) return s.failed = rc;
    }
    DeflateJob& job = s.slot(s.submitted);
    size_t room = kDeflateBlockSize - s.fill;
    size_t piece = n < room ? n : room;
    std::memcpy(job.input.get() + s.fill, data, piece);
    s.fill += piece;
    data += piece;
    n -= piece;
  }
  return Rc::Ok;
}

Rc BlockDeflater::finish() {
  State& s = *s_;
  if (s.failed != Rc::Ok) return s.failed;
  if (s.finished) return Rc::BadRequest;
  s.finished = true;
  Rc rc = s.submit(true);
  if (rc != Rc::Ok) s.failed = rc;
  return rc;
}

}  // namespace fw
