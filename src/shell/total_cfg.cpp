// total.cfg: four check boxes, the two time-outs and the window state.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>

#include "platform/ansi.h"
#include "platform/textfile.h"
#include "shell/tform1.h"

namespace {
const char* const kDefaults[7] = {"TRUE", "TRUE", "1000", "TRUE", "TRUE", "50", "wsNormal"};
std::string totalPath() { return (QDir::currentPath() + "/total.cfg").toStdString(); }
}  // namespace

void TForm1::TotalOpen() {
  QDir::setCurrent(StartDir);
  const std::string path = totalPath();
  if (!textfile::canOpen(path))
    textfile::writeAtomic(path, textfile::joinLines({kDefaults, kDefaults + 7}));
  textfile::Reader in(path);
  auto flag = [&in](QCheckBox* box) { box->setChecked(in.readLine() == "TRUE"); };
  flag(CheckBox1);
  flag(CheckBox3);
  Edit32->setText(ansi::toUnicode(in.readLine()));
  flag(CheckBox12);
  flag(CheckBox13);
  Edit31->setText(ansi::toUnicode(in.readLine()));
  const std::string state = in.readLine();
  if (state == "wsNormal")
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
  else if (state == "wsMaximized")
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
  else if (state == "wsMinimized")
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TForm1::TotalSave() {
  QDir::setCurrent(StartDir);
  auto flag = [](QCheckBox* box) { return std::string(box->isChecked() ? "TRUE" : "FALSE"); };
  const Qt::WindowStates ws = windowState();
  const char* state = (ws & Qt::WindowMinimized) ? "wsMinimized"
                      : (ws & Qt::WindowMaximized) ? "wsMaximized"
                                                    : "wsNormal";
  textfile::writeAtomic(totalPath(), textfile::joinLines({flag(CheckBox1), flag(CheckBox3),
                                                          ansi::fromUnicode(Edit32->text()),
                                                          flag(CheckBox12), flag(CheckBox13),
                                                          ansi::fromUnicode(Edit31->text()), state}));
}
