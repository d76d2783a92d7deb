#include "gui_fixture.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <fstream>
#include <sstream>

#include "shell/program.h"

QString GuiTest::ownAddress = QStringLiteral("192.168.1.15");

void GuiTest::SetUp() {
  dir = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(dir->isValid());
  oldDir = QDir::currentPath();
  QDir::setCurrent(dir->path());
  ownAddress = QStringLiteral("192.168.1.15");
  LocalHostAddress = [] { return ownAddress; };
}

void GuiTest::TearDown() {
  stop();
  QDir::setCurrent(oldDir);
  dir.reset();
}

TForm1* GuiTest::start() {
  form = createForms();
  return form;
}

void GuiTest::stop() {
  if (form) {
    destroyForms();
    form = nullptr;
  }
}

bool GuiTest::closeWindow() {
  QCloseEvent ev;
  QCoreApplication::sendEvent(form, &ev);
  return ev.isAccepted();
}

std::string GuiTest::readFile(const QString& name) const {
  std::ifstream in(path(name).toStdString(), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void GuiTest::writeFile(const QString& name, const std::string& bytes) const {
  std::ofstream out(path(name).toStdString(), std::ios::binary);
  out << bytes;
}
