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

  // Primary index: level-1 entries = one per block, in chain order.
  if (k > 0) {
    auto p = read(px);
    if (!p) return err.str() + "pxlib cannot read " + px;
    if (p->rows.size() < chain.size()) err << "primary index has too few entries; ";
    for (std::size_t b = 0; b < chain.size() && b < p->rows.size() && firstOf[b] < t->rows.size(); ++b) {
      const auto& e = p->rows[b];
      Key key;
      for (int i = 0; i < k; ++i) key.push_back(part(e[static_cast<std::size_t>(i)]));
      if (!(key == pk(t->rows[firstOf[b]]))) err << "primary index key of block " << b << " differs; ";
      if (e[static_cast<std::size_t>(k)].l != chain[b].first) err << "primary index block number differs; ";
      if (e[static_cast<std::size_t>(k) + 1].l != chain[b].second) err << "primary index count differs; ";
    }
    if (chain.size() <= 1 && p->rows.size() != chain.size()) err << "one-level primary index has extra entries; ";
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
    if (y->rows.size() < xchain.size()) err << s.y << " has too few entries; ";
    std::size_t first = 0;
    for (std::size_t b = 0; b < xchain.size() && b < y->rows.size(); ++b) {
      const auto& e = y->rows[b];
      Key key;
      for (std::size_t i = 0; i < nk; ++i) key.push_back(part(e[i]));
      if (first < x->rows.size()) {
        Key xk;
        for (std::size_t i = 0; i < nk; ++i) xk.push_back(part(x->rows[first][i]));
        if (!(key == xk)) err << s.y << " key of block " << b << " differs; ";
      }
      if (e[nk].l != xchain[b].first || e[nk + 1].l != xchain[b].second) err << s.y << " entry " << b << " differs; ";
      first += static_cast<std::size_t>(xchain[b].second);
    }
  }
  return err.str();
}

}  // namespace pxcheck
