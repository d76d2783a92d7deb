#include "settings/settings_pages.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/dialogs.h"
#include "platform/line_input.h"
#include "shell/tform1.h"

namespace settingspages {

void say(const char* text) { dialogs::message(QString::fromUtf8(text)); }

bool handshake(TForm1& f, int row, int timeOut, int pause, const char* noData) {
  switch (f.ScaleSelectHandshake(row, timeOut, pause)) {
    case TForm1::HandshakeResult::Accepted:
      return true;
    case TForm1::HandshakeResult::NoData:
      say(noData);
      return false;
    case TForm1::HandshakeResult::WrongReply:
      say(kWrongReply);
      return false;
  }
  return false;
}

QLineEdit* edit(QWidget* parent, const char* name, bool readOnly, int width) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setReadOnly(readOnly);
  e->setFixedWidth(width);
  lineinput::apply(e);
  return e;
}

QLabel* caption(QWidget* parent, const QString& text, const char* name) {
  auto* l = new QLabel(text, parent);
  if (*name) l->setObjectName(QString::fromLatin1(name));
  return l;
}

QPushButton* button(QWidget* parent, const QString& text, const char* name) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

QComboBox* scaleList(QWidget* parent, const char* name) {
  auto* c = new QComboBox(parent);
  c->setObjectName(QString::fromLatin1(name));
  c->setEditable(true);
  c->setInsertPolicy(QComboBox::NoInsert);
  c->setMinimumWidth(160);
  lineinput::apply(c->lineEdit());
  return c;
}

void tabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* prev = nullptr;
  for (QWidget* w : widgets) {
    if (prev) QWidget::setTabOrder(prev, w);
    prev = w;
  }
}

void addRow(QGridLayout* grid, QWidget* parent, const QString& label, QWidget* field) {
  const int row = grid->rowCount();
  auto* l = caption(parent, label);
  l->setBuddy(field);
  grid->addWidget(l, row, 0);
  grid->addWidget(field, row, 1, Qt::AlignLeft);
}

}  // namespace settingspages
