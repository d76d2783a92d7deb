#include "transfers/range_dialogs.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/guard.h"
#include "platform/intconv.h"
#include "platform/line_input.h"
#include "platform/ansi.h"
#include "shell/tform1.h"

namespace {

// The character a key press types, as the edit's key handler sees it; 0 for
// keys that type nothing (arrows, Delete, function keys), which pass the
// filter untouched.
char16_t typedCharacter(const QKeyEvent* e) {
  const int key = e->key();
  const bool ctrl = e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
  switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0;  // focus moves on, as in every dialog
    case Qt::Key_Backspace: return ctrl ? u'\x7f' : u'\b';
    case Qt::Key_Return:
    case Qt::Key_Enter: return ctrl ? u'\n' : u'\r';
    case Qt::Key_Escape: return u'\x1b';
    default: break;
  }
  const QString text = e->text();
  if (key >= Qt::Key_Escape) {
    // Arrows, Delete, Home and function keys type nothing; a key without a
    // code of its own (some layouts) may still type a character.
    if (key != Qt::Key_unknown || ctrl || text.isEmpty()) return 0;
    const char16_t c = text.at(0).unicode();
    return c < u' ' || c == u'\x7f' ? 0 : c;
  }
  // Control with a key of the main block types a control character.
  if (ctrl) return key >= Qt::Key_A && key <= Qt::Key_Z ? char16_t(key - Qt::Key_A + 1) : u'\x1f';
  return text.isEmpty() ? 0 : text.at(0).unicode();
}

}  // namespace

RangeDialog::RangeDialog(const Texts& t, Driver driver, QWidget* parent)
    : QDialog(parent), driver_(driver) {
  setObjectName(QString::fromLatin1(t.objectName));
  setWindowTitle(QString::fromUtf8(t.caption));
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  resize(342, 143);

  auto named = [](auto* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
  };
  Label1 = named(new QLabel(QString::fromUtf8(t.prompt), this), "Label1");
  Label2 = named(new QLabel(QStringLiteral("с"), this), "Label2");
  Label3 = named(new QLabel(QStringLiteral("по"), this), "Label3");
  Edit1 = named(new QLineEdit(QStringLiteral("1"), this), "Edit1");
  Edit2 = named(new QLineEdit(QString::fromUtf8(t.edit2), this), "Edit2");
  Button1 = named(new QPushButton(QString::fromUtf8(t.action), this), "Button1");
  Button2 = named(new QPushButton(QStringLiteral("Отмена"), this), "Button2");
  for (QLineEdit* e : {Edit1, Edit2}) {
    lineinput::apply(e);
    e->setFixedWidth(41);
    e->installEventFilter(this);
  }
  Button1->setAutoDefault(false);
  Button2->setAutoDefault(false);

  // Prompt on top, the two edits side by side below it, the buttons one
  // above the other on the right.
  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1, 0, 0, 1, 4);
  grid->addWidget(Label2, 1, 0, Qt::AlignRight);
  grid->addWidget(Edit1, 1, 1);
  grid->addWidget(Label3, 1, 2, Qt::AlignRight);
  grid->addWidget(Edit2, 1, 3);
  grid->addWidget(Button1, 0, 4);
  grid->addWidget(Button2, 1, 4);
  grid->setColumnStretch(3, 1);

  if (t.editsFirst) {
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);
  } else {
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Edit1);
    setTabOrder(Edit1, Edit2);
  }

  connect(Button1, &QPushButton::clicked, this, &RangeDialog::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &RangeDialog::Button2Click);
}

bool RangeDialog::keyAccepted(const QString& text, char16_t key) {
  if (key == u'\b') return true;
  return key >= u'0' && key <= u'9' && text.size() < 4;
}

namespace {

// The text that a typed character joins: a selection is replaced by it.
QString keptText(const QLineEdit* e) {
  QString text = e->text();
  if (e->hasSelectedText()) text.remove(e->selectionStart(), e->selectedText().size());
  return text;
}

}  // namespace

void RangeDialog::Edit1KeyPress(char16_t& Key) {
  if (!keyAccepted(keptText(Edit1), Key)) Key = 0;
}

void RangeDialog::Edit2KeyPress(char16_t& Key) {
  if (!keyAccepted(keptText(Edit2), Key)) Key = 0;
}

bool RangeDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || (watched != Edit1 && watched != Edit2))
    return QDialog::eventFilter(watched, event);
  auto* e = static_cast<QKeyEvent*>(event);
  // Copy, cut and paste do nothing in these edits.
  if (e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) ||
      e->matches(QKeySequence::Copy))
    return true;
  char16_t key = typedCharacter(e);
  if (key == 0) return false;
  if (watched == Edit1)
    Edit1KeyPress(key);
  else
    Edit2KeyPress(key);
  return key == 0;  // a refused character never reaches the edit
}

void RangeDialog::showRange() {
  if (!centred_) {
    centred_ = true;
    if (QScreen* s = QGuiApplication::primaryScreen())
      move(s->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
}

void RangeDialog::Button1Click() {
  guarded([this] {
    hide();
    const int first = intconv::parse(ansi::A(Edit1->text()));
    const int second = intconv::parse(ansi::A(Edit2->text()));
    const int low = first > second ? second : first;
    const int high = first > second ? first : second;
    if (Form1) driver_(*Form1, low, high);
  });
}

void RangeDialog::Button2Click() { hide(); }

TForm2::TForm2(QWidget* parent)
    : RangeDialog({"Form2", "Загрузка базы товаров", "Загрузить номера ячеек PLU", "Загрузить",
                   "4000", false},
                  [](TForm1& f, int l, int h) { f.LoadPluRange(l, h); }, parent) {}

TForm3::TForm3(QWidget* parent)
    : RangeDialog({"Form3", "Загрузка базы сообщений", "Загрузить номера  сообщений",
                   "Загрузить", "1000", true},
                  [](TForm1& f, int l, int h) { f.LoadMsgRange(l, h); }, parent) {}

TForm4::TForm4(QWidget* parent)
    : RangeDialog({"Form4", "Чтение базы товаров", "Прочитать номера ячеек PLU", "Прочитать",
                   "4000", false},
                  [](TForm1& f, int l, int h) { f.GetPluRange(l, h); }, parent) {}

TForm5::TForm5(QWidget* parent)
    : RangeDialog({"Form5", "Чтение базы сообщений", "Прочитать номера сообщений MSG",
                   "Прочитать", "1000", false},
                  [](TForm1& f, int l, int h) { f.GetMsgRange(l, h); }, parent) {}

TForm6::TForm6(QWidget* parent)
    : RangeDialog({"Form6", "Удаление ячеек PLU, MSG или отчетов",
                   "Удалить из весов ячейки PLU, MSG или отчеты", "Удалить", "4000", false},
                  [](TForm1& f, int l, int h) { f.DeletePluRange(l, h); }, parent) {}
