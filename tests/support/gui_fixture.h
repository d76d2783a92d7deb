#pragma once
// A fixture that starts the program afresh in an empty temporary start-up
// directory, with scripted dialogs and a fixed own address, and finds
// controls by name.
#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QTabBar>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "scripted_dialogs.h"
#include "shell/tform1.h"

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the program (createForms) in the temporary directory.
  TForm1* start();
  // Destroys the forms without closing (no settings are written).
  void stop();
  // Closes the main window as the close box does; true when it closed.
  bool closeWindow();

  template <class T>
  T* find(const char* name) {
    T* w = form->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << "no control " << name;
    return w;
  }

  QString path(const QString& name) const { return dir->filePath(name); }
  std::string readFile(const QString& name) const;
  void writeFile(const QString& name, const std::string& bytes) const;

  std::unique_ptr<QTemporaryDir> dir;
  QString oldDir;
  ScriptedDialogs dlg;
  TForm1* form = nullptr;
  static QString ownAddress;  // what start-up takes as the PC's address
};

// Every tab of the bar shows its whole caption within the bar: none cut, none
// scrolled away to either side.
inline void expectWholeTabs(const QTabBar* bar) {
  const QFontMetrics fm(bar->font());
  for (int i = 0; i < bar->count(); ++i) {
    const QRect r = bar->tabRect(i);
    const std::string text = bar->tabText(i).toStdString();
    EXPECT_GE(r.left(), 0) << text;
    EXPECT_LE(r.right(), bar->width()) << text;
    EXPECT_GE(r.width(), fm.horizontalAdvance(bar->tabText(i))) << text;
  }
}
