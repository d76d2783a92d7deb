// The primary index tree of a block chain, changed block by block.
#include "storage/paradox_index.h"

#include <algorithm>
#include <cstring>

#include "storage/paradox_file.h"

namespace storage::px {

void putIndexShort(char* p, int v) {
  v = std::clamp(v, -32767, 32767);
  const auto u = static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) ^ 0x8000u);
  p[0] = static_cast<char>(u >> 8);
  p[1] = static_cast<char>(u & 0xFF);
}

int getIndexShort(const char* p) {
  const auto u = static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                                            static_cast<unsigned char>(p[1]));
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(u ^ 0x8000u));
}

namespace {
int storedCount(int v) { return std::min(v, 32767); }
}  // namespace

std::uint32_t IndexTree::entries() const {
  std::uint32_t n = 0;
  for (std::size_t i = 1; i < nodes_.size(); ++i) n += static_cast<std::uint32_t>(nodes_[i].entries.size());
  return n;
}

// ---------------------------------------------------------------- build

void IndexTree::build(const std::vector<Entry>& dataBlocks, int perBlock) {
  per_ = std::max(perBlock, 2);
  nodes_.assign(1, Node{});
  leafOf_.assign(65536, 0);
  freed_.clear();
  root_ = levels_ = first_ = last_ = 0;
  built_ = true;
  if (dataBlocks.empty()) return;
  // Levels bottom-up as runs of full blocks; children refer to positions in
  // the level below until the blocks are numbered.
  std::vector<std::vector<std::vector<Entry>>> levels;
  std::vector<Entry> cur = dataBlocks;
  for (;;) {
    std::vector<std::vector<Entry>> level;
    std::vector<Entry> up;
    for (std::size_t i = 0; i < cur.size(); i += static_cast<std::size_t>(per_)) {
      const std::size_t m = std::min(cur.size() - i, static_cast<std::size_t>(per_));
      std::vector<Entry> blk(cur.begin() + static_cast<std::ptrdiff_t>(i),
                             cur.begin() + static_cast<std::ptrdiff_t>(i + m));
      int sum = 0;
      for (const Entry& e : blk) sum += e.count;
      up.push_back({blk.front().key, static_cast<int>(level.size()), sum});
      level.push_back(std::move(blk));
    }
    levels.push_back(std::move(level));
    if (up.size() == 1) break;
    cur = std::move(up);
  }
  levels_ = static_cast<int>(levels.size());
  // Numbers top-down, so that the blocks lie in the file in chain order.
  std::vector<int> base(levels.size());
  int next = 1;
  for (std::size_t l = levels.size(); l-- > 0;) {
    base[l] = next;
    next += static_cast<int>(levels[l].size());
  }
  nodes_.resize(static_cast<std::size_t>(next));
  for (std::size_t l = 0; l < levels.size(); ++l) {
    for (std::size_t b = 0; b < levels[l].size(); ++b) {
      const int no = base[l] + static_cast<int>(b);
      Node& n = nodes_[static_cast<std::size_t>(no)];
      n.level = static_cast<int>(l) + 1;
      n.entries = std::move(levels[l][b]);
      for (Entry& e : n.entries) {
        if (l == 0) {
          leafOf_[static_cast<std::size_t>(e.child)] = static_cast<std::uint16_t>(no);
        } else {
          e.child += base[l - 1];
          nodes_[static_cast<std::size_t>(e.child)].parent = no;
        }
      }
    }
  }
  for (int no = 1; no < next; ++no) {
    nodes_[static_cast<std::size_t>(no)].prev = no - 1;
    nodes_[static_cast<std::size_t>(no)].next = no + 1 < next ? no + 1 : 0;
  }
  root_ = first_ = 1;
  last_ = next - 1;
}

bool IndexTree::adopt(const RawFile& f, int headerSize, int blockSize, int keyWidth,
                      const std::vector<Entry>& dataBlocks, int perBlock) {
  built_ = false;
  char fixed[0x22] = {};
  f.read(0, fixed, sizeof fixed);
  const int fileBlocks = rd16(fixed + hFileBlocks);
  const int root = rd16(fixed + hRoot);
  const int levels = static_cast<unsigned char>(fixed[hLevels]);
  const std::uint64_t size = f.size();
  if (dataBlocks.empty()) return false;  // an empty tree is rewritten at no cost
  if (root < 1 || root > fileBlocks || levels < 1 || rd16(fixed + hFirstBlock) != root ||
      static_cast<std::uint64_t>(headerSize) + static_cast<std::uint64_t>(fileBlocks) * static_cast<std::uint64_t>(blockSize) > size)
    return false;
  const int entry = keyWidth + 6;
  std::vector<Node> nodes(static_cast<std::size_t>(fileBlocks) + 1);
  std::vector<char> seen(nodes.size(), 0);
  std::vector<int> order;  // blocks top-down, each level in key order
  std::vector<int> level{root};
  std::string blk(static_cast<std::size_t>(blockSize), '\0');
  std::size_t leafEntry = 0;
  for (int l = levels; l >= 1; --l) {
    std::vector<int> below;
    for (int no : level) {
      if (no < 1 || no > fileBlocks || seen[static_cast<std::size_t>(no)]) return false;
      seen[static_cast<std::size_t>(no)] = 1;
      f.read(static_cast<std::uint64_t>(headerSize) + static_cast<std::uint64_t>(no - 1) * static_cast<std::uint64_t>(blockSize),
             blk.data(), blk.size());
      const int add = static_cast<std::int16_t>(rd16(blk.data() + 4));
      if (add < 0 || add % entry != 0) return false;
      const int n = add / entry + 1;
      if (n > perBlock) return false;
      Node& node = nodes[static_cast<std::size_t>(no)];
      node.level = l;
      node.dirty = false;
      node.next = rd16(blk.data());
      node.prev = rd16(blk.data() + 2);
      for (int i = 0; i < n; ++i) {
        const char* p = blk.data() + 6 + i * entry;
        Entry e{std::string(p, static_cast<std::size_t>(keyWidth)), getIndexShort(p + keyWidth),
                getIndexShort(p + keyWidth + 2)};
        if (l == 1) {
          if (leafEntry >= dataBlocks.size()) return false;
          const Entry& d = dataBlocks[leafEntry++];
          if (d.child != e.child || storedCount(d.count) != e.count || d.key != e.key) return false;
          e.count = d.count;
        } else {
          below.push_back(e.child);
        }
        node.entries.push_back(std::move(e));
      }
      order.push_back(no);
    }
    level = std::move(below);
  }
  if (leafEntry != dataBlocks.size() || static_cast<int>(order.size()) != fileBlocks) return false;
  // The file's chain runs through the blocks in that order.
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Node& n = nodes[static_cast<std::size_t>(order[i])];
    if (n.prev != (i ? order[i - 1] : 0) || n.next != (i + 1 < order.size() ? order[i + 1] : 0)) return false;
  }
  // Parents, and each upper entry's key and count as its child gives them
  // (bottom-up, so that every count is an exact sum).
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    Node& n = nodes[static_cast<std::size_t>(*it)];
    if (n.level == 1) continue;
    for (Entry& e : n.entries) {
      Node& c = nodes[static_cast<std::size_t>(e.child)];
      if (c.level != n.level - 1 || c.entries.empty()) return false;
      c.parent = *it;
      int sum = 0;
      for (const Entry& x : c.entries) sum += x.count;
      if (e.key != c.entries.front().key || e.count != storedCount(sum)) return false;
      e.count = sum;
    }
  }
  nodes_ = std::move(nodes);
  per_ = std::max(perBlock, 2);
  leafOf_.assign(65536, 0);
  for (int no : order)
    if (nodes_[static_cast<std::size_t>(no)].level == 1)
      for (const Entry& e : nodes_[static_cast<std::size_t>(no)].entries)
        leafOf_[static_cast<std::size_t>(e.child)] = static_cast<std::uint16_t>(no);
  freed_.clear();
  root_ = first_ = root;
  last_ = order.back();
  levels_ = levels;
  built_ = true;
  return true;
}

// ---------------------------------------------------------------- helpers

int IndexTree::slotOf(int node, int child) const {
  const auto& es = nodes_[static_cast<std::size_t>(node)].entries;
  for (std::size_t i = 0; i < es.size(); ++i)
    if (es[i].child == child) return static_cast<int>(i);
  return -1;
}

int IndexTree::sumOf(int node) const {
  int s = 0;
  for (const Entry& e : nodes_[static_cast<std::size_t>(node)].entries) s += e.count;
  return s;
}

int IndexTree::leafFor(int dataBlock) const {
  if (dataBlock < 1 || dataBlock >= static_cast<int>(leafOf_.size())) return 0;
  return leafOf_[static_cast<std::size_t>(dataBlock)];
}

// Tells the child of entry `slot` of `node` who holds it.
void IndexTree::setOwner(int node, int slot) {
  const Node& n = nodes_[static_cast<std::size_t>(node)];
  const int child = n.entries[static_cast<std::size_t>(slot)].child;
  if (n.level == 1) leafOf_[static_cast<std::size_t>(child)] = static_cast<std::uint16_t>(node);
  else nodes_[static_cast<std::size_t>(child)].parent = node;
}

// Carries a change of entry `slot` of `node` (its count by delta; when
// firstChanged, the node's first key) up to the root.
void IndexTree::propagate(int node, int slot, int delta, bool firstChanged) {
  bool keyUp = firstChanged && slot == 0;
  while (delta != 0 || keyUp) {
    const int parent = nodes_[static_cast<std::size_t>(node)].parent;
    if (parent == 0) return;
    const int j = slotOf(parent, node);
    if (j < 0) return drop();
    Node& p = nodes_[static_cast<std::size_t>(parent)];
    Entry& e = p.entries[static_cast<std::size_t>(j)];
    e.count += delta;
    if (keyUp) e.key = nodes_[static_cast<std::size_t>(node)].entries.front().key;
    p.dirty = true;
    keyUp = keyUp && j == 0;
    node = parent;
  }
}

void IndexTree::linkAfter(int node, int added) {
  Node& a = nodes_[static_cast<std::size_t>(added)];
  Node& n = nodes_[static_cast<std::size_t>(node)];
  a.prev = node;
  a.next = n.next;
  if (n.next) {
    nodes_[static_cast<std::size_t>(n.next)].prev = added;
    nodes_[static_cast<std::size_t>(n.next)].dirty = true;
  } else {
    last_ = added;
  }
  n.next = added;
  n.dirty = a.dirty = true;
}

void IndexTree::unlink(int node) {
  Node& n = nodes_[static_cast<std::size_t>(node)];
  if (n.prev) {
    nodes_[static_cast<std::size_t>(n.prev)].next = n.next;
    nodes_[static_cast<std::size_t>(n.prev)].dirty = true;
  } else {
    first_ = n.next;
  }
  if (n.next) {
    nodes_[static_cast<std::size_t>(n.next)].prev = n.prev;
    nodes_[static_cast<std::size_t>(n.next)].dirty = true;
  } else {
    last_ = n.prev;
  }
  n.prev = n.next = 0;
}

int IndexTree::newNode(int level) {
  if (nodes_.size() > 0xFFFF) {
    drop();
    return 0;
  }
  Node n;
  n.level = level;
  nodes_.push_back(std::move(n));
  return static_cast<int>(nodes_.size()) - 1;
}

void IndexTree::freeNode(int node) {
  Node& n = nodes_[static_cast<std::size_t>(node)];
  n.free = true;
  n.entries.clear();
  freed_.push_back(node);
}

// Moves block `from` (the file's last) to the free block `to`.
void IndexTree::moveNode(int from, int to) {
  nodes_[static_cast<std::size_t>(to)] = std::move(nodes_[static_cast<std::size_t>(from)]);
  Node& n = nodes_[static_cast<std::size_t>(to)];
  n.dirty = true;
  if (n.prev) {
    nodes_[static_cast<std::size_t>(n.prev)].next = to;
    nodes_[static_cast<std::size_t>(n.prev)].dirty = true;
  } else {
    first_ = to;
  }
  if (n.next) {
    nodes_[static_cast<std::size_t>(n.next)].prev = to;
    nodes_[static_cast<std::size_t>(n.next)].dirty = true;
  } else {
    last_ = to;
  }
  if (n.parent) {
    const int j = slotOf(n.parent, from);
    if (j < 0) return drop();
    nodes_[static_cast<std::size_t>(n.parent)].entries[static_cast<std::size_t>(j)].child = to;
    nodes_[static_cast<std::size_t>(n.parent)].dirty = true;
  } else {
    root_ = to;
  }
  for (std::size_t i = 0; i < n.entries.size(); ++i) setOwner(to, static_cast<int>(i));
}

// Closes the gaps that freed blocks left, with the file's last blocks.
void IndexTree::compact() {
  std::sort(freed_.begin(), freed_.end());
  for (int f : freed_) {
    while (nodes_.size() > 1 && nodes_.back().free) nodes_.pop_back();
    if (f >= static_cast<int>(nodes_.size())) continue;
    moveNode(static_cast<int>(nodes_.size()) - 1, f);
    nodes_.pop_back();
  }
  freed_.clear();
}

// ---------------------------------------------------------------- changes

void IndexTree::insertEntry(int node, int slot, Entry e) {
  const int count = e.count;
  {
    Node& n = nodes_[static_cast<std::size_t>(node)];
    n.entries.insert(n.entries.begin() + slot, std::move(e));
    n.dirty = true;
  }
  setOwner(node, slot);
  if (static_cast<int>(nodes_[static_cast<std::size_t>(node)].entries.size()) <= per_)
    return propagate(node, slot, count, slot == 0);

  // Full: a new block after this one. At the end of its level it takes the
  // new entry alone (a growing table fills its blocks); elsewhere the block
  // is split in the middle.
  const int level = nodes_[static_cast<std::size_t>(node)].level;
  const int added = newNode(level);
  if (!added) return;
  Node& n = nodes_[static_cast<std::size_t>(node)];
  Node& a = nodes_[static_cast<std::size_t>(added)];
  const int size = static_cast<int>(n.entries.size());
  const bool lastOfLevel = n.next == 0 || nodes_[static_cast<std::size_t>(n.next)].level != level;
  const int keep = lastOfLevel && slot == size - 1 ? size - 1 : size / 2;
  a.entries.assign(std::make_move_iterator(n.entries.begin() + keep), std::make_move_iterator(n.entries.end()));
  n.entries.resize(static_cast<std::size_t>(keep));
  for (std::size_t i = 0; i < a.entries.size(); ++i) setOwner(added, static_cast<int>(i));
  linkAfter(node, added);

  const int parent = nodes_[static_cast<std::size_t>(node)].parent;
  if (parent == 0) {
    // The root split: a new root above both heads the chain.
    const int r = newNode(level + 1);
    if (!r) return;
    Node& root = nodes_[static_cast<std::size_t>(r)];
    root.entries.push_back({nodes_[static_cast<std::size_t>(node)].entries.front().key, node, sumOf(node)});
    root.entries.push_back({nodes_[static_cast<std::size_t>(added)].entries.front().key, added, sumOf(added)});
    root.next = first_;
    nodes_[static_cast<std::size_t>(first_)].prev = r;
    nodes_[static_cast<std::size_t>(first_)].dirty = true;
    first_ = r;
    nodes_[static_cast<std::size_t>(node)].parent = r;
    nodes_[static_cast<std::size_t>(added)].parent = r;
    root_ = r;
    ++levels_;
    return;
  }
  const int j = slotOf(parent, node);
  if (j < 0) return drop();
  Entry& pe = nodes_[static_cast<std::size_t>(parent)].entries[static_cast<std::size_t>(j)];
  const int now = sumOf(node);
  const int delta = now - pe.count;
  const std::string& first = nodes_[static_cast<std::size_t>(node)].entries.front().key;
  const bool keyChanged = pe.key != first;
  pe.count = now;
  pe.key = first;
  nodes_[static_cast<std::size_t>(parent)].dirty = true;
  propagate(parent, j, delta, keyChanged);
  insertEntry(parent, j + 1, {nodes_[static_cast<std::size_t>(added)].entries.front().key, added, sumOf(added)});
}

void IndexTree::removeEntry(int node, int slot) {
  Node& n = nodes_[static_cast<std::size_t>(node)];
  const int count = n.entries[static_cast<std::size_t>(slot)].count;
  n.entries.erase(n.entries.begin() + slot);
  n.dirty = true;
  if (!n.entries.empty()) return propagate(node, slot, -count, slot == 0);
  const int parent = n.parent;
  unlink(node);
  freeNode(node);
  if (parent == 0) {  // the last entry of the tree
    root_ = 0;
    levels_ = 0;
    return;
  }
  const int j = slotOf(parent, node);
  if (j < 0) return drop();
  removeEntry(parent, j);
}

void IndexTree::changed(int dataBlock, int count, const std::string& firstKey) {
  if (!built_) return;
  const int leaf = leafFor(dataBlock);
  const int slot = leaf ? slotOf(leaf, dataBlock) : -1;
  if (slot < 0) return drop();
  Entry& e = nodes_[static_cast<std::size_t>(leaf)].entries[static_cast<std::size_t>(slot)];
  const int delta = count - e.count;
  const bool keyChanged = e.key != firstKey;
  if (!delta && !keyChanged) return;
  e.count = count;
  e.key = firstKey;
  nodes_[static_cast<std::size_t>(leaf)].dirty = true;
  propagate(leaf, slot, delta, keyChanged);
}

void IndexTree::inserted(int after, int dataBlock, int count, const std::string& firstKey) {
  if (!built_) return;
  if (dataBlock < 1 || dataBlock >= static_cast<int>(leafOf_.size()) || leafFor(dataBlock)) return drop();
  if (root_ == 0) {
    const int r = newNode(1);
    if (!r) return;
    root_ = first_ = last_ = r;
    levels_ = 1;
    insertEntry(r, 0, {firstKey, dataBlock, count});
    return;
  }
  int leaf, slot;
  if (after == 0) {
    leaf = root_;  // the first level-1 block: down the first entries
    while (nodes_[static_cast<std::size_t>(leaf)].level > 1)
      leaf = nodes_[static_cast<std::size_t>(leaf)].entries.front().child;
    slot = 0;
  } else {
    leaf = leafFor(after);
    slot = leaf ? slotOf(leaf, after) + 1 : 0;
    if (slot <= 0) return drop();
  }
  insertEntry(leaf, slot, {firstKey, dataBlock, count});
}

void IndexTree::removed(int dataBlock) {
  if (!built_) return;
  const int leaf = leafFor(dataBlock);
  const int slot = leaf ? slotOf(leaf, dataBlock) : -1;
  if (slot < 0) return drop();
  leafOf_[static_cast<std::size_t>(dataBlock)] = 0;
  removeEntry(leaf, slot);
  // A root left with one entry gives way to its only child, which follows
  // it in the chain.
  while (levels_ > 1 && nodes_[static_cast<std::size_t>(root_)].entries.size() == 1) {
    const int child = nodes_[static_cast<std::size_t>(root_)].entries.front().child;
    unlink(root_);
    freeNode(root_);
    root_ = child;
    nodes_[static_cast<std::size_t>(child)].parent = 0;
    --levels_;
  }
  compact();
}

// ---------------------------------------------------------------- bytes

std::vector<std::pair<int, std::string>> IndexTree::takeDirty(int keyWidth, int blockSize) {
  std::vector<std::pair<int, std::string>> out;
  const int entry = keyWidth + 6;
  for (std::size_t no = 1; no < nodes_.size(); ++no) {
    Node& n = nodes_[no];
    if (!n.dirty) continue;
    n.dirty = false;
    std::string b(static_cast<std::size_t>(blockSize), '\0');
    wr16(b.data(), static_cast<std::uint16_t>(n.next));
    wr16(b.data() + 2, static_cast<std::uint16_t>(n.prev));
    wr16(b.data() + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((static_cast<int>(n.entries.size()) - 1) * entry)));
    for (std::size_t i = 0; i < n.entries.size(); ++i) {
      char* p = b.data() + 6 + i * static_cast<std::size_t>(entry);
      const Entry& e = n.entries[i];
      std::memcpy(p, e.key.data(), std::min(e.key.size(), static_cast<std::size_t>(keyWidth)));
      putIndexShort(p + keyWidth, e.child);
      putIndexShort(p + keyWidth + 2, e.count);
      putIndexShort(p + keyWidth + 4, 0);
    }
    out.emplace_back(static_cast<int>(no), std::move(b));
  }
  return out;
}

}  // namespace storage::px
