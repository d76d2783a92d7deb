// The goods and messages reports as PDF pages: texts, order, page breaks,
// paper, positions and the binding through the field-compatibility table.
#include <algorithm>
#include <cmath>

#include "report_fixture.h"

namespace {

constexpr double kPt = 72.0 / 25.4;  // PDF points per millimetre

const char* const kGoodsHeadings[15] = {"№PLU",        "Наименование 1", "Наименование 2", "Цена, коп.",
                                        "Срок хр.",    "Тара, гр.",      "Код товара",     "Код группы",
                                        "№ MSG",       "Логотип",        "РСТ",            "Начало продаж",
                                        "Кол-во",      "Сумма, коп.",    "Общ.вес, гр."};

const PdfWord* findWord(const std::vector<PdfWord>& ws, const QString& text) {
  auto it = std::find_if(ws.begin(), ws.end(), [&](const PdfWord& w) { return w.text == text; });
  return it == ws.end() ? nullptr : &*it;
}

// The words of the detail rows (below the header band, page y in mm) whose
// left edge lies in a column (page x in mm), top to bottom.
QStringList columnWords(const std::vector<PdfWord>& ws, double fromMm, double toMm, double belowMm = 10 + 17.7) {
  std::vector<PdfWord> in;
  for (const PdfWord& w : ws)
    if (w.xMin >= fromMm * kPt && w.xMin < toMm * kPt && w.yMin > belowMm * kPt) in.push_back(w);
  std::stable_sort(in.begin(), in.end(), [](const PdfWord& a, const PdfWord& b) { return a.yMin < b.yMin; });
  QStringList out;
  for (const PdfWord& w : in) out << w.text;
  return out;
}

}  // namespace

using GoodsReport = ReportTest;
using MessagesReport = ReportTest;

TEST_F(GoodsReport, PrintsTitleDateHeadingsAndRecordsInTheCurrentOrderOnA4Landscape) {
  emptyGoods();
  goodsRecord(3, cp1251("Яблоки"), cp1251("зелёные"), 12345, 501);
  goodsRecord(1, cp1251("Апельсины"), "Spain", 23456, 502);
  goodsRecord(2, cp1251("Бананы"), "Ecuador", 34567, 503);
  form->N5->trigger();  // by name
  ASSERT_EQ(table().indexFieldNames(), "NAME1");
  ASSERT_TRUE(dlg.take().isEmpty());

  EXPECT_EQ(goods(), 1);
  EXPECT_EQ(pdfPages("goods.pdf"), 1);
  const QSizeF page = pageSize("goods.pdf");
  EXPECT_NEAR(page.width(), 841.89, 0.5);
  EXPECT_NEAR(page.height(), 595.28, 0.5);

  const QString t = text("goods.pdf");
  EXPECT_TRUE(t.contains(QStringLiteral("База товаров")));
  EXPECT_TRUE(t.contains(QStringLiteral("05.03.2026")));
  EXPECT_TRUE(t.contains(QStringLiteral("Стр.")));
  for (const char* h : kGoodsHeadings) EXPECT_TRUE(t.contains(QString::fromUtf8(h))) << h;
  for (const char* v : {"12345", "23456", "34567", "501", "AB12", "зелёные", "Ecuador"})
    EXPECT_TRUE(t.contains(QString::fromUtf8(v))) << v;
  const qsizetype a = t.indexOf(QStringLiteral("Апельсины")), b = t.indexOf(QStringLiteral("Бананы")),
                  c = t.indexOf(QStringLiteral("Яблоки"));
  EXPECT_TRUE(a >= 0 && a < b && b < c) << t.toStdString();

  // The PLU column, top to bottom, in the order by name.
  const auto ws = words("goods.pdf", 1);
  EXPECT_EQ(columnWords(ws, 10, 20.6), (QStringList{"1", "2", "3"}));
}

TEST_F(GoodsReport, TextsAndRowsStandWhereTheLayoutPutsThem) {
  emptyGoods();
  goodsRecord(7, "First", "x", 100, 1);
  goodsRecord(8, "Second", "y", 200, 2);
  goods();
  const auto ws = words("goods.pdf", 1);
  // Left edges (page mm = margin 10 + band position); glyphs start a little
  // inside their box.
  auto left = [&](const char* w) {
    const PdfWord* p = findWord(ws, QString::fromUtf8(w));
    return p ? p->xMin / kPt : -1.0;
  };
  auto top = [&](const char* w) {
    const PdfWord* p = findWord(ws, QString::fromUtf8(w));
    return p ? p->yMin / kPt : -1.0;
  };
  EXPECT_NEAR(left("База"), 10.0, 0.6);
  EXPECT_NEAR(left("05.03.2026"), 10 + 230.7, 0.6);
  EXPECT_NEAR(left("Стр."), 10 + 247.7, 0.6);
  EXPECT_NEAR(left("First"), 10 + 10.6 + 2, 0.6);
  EXPECT_NEAR(left("7"), 10 + 0 + 2, 0.6);
  EXPECT_NEAR(left("100"), 10 + 108.0 + 2, 0.6);
  // The date, "Стр." and the page number on one line, above the title.
  EXPECT_NEAR(top("Стр."), top("05.03.2026"), 0.2);
  EXPECT_LT(top("Стр."), top("База"));
  // Detail rows 4.2 mm apart (on the layout's grid of 1/96 inch), the first
  // right under the header band.
  EXPECT_NEAR(top("Second") - top("First"), 4.2, 0.27);
  EXPECT_GT(top("First"), 10 + 17.7);
  EXPECT_LT(top("First"), 10 + 17.7 + 1.5);
  // A heading centred in its box.
  const PdfWord* price = findWord(ws, QStringLiteral("Цена,"));
  const PdfWord* kop = findWord(ws, QStringLiteral("коп."));
  ASSERT_TRUE(price && kop);
  EXPECT_NEAR((price->xMin + kop->xMax) / 2 / kPt, 10 + 108.0 + 13.0 / 2, 0.5);
}

TEST_F(GoodsReport, EmptyTableGivesOnePageWithTheHeaderAndNoRows) {
  emptyGoods();
  ASSERT_EQ(table().recordCount(), 0);
  EXPECT_EQ(goods(), 1);
  EXPECT_EQ(pdfPages("goods.pdf"), 1);
  const auto ws = words("goods.pdf", 1);
  ASSERT_TRUE(findWord(ws, QStringLiteral("База")));
  ASSERT_TRUE(findWord(ws, QStringLiteral("05.03.2026")));
  ASSERT_TRUE(findWord(ws, QStringLiteral("Стр.")));
  ASSERT_TRUE(findWord(ws, QStringLiteral("1")));
  ASSERT_TRUE(findWord(ws, QStringLiteral("№PLU")));
  for (const PdfWord& w : ws) EXPECT_LT(w.yMin / kPt, 10 + 17.7) << w.text.toStdString();
}

TEST_F(GoodsReport, FiveHundredRecordsFillThirteenPagesOfFortyOneRows) {
  emptyGoods();
  for (int plu = 1; plu <= 500; ++plu) goodsRecord(plu, "N" + std::to_string(plu), "", plu, plu);
  // (190 mm - 17.7 mm header) / 4.2 mm rows = 41 rows a page.
  EXPECT_EQ(goods(), 13);
  EXPECT_EQ(pdfPages("goods.pdf"), 13);

  QStringList first = columnWords(words("goods.pdf", 1), 10, 20.6);
  ASSERT_EQ(first.size(), 41);
  EXPECT_EQ(first.front(), "1");
  EXPECT_EQ(first.back(), "41");
  QStringList second = columnWords(words("goods.pdf", 2), 10, 20.6);
  ASSERT_FALSE(second.isEmpty());
  EXPECT_EQ(second.front(), "42");
  const auto last = words("goods.pdf", 13);
  QStringList lastPlu = columnWords(last, 10, 20.6);
  EXPECT_EQ(lastPlu.size(), 8);
  EXPECT_EQ(lastPlu.back(), "500");
  // Every page carries its own number after "Стр.".
  for (int p : {1, 7, 13}) {
    const QString t = text("goods.pdf", p);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("Стр\\.\\s+%1\\b").arg(p)).match(t).hasMatch()) << p;
    EXPECT_TRUE(t.contains(QStringLiteral("Наименование 1"))) << p;
  }
}

TEST_F(GoodsReport, PriceColumnFollowsTheFieldMapAtTheNextGenerationWithoutApplying) {
  emptyGoods();
  goodsRecord(1, "Milk", "", 111111, 222222);
  goods(QStringLiteral("before.pdf"));
  EXPECT_EQ(text("before.pdf").count(QStringLiteral("111111")), 1);

  mapField(4, QStringLiteral("ICODE"));  // PRICE -> the item code field; "Применить" not pressed
  goods(QStringLiteral("after.pdf"));
  const auto ws = words("after.pdf", 1);
  EXPECT_FALSE(findWord(ws, QStringLiteral("111111")));
  EXPECT_EQ(columnWords(ws, 10 + 108.0, 10 + 120.7), QStringList{"222222"});
  EXPECT_EQ(columnWords(ws, 10 + 146.1, 10 + 160.9), QStringList{"222222"});
}

TEST_F(GoodsReport, CellsOfAnEmptyOrUnknownFieldNamePrintEmpty) {
  emptyGoods();
  goodsRecord(4, "Name one", "Name two", 700, 9);
  mapField(2, QStringLiteral("NOSUCH"));  // NAME1
  mapField(3, QString());                 // NAME2
  EXPECT_EQ(goods(), 1);
  const QString t = text("goods.pdf");
  EXPECT_FALSE(t.contains(QStringLiteral("Name one")));
  EXPECT_FALSE(t.contains(QStringLiteral("Name two")));
  EXPECT_TRUE(t.contains(QStringLiteral("700")));
}

TEST_F(GoodsReport, OfAMessagesTablePrintsTheFieldsItHas) {
  emptyMessages();
  for (int m : {7, 8, 9}) messageRecord(m, "M" + std::to_string(m));
  EXPECT_EQ(goods(), 1);
  const auto ws = words("goods.pdf", 1);
  EXPECT_EQ(columnWords(ws, 10 + 177.8, 10 + 190.5), (QStringList{"7", "8", "9"}));
  EXPECT_FALSE(findWord(ws, QStringLiteral("M7L1")));
}

TEST_F(GoodsReport, APendingChangeIsStoredAndAnUntypedNewRecordDropped) {
  emptyGoods();
  goodsRecord(1, "Old", "", 1, 1);
  table().fieldByName("NAME1").setAsString("Typed");  // edit, not stored
  goods(QStringLiteral("edited.pdf"));
  EXPECT_EQ(table().state(), storage::State::Browse);
  EXPECT_TRUE(text("edited.pdf").contains(QStringLiteral("Typed")));
  EXPECT_EQ(column(path("goods.db"), "NAME1"), std::vector<std::string>{"Typed"});

  table().append();  // nothing typed
  goods(QStringLiteral("appended.pdf"));
  EXPECT_EQ(table().state(), storage::State::Browse);
  EXPECT_EQ(table().recordCount(), 1);
}

TEST_F(MessagesReport, TwentyMessagesFillThreePagesOfSevenInMessageNumberOrder) {
  emptyMessages();
  for (int m = 20; m >= 1; --m) messageRecord(m, "M" + std::to_string(m));
  form->MSG1->trigger();  // by message number
  ASSERT_TRUE(dlg.take().isEmpty());

  // (277 mm - 24.1 mm header) / 33.9 mm bands = 7 messages a page.
  EXPECT_EQ(messages(), 3);
  EXPECT_EQ(pdfPages("msg.pdf"), 3);
  const QSizeF page = pageSize("msg.pdf");
  EXPECT_NEAR(page.width(), 595.28, 0.5);
  EXPECT_NEAR(page.height(), 841.89, 0.5);

  const QString t = text("msg.pdf", 1);
  for (const char* s : {"База сообщений", "05.03.2026", "Стр.", "№ MSG", "Строки информации"})
    EXPECT_TRUE(t.contains(QString::fromUtf8(s))) << s;
  const auto p1 = words("msg.pdf", 1);
  const double header = 10 + 24.1;
  EXPECT_EQ(columnWords(p1, 10, 10 + 16.9, header), (QStringList{"1", "2", "3", "4", "5", "6", "7"}));
  EXPECT_EQ(columnWords(words("msg.pdf", 3), 10, 10 + 16.9, header),
            (QStringList{"15", "16", "17", "18", "19", "20"}));
  // Eight lines stacked in each band, at their tops.
  const double tops[8] = {0, 4.2, 8.5, 12.7, 16.9, 21.2, 25.4, 29.6};
  const PdfWord* l1 = findWord(p1, QStringLiteral("M1L1"));
  ASSERT_TRUE(l1);
  EXPECT_NEAR(l1->xMin / kPt, 10 + 16.9 + 2, 0.6);
  for (int i = 2; i <= 8; ++i) {
    const PdfWord* w = findWord(p1, QStringLiteral("M1L%1").arg(i));
    ASSERT_TRUE(w) << i;
    EXPECT_NEAR((w->yMin - l1->yMin) / kPt, tops[i - 1], 0.27) << i;
  }
  const PdfWord* m2 = findWord(p1, QStringLiteral("M2L1"));
  ASSERT_TRUE(m2);
  EXPECT_NEAR((m2->yMin - l1->yMin) / kPt, 33.9, 0.27);
  // Page header positions.
  EXPECT_NEAR(findWord(p1, QStringLiteral("Стр."))->xMin / kPt, 10 + 148.2, 0.6);
  EXPECT_NEAR(findWord(p1, QStringLiteral("05.03.2026"))->xMin / kPt, 10 + 127.0, 0.6);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("Стр\\.\\s+3\\b")).match(text("msg.pdf", 3)).hasMatch());
}
