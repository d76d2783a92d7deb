#pragma once
// Checks a Paradox table the engine wrote, with pxlib as the reader and a
// small block-chain walk of our own: records in key order, the primary index
// (.PX) with one entry per data block, and each secondary index (.XGn) with
// one entry per record in index order, block hints included, over which its
// .YGn is built like a .PX.
#include <string>
#include <vector>

#include "pxlib_reader.h"

namespace pxcheck {

struct IndexSpec {
  std::string x, y;         // .XGn and .YGn paths
  std::vector<int> fields;  // DB field numbers (from 0) of the indexed fields
};

// Returns an empty text when everything agrees, else what does not.
std::string verify(const std::string& db, const std::string& px, const std::vector<IndexSpec>& indexes);

// Block chain of a Paradox file: (block number, records) in chain order.
std::vector<std::pair<int, int>> chainOf(const std::string& path);

}  // namespace pxcheck
