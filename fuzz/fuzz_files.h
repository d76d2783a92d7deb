#pragma once
// Files for the fuzz targets that go through the engine's file layer: one
// scratch directory for the whole run, in $FUZZ_SCRATCH when it is set (the
// CI run removes it afterwards), else a new one in memory.
#include <stdlib.h>

#include <cstdio>
#include <vector>
#include <string>

#include "storage/backend.h"

namespace fuzzfiles {

inline const std::string& scratchDir() {
  static const std::string dir = [] {
    if (const char* given = getenv("FUZZ_SCRATCH")) return std::string(given);
    char tmpl[] = "/dev/shm/table-fuzz-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  return dir;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// Reads every field of every record through the backend, puts each value
// back into a copy of its record, and orders the records by each field.
inline void readThrough(storage::Backend& b) {
  (void)b.indexes();
  const std::vector<std::string> recs = b.readAll();
  for (const std::string& rec : recs)
    for (size_t f = 0; f < b.fields().size(); ++f) {
      storage::Value v = b.get(rec, int(f));
      std::string copy = rec;
      try {
        b.set(copy, int(f), v);
      } catch (const storage::DbError&) {
      }
      (void)b.compare(rec, recs.front(), int(f), true);
    }
  b.close();
}

}  // namespace fuzzfiles
