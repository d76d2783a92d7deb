// Fuzz target for the dBase reader: any bytes as a table with its memo file,
// as an index file, or as files opened through the engine's backend must
// give values or a DbError, never a crash, a hang or a leak.
//
// Input: one mode byte, a 4-byte little-endian length of the memo (or index)
// part, that part, then the table's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_files.h"
#include "storage/backend.h"
#include "storage/dbase_file.h"

using namespace storage;

namespace {

void readEverything(const dbase::DbfFile& t) {
  for (uint32_t r = 0; r < t.recordCount(); ++r) {
    if (!fuzzfiles::looksAt(r, t.recordCount())) continue;
    (void)t.isDeleted(r);
    for (size_t f = 0; f < t.fields().size(); ++f) {
      (void)t.fieldType(int(f));
      auto v = t.value(r, int(f));
      try {
        (void)t.encode(int(f), v);
      } catch (const DbError&) {
      }
    }
  }
  (void)t.lastUpdate();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int mode = data[0] % 3;
  size_t partLen = size_t(data[1]) | size_t(data[2]) << 8 | size_t(data[3]) << 16 | size_t(data[4]) << 24;
  const std::string rest(reinterpret_cast<const char*>(data + 5), size - 5);
  if (partLen > rest.size()) partLen = rest.size();
  const std::string part = rest.substr(0, partLen), table = rest.substr(partLen);
  try {
    if (mode == 0) {
      readEverything(*dbase::DbfFile::parse(table, part, !part.empty()));
    } else if (mode == 1) {
      std::vector<dbase::FieldInfo> fields;
      try {
        fields = dbase::DbfFile::parse(table)->fields();
      } catch (const DbError&) {
      }
      for (const char* name : {"t.ndx", "t.mdx", "t.cdx"})
        for (const auto& i : dbase::readIndexFile(name, part)) (void)dbase::keyFields(i.expression, fields);
    } else {
      const std::string dir = fuzzfiles::scratchDir();
      fuzzfiles::writeFile(dir + "/t.dbf", table);
      fuzzfiles::writeFile(dir + "/t.dbt", part);
      fuzzfiles::writeFile(dir + "/T.FPT", part);
      fuzzfiles::readThrough(*dbaseFormat().open(dir + "/t.dbf"));
    }
  } catch (const DbError&) {
  }
  return 0;
}
