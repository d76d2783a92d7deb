#include "storage/db_navigator.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "platform/dialogs.h"
#include "platform/guard.h"

namespace storage {

namespace {

struct ButtonText {
  const char* glyph;  // UTF-8
  const char* hint;   // UTF-8
};

const ButtonText kButtons[DbNavigator::Count] = {
    {"|\u25C0", "Первая запись"},
    {"\u25C0", "Предыдущая запись"},
    {"\u25B6", "Следующая запись"},
    {"\u25B6|", "Последняя запись"},
    {"+", "Вставка записи"},
    {"\u2212", "Удаление записи"},
    {"\u25B2", "Редактирование записи"},
    {"\u2714", "Подтверждение редактирования"},
    {"\u2716", "Отмена редактирования"},
    {"\u21BB", "Обновить данные"},
};

}  // namespace

DbNavigator::DbNavigator(Table* table, QWidget* parent) : QWidget(parent), table_(table) {
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  for (int i = 0; i < Count; ++i) {
    auto* b = new QToolButton(this);
    b->setFocusPolicy(Qt::NoFocus);
    b->setText(QString::fromUtf8(kButtons[i].glyph));
    b->setToolTip(QString::fromUtf8(kButtons[i].hint));
    b->setAutoRaise(true);
    lay->addWidget(b);
    buttons_[static_cast<std::size_t>(i)] = b;
    connect(b, &QToolButton::clicked, this, [this, i] { click(static_cast<Button>(i)); });
  }
  listener_ = table_->addListener([this](Change) { updateButtons(); });
  updateButtons();
}

DbNavigator::~DbNavigator() { table_->removeListener(listener_); }

void DbNavigator::click(Button b) {
  if (b != Cancel && beforeAction && !beforeAction()) return;
  guarded([&] {
    switch (b) {
      case First: table_->first(); break;
      case Prior: table_->prior(); break;
      case Next: table_->next(); break;
      case Last: table_->last(); break;
      case Insert: table_->insert(); break;
      case Delete:
        // A deleted record cannot be brought back: ask first.
        if (dialogs::current().question(QStringLiteral("Удалить запись?")) == dialogs::Answer::Yes)
          table_->deleteRecord();
        break;
      case Edit: table_->edit(); break;
      case Post: table_->post(); break;
      case Cancel: table_->cancel(); break;
      case Refresh: table_->refresh(); break;
      case Count: break;
    }
  });
  updateButtons();
}

void DbNavigator::updateButtons() {
  const bool active = table_->active();
  const bool editing = active && (table_->state() == State::Edit || table_->state() == State::Insert);
  const bool writable = active && !table_->readOnly();
  const bool empty = !active || table_->rowCount() == 0;
  const bool atFirst = !active || table_->bof() || table_->currentRow() <= 0;
  const bool atLast = !active || table_->eof() || table_->currentRow() >= table_->rowCount() - 1;
  button(First)->setEnabled(active && !atFirst);
  button(Prior)->setEnabled(active && !atFirst);
  button(Next)->setEnabled(active && !atLast);
  button(Last)->setEnabled(active && !atLast);
  button(Insert)->setEnabled(writable);
  button(Delete)->setEnabled(writable && !empty);
  button(Edit)->setEnabled(writable && !editing);
  button(Post)->setEnabled(editing);
  button(Cancel)->setEnabled(editing);
  button(Refresh)->setEnabled(active);
}

}  // namespace storage
