#include "shell/program.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "bases/report_windows.h"
#include "platform/dialogs.h"
#include "shell/tform1.h"
#include "storage/journal.h"
#include "transfers/range_dialogs.h"

TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;
TForm7* Form7 = nullptr;
TForm8* Form8 = nullptr;

namespace {

// Qt's own dialogs (file and font) speak Russian like the rest of the program.
void installRussianTranslation() {
  static bool done = false;
  if (done || !QCoreApplication::instance()) return;
  done = true;
  auto* t = new QTranslator(QCoreApplication::instance());
  if (t->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(t);
  else
    delete t;
}

}  // namespace

TForm1* createForms() {
  installRussianTranslation();
  // What the table engine did on its own (a file set aside) is told in a box.
  storage::journal::setNotifier([](const std::string& text) {
    dialogs::current().message(QString::fromUtf8(text.data(), qsizetype(text.size())), dialogs::Kind::Warning);
  });
  auto* main = new TForm1();
  main->setAttribute(Qt::WA_DeleteOnClose, false);
  Form2 = new TForm2();
  Form3 = new TForm3();
  Form4 = new TForm4();
  Form5 = new TForm5();
  Form6 = new TForm6();
  main->setupTransfers();
  Form7 = new TForm7();
  Form8 = new TForm8();
  main->setupReports();
  // Only the main window's close ends the program, even while a range
  // dialog or a report window is still shown.
  for (QWidget* w : std::initializer_list<QWidget*>{Form2, Form3, Form4, Form5, Form6, Form7, Form8})
    w->setAttribute(Qt::WA_QuitOnClose, false);
  return main;
}

void destroyForms() {
  delete Form8; Form8 = nullptr;
  delete Form7; Form7 = nullptr;
  delete Form6; Form6 = nullptr;
  delete Form5; Form5 = nullptr;
  delete Form4; Form4 = nullptr;
  delete Form3; Form3 = nullptr;
  delete Form2; Form2 = nullptr;
  delete Form1;
}
