#pragma once
// The two report windows: the goods list and the messages list.
#include <QWidget>

class TForm7 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm7(QWidget* parent = nullptr);
};
class TForm8 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm8(QWidget* parent = nullptr);
};
