#include <QApplication>

#include "shell/program.h"
#include "shell/tform1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TForm1* form = createForms();
  form->show();
  const int rc = app.exec();
  destroyForms();
  return rc;
}
