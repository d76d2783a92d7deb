// total.cfg: four check boxes, the two time-outs and the window state.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <optional>

#include "platform/ansi.h"
#include "platform/textfile.h"
#include "shell/tform1.h"

namespace {
const char* const kDefaults[7] = {"TRUE", "TRUE", "1000", "TRUE", "TRUE", "50", "wsNormal"};
std::string totalPath() { return (QDir::currentPath() + "/total.cfg").toStdString(); }
}  // namespace

void TForm1::TotalOpen() {
  settingsRead.total = false;
  QDir::setCurrent(StartDir);
  const std::string path = totalPath();
  // Only a missing file is created with the defaults; one that is there but
  // cannot be opened is reported and keeps its contents.
  const bool created = textfile::missing(path);
  if (created) textfile::writeAtomic(path, textfile::joinLines({kDefaults, kDefaults + 7}));
  // A file made just now that cannot be opened again, and a read error, end
  // the reading silently: the controls not reached keep their states.
  std::optional<textfile::Reader> opened;
  try {
    opened.emplace(path);
  } catch (const textfile::FileError&) {
    if (!created) throw;
    return;
  }
  settingsRead.total = !opened->failed();
  textfile::Reader& in = *opened;
  auto flag = [&in](QCheckBox* box) {
    if (in.atError()) return false;
    box->setChecked(in.readLine() == "TRUE");
    return true;
  };
  auto text = [&in](QLineEdit* edit) {
    if (in.atError()) return false;
    edit->setText(ansi::toUnicode(in.readLine()));
    return true;
  };
  if (!flag(CheckBox1) || !flag(CheckBox3) || !text(Edit32) || !flag(CheckBox12) || !flag(CheckBox13) ||
      !text(Edit31) || in.atError())
    return;
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
