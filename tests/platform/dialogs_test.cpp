// The program's own Qt dialogs: an open dialog refuses a name that does not
// exist instead of returning it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/dialogs.h"

TEST(QtDialogs, OpenDialogRefusesAMissingNameAndTakesAnExistingOne) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile existing(dir.filePath("goods.db"));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  dialogs::install(nullptr);
  dialogs::FileRequest req;
  req.title = QStringLiteral("Открытие");
  req.filter = QStringLiteral("*.db|*.db");
  req.initialDir = dir.path();

  bool refusedMissing = false;
  auto type = [](QFileDialog* d, const QString& name) {
    auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    static_cast<QDialog*>(d)->accept();  // the dialog's own accept, as its Open button
  };
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    // The dialog answers a missing name with its own warning and stays open.
    QTimer::singleShot(0, [&, d] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      refusedMissing = box != nullptr && d->isVisible();
      if (box) box->done(QMessageBox::Ok);
      QTimer::singleShot(0, [&, d] { type(d, QStringLiteral("goods.db")); });
    });
    type(d, QStringLiteral("missing.db"));
  });
  const auto name = dialogs::current().openFile(req);
  EXPECT_TRUE(refusedMissing);
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(QFileInfo(*name).fileName(), QStringLiteral("goods.db"));
}
