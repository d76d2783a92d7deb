#include "px_verify.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <tuple>

#include "storage/backend.h"

namespace pxcheck {

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int u16(const std::string& d, std::size_t o) {
  return static_cast<unsigned char>(d[o]) | (static_cast<unsigned char>(d[o + 1]) << 8);
}

// A cell as a comparable key: numbers by value, texts without case.
struct KeyPart {
  bool null;
  double num;
  std::string text;
  bool operator<(const KeyPart& o) const {
    if (null != o.null) return null;
    if (!text.empty() || !o.text.empty()) return storage::compareTextNoCase(text, o.text) < 0;
    return num < o.num;
  }
  bool operator==(const KeyPart& o) const { return !(*this < o) && !(o < *this); }
};

KeyPart part(const Cell& c) { return {c.null, c.null ? 0 : (c.s.empty() ? (c.d != 0 ? c.d : double(c.l)) : 0), c.s}; }

using Key = std::vector<KeyPart>;

Key keyOf(const std::vector<Cell>& row, std::size_t n) {
  Key key;
  for (std::size_t i = 0; i < n; ++i) key.push_back(part(row[i]));
  return key;
}

// An index file (.PX over a .DB, .YGn over a .XGn) as its rows read in the
// file's chain order: the root heads the chain, each level follows in key
// order down to level 1, whose entries are the data blocks in chain order
// with their first keys; a higher entry holds its child's first key and the
// sum of the counts below it (held at a short's largest value). Every block
// of the file is in the tree.
void checkTree(std::ostringstream& err, const std::string& name, const std::string& bytes,
               const std::vector<std::vector<Cell>>& rows, std::size_t nk,
               const std::vector<std::pair<int, int>>& dataChain, const std::vector<Key>& dataFirstKeys) {
  if (bytes.size() < 0x58) {
    err << name << " is too short; ";
    return;
  }
  const int root = u16(bytes, 0x1E), levels = static_cast<unsigned char>(bytes[0x20]);
  const int fileBlocks = u16(bytes, 0x0C);
  std::vector<std::pair<int, int>> chain = chainOf(name);
  if (dataChain.empty()) {
    if (!chain.empty() || levels != 0) err << name << " of an empty file is not empty; ";
    return;
  }
  if (static_cast<int>(chain.size()) != fileBlocks) err << name << " has blocks outside its chain; ";
  if (chain.empty() || chain.front().first != root) {
    err << name << " does not begin with its root; ";
    return;
  }
  // Rows of each block.
  std::map<int, std::pair<std::size_t, int>> rowsOf;  // block -> (first row, count)
  std::size_t r = 0;
  for (auto [no, n] : chain) {
    rowsOf[no] = {r, n};
    r += static_cast<std::size_t>(n);
  }
  if (r != rows.size()) {
    err << name << " chain holds " << r << " entries, pxlib read " << rows.size() << "; ";
    return;
  }
  std::vector<int> order;  // blocks top-down as the chain must hold them
  std::vector<int> level{root};
  std::map<int, long> sums;  // block -> records below
  std::map<int, int> levelOf;
  std::vector<std::tuple<int, std::size_t, int>> uppers;  // (block, row, child)
  std::vector<std::pair<int, int>> leaves;
  std::vector<Key> leafKeys;
  for (int l = levels; l >= 1 && !level.empty(); --l) {
    std::vector<int> below;
    for (int no : level) {
      order.push_back(no);
      levelOf[no] = l;
      auto it = rowsOf.find(no);
      if (it == rowsOf.end()) {
        err << name << " points at block " << no << " outside its chain; ";
        return;
      }
      for (int i = 0; i < it->second.second; ++i) {
        const auto& row = rows[it->second.first + static_cast<std::size_t>(i)];
        const int child = static_cast<int>(row[nk].l), count = static_cast<int>(row[nk + 1].l);
        if (l == 1) {
          leaves.emplace_back(child, count);
          leafKeys.push_back(keyOf(row, nk));
        } else {
          below.push_back(child);
          uppers.emplace_back(no, it->second.first + static_cast<std::size_t>(i), child);
        }
      }
    }
    level = std::move(below);
  }
  std::vector<int> chainOrder;
  for (auto [no, n] : chain) chainOrder.push_back(no);
  if (order != chainOrder) err << name << " chain is not root first, level by level; ";
  if (leaves != dataChain) err << name << " level-1 entries differ from the data blocks; ";
  for (std::size_t b = 0; b < leaves.size() && b < dataFirstKeys.size(); ++b)
    if (!(leafKeys[b] == dataFirstKeys[b])) {
      err << name << " key of data block " << b << " differs; ";
      break;
    }
  // Sums bottom-up: level-1 blocks first.
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const auto [first, n] = rowsOf[*it];
    long sum = 0;
    for (int i = 0; i < n; ++i) {
      const auto& row = rows[first + static_cast<std::size_t>(i)];
      sum += levelOf[*it] == 1 ? row[nk + 1].l : sums[static_cast<int>(row[nk].l)];
    }
    sums[*it] = sum;
  }
  for (auto [no, row, child] : uppers) {
    const auto [cf, cn] = rowsOf[child];
    if (cn == 0 || !(keyOf(rows[row], nk) == keyOf(rows[cf], nk))) err << name << " key above block " << child << " differs; ";
    if (rows[row][nk + 1].l != std::min(sums[child], 32767L)) err << name << " count above block " << child << " differs; ";
  }
}

}  // namespace

std::vector<std::pair<int, int>> chainOf(const std::string& path) {
  std::vector<std::pair<int, int>> out;
  const std::string d = slurp(path);
  if (d.size() < 0x58) return out;
  const int rs = u16(d, 0), hs = u16(d, 2), bs = static_cast<unsigned char>(d[5]) * 1024;
  int no = u16(d, 0x0E);
  int guard = 0;
  while (no != 0 && guard++ < 70000) {
    const std::size_t off = static_cast<std::size_t>(hs) + static_cast<std::size_t>(no - 1) * static_cast<std::size_t>(bs);
    if (off + 6 > d.size()) break;
    const int add = static_cast<std::int16_t>(u16(d, off + 4));
    out.emplace_back(no, add / rs + 1);
    no = u16(d, off);
  }
  return out;
}

std::string verify(const std::string& db, const std::string& px, const std::vector<IndexSpec>& indexes) {
  std::ostringstream err;
  auto t = read(db);
  if (!t) return "pxlib cannot read " + db;
  if (static_cast<int>(t->rows.size()) != t->numRecords) err << "record count differs; ";
  const int k = t->keyFields;
  auto pk = [&](const std::vector<Cell>& row) {
    Key key;
    for (int i = 0; i < k; ++i) key.push_back(part(row[static_cast<std::size_t>(i)]));
    return key;
  };
  for (std::size_t i = 1; i < t->rows.size(); ++i)
    if (!(pk(t->rows[i - 1]) < pk(t->rows[i]))) err << "records not in key order at " << i << "; ";

  // Which block holds each record.
  const auto chain = chainOf(db);
  std::vector<int> blockOf;
  std::vector<std::size_t> firstOf;
  for (auto [no, n] : chain) {
    firstOf.push_back(blockOf.size());
    for (int i = 0; i < n; ++i) blockOf.push_back(no);
  }
  if (blockOf.size() != t->rows.size()) err << "chain holds " << blockOf.size() << " records; ";

  // Primary index: a tree over the data blocks, which pxlib itself reads,
  // checks and fetches the records through.
  if (k > 0) {
    auto p = read(px);
    if (!p) return err.str() + "pxlib cannot read " + px;
    std::vector<Key> firstKeys;
    for (std::size_t f : firstOf) firstKeys.push_back(f < t->rows.size() ? pk(t->rows[f]) : Key{});
    checkTree(err, px, slurp(px), p->rows, static_cast<std::size_t>(k), chain, firstKeys);
    const IndexedRead through = readThroughIndex(db, px);
    for (const std::string& c : through.complaints) err << "pxlib: " << c << "; ";
    if (!through.contents || through.contents->rows.size() != t->rows.size()) {
      err << "pxlib reads other records through " << px << "; ";
    } else {
      for (std::size_t i = 0; i < t->rows.size(); ++i)
        if (!(pk(through.contents->rows[i]) == pk(t->rows[i]))) {
          err << "pxlib reads another record at " << i << " through " << px << "; ";
          break;
        }
    }
  }

  for (const IndexSpec& s : indexes) {
    auto x = read(s.x);
    if (!x) {
      err << "pxlib cannot read " << s.x << "; ";
      continue;
    }
    std::vector<std::pair<Key, int>> expect;
    for (std::size_t r = 0; r < t->rows.size(); ++r) {
      Key key;
      for (int f : s.fields) key.push_back(part(t->rows[r][static_cast<std::size_t>(f)]));
      for (const KeyPart& p : pk(t->rows[r])) key.push_back(p);
      expect.emplace_back(key, r < blockOf.size() ? blockOf[r] : -1);
    }
    std::stable_sort(expect.begin(), expect.end(), [](auto& a, auto& b) { return a.first < b.first; });
    if (x->rows.size() != expect.size()) {
      err << s.x << " has " << x->rows.size() << " entries, expected " << expect.size() << "; ";
      continue;
    }
    const std::size_t nk = s.fields.size() + static_cast<std::size_t>(k);
    for (std::size_t r = 0; r < expect.size(); ++r) {
      Key key;
      for (std::size_t i = 0; i < nk; ++i) key.push_back(part(x->rows[r][i]));
      if (!(key == expect[r].first)) {
        err << s.x << " entry " << r << " differs; ";
        break;
      }
      if (x->rows[r][nk].l != expect[r].second) {
        err << s.x << " entry " << r << " has block " << x->rows[r][nk].l << ", record is in "
            << expect[r].second << "; ";
        break;
      }
    }
    // The .YGn over the .XGn, like a .PX over a .DB.
    const auto xchain = chainOf(s.x);
    auto y = read(s.y);
    if (!y) {
      err << "pxlib cannot read " << s.y << "; ";
      continue;
    }
    std::vector<Key> firstKeys;
    std::size_t first = 0;
    for (auto [no, n] : xchain) {
      firstKeys.push_back(first < x->rows.size() ? keyOf(x->rows[first], nk) : Key{});
      first += static_cast<std::size_t>(n);
    }
    checkTree(err, s.y, slurp(s.y), y->rows, nk, xchain, firstKeys);
  }
  return err.str();
}

}  // namespace pxcheck
