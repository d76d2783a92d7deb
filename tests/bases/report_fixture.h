#pragma once
// The two base reports generated into PDF files the way the preview draws
// them (a high-resolution printer set up by the report, then one
// generation), and read back with poppler's pdftotext and pdfinfo.
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <string>
#include <vector>

#include "bases/report_windows.h"
#include "bases_fixture.h"
#include "shell/program.h"

// A clock on a fixed day, so that the printed date is known.
class FixedDayClock : public clock_::Clock {
 public:
  FixedDayClock() { clock_::install(this); }
  ~FixedDayClock() override { clock_::install(nullptr); }
  void sleep(int) override {}
  void processEvents() override {}
  QDateTime now() override { return QDateTime(QDate(2026, 3, 5), QTime(9, 30)); }
};

// One word of a page with its box in PDF points from the page's top left.
struct PdfWord {
  QString text;
  double xMin, yMin, xMax, yMax;
};

class ReportTest : public BasesTest {
 protected:
  // One generation into a PDF file in the test directory; the page count.
  int generate(report::QuickRep& rep, const QString& name) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path(name));
    rep.setupPrinter(printer);
    return rep.print(printer);
  }
  int goods(const QString& name = QStringLiteral("goods.pdf")) { return generate(Form7->QuickRep1, name); }
  int messages(const QString& name = QStringLiteral("msg.pdf")) { return generate(Form8->QuickRep1, name); }

  static QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
  }

  // The text of a PDF as laid out on its pages (all pages, or page `page`).
  QString text(const QString& name, int page = 0) {
    QStringList args{QStringLiteral("-layout")};
    if (page > 0) args << "-f" << QString::number(page) << "-l" << QString::number(page);
    return run(QStringLiteral("pdftotext"), args << path(name) << QStringLiteral("-"));
  }
  QString info(const QString& name) { return run(QStringLiteral("pdfinfo"), {path(name)}); }
  int pdfPages(const QString& name) {
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info(name));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  }
  // Width and height of the first page in points.
  QSizeF pageSize(const QString& name) {
    const auto m = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(info(name));
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
  }
  // The words of one page with their boxes.
  std::vector<PdfWord> words(const QString& name, int page) {
    const QString html = run(QStringLiteral("pdftotext"), {"-bbox", "-f", QString::number(page), "-l",
                                                           QString::number(page), path(name), "-"});
    static const QRegularExpression re(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    std::vector<PdfWord> out;
    for (auto it = re.globalMatch(html); it.hasNext();) {
      const auto m = it.next();
      QString w = m.captured(5);
      w.replace(QStringLiteral("&amp;"), QStringLiteral("&")).replace(QStringLiteral("&lt;"), QStringLiteral("<"));
      out.push_back({w, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                     m.captured(4).toDouble()});
    }
    return out;
  }

  // A new goods base without records.
  void emptyGoods(const QString& name = QStringLiteral("goods.db")) {
    newGoods(name);
    table().first();
    table().deleteRecord();
  }
  // A new messages base without records.
  void emptyMessages(const QString& name = QStringLiteral("msg.db")) {
    newMessages(name);
    table().cancel();
  }

  // Appends a stored goods record with every value given.
  void goodsRecord(int plu, const std::string& name1, const std::string& name2, int price, int icode,
                   int gcode = 0, int msgno = 0) {
    auto& t = table();
    t.append();
    t.fieldByName("PLUNO").setAsInteger(plu);
    t.fieldByName("NAME1").setAsString(name1);
    t.fieldByName("NAME2").setAsString(name2);
    t.fieldByName("PRICE").setAsInteger(price);
    t.fieldByName("LIFE").setAsString("30");
    t.fieldByName("TARE").setAsInteger(5);
    t.fieldByName("ICODE").setAsInteger(icode);
    t.fieldByName("GCODE").setAsInteger(gcode);
    t.fieldByName("MSGNO").setAsInteger(msgno);
    t.fieldByName("LOGOTYPE").setAsInteger(1);
    t.fieldByName("RST").setAsString("AB12");
    t.post();
  }
  void messageRecord(int msgno, const std::string& prefix) {
    auto& t = table();
    t.append();
    t.fieldByName("MSGNO").setAsInteger(msgno);
    for (int i = 1; i <= 8; ++i)
      t.fieldByName("LINE" + std::to_string(i)).setAsString(prefix + "L" + std::to_string(i));
    t.post();
  }

  FixedDayClock day;
};

inline std::string cp1251(const char* utf8) { return ansi::A(QString::fromUtf8(utf8)); }
