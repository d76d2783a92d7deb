// The sub-page "Клавиши цен": the table of which PLU cell each of the scale's
// 54 price keys calls, read from and written to the scale key by key.
#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "link/scale_link.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/intconv.h"
#include "settings/settings_pages.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

using namespace settingspages;

namespace {

constexpr int kKeys = 54;

// Gives the grid the input focus when it can take it.
void focusGrid(StringGrid* grid) {
  if (grid->isVisible() && grid->isEnabled()) grid->setFocus();
}

}  // namespace

void TForm1::buildPriceKeysPage() {
  QWidget* p = TabSheet13;
  auto* h = new QHBoxLayout(p);
  StringGrid2 = new StringGrid(2, kKeys + 1, 1, 1, p);
  StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
  StringGrid2->setColWidths({120, 112});
  StringGrid2->setFixedWidth(120 + 112 + 2 * StringGrid2->frameWidth() + 20);
  h->addWidget(StringGrid2);
  auto* buttons = new QVBoxLayout();
  Button7 = button(p, QStringLiteral("Прочитать"), "Button7");
  Button8 = button(p, QStringLiteral("Изменить"), "Button8");
  Button23 = button(p, QStringLiteral("По умолчанию"), "Button23");
  for (QPushButton* b : {Button7, Button8, Button23}) buttons->addWidget(b);
  buttons->addStretch();
  h->addLayout(buttons);
  h->addStretch();

  tabOrder({StringGrid2, Button7, Button8, Button23});
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(Button23, &QPushButton::clicked, this, &TForm1::Button23Click);
}

void TForm1::Button7Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox3->currentText(), QStringLiteral("Для чтения настроек клавиш цен"), row, timeOut))
      return;
    for (int k = 1; k <= kKeys; ++k) {
      // The key loops have no Stop of their own; a close of the window ends
      // them at the next key rather than keeping the window for all 54. The
      // keys read so far stay; the box and the selection say where the read
      // stopped, so that the keys after it are not taken for the scale's
      // (the close may yet be refused and the page stay).
      if (closeWaitsForRun()) {
        StringGrid2->select(1, k);
        return dialogs::message(
            QStringLiteral("Чтение прервано. Прочитано клавиш цен: %1 из %2. Повторите попытку чтения еще раз.")
                .arg(k - 1)
                .arg(kKeys));
      }
      clock_::sleep(200);
      switch (ScaleSelectHandshake(row, timeOut, 20)) {
        case HandshakeResult::Accepted:
          break;
        case HandshakeResult::NoData:
          TcpClient1.Close();
          return say("Ошибка обмена. Попробуйте еще раз или перезапустите программу.");
        case HandshakeResult::WrongReply:
          return say(kWrongReply);
      }
      int cell = 0;
      if (!GetPrSet(k, cell, timeOut)) return say(kTransferFailed);
      StringGrid2->setCellText(1, k, QString::number(cell));
      StringGrid2->select(1, k);
      focusGrid(StringGrid2);
      clock_::processEvents();
    }
    say("Чтение настройек клавиш цен закончено.");
    StringGrid2->select(1, 1);
    focusGrid(StringGrid2);
  });
}

void TForm1::Button8Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    // Every cell is checked before the first key is written, so that a bad
    // cell never leaves the scale with only the keys before it; the keys go
    // out as they were checked.
    std::array<int, kKeys + 1> cells{};
    const auto checkCells = [&](int) {
      for (int k = 1; k <= kKeys; ++k) {
        const auto cell = intconv::tryParse(StringGrid2->cell(1, k));
        if (!cell || *cell < 1 || *cell > 4000) {
          StringGrid2->select(1, k);
          say("Проверьте правильность заполнения таблицы клавиш цен. Номер ячейки - это число от 1 до 4000.");
          focusGrid(StringGrid2);
          return false;
        }
        cells[std::size_t(k)] = *cell;
      }
      return true;
    };
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox3->currentText(), QStringLiteral("Для записи таблицы клавиш цен"), row, timeOut,
                       checkCells))
      return;
    int skipped = 0;    // keys whose handshake got no reply
    int notStarted = 0;  // keys left when a close ended the loop
    for (int k = 1; k <= kKeys; ++k) {
      if (closeWaitsForRun()) {  // the window is being closed
        notStarted = kKeys - k + 1;
        break;
      }
      clock_::sleep(200);
      StringGrid2->select(1, k);
      focusGrid(StringGrid2);
      clock_::processEvents();
      switch (ScaleSelectHandshake(row, timeOut, 50)) {
        case HandshakeResult::Accepted:
          break;
        case HandshakeResult::NoData:  // this key is skipped
          ++skipped;
          continue;
        case HandshakeResult::WrongReply:
          return say(kWrongReply);
      }
      if (!SendPrSet(cells[std::size_t(k)], k, timeOut))
        return say("В процессе обмена возникли ошибки. Повторите попытку записи еще раз.");
    }
    // Success is claimed only when every key was written; the scale's
    // silence is named only when it is the whole reason.
    if (skipped + notStarted == 0)
      say("Запись таблицы клавиш цен произведена.");
    else
      dialogs::message(QStringLiteral("Не записано клавиш цен: %1 из %2. ").arg(skipped + notStarted).arg(kKeys) +
                       (notStarted == 0 ? QStringLiteral("Весы не ответили на запрос для этих клавиш. ") : QString()) +
                       QStringLiteral("Повторите попытку записи еще раз."));
    StringGrid2->select(1, 1);
  });
}

void TForm1::Button23Click() {
  guarded([this] {
    for (int k = 1; k <= kKeys; ++k) StringGrid2->setCellText(1, k, QString::number(k));
  });
}
