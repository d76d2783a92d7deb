#pragma once
// The five range dialogs: load goods, load messages, read goods, read
// messages, delete. Each is a non-modal window that stays on top, takes a
// range of cell numbers in two four-digit edits and calls its driver on the
// main window with the range ordered low, high.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class TForm1;

class RangeDialog : public QDialog {
  Q_OBJECT
 public:
  // The driver of the main window that the action button calls.
  using Driver = void (*)(TForm1& form, int low, int high);

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;

  // Key filter of the edits: Key is set to 0 when the character is refused.
  void Edit1KeyPress(char16_t& Key);
  void Edit2KeyPress(char16_t& Key);

  // The rule shared by all ten edits, judged on the edit's text before the
  // character is inserted, less the selection that the character replaces:
  // backspace passes, a digit passes while that text is shorter than four
  // characters, everything else is refused.
  static bool keyAccepted(const QString& text, char16_t key);

  // Makes the dialog visible without waiting for it; a visible dialog stays
  // as it is, texts included.
  void showRange();

 public slots:
  void Button1Click();  // hides the dialog and runs the driver
  void Button2Click();  // hides the dialog

 protected:
  struct Texts {
    const char* objectName;
    const char* caption;
    const char* prompt;
    const char* action;
    const char* edit2;
    bool editsFirst;  // tab order Edit1, Edit2, Button1, Button2
  };
  RangeDialog(const Texts& texts, Driver driver, QWidget* parent);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Driver driver_;
  bool centred_ = false;
};

class TForm2 : public RangeDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);
};
class TForm3 : public RangeDialog {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
};
class TForm4 : public RangeDialog {
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);
};
class TForm5 : public RangeDialog {
  Q_OBJECT
 public:
  explicit TForm5(QWidget* parent = nullptr);
};
class TForm6 : public RangeDialog {
  Q_OBJECT
 public:
  explicit TForm6(QWidget* parent = nullptr);
};
