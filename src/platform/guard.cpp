#include "platform/guard.h"

#include <QStringDecoder>
#include <algorithm>
#include <exception>

#include "platform/ansi.h"
#include "platform/dialogs.h"

std::string currentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Неизвестная ошибка";
  }
}

QString errorTextToUnicode(const std::string& text) {
  // The program's own messages are Windows-1251; the table engine's carry
  // file paths as the file system spells them (UTF-8). Russian Windows-1251
  // text is practically never valid UTF-8, so valid UTF-8 with letters past
  // ASCII is taken as such.
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x80; });
  if (!ascii) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString decoded = utf8(QByteArray::fromStdString(text));
    if (!utf8.hasError()) return decoded;
  }
  return ansi::toUnicode(text);
}

bool guarded(const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (...) {
    dialogs::error(errorTextToUnicode(currentErrorText()));
    return false;
  }
}
