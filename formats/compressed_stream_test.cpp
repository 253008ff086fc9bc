#include <gtest/gtest.h>

#include <cstring>

#include "core/result_test_util.h"
#include "formats/compressed_reader.h"
#include "formats/compressed_writer.h"
#include "formats/format_test_util.h"
#include "formats/volume_set.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/kill_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {
namespace {

constexpr size_t kHeader = kVolumeHeaderSize;

Fs& sys() { return systemFs(); }

FileHeader headerOf(const std::u16string& path, FileKind kind = FileKind::DifferenceFile) {
  std::string bytes = readFile(path);
  FileHeader h{};
  if (bytes.size() >= headerSize(kind))
    decodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()), kind, &h);
  return h;
}

// Everything a reader standing at a data section yields until the stream ends.
Rc drain(CompressedReader& r, std::string* out) {
  out->clear();
  for (;;) {
    bool end;
    Rc rc = r.atEnd(&end);
    if (rc != Rc::Ok || end) return rc;
    const uint8_t* p;
    size_t n;
    rc = r.takeBytes(UINT64_MAX, &p, &n);
    if (rc != Rc::Ok) return rc;
    out->append(reinterpret_cast<const char*>(p), n);
  }
}

// A difference whose tree section is the bytes tree and whose data section is data, written
// with the given volume size; the data section as one deflate stream, or with dataThreads >= 0
// as a block stream on that many threads.
Rc writeDifference(Fs& fs, const std::u16string& path, int32_t splitMiB, const std::string& tree,
                   const std::string& data, int dataThreads = -1) {
  std::unique_ptr<CompressedWriter> w;
  Rc rc = CompressedWriter::create(fs, FileKind::DifferenceFile, path.c_str(), 0, splitMiB, &w);
  if (rc == Rc::Ok) rc = w->openVolume();
  if (rc == Rc::Ok) rc = w->beginStream();
  if (rc == Rc::Ok) rc = w->writeBytes(tree.data(), tree.size());
  if (rc == Rc::Ok) rc = w->finishStream();
  if (rc == Rc::Ok) rc = w->recordTreeEnd();
  if (rc == Rc::Ok)
    rc = dataThreads < 0 ? w->beginStream() : w->beginBlockStream(static_cast<unsigned>(dataThreads));
  // In pieces, as the data section's file copies write them.
  for (size_t at = 0; rc == Rc::Ok && at < data.size(); at += 65536)
    rc = w->writeBytes(data.data() + at, std::min<size_t>(65536, data.size() - at));
  if (rc == Rc::Ok) rc = w->finishStream();
  if (rc == Rc::Ok) rc = w->closeVolume(true);
  if (rc == Rc::Ok) rc = w->commit();
  return rc;
}

Rc readDataSection(const std::u16string& path, std::string* out) {
  std::unique_ptr<CompressedReader> r;
  Rc rc = CompressedReader::create(sys(), &r);
  if (rc == Rc::Ok) rc = r->openReader(FileKind::DifferenceFile, path.c_str());
  if (rc == Rc::Ok) rc = r->findDataSection();
  if (rc == Rc::Ok) rc = drain(*r, out);
  if (rc == Rc::Ok) rc = r->requireStreamEnd(false);
  return rc;
}

// The tree section's inflated bytes, checked to end where the header says.
Rc readTreeSection(const std::u16string& path, std::string* out) {
  std::unique_ptr<CompressedReader> r;
  Rc rc = CompressedReader::create(sys(), &r);
  if (rc == Rc::Ok) rc = r->openReader(FileKind::DifferenceFile, path.c_str());
  if (rc == Rc::Ok) rc = r->startInflate(0);
  if (rc == Rc::Ok) rc = drain(*r, out);
  if (rc == Rc::Ok) rc = r->requireStreamEnd(true);
  return rc;
}

class SplitSetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    data_ = new std::string(randomBytes(2 * kMiB + kMiB / 2, 7));
    ASSERT_RC_OK(writeDifference(sys(), dir_->at("d.fwd"), 1, "tree section", *data_));
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete data_;
  }
  void TearDown() override {
    // Tests that damage the set restore it.
    writeFile(dir_->at("d.001.fwd"), volume1_);
  }
  void SetUp() override { volume1_ = readFile(dir_->at("d.001.fwd")); }

  static TempDir* dir_;
  static std::string* data_;
  std::string volume1_;
};
TempDir* SplitSetTest::dir_ = nullptr;
std::string* SplitSetTest::data_ = nullptr;

TEST_F(SplitSetTest, VolumesAreExactlyOneMiBAndNumberedWithTheLastFlagged) {
  EXPECT_EQ(readFile(dir_->at("d.fwd")).size(), kMiB);
  EXPECT_EQ(readFile(dir_->at("d.001.fwd")).size(), kMiB);
  size_t rest = readFile(dir_->at("d.002.fwd")).size();
  EXPECT_GT(rest, kHeader + kMiB / 2);
  EXPECT_LT(rest, kMiB);
  EXPECT_FALSE(exists(dir_->at("d.003.fwd")));
  const char* names[] = {"d.fwd", "d.001.fwd", "d.002.fwd"};
  for (uint32_t n = 0; n < 3; ++n) {
    FileHeader h = headerOf(dir_->at(names[n]));
    EXPECT_EQ(std::memcmp(h.magic, "KTRV_FWD", 8), 0);
    EXPECT_EQ(h.version, 1);
    EXPECT_EQ(h.volumeNumber, n);
    EXPECT_EQ(h.volumeFlags, (n == 0 ? kTreeEndsHere : 0) | (n == 2 ? kLastVolume : 0)) << n;
    if (n > 0) {
      EXPECT_EQ(h.treeEnd, 0u);
    }
  }
  // The tree section ended in volume 0; treeEnd points just past its stream.
  std::string first = readFile(dir_->at("d.fwd"));
  std::string tree;
  size_t used;
  ASSERT_TRUE(inflateStream(first.substr(kHeader), &tree, &used));
  EXPECT_EQ(tree, "tree section");
  EXPECT_EQ(headerOf(dir_->at("d.fwd")).treeEnd, kHeader + used);
}

TEST_F(SplitSetTest, AnyVolumeOpensTheSetFromItsFirstVolume) {
  for (const char* name : {"d.fwd", "d.002.fwd", "d.001.fwd"}) {
    std::unique_ptr<CompressedReader> r;
    ASSERT_RC_OK(CompressedReader::create(sys(), &r));
    ASSERT_RC_OK(r->openReader(FileKind::DifferenceFile, dir_->at(name).c_str()));
    EXPECT_EQ(r->path(), dir_->at("d.fwd")) << name;
    EXPECT_EQ(r->volumeNumber, 0u);
    std::string data;
    ASSERT_RC_OK(r->findDataSection());
    ASSERT_RC_OK(drain(*r, &data));
    EXPECT_TRUE(data == *data_) << name;
  }
}

TEST_F(SplitSetTest, MissingMiddleVolumeCannotOpenAndForeignOneFails) {
  std::string data;
  ASSERT_EQ(sys().deleteFile(dir_->at("d.001.fwd").c_str()), FsStatus::Ok);
  EXPECT_RC(Rc::CannotOpen, readDataSection(dir_->at("d.fwd"), &data));
  writeFile(dir_->at("d.001.fwd"), readFile(dir_->at("d.002.fwd")));
  EXPECT_RC(Rc::Failed, readDataSection(dir_->at("d.fwd"), &data));
  // A volume of the right number from another set: its bytes do not continue the stream.
  TempDir other;
  ASSERT_RC_OK(writeDifference(sys(), other.at("d.fwd"), 1, "other", randomBytes(kMiB * 2, 9)));
  writeFile(dir_->at("d.001.fwd"), readFile(other.at("d.001.fwd")));
  EXPECT_RC(Rc::Failed, readDataSection(dir_->at("d.fwd"), &data));
}

TEST_F(SplitSetTest, TruncatedLastVolumeFails) {
  std::string last = readFile(dir_->at("d.002.fwd"));
  writeFile(dir_->at("d.002.fwd"), last.substr(0, last.size() - 100));
  std::string data;
  EXPECT_RC(Rc::Failed, readDataSection(dir_->at("d.fwd"), &data));
  writeFile(dir_->at("d.002.fwd"), last);
}

// A volume's bytes as the writer heads them, with body after the header.
std::string volumeBytes(uint32_t number, uint8_t flags, const std::string& body) {
  return std::string("KTRV_FWD\x01\x00", 10) + le32(number) +
         std::string(1, static_cast<char>(flags)) + le32(0) + body;
}

Rc openNamed(const std::u16string& path) {
  std::unique_ptr<CompressedReader> r;
  Rc rc = CompressedReader::create(sys(), &r);
  if (rc == Rc::Ok) rc = r->openReader(FileKind::DifferenceFile, path.c_str());
  return rc;
}

TEST_F(SplitSetTest, ANamedVolumeMustBeThatVolumeOfTheSetItsNameGives) {
  TempDir stick;
  // The last volume of a newer set beside an older set of one volume: not read as the older.
  ASSERT_RC_OK(writeDifference(sys(), stick.at("d.fwd"), kNoSplit, "older", "data"));
  writeFile(stick.at("d.003.fwd"), volumeBytes(3, kLastVolume, randomBytes(500, 1)));
  EXPECT_RC(Rc::Failed, openNamed(stick.at("d.003.fwd")));
  EXPECT_EQ(volumeRefusal(sys(), stick.at("d.003.fwd").c_str()),
            "d.003.fwd is not part of the set that begins with d.fwd, which has 1 volume");
  // A name whose number is none the writer gives is a file of its own.
  writeFile(stick.at("pc.2024.fwd"), "");
  writeFile(stick.at("pc.fwd"), readFile(stick.at("d.fwd")));
  EXPECT_RC(Rc::Failed, openNamed(stick.at("pc.2024.fwd")));
  EXPECT_EQ(volumeRefusal(sys(), stick.at("pc.2024.fwd").c_str()), "");

  // In the three-volume set: a volume whose header gives another number than its name, one
  // that is no volume at all, and ones whose set is missing a volume before them.
  writeFile(dir_->at("d.001.fwd"), readFile(dir_->at("d.002.fwd")));
  EXPECT_RC(Rc::Failed, openNamed(dir_->at("d.001.fwd")));
  EXPECT_EQ(volumeRefusal(sys(), dir_->at("d.001.fwd").c_str()),
            "d.001.fwd is volume 2 of a set, not volume 1 as its name says");
  EXPECT_RC(Rc::Failed, openNamed(dir_->at("d.002.fwd")));
  EXPECT_EQ(volumeRefusal(sys(), dir_->at("d.002.fwd").c_str()),
            "d.002.fwd is not part of the set that begins with d.fwd: d.001.fwd is volume 2 of "
            "a set, not volume 1 as its name says");
  writeFile(dir_->at("d.001.fwd"), "text");
  EXPECT_EQ(volumeRefusal(sys(), dir_->at("d.001.fwd").c_str()),
            "d.001.fwd is not a volume of a difference file");
  ASSERT_EQ(sys().deleteFile(dir_->at("d.001.fwd").c_str()), FsStatus::Ok);
  EXPECT_RC(Rc::CannotOpen, openNamed(dir_->at("d.002.fwd")));
  EXPECT_RC(Rc::CannotOpen, openNamed(dir_->at("d.001.fwd")));
  std::string first = readFile(dir_->at("d.fwd"));
  writeFile(dir_->at("d.001.fwd"), volume1_);
  ASSERT_EQ(sys().deleteFile(dir_->at("d.fwd").c_str()), FsStatus::Ok);
  EXPECT_RC(Rc::CannotOpen, openNamed(dir_->at("d.002.fwd")));
  EXPECT_EQ(volumeRefusal(sys(), dir_->at("d.002.fwd").c_str()),
            "d.002.fwd is volume 2 of a set whose first volume d.fwd cannot be opened");
  writeFile(dir_->at("d.fwd"), first);
  // Whole again, any of its volumes opens it.
  for (const char* name : {"d.001.fwd", "d.002.fwd"}) {
    EXPECT_RC(Rc::Ok, openNamed(dir_->at(name)));
    EXPECT_EQ(volumeRefusal(sys(), dir_->at(name).c_str()), "");
  }
}

// A save over what bears its volumes' names removes only the volumes of the set it replaces.
TEST_F(SplitSetTest, ASaveLeavesWhatIsNoVolumeOfTheSetItReplaces) {
  TempDir stick;
  std::string v1 = readFile(dir_->at("d.001.fwd"));
  std::string v2 = readFile(dir_->at("d.002.fwd"));
  // Volumes of a complete set whose first volume is elsewhere, beside nothing and beside a set
  // of one volume; a text file of the user's.
  for (bool oneBefore : {false, true}) {
    SCOPED_TRACE(oneBefore);
    writeFile(stick.at("week.001.fwd"), v1);
    writeFile(stick.at("week.002.fwd"), v2);
    if (oneBefore) ASSERT_RC_OK(writeRawFile(sys(), FileKind::DifferenceFile, stick.at("week.fwd"), "x"));
    ASSERT_RC_OK(writeDifference(sys(), stick.at("week.fwd"), 1, "week", "data"));
    EXPECT_TRUE(readFile(stick.at("week.001.fwd")) == v1);
    EXPECT_TRUE(readFile(stick.at("week.002.fwd")) == v2);
    writeFile(stick.at("memo.001.fwd"), "my notes");
    ASSERT_RC_OK(writeDifference(sys(), stick.at("memo.fwd"), 1, "memo", "data"));
    EXPECT_EQ(readFile(stick.at("memo.001.fwd")), "my notes");
  }
  // The old set's own volumes go, but only when its streams read whole across them: with the
  // third volume of another set of the same shape in its place, nothing beyond is removed.
  std::string other = randomBytes(2 * kMiB + kMiB / 2, 8);
  ASSERT_RC_OK(writeDifference(sys(), stick.at("o.fwd"), 1, "tree section", other));
  for (bool foreign : {true, false}) {
    SCOPED_TRACE(foreign);
    writeFile(stick.at("d.fwd"), readFile(dir_->at("d.fwd")));
    writeFile(stick.at("d.001.fwd"), v1);
    writeFile(stick.at("d.002.fwd"), foreign ? readFile(stick.at("o.002.fwd")) : v2);
    ASSERT_RC_OK(writeDifference(sys(), stick.at("d.fwd"), 1, "new", "data"));
    EXPECT_EQ(exists(stick.at("d.001.fwd")), foreign);
    EXPECT_EQ(exists(stick.at("d.002.fwd")), foreign);
    std::string back;
    ASSERT_RC_OK(readDataSection(stick.at("d.fwd"), &back));
    EXPECT_EQ(back, "data");
  }
}

// A save of a two-volume set over another, stopped at every instant: both names always hold
// a whole volume, old or new; the first is the new one only once the second is; and a set of
// old and new volumes is refused, never read as one. With hard links for the old volumes'
// second names, and with copies where the file system has none.
TEST(SplitSetSaveTest, AKillAtAnyInstantLeavesEveryVolumeWholeAndNeverAMixReadAsASet) {
  class NoLinksFs : public ForwardingFs {
   public:
    using ForwardingFs::ForwardingFs;
    FsStatus createHardLink(const char16_t*, const char16_t*) override {
      return FsStatus::Unsupported;
    }
  } noLinks(sys());
  const std::string oldData = randomBytes(kMiB + kMiB / 8, 21);
  const std::string newData = randomBytes(kMiB + kMiB / 10, 22);
  std::string old0, old1, new0, new1;
  {
    TempDir dir;
    ASSERT_RC_OK(writeDifference(sys(), dir.at("d.fwd"), 1, "old tree", oldData));
    old0 = readFile(dir.at("d.fwd"));
    old1 = readFile(dir.at("d.001.fwd"));
    ASSERT_RC_OK(writeDifference(sys(), dir.at("d.fwd"), 1, "new tree", newData));
    new0 = readFile(dir.at("d.fwd"));
    new1 = readFile(dir.at("d.001.fwd"));
    ASSERT_FALSE(exists(dir.at("d.002.fwd")));
  }
  for (int n = 0, links = 1; links >= 0; ++n) {
    ASSERT_LT(n, 1000);
    TempDir dir;
    writeFile(dir.at("d.fwd"), old0);
    writeFile(dir.at("d.001.fwd"), old1);
    KillFs fs(links ? sys() : noLinks, n);
    Rc rc = writeDifference(fs, dir.at("d.fwd"), 1, "new tree", newData);
    const std::string v0 = readFile(dir.at("d.fwd"));
    const std::string v1 = readFile(dir.at("d.001.fwd"));
    SCOPED_TRACE(std::string(links ? "links" : "copies") + ", killed after " +
                 std::to_string(n) + " calls");
    EXPECT_TRUE(v0 == old0 || v0 == new0);
    EXPECT_TRUE(v1 == old1 || v1 == new1);
    EXPECT_TRUE(v0 != new0 || v1 == new1);  // the first volume goes in last
    std::string data;
    Rc read = readDataSection(dir.at("d.fwd"), &data);
    if (v1 == (v0 == old0 ? old1 : new1)) {
      EXPECT_EQ(data, v0 == old0 ? oldData : newData);
    } else {
      EXPECT_NE(read, Rc::Ok);
    }
    if (!fs.killed()) {
      EXPECT_RC(Rc::Ok, rc);
      EXPECT_EQ(v0, new0);
      FindHandle h;
      FindEntry e;
      int names = 0;
      ASSERT_EQ(sys().findFirst((dir.path() + kPathSeparator + u"*").c_str(), &h, &e),
                FsStatus::Ok);
      do names += e.name[0] != u'.';
      while (sys().findNext(h, &e) == FsStatus::Ok);
      sys().findClose(h);
      EXPECT_EQ(names, 2);  // no temporary file or second name left
      n = -1;  // and again, with copies
      --links;
    }
  }
}

// Text that deflate shrinks, with stretches that repeat from far back (across blocks) and
// random stretches between them.
std::string mixedBytes(size_t n, uint32_t seed) {
  std::string out;
  std::string noise = randomBytes(n / 4 + 1, seed);
  size_t at = 0;
  for (uint32_t i = 0; out.size() < n; ++i) {
    if (i % 5 == 4) {
      out += noise.substr(at % noise.size(), 3000);
      at += 3000;
    } else {
      out += "line " + std::to_string(i % 977) + " of a text that repeats itself now and then\n";
    }
  }
  out.resize(n);
  return out;
}

// The data section's compressed bytes alone (a single volume: from treeEnd to the end).
std::string dataStreamBytes(const std::u16string& path) {
  std::string file = readFile(path);
  return file.substr(headerOf(path).treeEnd);
}

TEST(BlockStreamTest, IsOnePlainZlibStreamWhoseBytesDoNotDependOnTheThreads) {
  // Empty, one byte, exactly one block, one byte past it, and many blocks of mixed data.
  const size_t sizes[] = {0, 1, kDeflateBlockSize, kDeflateBlockSize + 1, 9 * kDeflateBlockSize + 777};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string data = mixedBytes(size, 3);
    TempDir dir;
    ASSERT_RC_OK(writeDifference(sys(), dir.at("one.fwd"), kNoSplit, "t", data, 1));
    ASSERT_RC_OK(writeDifference(sys(), dir.at("four.fwd"), kNoSplit, "t", data, 4));
    ASSERT_RC_OK(writeDifference(sys(), dir.at("seq.fwd"), kNoSplit, "t", data, -1));
    std::string one = dataStreamBytes(dir.at("one.fwd"));
    EXPECT_TRUE(one == dataStreamBytes(dir.at("four.fwd")));
    // Plain zlib takes it whole, checksum included, exactly to the end of the file.
    std::string out(data.size() + 1, '\0');
    uLongf outLen = static_cast<uLongf>(out.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &outLen,
                         reinterpret_cast<const Bytef*>(one.data()), static_cast<uLong>(one.size())),
              Z_OK);
    out.resize(outLen);
    EXPECT_TRUE(out == data);
    size_t used = 0;
    ASSERT_TRUE(inflateStream(one, &out, &used));
    EXPECT_EQ(used, one.size());
    // Our reader gives the same bytes as from the one-stream writer, and so does the one-stream
    // writer's output for the same data; the block stream is not much larger.
    std::string back;
    ASSERT_RC_OK(readDataSection(dir.at("four.fwd"), &back));
    EXPECT_TRUE(back == data);
    size_t sequential = dataStreamBytes(dir.at("seq.fwd")).size();
    EXPECT_LE(one.size(), sequential + sequential / 50 + 64);
  }
}

TEST(BlockStreamTest, AWrongChecksumOrACutStreamIsRefused) {
  TempDir dir;
  std::string data = mixedBytes(3 * kDeflateBlockSize, 4);
  ASSERT_RC_OK(writeDifference(sys(), dir.at("d.fwd"), kNoSplit, "t", data, 2));
  std::string file = readFile(dir.at("d.fwd"));
  std::string back;
  file[file.size() - 1] ^= 1;  // the Adler-32's last byte
  writeFile(dir.at("d.fwd"), file);
  EXPECT_RC(Rc::Failed, readDataSection(dir.at("d.fwd"), &back));
  file[file.size() - 1] ^= 1;
  // Cut at the end of a block's sync flush: what is there inflates, but the stream has no end.
  size_t flush = file.rfind(std::string("\x00\x00\xff\xff", 4));
  ASSERT_NE(flush, std::string::npos);
  writeFile(dir.at("d.fwd"), file.substr(0, flush + 4));
  EXPECT_RC(Rc::Failed, readDataSection(dir.at("d.fwd"), &back));
}

TEST(BlockStreamTest, VolumesKeepTheirExactSizesAndReadBack) {
  TempDir dir;
  std::string data = randomBytes(3 * kMiB + 12345, 11);
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    std::u16string first = dir.at(threads == 1 ? "a.fwd" : "b.fwd");
    ASSERT_RC_OK(writeDifference(sys(), first, 1, "tree", data, threads));
    std::u16string v[4] = {first, volumeName(first, 1), volumeName(first, 2), volumeName(first, 3)};
    for (int n = 0; n < 3; ++n) EXPECT_EQ(readFile(v[n]).size(), kMiB) << n;
    EXPECT_TRUE(exists(v[3]));
    EXPECT_EQ(headerOf(v[3]).volumeFlags, kLastVolume);
    EXPECT_FALSE(exists(volumeName(first, 4)));
    std::string back;
    ASSERT_RC_OK(readDataSection(first, &back));
    EXPECT_TRUE(back == data);
  }
  // The same bytes in every volume for one thread and for three.
  for (uint32_t n = 0; n < 4; ++n)
    EXPECT_TRUE(readFile(volumeName(dir.at("a.fwd"), n)) == readFile(volumeName(dir.at("b.fwd"), n)));
}

TEST(BlockStreamTest, AFailedWriteOrAnAbandonedStreamLeavesNoVolume) {
  TempDir dir;
  std::string data = randomBytes(2 * kMiB, 12);
  FaultFs fs(sys());
  for (bool failWrite : {true, false}) {
    SCOPED_TRACE(failWrite);
    std::unique_ptr<CompressedWriter> w;
    ASSERT_RC_OK(CompressedWriter::create(fs, FileKind::DifferenceFile, dir.at("d.fwd").c_str(), 0,
                                          1, &w));
    ASSERT_RC_OK(w->openVolume());
    ASSERT_RC_OK(w->beginBlockStream(4));
    if (failWrite) fs.failNth(FsOp::Write, 3, FsStatus::DiskFull);
    Rc rc = Rc::Ok;
    for (size_t at = 0; rc == Rc::Ok && at < data.size(); at += 65536)
      rc = w->writeBytes(data.data() + at, 65536);
    if (failWrite) {
      EXPECT_RC(Rc::CannotWrite, rc);
      EXPECT_RC(Rc::CannotWrite, w->writeBytes(data.data(), 10));  // it stays failed
    } else {
      ASSERT_RC_OK(rc);  // a cancelled save stops here, blocks still in flight
    }
    w.reset();
    fs.clearFaults();
    FindHandle h;
    FindEntry e;
    std::u16string pattern = dir.path() + kPathSeparator + u"*";
    FsStatus st = sys().findFirst(pattern.c_str(), &h, &e);
    int files = 0;
    while (st == FsStatus::Ok) {
      if (e.name[0] != u'.') ++files;
      st = sys().findNext(h, &e);
    }
    if (st == FsStatus::NoMoreFiles) sys().findClose(h);
    EXPECT_EQ(files, 0);
  }
}

TEST(VolumeNameTest, NumbersGoBeforeTheLastThreeCharacters) {
  EXPECT_EQ(volumeName(u"backup.fwd", 0), u"backup.fwd");
  EXPECT_EQ(volumeName(u"backup.fwd", 1), u"backup.001.fwd");
  EXPECT_EQ(volumeName(u"backup.fwd", 999), u"backup.999.fwd");
  EXPECT_EQ(volumeName(u"backup.fwd", 1000), u"backup.1000.fwd");
  std::u16string first;
  uint32_t n = 0;
  EXPECT_TRUE(parseVolumeName(u"d.002.FWD", &first, &n));
  EXPECT_EQ(first, u"d.FWD");
  EXPECT_EQ(n, 2u);
  EXPECT_TRUE(parseVolumeName(u"x.y.999.fwd", &first, &n));
  EXPECT_EQ(first, u"x.y.fwd");
  EXPECT_EQ(n, 999u);
  // Only the three digits the writer gives volumes 1 to 999 make a volume's name.
  for (const char16_t* own : {u"pc.2024.fwd", u"d.1000.fwd", u"d.000.fwd", u"d.01.fwd",
                              u"d.0a1.fwd", u"d.fwd", u".001.fwd", u"d.002.fws", u"d 002.fwd"})
    EXPECT_FALSE(parseVolumeName(own, &first, &n)) << toUtf8(own);
}

TEST(VolumeNameTest, WriterRenumbersFromVolume999To1000AndNamesLikeDigitsSurvive) {
  TempDir dir;
  // A first name that itself ends in digits must not be taken for a numbered volume.
  for (const char* first : {"d.fwd", "x000.fwd", "y.5.fwd"}) {
    std::unique_ptr<CompressedWriter> w;
    ASSERT_RC_OK(CompressedWriter::create(sys(), FileKind::DifferenceFile,
                                          dir.at(first).c_str(), 0, 1, &w));
    ASSERT_RC_OK(w->openVolume());
    ASSERT_RC_OK(w->nextVolume());
    EXPECT_EQ(w->path(), volumeName(dir.at(first), 1));
    ASSERT_RC_OK(w->closeVolume(true));
    ASSERT_RC_OK(w->commit());
  }
  std::unique_ptr<CompressedWriter> w;
  ASSERT_RC_OK(CompressedWriter::create(sys(), FileKind::DifferenceFile,
                                        dir.at("big.fwd").c_str(), 0, 1, &w));
  ASSERT_RC_OK(w->openVolume());
  for (int i = 0; i < 1000; ++i) ASSERT_RC_OK(w->nextVolume());
  EXPECT_EQ(w->path(), dir.at("big.1000.fwd"));
  ASSERT_RC_OK(w->closeVolume(true));
  ASSERT_RC_OK(w->commit());
  EXPECT_EQ(headerOf(dir.at("big.1000.fwd")).volumeNumber, 1000u);
  EXPECT_TRUE(exists(dir.at("big.999.fwd")));
}

TEST(CompressedWriterTest, StateFileIsNeverSplitAndEndsWithFlagsThree) {
  TempDir dir;
  std::unique_ptr<CompressedWriter> w;
  // Even when a volume size is given by mistake.
  ASSERT_RC_OK(
      CompressedWriter::create(sys(), FileKind::StateFile, dir.at("s.fws").c_str(), 1, 1, &w));
  ASSERT_RC_OK(w->openVolume());
  ASSERT_RC_OK(w->beginStream());
  std::string big = randomBytes(kMiB + kMiB / 2, 3);
  ASSERT_RC_OK(w->writeBytes(big.data(), big.size()));
  ASSERT_RC_OK(w->finishStream());
  ASSERT_RC_OK(w->recordTreeEnd());
  ASSERT_RC_OK(w->closeVolume(true));
  ASSERT_RC_OK(w->commit());
  std::string file = readFile(dir.at("s.fws"));
  EXPECT_FALSE(exists(dir.at("s.001.fws")));
  FileHeader h = headerOf(dir.at("s.fws"), FileKind::StateFile);
  EXPECT_EQ(h.volumeFlags, 3);
  EXPECT_EQ(h.treeEnd, file.size());
  // The header bytes themselves, little-endian.
  std::string expected = std::string("KTRV_FWS\x01\x00", 10) + le32(0) + "\x03" +
                         le32(static_cast<uint32_t>(file.size()));
  EXPECT_EQ(file.substr(0, 19), expected);
}

TEST(CompressedWriterTest, NamesOf259UnitsAreStoredAnd260AreRefused) {
  TempDir dir;
  std::unique_ptr<CompressedWriter> w;
  ASSERT_RC_OK(CompressedWriter::create(sys(), FileKind::ProjectFile, dir.at("p.fwp").c_str(), 0,
                                        kNoSplit, &w));
  ASSERT_RC_OK(w->openVolume());
  ASSERT_RC_OK(w->beginStream());
  std::u16string name259(259, u'\u00e9');  // two UTF-8 bytes each
  std::u16string name260(260, u'n');
  EXPECT_RC(Rc::Ok, w->writeName(name259.c_str()));
  uint64_t before = w->bytesIn();
  EXPECT_RC(Rc::BadRequest, w->writeName(name260.c_str()));
  EXPECT_EQ(w->bytesIn(), before);  // nothing written
  char16_t lone[] = {u'a', 0xD800, 0};
  EXPECT_RC(Rc::Failed, w->writeName(lone));
  ASSERT_RC_OK(w->finishStream());
  ASSERT_RC_OK(w->commit());
  w.reset();
  std::string inflated;
  ASSERT_TRUE(inflateStream(readFile(dir.at("p.fwp")).substr(10), &inflated));
  EXPECT_EQ(inflated, toUtf8(name259) + std::string(1, '\0'));
}

TEST(CompressedWriterTest, FailedCreateOrWriteIsCannotWrite) {
  TempDir dir;
  FaultFs fs(sys());
  std::unique_ptr<CompressedWriter> w;
  ASSERT_RC_OK(CompressedWriter::create(fs, FileKind::DifferenceFile, dir.at("d.fwd").c_str(), 0,
                                        1, &w));
  fs.failNth(FsOp::Create, 1, FsStatus::AccessDenied);
  EXPECT_RC(Rc::CannotWrite, w->openVolume());
  ASSERT_RC_OK(w->openVolume());
  ASSERT_RC_OK(w->beginStream());
  // Writing into the second volume fails.
  fs.failNth(FsOp::Create, 1, FsStatus::DiskFull);
  std::string big = randomBytes(kMiB + 100000, 5);
  EXPECT_RC(Rc::CannotWrite, w->writeBytes(big.data(), big.size()));
  // A write failing in the final flush.
  ASSERT_RC_OK(CompressedWriter::create(fs, FileKind::StateFile, dir.at("s.fws").c_str(), 0,
                                        kNoSplit, &w));
  ASSERT_RC_OK(w->openVolume());
  ASSERT_RC_OK(w->beginStream());
  ASSERT_RC_OK(w->writeU32(7));
  fs.failNth(FsOp::Write, 1, FsStatus::IoError);
  EXPECT_RC(Rc::CannotWrite, w->finishStream());
  EXPECT_RC(Rc::BadRequest, w->writeU8(1));  // the stream is gone
  EXPECT_RC(Rc::BadRequest,
            CompressedWriter::create(fs, FileKind::StateFile, u"", 0, kNoSplit, &w));
}

class ReaderTest : public ::testing::Test {
 protected:
  Rc open(FileKind kind, const std::u16string& path) {
    Rc rc = CompressedReader::create(sys(), &r_);
    if (rc == Rc::Ok) rc = r_->openReader(kind, path.c_str());
    if (rc == Rc::Ok) rc = r_->startInflate(0);
    return rc;
  }
  // The reader's file is closed first: Windows lets nobody replace a file open for reading.
  void rewrite(const std::u16string& path, const std::string& bytes) {
    r_.reset();
    writeFile(path, bytes);
  }
  Rc raw(const std::u16string& path, const std::string& content) {
    r_.reset();
    return writeRawFile(sys(), FileKind::StateFile, path, content);
  }
  TempDir dir_;
  std::unique_ptr<CompressedReader> r_;
};

TEST_F(ReaderTest, WrongMagicVersionOrMissingFileIsRefused) {
  std::u16string p = dir_.at("s.fws");
  ASSERT_RC_OK(raw(p, std::string("a\0\0", 3)));
  EXPECT_RC(Rc::Ok, open(FileKind::StateFile, p));
  EXPECT_RC(Rc::Failed, open(FileKind::DifferenceFile, p));
  EXPECT_RC(Rc::Failed, open(FileKind::ProjectFile, p));
  std::string bytes = readFile(p);
  bytes[8] = 2;
  rewrite(p, bytes);
  EXPECT_RC(Rc::Failed, open(FileKind::StateFile, p));
  rewrite(p, bytes.substr(0, 12));  // shorter than its header
  EXPECT_RC(Rc::Failed, open(FileKind::StateFile, p));
  EXPECT_RC(Rc::CannotOpen, open(FileKind::StateFile, dir_.at("none.fws")));
  EXPECT_RC(Rc::CannotOpen, open(FileKind::DifferenceFile, dir_.at("none.002.fwd")));
}

TEST_F(ReaderTest, HeaderWithoutDataFailsToStart) {
  std::u16string p = dir_.at("s.fws");
  ASSERT_RC_OK(raw(p, "x"));
  rewrite(p, readFile(p).substr(0, kHeader));
  EXPECT_RC(Rc::Failed, open(FileKind::StateFile, p));
}

TEST_F(ReaderTest, TruncatedOrCorruptStreamFailsInRefill) {
  std::u16string p = dir_.at("s.fws");
  std::string content = randomBytes(200000, 11);
  ASSERT_RC_OK(raw(p, content));
  std::string good = readFile(p);
  rewrite(p, good.substr(0, good.size() - 5000));
  ASSERT_RC_OK(open(FileKind::StateFile, p));
  Rc rc = Rc::Ok;
  size_t total = 0;
  while (rc == Rc::Ok) {
    r_->consume();
    r_->cursor += r_->available;
    total += r_->available;
    r_->available = 0;
    rc = r_->refill();
    if (rc == Rc::Ok && r_->available == 0) break;
  }
  EXPECT_RC(Rc::Failed, rc);
  EXPECT_LT(total, content.size());
  std::string bad = good;
  bad[kHeader + 1000] ^= 0x55;
  rewrite(p, bad);
  ASSERT_RC_OK(open(FileKind::StateFile, p));
  std::string all;
  for (rc = Rc::Ok; rc == Rc::Ok;) {
    rc = r_->refill();
    if (rc != Rc::Ok || r_->available == 0) break;
    r_->cursor += r_->available;
    r_->available = 0;
    r_->consume();
  }
  EXPECT_RC(Rc::Failed, rc);
}

// A list of 100-byte strings in which one string's 0 byte is the first byte of the second
// refill, then the list's end and a marker.
std::string listAcrossTheWindow() {
  std::string list;
  for (int i = 0; i < 655; ++i) list += std::string(99, 'a') + '\0';
  list += std::string(36, 'b');  // bytes 65500..65535
  list += '\0';                  // byte 65536: the first of the next refill
  list += std::string("after") + '\0' + '\0';
  list += "marker";
  return list;
}

TEST_F(ReaderTest, SkipStringListTakesAZeroAfterARefillAsTheStringsEnd) {
  std::u16string p = dir_.at("s.fws");
  ASSERT_RC_OK(raw(p, listAcrossTheWindow()));
  ASSERT_RC_OK(open(FileKind::StateFile, p));
  ASSERT_RC_OK(r_->refill());
  ASSERT_EQ(r_->available, kStreamBufferSize);
  ASSERT_EQ(r_->window[kStreamBufferSize - 1], 'b');
  ASSERT_RC_OK(r_->skipStringList());
  ASSERT_RC_OK(r_->scanBytes(6));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r_->itemStart()), 6), "marker");
}

TEST_F(ReaderTest, SkipStringListCoversListsLongerThanTheWindow) {
  std::string list;
  for (int i = 0; i < 2000; ++i) list += std::string(200, 'c') + '\0';
  list += '\0';
  list += "end";
  std::u16string p = dir_.at("s.fws");
  ASSERT_RC_OK(raw(p, list));
  ASSERT_RC_OK(open(FileKind::StateFile, p));
  ASSERT_RC_OK(r_->skipStringList());
  ASSERT_RC_OK(r_->scanBytes(3));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r_->itemStart()), 3), "end");
}

TEST_F(ReaderTest, StreamEndingInsideSkipStringListFailsAndStopsTheReader) {
  std::u16string p = dir_.at("s.fws");
  for (std::string content : {std::string("one\0two", 7), std::string("one\0", 4)}) {
    ASSERT_RC_OK(raw(p, content));
    ASSERT_RC_OK(open(FileKind::StateFile, p));
    EXPECT_RC(Rc::Failed, r_->skipStringList());
    EXPECT_FALSE(r_->inflating());
    EXPECT_EQ(r_->window, nullptr);
    EXPECT_RC(Rc::Failed, r_->refill());
    size_t n;
    EXPECT_RC(Rc::Failed, r_->scanString(&n));
  }
}

TEST_F(ReaderTest, ItemLongerThanTheWindowFails) {
  std::u16string p = dir_.at("s.fws");
  ASSERT_RC_OK(raw(p, std::string(70000, 'z') + '\0'));
  ASSERT_RC_OK(open(FileKind::StateFile, p));
  size_t n;
  EXPECT_RC(Rc::Failed, r_->scanString(&n));
}

TEST_F(ReaderTest, ReadFailureIsFailed) {
  std::u16string p = dir_.at("s.fws");
  ASSERT_RC_OK(raw(p, randomBytes(300000, 1)));
  FaultFs fs(sys());
  ASSERT_RC_OK(CompressedReader::create(fs, &r_));
  ASSERT_RC_OK(r_->openReader(FileKind::StateFile, p.c_str()));
  ASSERT_RC_OK(r_->startInflate(0));
  fs.failNth(FsOp::Read, 1, FsStatus::IoError, true);
  Rc rc = Rc::Ok;
  while (rc == Rc::Ok) {
    r_->cursor += r_->available;
    r_->available = 0;
    r_->consume();
    rc = r_->refill();
  }
  EXPECT_RC(Rc::Failed, rc);
  r_.reset();  // before fs goes
}

// The tree section's stream fills its volume to the byte, so the data section starts in the
// next volume while treeEnd points at the end of the first.
TEST(DataSectionTest, FoundWhenTheTreeFillsItsVolumeExactly) {
  // Deflate's output does not depend on how the input is handed over, so the length that
  // makes the tree's stream end exactly at 1 MiB can be searched in memory.
  auto compressedSize = [](size_t n) {
    std::string in = randomBytes(n, 21);
    uLongf size = compressBound(static_cast<uLong>(n));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
              reinterpret_cast<const Bytef*>(in.data()), static_cast<uLong>(n),
              Z_DEFAULT_COMPRESSION);
    return static_cast<size_t>(size);
  };
  const size_t target = kMiB - kHeader;
  size_t n = target - 100;
  for (int i = 0; i < 50 && compressedSize(n) != target; ++i) {
    size_t s = compressedSize(n);
    n = s < target ? n + std::max<size_t>(1, (target - s) / 2) : n - std::max<size_t>(1, (s - target) / 2);
  }
  ASSERT_EQ(compressedSize(n), target);
  TempDir dir;
  std::string data = randomBytes(100000, 4);
  ASSERT_RC_OK(writeDifference(sys(), dir.at("d.fwd"), 1, randomBytes(n, 21), data));
  ASSERT_EQ(readFile(dir.at("d.fwd")).size(), kMiB);
  FileHeader h = headerOf(dir.at("d.fwd"));
  ASSERT_EQ(h.treeEnd, kMiB);
  ASSERT_EQ(h.volumeFlags, kTreeEndsHere);
  std::string got;
  ASSERT_RC_OK(readDataSection(dir.at("d.fwd"), &got));
  EXPECT_TRUE(got == data);
  ASSERT_RC_OK(readTreeSection(dir.at("d.fwd"), &got));
  EXPECT_TRUE(got == randomBytes(n, 21));
}

TEST(DataSectionTest, TreeEndOutsideItsVolumeOrMissingFails) {
  TempDir dir;
  std::u16string p = dir.at("d.fwd");
  ASSERT_RC_OK(writeDifference(sys(), p, kNoSplit, "tree", "data"));
  std::string good = readFile(p);
  std::string got;
  ASSERT_RC_OK(readDataSection(p, &got));
  EXPECT_EQ(got, "data");
  auto withTreeEnd = [&](uint32_t end, uint8_t flags) {
    std::string b = good;
    b.replace(15, 4, le32(end));
    b[14] = static_cast<char>(flags);
    writeFile(p, b);
    return readDataSection(p, &got);
  };
  EXPECT_RC(Rc::Failed, withTreeEnd(static_cast<uint32_t>(good.size()) + 1, 3));
  EXPECT_RC(Rc::Failed, withTreeEnd(0xFFFFFFFFu, 3));
  EXPECT_RC(Rc::Failed, withTreeEnd(5, 3));
  EXPECT_RC(Rc::Failed, withTreeEnd(static_cast<uint32_t>(good.size()), 3));  // no data there
  EXPECT_RC(Rc::Failed, withTreeEnd(getU32(reinterpret_cast<const uint8_t*>(good.data()) + 15),
                                        kLastVolume));  // no tree end anywhere
  EXPECT_RC(Rc::Failed, withTreeEnd(kHeader + 3, 3));  // inside the tree's stream
}

}  // namespace
}  // namespace fw
