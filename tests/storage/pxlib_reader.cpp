#include "pxlib_reader.h"

#include <dlfcn.h>
#include <paradox.h>

#include <cstring>

namespace pxcheck {

namespace {

struct Api {
  void* lib = nullptr;
  decltype(&PX_boot) boot = nullptr;
  decltype(&PX_new) newDoc = nullptr;
  decltype(&PX_open_file) openFile = nullptr;
  decltype(&PX_get_record) getRecord = nullptr;
  decltype(&PX_close) close = nullptr;
  decltype(&PX_delete) del = nullptr;
  decltype(&PX_get_data_alpha) alpha = nullptr;
  decltype(&PX_get_data_long) lng = nullptr;
  decltype(&PX_get_data_short) shrt = nullptr;
  decltype(&PX_get_data_double) dbl = nullptr;
  decltype(&PX_get_data_byte) byte = nullptr;
  decltype(&PX_read_primary_index) readIndex = nullptr;
  decltype(&PX_add_primary_index) addIndex = nullptr;

  Api() {
    lib = dlopen("libpx.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    boot = reinterpret_cast<decltype(boot)>(dlsym(lib, "PX_boot"));
    newDoc = reinterpret_cast<decltype(newDoc)>(dlsym(lib, "PX_new"));
    openFile = reinterpret_cast<decltype(openFile)>(dlsym(lib, "PX_open_file"));
    getRecord = reinterpret_cast<decltype(getRecord)>(dlsym(lib, "PX_get_record"));
    close = reinterpret_cast<decltype(close)>(dlsym(lib, "PX_close"));
    del = reinterpret_cast<decltype(del)>(dlsym(lib, "PX_delete"));
    alpha = reinterpret_cast<decltype(alpha)>(dlsym(lib, "PX_get_data_alpha"));
    lng = reinterpret_cast<decltype(lng)>(dlsym(lib, "PX_get_data_long"));
    shrt = reinterpret_cast<decltype(shrt)>(dlsym(lib, "PX_get_data_short"));
    dbl = reinterpret_cast<decltype(dbl)>(dlsym(lib, "PX_get_data_double"));
    byte = reinterpret_cast<decltype(byte)>(dlsym(lib, "PX_get_data_byte"));
    readIndex = reinterpret_cast<decltype(readIndex)>(dlsym(lib, "PX_read_primary_index"));
    addIndex = reinterpret_cast<decltype(addIndex)>(dlsym(lib, "PX_add_primary_index"));
    if (!boot || !newDoc || !openFile || !getRecord || !close || !del || !alpha || !lng || !shrt ||
        !dbl || !byte || !readIndex || !addIndex) {
      lib = nullptr;
      return;
    }
    boot();
  }
};

Api& api() {
  static Api a;
  return a;
}

void quiet(pxdoc_t*, int, const char*, void*) {}

// Keeps what pxlib complains of, warnings included.
void collect(pxdoc_t* doc, int, const char* msg, void*) {
  if (doc && doc->errorhandler_user_data && msg)
    static_cast<std::vector<std::string>*>(doc->errorhandler_user_data)->push_back(msg);
}

Contents contentsOf(Api& a, pxdoc_t* doc);

}  // namespace

bool available() { return api().lib != nullptr; }

std::optional<Contents> read(const std::string& path) {
  Api& a = api();
  if (!a.lib) return std::nullopt;
  pxdoc_t* doc = a.newDoc();
  if (!doc) return std::nullopt;
  doc->errorhandler = quiet;
  if (a.openFile(doc, path.c_str()) < 0) {
    a.del(doc);
    return std::nullopt;
  }
  Contents c = contentsOf(a, doc);
  a.close(doc);
  a.del(doc);
  return c;
}

IndexedRead readThroughIndex(const std::string& db, const std::string& px, bool fetchRows) {
  IndexedRead r;
  Api& a = api();
  if (!a.lib) {
    r.complaints.push_back("pxlib is not available");
    return r;
  }
  pxdoc_t* index = a.newDoc();
  pxdoc_t* table = a.newDoc();
  for (pxdoc_t* d : {index, table}) {
    d->errorhandler = collect;
    d->errorhandler_user_data = &r.complaints;
  }
  if (a.openFile(index, px.c_str()) == 0 && a.readIndex(index) == 0 && a.openFile(table, db.c_str()) == 0) {
    // pxlib drops the index it built itself at open without freeing it.
    void* own = table->px_indexdata;
    if (a.addIndex(table, index) == 0) {
      if (own) table->free(table, own);
      r.contents = fetchRows ? contentsOf(a, table) : Contents{};
    }
  }
  if (!r.contents && r.complaints.empty()) r.complaints.push_back("pxlib refused the index");
  // The index's entries keep copies of their keys, which pxlib never frees.
  if (index->px_data)
    for (int i = 0; i < index->px_datalen; ++i)
      if (void* key = static_cast<pxpindex_t*>(index->px_data)[i].data) index->free(index, key);
  a.del(table);
  a.del(index);
  return r;
}

namespace {

Contents contentsOf(Api& a, pxdoc_t* doc) {
  Contents c;
  pxhead_t* h = doc->px_head;
  c.fileType = h->px_filetype;
  c.version = h->px_fileversion;
  c.numRecords = h->px_numrecords;
  c.keyFields = h->px_primarykeyfields;
  c.autoInc = h->px_autoinc;
  c.codePage = h->px_doscodepage;
  for (int i = 0; i < h->px_numfields; ++i) {
    const pxfield_t& f = h->px_fields[i];
    c.fields.push_back({f.px_fname ? f.px_fname : "", static_cast<unsigned char>(f.px_ftype), f.px_flen});
  }
  std::vector<char> rec(static_cast<std::size_t>(h->px_recordsize) + 16);
  for (int r = 0; r < h->px_numrecords; ++r) {
    if (!a.getRecord(doc, r, rec.data())) break;
    std::vector<Cell> row;
    int off = 0;
    for (const FieldInfo& f : c.fields) {
      Cell cell;
      char* p = rec.data() + off;
      switch (f.type) {
        case pxfAlpha: {
          char* v = nullptr;
          if (a.alpha(doc, p, f.len, &v) > 0 && v) {
            cell.null = false;
            cell.s = v;
          }
          if (v) doc->free(doc, v);
          break;
        }
        case pxfShort: {
          short v = 0;
          if (a.shrt(doc, p, f.len, &v) > 0) cell.null = false, cell.l = v;
          break;
        }
        case pxfLong: case pxfAutoInc: case pxfDate: case pxfTime: {
          long v = 0;
          if (a.lng(doc, p, f.len, &v) > 0) cell.null = false, cell.l = v;
          break;
        }
        case pxfNumber: case pxfCurrency: case pxfTimestamp: {
          double v = 0;
          if (a.dbl(doc, p, f.len, &v) > 0) cell.null = false, cell.d = v;
          break;
        }
        case pxfLogical: {
          char v = 0;
          if (a.byte(doc, p, f.len, &v) > 0) cell.null = false, cell.l = v;
          break;
        }
        default:
          break;
      }
      off += f.len;
      row.push_back(std::move(cell));
    }
    // Index files: the three shorts after the key (child block, count, 0).
    while (off + 2 <= h->px_recordsize) {
      Cell cell;
      const auto hi = static_cast<unsigned char>(rec[static_cast<std::size_t>(off)]);
      const auto lo = static_cast<unsigned char>(rec[static_cast<std::size_t>(off) + 1]);
      cell.null = false;
      cell.l = static_cast<short>(static_cast<unsigned short>(((hi << 8) | lo) ^ 0x8000));
      row.push_back(cell);
      off += 2;
    }
    c.rows.push_back(std::move(row));
  }
  return c;
}

}  // namespace

}  // namespace pxcheck
