// dBase tables: the codec plugs in here (open, create, companion files).
#include <filesystem>

#include "storage/backend.h"

namespace storage {

namespace {

std::unique_ptr<Backend> openDbf(const std::string&) {
  throw DbError("dBase tables are not supported yet");
}

void createDbf(const std::string&, const std::vector<FieldDef>&, const std::vector<IndexDef>&) {
  throw DbError("dBase tables are not supported yet");
}

std::vector<std::string> dbfFiles(const std::string& path) {
  std::vector<std::string> r = companionFiles(path, {"DBT", "MDX", "NDX", "FPT", "CDX"});
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) r.insert(r.begin(), path);
  return r;
}

}  // namespace

const Format& dbaseFormat() {
  static const Format f{openDbf, createDbf, dbfFiles};
  return f;
}

}  // namespace storage
