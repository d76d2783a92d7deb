#include "platform/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QEventLoop>
#include <QMessageBox>
#include <QSpacerItem>
#include <algorithm>

namespace dialogs {

const char* const kProgramTitle = "kmscales";

namespace {

QWidget* parentWindow() { return QApplication::activeWindow(); }

// The buttons of a box speak the program's language.
void russianButtons(QMessageBox& box) {
  const std::pair<QMessageBox::StandardButton, const char*> texts[] = {
      {QMessageBox::Ok, "OK"}, {QMessageBox::Yes, "Да"}, {QMessageBox::No, "Нет"},
      {QMessageBox::Cancel, "Отмена"}};
  for (const auto& [button, text] : texts)
    if (QAbstractButton* b = box.button(button)) b->setText(QString::fromUtf8(text));
}

// A box is at least as wide as its title needs, so the caption is never cut,
// and wide enough that a sentence of text does not wrap into a column.
void fitWidth(QMessageBox& box) {
  const QFontMetrics fm(box.font());
  const int width = std::max(fm.horizontalAdvance(box.windowTitle()) + 120, 320);
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

// A picture dialog: the file under the cursor shown small beside the list.
// Needs Qt's own dialog, which has a layout to put the preview in.
void addPicturePreview(QFileDialog& dlg) {
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  auto* grid = qobject_cast<QGridLayout*>(dlg.layout());
  if (!grid) return;
  auto* preview = new QLabel(&dlg);
  preview->setFixedSize(140, 140);
  preview->setAlignment(Qt::AlignCenter);
  preview->setFrameShape(QFrame::StyledPanel);
  grid->addWidget(preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
  QObject::connect(&dlg, &QFileDialog::currentChanged, preview, [preview](const QString& path) {
    QImageReader reader(path);
    QSize size = reader.size();
    if (size.isValid() && (size.width() > 128 || size.height() > 128)) {
      size.scale(128, 128, Qt::KeepAspectRatio);
      reader.setScaledSize(size);
    }
    const QImage image = reader.read();
    preview->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
  });
}

// Shows the dialog modal and waits for its answer. A dialog answered while
// it is being shown (an accessibility tool or a test driver can do that before
// it is on screen) has its answer already: QDialog::exec would then wait for
// an answer that never comes.
int runModal(QDialog& dialog) {
  int result = QDialog::Rejected;
  bool answered = false;
  QEventLoop loop;
  QObject::connect(&dialog, &QDialog::finished, &loop, [&](int r) {
    result = r;
    answered = true;
    loop.quit();
  });
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  if (!answered) loop.exec(QEventLoop::DialogExec);
  return result;
}

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
    russianButtons(box);
    fitWidth(box);
    runModal(box);
  }
  void error(const QString& text) override { message(text, Kind::Error); }
  Answer question(const QString& text, bool withCancel) override {
    auto buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel) buttons |= QMessageBox::Cancel;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), text, buttons,
                    parentWindow());
    box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
    russianButtons(box);
    fitWidth(box);
    switch (runModal(box)) {
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
    // An open dialog takes only a file that exists, as desktop open dialogs do.
    dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.setNameFilters(toQtFilter(r.filter).split(";;", Qt::SkipEmptyParts));
    if (!r.initialDir.isEmpty()) dlg.setDirectory(r.initialDir);
    if (!r.defaultExt.isEmpty()) dlg.setDefaultSuffix(r.defaultExt);
    if (!r.fileName.isEmpty()) dlg.selectFile(r.fileName);
    if (r.picturePreview) addPicturePreview(dlg);
    if (runModal(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
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

bool confirmReplace(const QString& file, bool base) {
  // A folder of that name is not replaced: its save fails with its error.
  const QFileInfo info(file);
  if (!info.exists() || info.isDir()) return true;
  const QString text =
      base ? QStringLiteral("ВНИМАНИЕ !\r\nФайл %1 уже существует.\r\nВсе записи этой базы будут удалены.\r\nПродолжить ?")
           : QStringLiteral("ВНИМАНИЕ !\r\nФайл %1 уже существует и будет заменен.\r\nПродолжить ?");
  return current().question(text.arg(file)) == Answer::Yes;
}

QString toQtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  // A description that already ends with its pattern in brackets is shown
  // as it stands; Qt reads the pattern from those brackets.
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString bracketed = "(" + parts[i + 1] + ")";
    out << (parts[i].endsWith(bracketed) ? parts[i] : parts[i] + " " + bracketed);
  }
  return out.join(";;");
}

}  // namespace dialogs
