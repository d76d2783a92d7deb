#pragma once
// Files for the fuzz targets that go through the engine's file layer. Each
// fuzzing process has a scratch directory of its own, so that parallel jobs
// (-jobs/-workers) never write each other's tables: a new directory inside
// $FUZZ_SCRATCH when it is set (the CI run removes that afterwards), else
// one in memory, removed when the process exits.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <vector>
#include <string>

#include "storage/backend.h"

namespace fuzzfiles {

inline const std::string& scratchDir() {
  // Kept for the whole process (never destroyed), so that the removal at exit
  // can still read it.
  static const std::string* const dir = [] {
    const char* given = getenv("FUZZ_SCRATCH");
    std::string tmpl = std::string(given && *given ? given : "/dev/shm") + "/table-fuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      std::fprintf(stderr, "fuzz: cannot make a scratch directory in %s\n", tmpl.c_str());
      std::abort();
    }
    auto* made = new std::string(tmpl);
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(scratchDir(), ec); });
    return made;
  }();
  return *dir;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// Every record is decoded by the same code, so the targets look closely at
// the first records and the last one only: a table of thousands of records
// then costs an input no more than a small one, and the fuzzer runs many
// more inputs in the same time.
constexpr size_t kRecordsLookedAt = 32;

inline bool looksAt(size_t record, size_t count) {
  return record < kRecordsLookedAt || record + 1 == count;
}

// Reads every field of the records looked at through the backend, puts each
// value back into a copy of its record, and compares it with the first.
inline void readThrough(storage::Backend& b) {
  (void)b.indexes();
  const std::vector<std::string> recs = b.readAll();
  for (size_t r = 0; r < recs.size(); ++r) {
    if (!looksAt(r, recs.size())) continue;
    const std::string& rec = recs[r];
    for (size_t f = 0; f < b.fields().size(); ++f) {
      storage::Value v = b.get(rec, int(f));
      std::string copy = rec;
      try {
        b.set(copy, int(f), v);
      } catch (const storage::DbError&) {
      }
      (void)b.compare(rec, recs.front(), int(f), true);
    }
  }
  b.close();
}

}  // namespace fuzzfiles
