// The delete driver: deletes a range of PLU cells of the scale chosen on the
// goods page, or clears their sales totals, as DeleteMode says when the run
// starts (its two entries are refused while the run goes on).
#include <QComboBox>

#include "link/scale_link.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "shell/tform1.h"
#include "transfers/transfer_run.h"

using namespace transfers;

void TForm1::DeletePluRange(int low, int high) {
  scalelink::BusyGuard busy(*this);  // another scale operation runs: refused
  if (busy.refused()) return;
  const int mode = DeleteMode;
  if (dialogs::current().question(
          QStringLiteral("Выбранные ячейки будут удалены из весов. Продолжить?")) !=
      dialogs::Answer::Yes)
    return;
  int row = -1, timeOut = 0;
  if (!OpenScaleLink(ComboBox2->currentText(), QStringLiteral("Для удаления ячеек"), row, timeOut))
    return;
  Progress progress(*this);
  progress.showSpan(low, high);
  TransferCancelled = 0;
  long long skipped = 0;  // numbers whose handshake got no reply
  for (long long n = low; n <= high; ++n) {
    clock_::sleep(200);
    progress.number(n);
    progress.step(n - low);
    if (TransferCancelled == 1) return say("Действие прервано");
    clock_::processEvents();
    switch (ScaleSelectHandshake(row, timeOut, 50)) {
      case HandshakeResult::Accepted: break;
      case HandshakeResult::NoData:  // this number is skipped
        ++skipped;
        continue;
      case HandshakeResult::WrongReply:
        return say(
            "Ошибка обмена. Повторите попытку еще раз или проверьте работоспособность весов.");
    }
    if (!DeletePlu(int(n), timeOut))
      return say("В процессе обмена возникли ошибки. Повторите попытку удаления еще раз.");
  }
  if (skipped == 0) return say("Удаление ячеек произведено.");
  // Success is claimed only when every number was done.
  const QString of = QString::number(skipped) + QStringLiteral(" из ") + QString::number(high - low + 1);
  dialogs::message(mode == 0
                       ? QStringLiteral("Не удалено ячеек: %1. Весы не ответили на запрос для этих номеров. "
                                        "Повторите попытку удаления еще раз.")
                             .arg(of)
                       : QStringLiteral("Не обнулены итоги ячеек: %1. Весы не ответили на запрос для этих "
                                        "номеров. Повторите попытку еще раз.")
                             .arg(of));
}
