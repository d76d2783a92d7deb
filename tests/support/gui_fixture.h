#pragma once
// A fixture that starts the program afresh in an empty temporary start-up
// directory, with scripted dialogs and a fixed own address, and finds
// controls by name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFontMetrics>
#include <QTabBar>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
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

// Types the text key by key, as the operator does (letters of any alphabet).
inline void typeText(QWidget* into, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, into, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Pastes the text with Ctrl+V, as copied from another program.
inline void pasteText(QWidget* into, const QString& text) {
  QApplication::clipboard()->setText(text);
  QTest::keyClick(into, Qt::Key_V, Qt::ControlModifier);
}
