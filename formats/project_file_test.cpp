#include "formats/project_file.h"

#include <gtest/gtest.h>

#include "core/result_test_util.h"
#include "formats/format_test_util.h"
#include "formats/state_file.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {
namespace {

using List = std::vector<std::u16string>;

class ProjectFileTest : public ::testing::Test {
 protected:
  std::string stored() {
    std::string file = readFile(path_);
    std::string out;
    EXPECT_EQ(file.substr(0, 10), std::string("KTRV_FWP\x01\x00", 10));
    EXPECT_TRUE(inflateStream(file.substr(10), &out));
    return out;
  }
  Rc read(List* list, FileKind kind = FileKind::ProjectFile) {
    return readStringList(systemFs(), list, path_.c_str(), kind);
  }
  TempDir dir_;
  std::u16string path_ = dir_.at("p.fwp");
};

TEST_F(ProjectFileTest, PairsArePaddedAndReadBack) {
  std::string z(1, '\0');
  ASSERT_RC_OK(saveProject(systemFs(), {u"A", u"C"}, {u"B", u""}, path_.c_str()));
  EXPECT_EQ(stored(), "A" + z + "C" + z + "B" + z + " " + z + z);
  Project p;
  ASSERT_RC_OK(loadProject(systemFs(), path_.c_str(), &p));
  EXPECT_EQ(p.source, (List{u"A", u"C"}));
  EXPECT_EQ(p.target, (List{u"B", u""}));

  ASSERT_RC_OK(saveProject(systemFs(), {u"s1", u"s2", u"s3"}, {u"t1"}, path_.c_str()));
  EXPECT_EQ(stored(), "s1" + z + "s2" + z + "s3" + z + "t1" + z + " " + z + " " + z + z);
  ASSERT_RC_OK(loadProject(systemFs(), path_.c_str(), &p));
  EXPECT_EQ(p.rows(), 3u);
  EXPECT_EQ(p.row(2).source, u"s3");
  EXPECT_EQ(p.row(2).target, u"");

  ASSERT_RC_OK(saveProject(systemFs(), {}, {}, path_.c_str()));
  EXPECT_EQ(stored(), z);
  List list{u"old"};
  ASSERT_RC_OK(read(&list));
  EXPECT_TRUE(list.empty());
}

TEST_F(ProjectFileTest, NonAsciiPathsSurviveAndLeadingSpacesDoNot) {
  std::u16string accented = u"C:\\donn\u00e9es\\\U0001F600";
  ASSERT_RC_OK(saveProject(systemFs(), {accented, u" lead"}, {u"x", u"y"}, path_.c_str()));
  List list;
  ASSERT_RC_OK(read(&list));
  EXPECT_EQ(list, (List{accented, u"", u"x", u"y"}));
  EXPECT_RC(Rc::BadRequest, saveProject(systemFs(), {std::u16string(260, u'a')}, {}, path_.c_str()));
  EXPECT_RC(Rc::BadRequest, saveProject(systemFs(), {}, {}, nullptr));
}

TEST_F(ProjectFileTest, ListsLongerThanTheWindowAreReadWhole) {
  List source;
  for (int i = 0; i < 300; ++i)
    source.push_back(std::u16string(250, static_cast<char16_t>(u'a' + i % 26)) +
                     toUtf16(std::to_string(i)));
  ASSERT_RC_OK(saveProject(systemFs(), source, {}, path_.c_str()));
  ASSERT_GT(stored().size(), 65536u);
  List list;
  ASSERT_RC_OK(read(&list));
  ASSERT_EQ(list.size(), 600u);
  EXPECT_EQ(List(list.begin(), list.begin() + 300), source);
  EXPECT_EQ(list[599], u"");
}

TEST_F(ProjectFileTest, ZeroByteFirstAfterARefillEndsTheStringNotTheList) {
  // 655 strings of 99 bytes fill 65,500 bytes; the next string's 0 byte is byte 65,536, the
  // first one inflated by the second refill.
  std::string content;
  for (int i = 0; i < 655; ++i) content += std::string(99, 'a') + '\0';
  content += std::string(36, 'b') + '\0' + "after" + '\0' + '\0';
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, path_, content));
  List list;
  ASSERT_RC_OK(read(&list));
  ASSERT_EQ(list.size(), 657u);
  EXPECT_EQ(list[655], std::u16string(36, u'b'));
  EXPECT_EQ(list[656], u"after");
}

TEST_F(ProjectFileTest, StringsUpTo260UnitsAreAcceptedLongerOnesFail) {
  std::string z(1, '\0');
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, path_,
                            std::string(260, 'x') + z + "y" + z + z));
  List list;
  ASSERT_RC_OK(read(&list));
  EXPECT_EQ(list[0].size(), 260u);
  // 261 units, also when the bytes would fit (a four-byte sequence is two units).
  for (std::string s : {std::string(261, 'x'), std::string(259, 'x') + "\xF0\x9F\x98\x80"}) {
    ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, path_, s + z + "y" + z + z));
    list = {u"keep?"};
    EXPECT_RC(Rc::Failed, read(&list));
    EXPECT_TRUE(list.empty());
  }
}

TEST_F(ProjectFileTest, DamagedOrForeignFilesFailWithAnEmptyList) {
  std::string z(1, '\0');
  List list;
  // Another kind either way round.
  ASSERT_RC_OK(saveProject(systemFs(), {u"a"}, {u"b"}, path_.c_str()));
  EXPECT_RC(Rc::Failed, read(&list, FileKind::StateFile));
  std::u16string state = dir_.at("s.fws");
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::StateFile, state, "R" + z + z + z));
  EXPECT_RC(Rc::Failed, readStringList(systemFs(), &list, state.c_str(), FileKind::ProjectFile));
  EXPECT_RC(Rc::Ok, readStringList(systemFs(), &list, state.c_str(), FileKind::StateFile));
  EXPECT_EQ(list, (List{u"R"}));
  EXPECT_RC(Rc::Failed, readStringList(systemFs(), &list, dir_.at("none.fwp").c_str(),
                                       FileKind::ProjectFile));
  // A well-formed stream without the list's end, or ending inside a string.
  for (std::string content : {"a" + z + "b" + z, "a" + z + "bc"}) {
    ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, path_, content));
    list = {u"x"};
    EXPECT_RC(Rc::Failed, read(&list));
    EXPECT_TRUE(list.empty());
  }
  // Cut short, bad UTF-8, an odd list for a project.
  List many(200, u"some folder");
  for (size_t i = 0; i < many.size(); ++i) many[i] += toUtf16(std::to_string(i));
  ASSERT_RC_OK(saveProject(systemFs(), many, many, path_.c_str()));
  std::string file = readFile(path_);
  writeFile(path_, file.substr(0, 10 + (file.size() - 10) / 2));
  EXPECT_RC(Rc::Failed, read(&list));
  EXPECT_TRUE(list.empty());
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, path_, "\xC3(" + z + z));
  EXPECT_RC(Rc::Failed, read(&list));
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::ProjectFile, path_, "a" + z + z));
  Project p;
  EXPECT_RC(Rc::Failed, loadProject(systemFs(), path_.c_str(), &p));
}

TEST_F(ProjectFileTest, SavedRootsSayWhetherAStateOrADifferenceHoldsThem) {
  std::string z(1, '\0');
  std::u16string state = dir_.at("s.fws");
  std::u16string difference = dir_.at("d.fwd");
  ASSERT_RC_OK(
      writeRawFile(systemFs(), FileKind::StateFile, state, "R1" + z + "R2" + z + z + z + z));
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::DifferenceFile, difference, "D" + z + z + z));
  List roots;
  SideKind kind = SideKind::FileSystem;
  ASSERT_RC_OK(readSavedRoots(systemFs(), state.c_str(), &roots, &kind));
  EXPECT_EQ(kind, SideKind::SavedState);
  EXPECT_EQ(roots, (List{u"R1", u"R2"}));
  ASSERT_RC_OK(readSavedRoots(systemFs(), difference.c_str(), &roots, &kind));
  EXPECT_EQ(kind, SideKind::SavedDifference);
  EXPECT_EQ(roots, (List{u"D"}));
  // A project, a missing file and a damaged difference are neither.
  ASSERT_RC_OK(saveProject(systemFs(), {u"a"}, {u"b"}, path_.c_str()));
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::DifferenceFile, difference, "D" + z));
  for (const std::u16string& p : {path_, dir_.at("none.fws"), difference}) {
    kind = SideKind::FileSystem;
    EXPECT_RC(Rc::Failed, readSavedRoots(systemFs(), p.c_str(), &roots, &kind));
    EXPECT_EQ(kind, SideKind::FileSystem);
    EXPECT_TRUE(roots.empty());
  }
}

// A list is only as good as the file around it: the stream must end whole, as the tree readers
// require, before any of its strings count.
TEST_F(ProjectFileTest, AListReadsOnlyFromAFileThatIsWholeAfterIt) {
  std::string z(1, '\0');
  List list;
  ASSERT_RC_OK(saveProject(systemFs(), {u"a"}, {u"b"}, path_.c_str()));
  const std::string project = readFile(path_);
  ASSERT_RC_OK(read(&list));
  // Junk after the stream, in the bytes read with it or past them; the checksum missing.
  for (const std::string& bytes : {project + "x", project + std::string(70000, 'j'),
                                   project.substr(0, project.size() - 4)}) {
    writeFile(path_, bytes);
    list = {u"x"};
    EXPECT_EQ(Rc::Failed, read(&list)) << bytes.size();
    EXPECT_TRUE(list.empty());
    Project p;
    EXPECT_RC(Rc::Failed, loadProject(systemFs(), path_.c_str(), &p));
  }
  // The root names of a state stand before its trees, which must all be there and whole.
  std::u16string state = dir_.at("s.fws");
  SideKind kind = SideKind::FileSystem;
  const std::string names = "R1" + z + "R2" + z + z;
  const std::string trees = fileRecord("f", 5, 1, 1) + z + folderRecord("d", 2) + z + z;
  ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::StateFile, state, names + trees));
  ASSERT_RC_OK(readSavedRoots(systemFs(), state.c_str(), &list, &kind));
  EXPECT_EQ(list, (List{u"R1", u"R2"}));
  const std::string whole = readFile(state);
  std::string flipped = whole;
  flipped[whole.size() - 1] ^= 0x01;  // the checksum
  std::vector<std::string> damaged = {whole.substr(0, whole.size() / 2), flipped, whole + "x"};
  for (const std::string& content : {
           names + trees.substr(0, trees.size() - 1),               // the second tree unended
           names + z,                                                // one tree of two
           names + fileRecord("f", 5, 1, 0x10) + z + z,              // not an attribute
           names + fileRecord("..", 5, 1, 0) + z + z,                // no name a tree holds
           names + folderRecord("d", 0) + fileRecord("\xC3(", 5, 1, 0) + z + z + z}) {
    ASSERT_RC_OK(writeRawFile(systemFs(), FileKind::StateFile, state, content));
    damaged.push_back(readFile(state));
  }
  for (const std::string& bytes : damaged) {
    writeFile(state, bytes);
    list = {u"x"};
    EXPECT_EQ(Rc::Failed, readSavedRoots(systemFs(), state.c_str(), &list, &kind))
        << bytes.size();
    EXPECT_TRUE(list.empty());
  }
}

TEST_F(ProjectFileTest, WriteFailuresAreReported) {
  FaultFs fs(systemFs());
  fs.failNth(FsOp::Create, 1, FsStatus::AccessDenied);
  EXPECT_RC(Rc::CannotWrite, saveProject(fs, {u"a"}, {u"b"}, path_.c_str()));
  fs.failNth(FsOp::Write, 2, FsStatus::DiskFull);
  EXPECT_RC(Rc::CannotWrite, saveProject(fs, {u"a"}, {u"b"}, path_.c_str()));
}

}  // namespace
}  // namespace fw
