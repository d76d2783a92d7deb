#include "transfers/transfer_run.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <climits>
#include <QPushButton>

#include "platform/dialogs.h"
#include "shell/progress_bar.h"
#include "shell/tform1.h"
#include "storage/table.h"

namespace transfers {

storage::Table& table(TForm1& f) { return f.Table1; }

Progress::~Progress() { hide(); }

void Progress::show(int max) {
  setProgressMaximum(f_.ProgressBar3, max);
  f_.ProgressBar3->setValue(0);
  f_.Numb->setText(QStringLiteral("0"));
  f_.Button3->show();
  f_.ProgressBar3->show();
  f_.Numb->show();
}

void Progress::showSpan(long long low, long long high) {
  show(int(std::clamp<long long>(high - low, 0, INT_MAX)));
}

void Progress::hide() {
  f_.Button3->hide();
  f_.ProgressBar3->hide();
  f_.Numb->hide();
}

void Progress::step(long long position) { setProgressValue(f_.ProgressBar3, int(position)); }

void Progress::number(long long n) { f_.Numb->setText(QString::number(n)); }

const char* const kLineFields[8] = {"LINE1", "LINE2", "LINE3", "LINE4",
                                    "LINE5", "LINE6", "LINE7", "LINE8"};

void say(const char* text) { dialogs::message(QString::fromUtf8(text)); }

namespace {

storage::Field* mapped(TForm1& f, const char* logical) {
  storage::Table& t = table(f);
  if (!t.active()) return nullptr;
  return t.findField(f.Ass(logical));
}

}  // namespace

std::optional<int> readInt(TForm1& f, const char* logical) {
  try {
    storage::Field* field = mapped(f, logical);
    if (!field) return std::nullopt;
    // Only a number field without a value reads as 0; an empty text is no
    // number at all.
    const storage::FieldType type = field->dataType();
    const bool text = type == storage::FieldType::String || type == storage::FieldType::Memo ||
                      type == storage::FieldType::FmtMemo;
    if (text && field->asString().empty()) return std::nullopt;
    return field->asInteger();
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::optional<std::string> readText(TForm1& f, const char* logical) {
  try {
    if (storage::Field* field = mapped(f, logical)) return field->asString();
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

}  // namespace transfers
