#include "platform/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

namespace dialogs {

const char* const kProgramTitle = "kmscales";

namespace {

QWidget* parentWindow() { return QApplication::activeWindow(); }

class QtService final : public Service {
 public:
  void message(const QString& text, Kind kind) override {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
      case Kind::Plain: icon = QMessageBox::NoIcon; break;
      case Kind::Information: icon = QMessageBox::Information; break;
      case Kind::Warning: icon = QMessageBox::Warning; break;
      case Kind::Error: icon = QMessageBox::Critical; break;
    }
    QMessageBox box(icon, QString::fromUtf8(kProgramTitle), text, QMessageBox::Ok, parentWindow());
    box.exec();
  }
  void error(const QString& text) override { message(text, Kind::Error); }
  Answer question(const QString& text, bool withCancel) override {
    auto buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel) buttons |= QMessageBox::Cancel;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), text, buttons,
                    parentWindow());
    box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
      case QMessageBox::Yes: return Answer::Yes;
      case QMessageBox::No: return Answer::No;
      default: return withCancel ? Answer::Cancel : Answer::No;
    }
  }
  std::optional<QString> openFile(const FileRequest& r) override { return run(r, false); }
  std::optional<QString> saveFile(const FileRequest& r) override { return run(r, true); }
  std::optional<QFont> chooseFont(const QFont& initial) override {
    bool ok = false;
    QFont f = QFontDialog::getFont(&ok, initial, parentWindow());
    if (!ok) return std::nullopt;
    return f;
  }

 private:
  static std::optional<QString> run(const FileRequest& r, bool save) {
    QFileDialog dlg(parentWindow(), r.title);
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(save || !r.mustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.setNameFilters(toQtFilter(r.filter).split(";;", Qt::SkipEmptyParts));
    if (!r.initialDir.isEmpty()) dlg.setDirectory(r.initialDir);
    if (!r.defaultExt.isEmpty()) dlg.setDefaultSuffix(r.defaultExt);
    if (!r.fileName.isEmpty()) dlg.selectFile(r.fileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().first();
  }
};

QtService& qtService() {
  static QtService s;
  return s;
}

Service* g_installed = nullptr;

}  // namespace

Service& current() { return g_installed ? *g_installed : qtService(); }
void install(Service* service) { g_installed = service; }

QString toQtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i] + " (" + parts[i + 1] + ")";
  return out.join(";;");
}

}  // namespace dialogs
