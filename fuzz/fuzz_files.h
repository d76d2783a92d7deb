#pragma once
// Files for the fuzz targets that go through the engine's file layer: one
// scratch directory for the whole run, in $FUZZ_SCRATCH when it is set (the
// CI run removes it afterwards), else a new one in memory.
#include <stdlib.h>

#include <cstdio>
#include <string>

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

}  // namespace fuzzfiles
