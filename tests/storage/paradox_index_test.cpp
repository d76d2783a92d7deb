// The primary index tree followed through long runs of random changes of its
// data chain, with small blocks so that it grows and shrinks by many levels.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <map>
#include <random>

#include "storage/paradox_file.h"
#include "storage/paradox_index.h"

using namespace storage::px;

namespace {

constexpr int kKey = 4, kPer = 3, kBlock = 6 + kPer * (kKey + 6);

std::string keyOf(int v) {
  std::string k(4, '\0');
  for (int i = 0; i < 4; ++i) k[static_cast<std::size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
  return k;
}

// The index file as the writes left it: block number -> bytes.
struct Image {
  std::map<int, std::string> blocks;
  void apply(IndexTree& t) {
    for (auto& [no, b] : t.takeDirty(kKey, kBlock)) blocks[no] = std::move(b);
    while (!blocks.empty() && blocks.rbegin()->first > t.blocks()) blocks.erase(std::prev(blocks.end()));
  }
};

// Checks the image against the data chain: the root heads the file's chain,
// the levels follow top-down, the level-1 entries are the data blocks in
// order, each higher entry holds its child's first key and count, and every
// block of the file is in the tree.
std::string check(const IndexTree& t, const Image& img, const std::vector<IndexTree::Entry>& data) {
  if (data.empty()) return t.root() == 0 && t.blocks() == 0 ? "" : "tree of nothing not empty";
  if (static_cast<int>(img.blocks.size()) != t.blocks()) return "blocks on disk differ from the tree";
  if (t.firstBlock() != t.root()) return "root does not head the chain";
  auto entries = [&](int no) {
    std::vector<IndexTree::Entry> es;
    const std::string& b = img.blocks.at(no);
    const int n = static_cast<std::int16_t>(rd16(b.data() + 4)) / (kKey + 6) + 1;
    for (int i = 0; i < n; ++i) {
      const char* p = b.data() + 6 + i * (kKey + 6);
      es.push_back({std::string(p, kKey), getIndexShort(p + kKey), getIndexShort(p + kKey + 2)});
    }
    return es;
  };
  std::vector<int> order, level{t.root()};
  std::vector<IndexTree::Entry> leaves;
  for (int l = t.levels(); l >= 1; --l) {
    std::vector<int> below;
    for (int no : level) {
      if (!img.blocks.count(no)) return "block outside the file";
      order.push_back(no);
      const auto es = entries(no);
      if (es.empty() || static_cast<int>(es.size()) > kPer) return "block over- or underfull";
      for (const auto& e : es) {
        if (l == 1) {
          leaves.push_back(e);
          continue;
        }
        if (!img.blocks.count(e.child)) return "child outside the file";
        const auto ce = entries(e.child);
        int sum = 0;
        for (const auto& c : ce) sum += c.count;
        if (e.key != ce.front().key || e.count != sum) return "entry above a block disagrees with it";
        below.push_back(e.child);
      }
    }
    level = below;
  }
  if (static_cast<int>(order.size()) != t.blocks()) return "blocks outside the tree";
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string& b = img.blocks.at(order[i]);
    if (rd16(b.data() + 2) != (i ? order[i - 1] : 0) || rd16(b.data()) != (i + 1 < order.size() ? order[i + 1] : 0))
      return "chain is not top-down";
  }
  if (leaves.size() != data.size()) return "level 1 holds " + std::to_string(leaves.size()) + " entries";
  for (std::size_t i = 0; i < data.size(); ++i)
    if (leaves[i].child != data[i].child || leaves[i].count != data[i].count || leaves[i].key != data[i].key)
      return "level-1 entry " + std::to_string(i) + " differs";
  return "";
}

}  // namespace

TEST(IndexTree, FollowsRandomChangesOfItsChain) {
  std::mt19937 rng(7);
  std::vector<IndexTree::Entry> data;  // the chain: first key, block, count
  int nextBlock = 1, nextKey = 1000000;
  IndexTree t;
  t.build(data, kPer);
  Image img;
  img.apply(t);
  for (int step = 0; step < 6000; ++step) {
    const unsigned op = rng() % 10;
    // Grow for a while, then shrink to nothing, then grow again.
    const bool grow = (step / 1500) % 2 == 0;
    if (data.empty() || (grow ? op < 5 : op < 2)) {
      const std::size_t at = data.empty() ? 0 : rng() % (data.size() + 1);
      const int after = at == 0 ? 0 : data[at - 1].child;
      IndexTree::Entry e{keyOf(nextKey -= 7), nextBlock++, static_cast<int>(rng() % 30) + 1};
      data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), e);
      t.inserted(after, e.child, e.count, e.key);
    } else if (grow ? op < 7 : op < 8) {
      const std::size_t at = rng() % data.size();
      t.removed(data[at].child);
      data.erase(data.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      auto& e = data[rng() % data.size()];
      e.count = static_cast<int>(rng() % 30) + 1;
      if (rng() % 2) e.key = keyOf(nextKey -= 3);
      t.changed(e.child, e.count, e.key);
    }
    ASSERT_TRUE(t.built()) << "step " << step;
    img.apply(t);
    const std::string why = check(t, img, data);
    ASSERT_EQ(why, "") << "step " << step << ", " << data.size() << " data blocks";
  }
}

TEST(IndexTree, AdoptsOnlyAFileThatAgreesWithItsChain) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("t.px").toStdString();
  std::vector<IndexTree::Entry> data;
  for (int i = 0; i < 40; ++i) data.push_back({keyOf(i * 10), i + 1, 5});
  IndexTree t;
  t.build(data, kPer);
  // Changes after the build leave a file in no packed order.
  t.removed(5);
  data.erase(data.begin() + 4);
  t.inserted(7, 41, 3, keyOf(71));
  data.insert(data.begin() + 6, {keyOf(71), 41, 3});
  const int header = 0x800;
  Image img;
  img.apply(t);
  std::string file(header, '\0');
  wr16(file.data() + hFileBlocks, static_cast<std::uint16_t>(t.blocks()));
  wr16(file.data() + hFirstBlock, static_cast<std::uint16_t>(t.firstBlock()));
  wr16(file.data() + hRoot, static_cast<std::uint16_t>(t.root()));
  file[hLevels] = static_cast<char>(t.levels());
  for (const auto& [no, b] : img.blocks) file += b;
  std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));

  RawFile f(path, false);
  IndexTree again;
  ASSERT_TRUE(again.adopt(f, header, kBlock, kKey, data, kPer));
  EXPECT_TRUE(again.takeDirty(kKey, kBlock).empty());  // nothing to write
  EXPECT_EQ(again.root(), t.root());
  EXPECT_EQ(again.levels(), t.levels());
  // The adopted tree goes on from the file as it stands.
  again.removed(41);
  data.erase(data.begin() + 6);
  again.changed(1, 9, keyOf(-1));
  data[0].count = 9;
  data[0].key = keyOf(-1);
  img.apply(again);
  EXPECT_EQ(check(again, img, data), "");

  // A chain the file does not describe is refused.
  data.insert(data.begin() + 6, {keyOf(71), 41, 3});
  data[0] = {keyOf(0), 1, 5};
  auto other = data;
  other[3].count += 1;
  EXPECT_FALSE(IndexTree().adopt(f, header, kBlock, kKey, other, kPer));
  other = data;
  other.pop_back();
  EXPECT_FALSE(IndexTree().adopt(f, header, kBlock, kKey, other, kPer));
  other = data;
  other[10].key = keyOf(12345);
  EXPECT_FALSE(IndexTree().adopt(f, header, kBlock, kKey, other, kPer));
  EXPECT_TRUE(IndexTree().adopt(f, header, kBlock, kKey, data, kPer));
}
