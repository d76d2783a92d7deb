#pragma once
// The primary index file of a block chain (.PX over a .DB, .Y/.YG over a
// .X/.XG), kept in memory as the tree it is on disk, so that a change of the
// chain rewrites only the index blocks it touches: a post costs about the
// same at any table size.
//
// Layout on disk, as readers of the format expect it: the root block heads
// the index file's own block chain, followed by each lower level in key
// order, down to the level-1 blocks whose entries point at the data blocks
// (one entry per data block: its first key, its number, its record count).
// An entry of a higher level holds its child block's first key and the sum
// of the counts below it. Every block of the file is in use: a block that
// empties takes the file's last block in its place, and the file is cut.
#include <cstdint>
#include <string>
#include <vector>

namespace storage::px {

class RawFile;

class IndexTree {
 public:
  struct Entry {
    std::string key;
    int child = 0;  // data block (level 1) or index block below
    int count = 0;  // records below
  };

  // Forgets the tree; the next write builds it afresh from the chain.
  void reset() { built_ = false; }
  bool built() const { return built_; }

  // A fresh tree over the data blocks, given in chain order.
  void build(const std::vector<Entry>& dataBlocks, int perBlock);
  // Takes the tree the index file holds when it is laid out as this class
  // writes it and agrees with the data blocks; false (and nothing kept)
  // otherwise.
  bool adopt(const RawFile& f, int headerSize, int blockSize, int keyWidth,
             const std::vector<Entry>& dataBlocks, int perBlock);

  // Changes of the data chain. A change the tree cannot place (a block it
  // does not know) drops the tree, so that the next write rebuilds it.
  void changed(int dataBlock, int count, const std::string& firstKey);
  // `after` is the chain's block before the new one, 0 at the front.
  void inserted(int after, int dataBlock, int count, const std::string& firstKey);
  void removed(int dataBlock);

  // Header fields of the index file as the tree stands.
  int root() const { return root_; }
  int levels() const { return levels_; }
  int blocks() const { return static_cast<int>(nodes_.size()) - 1; }
  int firstBlock() const { return first_; }
  int lastBlock() const { return last_; }
  std::uint32_t entries() const;

  // The bytes of every block changed since the last call, with their block
  // numbers: every block after a build, none after an adopt. `keyWidth` and
  // `blockSize` give the entry layout.
  std::vector<std::pair<int, std::string>> takeDirty(int keyWidth, int blockSize);

 private:
  struct Node {
    int level = 1;
    int parent = 0;
    int next = 0, prev = 0;
    bool free = false;
    bool dirty = true;
    std::vector<Entry> entries;
  };

  int slotOf(int node, int child) const;
  int sumOf(int node) const;
  int leafFor(int dataBlock) const;
  void setOwner(int node, int slot);
  void propagate(int node, int slot, int delta, bool firstChanged);
  void insertEntry(int node, int slot, Entry e);
  void removeEntry(int node, int slot);
  void linkAfter(int node, int added);
  void unlink(int node);
  int newNode(int level);
  void freeNode(int node);
  void compact();
  void moveNode(int from, int to);
  void drop() { built_ = false; }

  bool built_ = false;
  int per_ = 1;
  int root_ = 0, levels_ = 0, first_ = 0, last_ = 0;
  std::vector<Node> nodes_{1};              // by block number; [0] unused
  std::vector<std::uint16_t> leafOf_;       // data block -> level-1 index block
  std::vector<int> freed_;
};

// Index entry fields after the key: child block, count, 0, each a short
// stored as the format stores shorts. A count beyond a short's range is
// stored as its largest value.
void putIndexShort(char* p, int v);
int getIndexShort(const char* p);

}  // namespace storage::px
