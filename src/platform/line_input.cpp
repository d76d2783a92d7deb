#include "platform/line_input.h"

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QValidator>
#include <algorithm>

#include "platform/cp1251.h"
#include "platform/dialogs.h"

namespace lineinput {
namespace {

bool isLineEnd(QChar c) {
  return c == u'\r' || c == u'\n' || c == QChar(0x85) || c == QChar::LineSeparator ||
         c == QChar::ParagraphSeparator;
}

// Sees each change of its edit's text against the text before it: the part
// the operator put in (typed, pasted or dropped) lies between the unchanged
// start and the unchanged end, and ends at the cursor.
class SingleLineValidator : public QValidator {
 public:
  explicit SingleLineValidator(QLineEdit* edit) : QValidator(edit), edit_(edit), last_(edit->text()) {
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { last_ = text; });
  }

  State validate(QString& input, int& pos) const override {
    // A text set by the program is taken as it is.
    if (!edit_->isModified() || input == last_) return Acceptable;
    const qsizetype size = input.size(), oldSize = last_.size();
    const qsizetype common = std::min(size, oldSize);
    qsizetype tail = 0;
    while (tail < common && input[size - 1 - tail] == last_[oldSize - 1 - tail]) ++tail;
    tail = std::min(tail, size - std::clamp<qsizetype>(pos, 0, size));
    qsizetype head = 0;
    while (head < common - tail && input[head] == last_[head]) ++head;

    QString added;
    for (QChar c : QStringView(input).mid(head, size - head - tail)) {
      if (isLineEnd(c)) break;
      if (c.category() != QChar::Other_Control) added += c;
    }
    for (qsizetype i = 0; i < added.size(); ++i) {
      if (ansi::unicodeToByte(added[i].unicode()) >= 0) continue;
      const bool pair = added[i].isHighSurrogate() && i + 1 < added.size() && added[i + 1].isLowSurrogate();
      refuse(added.mid(i, pair ? 2 : 1));
      return Invalid;
    }
    input = input.left(head) + added + input.right(tail);
    pos = int(head + added.size());
    return Acceptable;
  }

 private:
  // The message comes once the edit has its text back, at the next turn of
  // the event loop; refusals before it are told once.
  void refuse(const QString& character) const {
    if (pending_) return;
    pending_ = true;
    QPointer<SingleLineValidator> self(const_cast<SingleLineValidator*>(this));
    QTimer::singleShot(0, [self, character] {
      if (self) self->pending_ = false;
      dialogs::message(QStringLiteral("Символ «") + character +
                       QStringLiteral("» не может быть введен: его нет в кодировке Windows-1251."));
    });
  }

  QLineEdit* edit_;
  QString last_;
  mutable bool pending_ = false;
};

}  // namespace

void apply(QLineEdit* edit, int maxChars) {
  if (!edit) return;
  edit->setValidator(new SingleLineValidator(edit));
  // A text the rule has mended is set anew, which forgets that the operator
  // changed it; the field stays changed, so that a view does not put its
  // stored value back over it.
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit] { edit->setModified(true); });
  if (maxChars > 0) edit->setMaxLength(maxChars);
}

}  // namespace lineinput
