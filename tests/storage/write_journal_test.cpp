// The change layer under the table files: a change is invisible in the files
// until it is committed, reads see it meanwhile, a journal on disk takes an
// interrupted change back, and an incomplete journal is dropped. The journal
// is played back only onto its own files, readers that may not play it back
// see the committed state, and nothing else standing at the journal's name
// is followed, read whole, or deleted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "dbase_test_util.h"
#include "storage/file_io.h"
#include "storage/file_lock.h"
#include "storage/journal.h"
#include "storage/table.h"
#include "support/file_access.h"
#include "table_support.h"

namespace fileio = storage::fileio;
namespace journal = storage::journal;
using dbtest::readBytes;
using dbtest::writeBytes;

namespace {

std::string readThrough(int fd, const std::string& path, off_t at, size_t n) {
  std::string s(n, '?');
  s.resize(fileio::readAt(fd, path, s.data(), n, at));
  return s;
}

// Fails every write after the first `allowed` ones.
struct FailAfter : fileio::Layer {
  explicit FailAfter(int allowed) : left(allowed) { fileio::install(this); }
  ~FailAfter() override { fileio::install(nullptr); }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    if (left-- <= 0) {
      errno = EIO;
      return -1;
    }
    return ::pwrite(fd, data, size, offset);
  }
  int left;
};

// Two small files and a journal path beside them.
struct TwoFiles {
  dbtest::ScratchDir dir;
  std::string a = dir.file("a.bin"), b = dir.file("b.bin"), j = dir.file("a.bin-journal");
  int fa, fb;
  TwoFiles() {
    writeBytes(a, "0123456789");
    writeBytes(b, "abcdefghij");
    fa = ::open(a.c_str(), O_RDWR);
    fb = ::open(b.c_str(), O_RDWR);
  }
  ~TwoFiles() {
    ::close(fa);
    ::close(fb);
  }
};

}  // namespace

TEST(WriteJournal, ChangeIsSeenByReadsAndReachesTheFilesOnlyWhenCommitted) {
  TwoFiles f;
  const std::string &a = f.a, &b = f.b, &j = f.j;
  const int fa = f.fa, fb = f.fb;
  {
    fileio::Change c(j);
    fileio::writeAt(fa, a, "XY", 2, 3);
    fileio::writeAt(fa, a, "ZZZZZZ", 6, 8);  // runs past the old end
    fileio::writeAt(fa, a, "QQ", 2, 4);      // overlaps the first run
    fileio::truncate(fb, b, 4);
    fileio::writeAt(fb, b, "!", 1, 6);  // the cut bytes read as zero
    {
      fileio::Change inner(j);  // the same table: joins the outer change
      EXPECT_TRUE(inner.joined());
      fileio::writeAt(fb, b, "#", 1, 0);
      inner.commit();  // nothing yet: the outer one writes
    }
    EXPECT_EQ(readThrough(fa, a, 0, 100), "012XQQ67ZZZZZZ");
    EXPECT_EQ(fileio::sizeOf(fb, b), 7);
    EXPECT_EQ(readThrough(fb, b, 0, 100), std::string("#bcd\0\0!", 7));
    EXPECT_EQ(readBytes(a), "0123456789");  // the files are untouched
    EXPECT_EQ(readBytes(b), "abcdefghij");
  }  // dropped without a commit
  EXPECT_EQ(readBytes(a), "0123456789");
  EXPECT_EQ(readThrough(fa, a, 2, 3), "234");
  {
    fileio::Change c(j);
    fileio::writeAt(fa, a, "K", 1, 0);
    fileio::truncate(fb, b, 2);
    fileio::writeAt(fb, b, "!", 1, 4);
    c.commit();
  }
  EXPECT_EQ(readBytes(a), "K123456789");
  EXPECT_EQ(readBytes(b), std::string("ab\0\0!", 5));
  EXPECT_NE(::access(j.c_str(), F_OK), 0) << "the journal goes with a complete change";
}

TEST(WriteJournal, JournalLeftBehindTakesTheChangeBackAndAnIncompleteOneIsDropped) {
  TwoFiles f;
  const std::string &a = f.a, &b = f.b, &j = f.j;
  const int fa = f.fa, fb = f.fb;
  // A device that fails in the middle of the change and while putting it
  // back: the journal, written first, stays and takes the change back later.
  {
    fileio::Change c(j);
    fileio::writeAt(fa, a, "XXXX", 4, 2);
    fileio::writeAt(fa, a, "tail", 4, 10);
    fileio::truncate(fb, b, 3);
    FailAfter device(2);  // the journal and the first run of a.bin
    EXPECT_THROW(c.commit(), storage::DbError);
    EXPECT_TRUE(c.journalLeft());
  }
  EXPECT_EQ(readBytes(a).substr(0, 6), "01XXXX");
  std::string why;
  EXPECT_EQ(journal::recover(j, {a, b}, why), journal::Recovery::RolledBack) << why;
  EXPECT_EQ(readBytes(a), "0123456789");
  EXPECT_EQ(readBytes(b), "abcdefghij");
  EXPECT_NE(::access(j.c_str(), F_OK), 0);
  EXPECT_EQ(journal::recover(j, {a, b}, why), journal::Recovery::None);
  // A journal cut short (the process died while writing it) is dropped: the
  // files were never touched.
  for (const std::string& junk : {std::string("KMSJRNL2\x01\x02"), std::string("KMSJ")}) {
    writeBytes(j, junk);
    EXPECT_EQ(journal::recover(j, {a, b}, why), journal::Recovery::Discarded);
    EXPECT_NE(::access(j.c_str(), F_OK), 0);
    EXPECT_EQ(readBytes(a), "0123456789");
  }
}

TEST(WriteJournal, ChangesOfTwoTablesOpenTogetherStayApart) {
  TwoFiles f;
  const std::string jb = f.dir.file("b.bin-journal");
  fileio::Change outer(f.j);  // a batch on table a
  fileio::writeAt(f.fa, f.a, "A", 1, 0);
  {
    fileio::Change other(jb);  // table b posts meanwhile: its own change
    EXPECT_FALSE(other.joined());
    fileio::writeAt(f.fb, f.b, "B", 1, 0);
    other.commit();
  }
  EXPECT_EQ(readBytes(f.b), "Bbcdefghij");
  EXPECT_EQ(readBytes(f.a), "0123456789");
  // Another descriptor on the same file reads the file, not the change.
  const int again = ::open(f.a.c_str(), O_RDONLY);
  EXPECT_EQ(readThrough(again, f.a, 0, 2), "01");
  EXPECT_EQ(readThrough(f.fa, f.a, 0, 2), "A1");
  ::close(again);
  outer.commit();
  EXPECT_EQ(readBytes(f.a), "A123456789");
}

// The journal a change writes for one file, against a plain model of it:
// the old bytes of every run of writes (touching writes make one run), cut
// at the smallest size the change cut the file to, then of what was cut; the
// pieces split at each sector and wherever a run or a cut begins or ends,
// each with the hash of what the change left there. Recovery checks a file
// against these pieces, so they stay as they are, however many writes.
TEST(WriteJournal, JournalHoldsEveryRunAndItsPiecesAsWritten) {
  struct Op {
    off_t at;
    std::string bytes;  // empty: the file is cut to `at`
  };
  auto put = [](off_t at, size_t n, char c) { return Op{at, std::string(n, c)}; };
  auto cutTo = [](off_t at) { return Op{at, {}}; };
  std::vector<Op> many, backwards;
  for (int i = 0; i < 3000; ++i) many.push_back(put(off_t(i) * 11 + 5, 3, char('A' + i % 26)));
  for (int i = 400; i > 0; --i) backwards.push_back(put(off_t(i) * 97, 1 + i % 5, char('a' + i % 26)));
  std::vector<Op> overCut{cutTo(1000)};
  for (int i = 0; i < 2000; ++i) overCut.push_back(put(1003 + off_t(i) * 23, 2 + i % 3, char('0' + i % 10)));
  const struct {
    const char* name;
    std::vector<Op> ops;
  } cases[] = {
      {"one write in a sector", {put(700, 20, 'x')}},
      {"a write across sectors, on their edges", {put(500, 1100, 'x'), put(2048, 512, 'y')}},
      {"3,000 separate writes", many},
      {"writes out of order, some touching or overlapping",
       {put(900, 10, 'p'), put(910, 5, 'q'), put(895, 7, 'r'), put(5000, 600, 's')}},
      {"backwards, sparse", backwards},
      {"growth past the end, and the header", {put(39990, 3000, 'g'), put(0, 4, 'h'), put(45000, 2, 'i')}},
      {"a cut, writes before and past it, growth",
       {put(100, 50, 'a'), put(20000, 30, 'b'), cutTo(15000), put(14990, 40, 'c'), put(30000, 9, 'd'),
        cutTo(25000), put(44000, 700, 'e')}},
      {"a cut, then writes over what was cut and past the end", overCut},
      {"a cut that stays, writes before it", {put(3000, 10, 'k'), cutTo(20000), put(19990, 8, 'l'), cutTo(19995)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dbtest::ScratchDir dir;
    const std::string path = dir.file("t.bin"), j = dir.file("t.bin-journal");
    const std::string old(40000, '.');
    writeBytes(path, old);
    const int fd = ::open(path.c_str(), O_RDWR);

    // The model: the new bytes, the runs and the smallest cut.
    std::string now = old;
    std::map<off_t, off_t> runs;
    off_t low = off_t(old.size());
    for (const Op& op : c.ops) {
      if (op.bytes.empty()) {
        now.resize(size_t(op.at));
        low = std::min(low, op.at);
        for (auto it = runs.begin(); it != runs.end();)
          if (it->first >= op.at) it = runs.erase(it);
          else (it->second = std::min(it->second, op.at)), ++it;
        continue;
      }
      off_t a = op.at, b = op.at + off_t(op.bytes.size());
      if (off_t(now.size()) < b) now.resize(size_t(b), '\0');
      now.replace(size_t(a), op.bytes.size(), op.bytes);
      for (auto it = runs.begin(); it != runs.end();)
        if (it->first <= b && it->second >= a) {
          a = std::min(a, it->first), b = std::max(b, it->second);
          it = runs.erase(it);
        } else {
          ++it;
        }
      runs[a] = b;
    }
    const off_t size = off_t(now.size());
    std::set<off_t> splits{low, size};
    for (const auto& [a, b] : runs) splits.insert({a, b});
    auto pieces = [&](off_t from, off_t to) {
      std::vector<journal::Piece> out;
      for (off_t pos = from; pos < to;) {
        off_t next = pos + 1;
        while (next < to && next % journal::kPiece != 0 && !splits.count(next)) ++next;
        const std::string have = pos < size ? now.substr(size_t(pos), size_t(std::min(size, next) - pos)) : "";
        out.push_back(journal::piecesOf(have, pos, next - pos, {}).at(0));
        pos = next;
      }
      return out;
    };
    journal::FileImage want{path, off_t(old.size()), low, size, {}, {}};
    for (const auto& [a, end] : runs)
      if (const off_t b = std::min(end, low); a < b)
        want.old.push_back({a, old.substr(size_t(a), size_t(b - a)), pieces(a, b)});
    if (low < want.size) want.old.push_back({low, old.substr(size_t(low)), pieces(low, want.size)});
    if (size > want.size) want.grown = pieces(want.size, size);

    // What the change writes into its journal.
    struct KeepsJournal : dbtest::StopsMidChange {
      std::string bytes;
      KeepsJournal() : StopsMidChange(0) {}
      ssize_t pwrite(int fd, const void* data, size_t n, off_t at) override {
        if (journal(fd)) bytes.replace(size_t(at), n, static_cast<const char*>(data), n);
        return ::pwrite(fd, data, n, at);
      }
      int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
      int fsync(int fd) override { return ::fsync(fd); }
    } device;
    {
      fileio::Change change(j);
      for (const Op& op : c.ops)
        if (op.bytes.empty()) fileio::truncate(fd, path, op.at);
        else fileio::writeAt(fd, path, op.bytes.data(), op.bytes.size(), op.at);
      change.commit();
    }
    ::close(fd);
    EXPECT_TRUE(device.bytes == journal::encode({want})) << device.bytes.size() << " bytes written";
    EXPECT_TRUE(readBytes(path) == now);
  }
}

namespace {

using storage::DbError;
using storage::Table;
using namespace tablesupport;

// Every file of a folder, names and bytes.
std::string folder(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    files[e.path().filename().string()] = e.is_regular_file() ? readBytes(e.path().string()) : "?";
  std::string all;
  for (const auto& [name, bytes] : files) all += name + ":" + bytes + ";";
  return all;
}

int priceOf(Table& t, int recNo) {
  t.setRecNo(recNo);
  return t.fieldByName("PRICE").asInteger();
}

// A change of record 3's price to 4242 that stops after `passes` writes into
// the files (all of them when large), leaving its journal.
void interruptPriceChange(Table& w, int passes = 1000) {
  w.setRecNo(3);
  w.edit();
  w.fieldByName("PRICE").setAsInteger(4242);
  {
    dbtest::StopsMidChange device(passes);
    EXPECT_THROW(w.post(), DbError);
  }
  w.cancel();
}

// What the engine tells the operator on its own, while it lives.
struct Told {
  std::vector<std::string> texts;
  Told() {
    journal::setNotifier([this](const std::string& t) { texts.push_back(t); });
  }
  ~Told() { journal::setNotifier(nullptr); }
};

}  // namespace

// A table whose change was interrupted shows a reader that may not take the
// change back (another program holds it for writing, the files may not be
// written, the file system is read-only) the state before the change, writes
// nothing, and says why it is read-only.
TEST_F(TableTest, ReaderOfAnInterruptedChangeSeesTheCommittedState) {
  // "" when the reader shows record 3 as committed, with the reason.
  auto look = [](Table& r) -> std::string {
    if (!r.readOnly()) return "opened writable; ";
    const std::string why = r.readOnlyReason();
    std::string out;
    if (why.find("прерванное изменение") == std::string::npos || why.find("для записи") == std::string::npos)
      out += "reason: " + why + "; ";
    if (priceOf(r, 3) != 30) out += "price " + std::to_string(priceOf(r, 3)) + " shown; ";
    return out;
  };
  std::string skipped;
  // Another writer holds the table: its change stops half-way, the reader
  // refreshes.
  {
    const std::string p = path("locked/goods.db");
    std::filesystem::create_directories(path("locked"));
    makeGoods(p, 30);
    Table w, r;
    w.setTableName(p);
    w.open();
    r.setTableName(p);
    r.open();
    interruptPriceChange(w);
    const std::string before = folder(path("locked"));
    r.refresh();
    EXPECT_EQ(look(r), "");
    EXPECT_EQ(folder(path("locked")), before) << "the reader wrote";
    r.close();
    w.close();
    Table next;  // the next writer takes the change back
    next.setTableName(p);
    next.open();
    EXPECT_FALSE(next.readOnly()) << next.readOnlyReason();
    EXPECT_EQ(priceOf(next, 3), 30);
  }
  // The files may not be written.
  {
    namespace fs = std::filesystem;
    const std::string p = path("ro/goods.db");
    fs::create_directories(path("ro"));
    makeGoods(p, 30);
    {
      Table w;
      w.setTableName(p);
      w.open();
      interruptPriceChange(w);
    }
    fs::permissions(dir.path().toStdString(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(path("ro"), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    for (const auto& e : fs::directory_iterator(path("ro")))
      fs::permissions(e.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string before = folder(path("ro"));
    const bool ran = dbtest::inChild([&]() -> std::string {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return dbtest::kSkip;
      Table r;
      r.setTableName(p);
      r.open();
      return look(r);
    });
    if (!ran) skipped += "cannot drop root's rights here; ";
    EXPECT_EQ(folder(path("ro")), before) << "the reader wrote";
  }
  // The file system turned read-only.
  const bool ran = dbtest::inSmallTmpfs("1m", [&](const dbtest::ScratchDir& d) -> std::string {
    const std::string p = d.file("goods.db");
    makeGoods(p, 30);
    {
      Table w;
      w.setTableName(p);
      w.open();
      interruptPriceChange(w);
    }
    if (::mount(nullptr, d.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return "remount";
    Table r;
    r.setTableName(p);
    r.open();
    return look(r);
  });
  if (!ran) skipped += "no mount namespace here";
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// A journal is played back only onto the files it was written for: beside
// files restored from a backup, or beside another table of the same name,
// it restores nothing, is kept under another name, the operator is told
// once, and the table opens as its files are.
TEST_F(TableTest, JournalOfOtherFilesIsSetAsideAndNothingRestored) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> make;  // goods.db and a foreign journal in dir
  };
  auto copyFolder = [](const std::string& from, const std::string& to) {
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from))
      fs::copy_file(e.path(), fs::path(to) / e.path().filename(), fs::copy_options::overwrite_existing);
  };
  const std::vector<Case> cases = {
      {"files restored from a backup",
       [&](const std::string& d) {
         makeGoods(d + "/goods.db", 20);
         copyFolder(d, d + "/../backup");
         Table w;
         w.setTableName(d + "/goods.db");
         w.open();
         for (int i = 21; i <= 40; ++i) addGoods(w, i, "MORE " + std::to_string(i), "", 7 * i);
         interruptPriceChange(w);
         w.close();
         for (const auto& e : fs::directory_iterator(d + "/../backup"))
           fs::copy_file(e.path(), fs::path(d) / e.path().filename(), fs::copy_options::overwrite_existing);
       }},
      {"the journal of another table of that name",
       [&](const std::string& d) {
         const std::string other = d + "/../other";
         fs::create_directories(other);
         makeGoods(other + "/goods.db", 40);
         {
           Table w;
           w.setTableName(other + "/goods.db");
           w.open();
           interruptPriceChange(w, 2);
         }
         makeGoods(d + "/goods.db", 20);
         fs::copy_file(other + "/goods.db-journal", d + "/goods.db-journal");
       }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string d = path("case" + std::to_string(++n) + "/table");
    fs::create_directories(d);
    c.make(d);
    const std::string p = d + "/goods.db", j = p + "-journal";
    const std::string journalBytes = readBytes(j);
    ASSERT_FALSE(journalBytes.empty());
    fs::remove(j);
    const std::string files = folder(d);
    dbtest::writeBytes(j, journalBytes);
    Told told;
    Table t;
    t.setTableName(p);
    ASSERT_NO_THROW(t.open());
    EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
    EXPECT_EQ(t.recordCount(), 20);
    EXPECT_EQ(priceOf(t, 3), 30);
    t.close();
    EXPECT_EQ(readBytes(j + "-set-aside"), journalBytes);
    fs::remove(j + "-set-aside");
    EXPECT_EQ(folder(d), files) << "a byte was restored";
    ASSERT_EQ(told.texts.size(), 1u);
    EXPECT_NE(told.texts[0].find("goods.db-journal-set-aside"), std::string::npos) << told.texts[0];
    EXPECT_NE(told.texts[0].find(p + "»"), std::string::npos) << told.texts[0];
    t.open();  // told once
    EXPECT_EQ(told.texts.size(), 1u);
  }
}

// What stands at the journal's name is never followed, read whole, or
// deleted: a link there fails the change without touching its target; a
// FIFO, a huge file, a text, or a journal whose contents lie about the
// table's files is kept under another name, the operator told, the table
// opened as its files are.
TEST_F(TableTest, NothingButOurOwnJournalIsWrittenReadOrDeletedAtItsName) {
  namespace fs = std::filesystem;
  const std::string p = path("goods.db"), j = p + "-journal", victim = path("victim.txt");
  makeGoods(p, 30);
  const std::string victimText = "keep me\n";
  // While the table is open: a change finds a link at the journal's name;
  // it fails, and the refresh after it sets the link aside.
  struct Link {
    const char* what;
    std::function<void()> make;
  };
  const std::vector<Link> links = {
      {"symbolic link", [&] { fs::create_symlink(victim, j); }},
      {"hard link", [&] { fs::create_hard_link(victim, j); }},
      {"dangling link", [&] { fs::create_symlink(path("elsewhere.bin"), j); }},
  };
  for (const Link& l : links) {
    SCOPED_TRACE(l.what);
    dbtest::writeBytes(victim, victimText);
    Table t;
    t.setTableName(p);
    t.open();
    l.make();
    t.setRecNo(3);
    t.edit();
    t.fieldByName("PRICE").setAsInteger(4242);
    EXPECT_THROW(t.post(), DbError);
    t.cancel();
    EXPECT_EQ(readBytes(victim), victimText);
    EXPECT_FALSE(fs::exists(path("elsewhere.bin")));
    // The failed change's refresh kept the link under another name.
    EXPECT_FALSE(fs::exists(fs::symlink_status(j)));
    EXPECT_TRUE(fs::exists(fs::symlink_status(j + "-set-aside"))) << "removed";
    fs::remove(j + "-set-aside");
  }
  // Before an open: what stands at the name is set aside, not read.
  auto lie = [&](journal::FileImage f) {
    dbtest::writeBytes(j, journal::encode({f}));
  };
  const off_t size = off_t(fs::file_size(p));
  struct Thing {
    const char* what;
    std::function<void()> make;
  };
  const std::vector<Thing> things = {
      {"FIFO", [&] { ASSERT_EQ(::mkfifo(j.c_str(), 0644), 0); }},
      {"3 GB file", [&] { ASSERT_EQ(::truncate((dbtest::writeBytes(j, "KMSJRNL2"), j).c_str(), off_t(3) << 30), 0); }},
      {"text", [&] { dbtest::writeBytes(j, "не журнал\n"); }},
      {"symbolic link", [&] { fs::create_symlink(victim, j); }},
      {"a journal that cuts another file", [&] { lie({victim, 0, 0, 8, {}, journal::piecesOf("keep me\n", 0, 8, {})}); }},
      {"a journal that cuts the table to nothing",
       [&] { lie({p, 0, 0, size, {}, journal::piecesOf(std::string(size_t(size), 'x'), 0, size, {})}); }},
      {"a journal that stretches the table to 1 TB", [&] { lie({p, off_t(1) << 40, size, size, {}, {}}); }},
      {"a journal of the first format", [&] {
         std::string one = "KMSJRNL1F";
         one += std::string("\x08\x00", 2) + "goods.db" + std::string(8, '\0') + "E";
         std::uint64_t h = 1469598103934665603ULL;
         for (unsigned char c : one) h = (h ^ c) * 1099511628211ULL;
         for (int i = 0; i < 8; ++i) one.push_back(char(h >> (8 * i)));
         dbtest::writeBytes(j, one);
       }},
  };
  for (const Thing& th : things) {
    SCOPED_TRACE(th.what);
    dbtest::writeBytes(victim, victimText);
    const std::string files = folder(dir.path().toStdString());
    th.make();
    struct stat was {};
    ASSERT_EQ(::lstat(j.c_str(), &was), 0);
    // In a child, so that an open that hangs fails the test instead.
    const bool ran = dbtest::inChild([&]() -> std::string {
      ::alarm(20);
      Told told;
      Table t;
      t.setTableName(p);
      t.open();
      if (t.readOnly()) return "read-only: " + t.readOnlyReason();
      if (t.recordCount() != 30) return "records lost";
      if (told.texts.size() != 1) return "told " + std::to_string(told.texts.size()) + " times";
      return "";
    });
    ASSERT_TRUE(ran);
    struct stat now {};
    ASSERT_EQ(::lstat((j + "-set-aside").c_str(), &now), 0) << "not kept";
    EXPECT_EQ(now.st_ino, was.st_ino);
    EXPECT_FALSE(fs::exists(fs::symlink_status(j)));
    fs::remove(j + "-set-aside");
    EXPECT_EQ(folder(dir.path().toStdString()), files) << "a file was changed";
  }
}

// A copy of the table's folder made with hard links (as backup tools make
// them) while a change is written shares the table's files and the change's
// journal: once the change is complete, opening the copy takes nothing back.
TEST_F(TableTest, FolderCopiedWithHardLinksDuringAChangeTakesNothingBack) {
  namespace fs = std::filesystem;
  // Runs `act` at the first write into a table file, the journal complete.
  struct AtFirstWrite : fileio::Layer {
    fileio::Layer* before = &fileio::current();
    std::function<void()> act;
    explicit AtFirstWrite(std::function<void()> a) : act(std::move(a)) { fileio::install(this); }
    ~AtFirstWrite() override { fileio::install(before); }
    ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
      if (act && !dbtest::StopsMidChange::journal(fd)) std::exchange(act, nullptr)();
      return before->pwrite(fd, data, size, offset);
    }
  };
  const std::string p = path("live/goods.db"), copy = path("copy/goods.db");
  fs::create_directories(path("live"));
  fs::create_directories(path("copy"));
  makeGoods(p, 30);
  Table t;
  t.setTableName(p);
  t.open();
  {
    AtFirstWrite device([&] {
      for (const auto& e : fs::directory_iterator(path("live"))) fs::create_hard_link(e.path(), path("copy") / e.path().filename());
    });
    t.setRecNo(3);
    t.edit();
    t.fieldByName("PRICE").setAsInteger(4242);
    t.post();
  }
  t.close();
  ASSERT_TRUE(fs::exists(copy + "-journal"));
  t.setTableName(copy);
  t.open();
  EXPECT_EQ(priceOf(t, 3), 4242);  // the live table's record: the files are shared
  EXPECT_FALSE(fs::exists(copy + "-journal") || fs::exists(copy + "-journal-set-aside"));
}

// A change flushes each file it wrote and the folder where its journal was
// made and removed, not the whole file system.
TEST_F(TableTest, ChangeFlushesTheFilesItWrote) {
  struct Recorder : storage::fileio::Layer {
    storage::fileio::Layer* before = &storage::fileio::current();
    std::set<std::pair<dev_t, ino_t>> written, flushed;
    Recorder() { storage::fileio::install(this); }
    ~Recorder() override { storage::fileio::install(before); }
    static std::pair<dev_t, ino_t> id(int fd) {
      struct stat st {};
      ::fstat(fd, &st);
      return {st.st_dev, st.st_ino};
    }
    ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
      written.insert(id(fd));
      return before->pwrite(fd, data, size, offset);
    }
    int ftruncate(int fd, off_t length) override {
      written.insert(id(fd));
      return before->ftruncate(fd, length);
    }
    int fsync(int fd) override {
      flushed.insert(id(fd));
      return before->fsync(fd);
    }
  };
  const std::string p = path("goods.db");
  makeGoods(p, 30);
  Table t;
  t.setTableName(p);
  t.open();
  struct Case {
    const char* what;
    std::function<void()> change;
    size_t files;  // the fewest files it writes (the journal among them)
  };
  const std::vector<Case> cases = {
      {"a price", [&] { t.setRecNo(3); t.edit(); t.fieldByName("PRICE").setAsInteger(77); t.post(); }, 3},
      {"a new record (data and every index)", [&] { addGoods(t, 31, "NEW", "", 5); }, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder rec;
    c.change();
    EXPECT_GE(rec.written.size(), c.files);
    for (const auto& f : rec.written) EXPECT_TRUE(rec.flushed.count(f)) << "a written file was not flushed";
    struct stat folderStat {};
    ASSERT_EQ(::stat(dir.path().toStdString().c_str(), &folderStat), 0);
    EXPECT_TRUE(rec.flushed.count({folderStat.st_dev, folderStat.st_ino})) << "the folder was not flushed";
  }
}

// A writer that cannot take back the change left behind opens the table
// read-only and says why: where the journal can be read, the table shows
// the state before the change; where it cannot, the reason says that the
// change may show. A table file out of reach (its folder not mounted, or
// closed to this user) is no reason to drop the journal: the table shows
// without the change, or the open is refused naming it. The journal stays,
// and the next open that can play it back does.
TEST_F(TableTest, FailedRecoveryShowsTheCommittedStateAndKeepsTheJournal) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::function<std::shared_ptr<void>(const std::string& table)> hinder;  // while it lives
    const char* reason;  // a part of the read-only reason, or of the refusal
  };
  auto unreadable = [](const std::string& file) {
    fs::permissions(file, fs::perms::none);
    return std::shared_ptr<void>(new WithoutFileOverride, [file](void* user) {
      delete static_cast<WithoutFileOverride*>(user);
      fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    });
  };
  auto indexesOf = [](const std::string& p) {
    std::vector<std::string> all;
    for (const auto& e : fs::directory_iterator(fs::path(p).parent_path()))
      if (e.path().stem() == "goods" && e.path().extension() != ".db" && e.path().extension() != ".db-journal")
        all.push_back(e.path());
    return all;
  };
  // Something other than a file at the file's name, the file kept beside.
  auto standIn = [](const std::string& file, bool folder) {
    fs::rename(file, file + ".away");
    EXPECT_TRUE(folder ? fs::create_directory(file) : ::mkfifo(file.c_str(), 0644) == 0);
    return std::shared_ptr<void>(nullptr, [file](void*) {
      fs::remove(file);
      fs::rename(file + ".away", file);
    });
  };
  const std::vector<Case> cases = {
      {"the device fails during the playback",
       [](const std::string&) { return std::make_shared<dbtest::BrokenDevice>(0); }, "показана без него"},
      {"the journal cannot be read by this user",
       [&](const std::string& p) { return unreadable(p + "-journal"); }, "нет прав доступа"},
      {"the table's indexes cannot be read by this user",
       [&](const std::string& p) {
         std::vector<std::shared_ptr<void>> all;
         for (const std::string& f : indexesOf(p)) all.push_back(unreadable(f));
         return std::make_shared<std::vector<std::shared_ptr<void>>>(std::move(all));
       },
       "показана без него"},
      {"FIFOs stand at the names of the table's indexes",
       [&](const std::string& p) {
         std::vector<std::shared_ptr<void>> all;
         for (const std::string& f : indexesOf(p)) all.push_back(standIn(f, false));
         return std::make_shared<std::vector<std::shared_ptr<void>>>(std::move(all));
       },
       "показана без него"},
      {"a folder stands at the table file's name", [&](const std::string& p) { return standIn(p, true); },
       "прерванное изменение"},
      {"the table file's folder is not mounted",
       [](const std::string& p) -> std::shared_ptr<void> {
         const std::string disk = p + ".disk";
         fs::create_directories(disk);
         fs::rename(p, disk + "/table.db");
         fs::create_symlink(disk + "/table.db", p);
         fs::rename(disk, disk + "-away");
         return std::shared_ptr<void>(nullptr, [disk](void*) { fs::rename(disk + "-away", disk); });
       },
       "прерванное изменение"},
      {"the table file is torn and the journal cannot be read by this user",
       [&](const std::string& p) -> std::shared_ptr<void> {
         const std::string whole = readBytes(p);
         writeBytes(p, std::string(0x60, '\xFF') + whole.substr(0x60));
         auto user = unreadable(p + "-journal");
         return std::shared_ptr<void>(nullptr, [p, whole, user](void*) { writeBytes(p, whole); });
       },
       "прерванное изменение"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(path(std::to_string(++n)));
    const std::string p = path(std::to_string(n) + "/goods.db"), j = p + "-journal";
    makeGoods(p, 30);
    {
      Table w;
      w.setTableName(p);
      w.open();
      interruptPriceChange(w);
    }
    ASSERT_TRUE(fs::exists(j));
    {
      std::shared_ptr<void> hindered = c.hinder(p);
      Table t;
      t.setTableName(p);
      std::string why;
      try {
        t.open();
        EXPECT_TRUE(t.readOnly());
        why = t.readOnlyReason();
        EXPECT_NE(why.find("отменить не удалось"), std::string::npos) << why;
      } catch (const DbError& e) {
        why = e.what();
        EXPECT_NE(why.find("прерванное изменение"), std::string::npos) << why;
      }
      EXPECT_NE(why.find(c.reason), std::string::npos) << why;
      if (why.find("показана без него") != std::string::npos) {
        EXPECT_EQ(priceOf(t, 3), 30);
      }
    }
    EXPECT_TRUE(fs::exists(j)) << "the journal was not kept";
    EXPECT_FALSE(fs::exists(j + "-set-aside"));
    Table next;
    next.setTableName(p);
    next.open();
    EXPECT_FALSE(next.readOnly()) << next.readOnlyReason();
    EXPECT_EQ(priceOf(next, 3), 30);
    EXPECT_FALSE(fs::exists(j));
  }
}

// What the engine tells the operator as it reads a table (a journal set
// aside) comes once the table is no longer locked: another program reads
// the table while the box is up.
TEST_F(TableTest, NoticeComesWhenTheTableIsNoLongerLocked) {
  const std::string p = path("goods.db"), j = p + "-journal";
  makeGoods(p, 30);
  std::vector<std::string> others;  // per notice: "" or what another reader met
  journal::setNotifier([&](const std::string&) {
    try {
      storage::ReadLock other(p);
      others.push_back("");
    } catch (const DbError& e) {
      others.push_back(e.what());
    }
  });
  Table t;
  t.setTableName(p);
  dbtest::writeBytes(j, "не журнал\n");
  t.open();
  dbtest::writeBytes(j, "не журнал\n");
  t.refresh();
  journal::setNotifier(nullptr);
  EXPECT_EQ(others, (std::vector<std::string>{"", ""}));
}
