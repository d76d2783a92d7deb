#pragma once
// The two report windows: the goods list and the messages list. The windows
// themselves are never shown; each holds its report, bound to the main
// window's Table1, whose value cells take their field names from the
// field-compatibility table just before every generation.
#include <QWidget>
#include <array>
#include <string>

#include "bases/banded_report.h"

class TForm7 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm7(QWidget* parent = nullptr);

  report::QuickRep QuickRep1;
  // The value cells, in the order of the report's columns.
  std::array<report::Item*, 15> QRExpr{};

  void QuickRep1BeforePrint();
  // The user's field name of a logical field (the field-compatibility table).
  std::string Ass(const std::string& logicalName) const;
};

class TForm8 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm8(QWidget* parent = nullptr);

  report::QuickRep QuickRep1;
  // The value cells: MSGNO, then LINE1 to LINE8.
  std::array<report::Item*, 9> QRExpr{};

  void QuickRep1BeforePrint();
  std::string Ass(const std::string& logicalName) const;
};
