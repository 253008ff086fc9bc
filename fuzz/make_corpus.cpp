// Writes the seed corpus of the fuzz targets into <folder>/string_list and <folder>/saved_side:
// files made by the writers, a split difference, and a few cut short.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "formats/compressed_writer.h"
#include "formats/project_file.h"
#include "formats/state_file.h"
#include "fuzz/fuzz_entry.h"

namespace {

using namespace fw;

std::string z(1, '\0');

std::string le64(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
std::string file(const std::string& name, uint64_t t, uint64_t size, int attributes) {
  return name + z + le64(t) + le64(size) + std::string(1, static_cast<char>(attributes));
}
std::string folder(const std::string& name) { return name + z + std::string(17, '\0'); }

// A state or difference file of the given tree section (and data section for a difference).
std::string written(MemoryFs& fs, FileKind kind, const std::string& tree,
                    const std::string* data = nullptr) {
  const char16_t* path = kind == FileKind::StateFile ? u"mem:/s.fws" : u"mem:/d.fwd";
  std::unique_ptr<CompressedWriter> w;
  CompressedWriter::create(fs, kind, path, 0, kNoSplit, &w);
  w->openVolume();
  w->beginStream();
  w->writeBytes(tree.data(), tree.size());
  w->finishStream();
  w->recordTreeEnd();
  if (data) {
    w->beginStream();
    w->writeBytes(data->data(), data->size());
    w->finishStream();
  }
  w->closeVolume(true);
  w.reset();
  return fs.files[path];
}

void put(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out << bytes;
}

std::string u32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// The same difference as two volumes, cut inside its tree section's stream.
std::string split(const std::string& d, size_t cut) {
  size_t treeEnd = static_cast<uint8_t>(d[15]) | static_cast<uint8_t>(d[16]) << 8;
  std::string body = d.substr(19);
  std::string v0 = d.substr(0, 10) + u32(0) + std::string(1, '\0') + u32(0) + body.substr(0, cut);
  std::string v1 = d.substr(0, 10) + u32(1) + std::string(1, '\x03') +
                   u32(static_cast<uint32_t>(treeEnd - cut)) + body.substr(cut);
  return v0 + kVolumeMark + v1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fw_make_corpus <corpus folder>\n");
    return 2;
  }
  std::string lists = std::string(argv[1]) + "/string_list";
  std::string sides = std::string(argv[1]) + "/saved_side";
  MemoryFs fs;

  saveProject(fs, {u"A", u"C"}, {u"B", u""}, u"mem:/p.fwp");
  std::string project = fs.files[u"mem:/p.fwp"];
  put(lists, "project", std::string(1, '\0') + project);
  put(lists, "project-cut", std::string(1, '\0') + project.substr(0, project.size() - 6));
  saveProject(fs, {}, {}, u"mem:/p.fwp");
  put(lists, "project-empty", std::string(1, '\0') + fs.files[u"mem:/p.fwp"]);

  uint64_t t = 132500000000000000ull;
  std::string tree = "R" + z + " " + z + z +                                   // root names
                     file("a", t, 1, 1) + folder("sub") + file("c", t + 1, 5, 0) +
                     folder("new") + z + z + file("x", 0, 0, 2) + z + z +       // root R
                     file("only", t, 3, 8) + z;                                // root " "
  std::string data = u32(0) + "sub\\c" + z + "ccccc";
  std::string state = written(fs, FileKind::StateFile, tree);
  std::string diff = written(fs, FileKind::DifferenceFile, tree, &data);
  put(lists, "state", std::string(1, '\1') + state);
  put(lists, "difference", std::string(1, '\2') + diff);

  put(sides, "state-source", std::string(1, '\0') + state);
  put(sides, "state-target", std::string(1, '\1') + state);
  put(sides, "state-cut", std::string(1, '\0') + state.substr(0, state.size() - 10));
  put(sides, "difference-target", std::string(1, '\3') + diff);
  put(sides, "difference-split", std::string(1, '\2') + split(diff, 20));
  std::string odd = "R" + z + z + folder("Thumbs.db") + file("in", t, 1, 0) + z +
                    file("sub", t, 9, 0) + folder("a") + folder("deeper") + z + z +
                    file("B.TXT", t, 5, 0) + z;
  put(sides, "merge-kinds", std::string(1, '\1') + written(fs, FileKind::StateFile, odd));
  return 0;
}
