// Fuzz target for the Paradox reader: any bytes as a table, with any bytes
// as one of its companion files (blob file, primary index, secondary index),
// opened through the engine's backend and read field by field, must give
// values or a DbError, never a crash, a hang or a leak.
//
// Input: one mode byte (which companion file: .MB, .PX, .X02, .XG0), a
// 4-byte little-endian length of the companion's bytes, those bytes, then
// the table's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "storage/backend.h"

using namespace storage;

namespace {

std::string scratchDir() {
  static std::string dir = [] {
    char tmpl[] = "/dev/shm/paradox-fuzz-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  return dir;
}

void writeFile(const std::string& path, const std::string& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  static const char* const companions[] = {"t.MB", "t.PX", "t.X02", "t.XG0"};
  const int mode = data[0] % 4;
  size_t partLen = size_t(data[1]) | size_t(data[2]) << 8 | size_t(data[3]) << 16 | size_t(data[4]) << 24;
  const std::string rest(reinterpret_cast<const char*>(data + 5), size - 5);
  if (partLen > rest.size()) partLen = rest.size();
  const std::string dir = scratchDir();
  for (const char* c : companions) ::unlink((dir + "/" + c).c_str());
  ::unlink((dir + "/t.Y02").c_str());
  ::unlink((dir + "/t.YG0").c_str());
  writeFile(dir + "/t.db", rest.substr(partLen));
  if (partLen > 0) writeFile(dir + "/" + companions[mode], rest.substr(0, partLen));
  try {
    auto b = paradoxFormat().open(dir + "/t.db");
    (void)b->indexes();
    const std::vector<std::string> recs = b->readAll();
    for (const std::string& rec : recs)
      for (size_t f = 0; f < b->fields().size(); ++f) {
        Value v = b->get(rec, int(f));
        std::string copy = rec;
        try {
          b->set(copy, int(f), v);
        } catch (const DbError&) {
        }
        (void)b->compare(rec, recs.front(), int(f), true);
      }
    b->close();
  } catch (const DbError&) {
  }
  return 0;
}
