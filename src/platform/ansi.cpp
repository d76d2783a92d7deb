#include "platform/ansi.h"

namespace ansi {

QString toUnicode(const std::string& bytes) {
  QString out;
  out.reserve(int(bytes.size()));
  for (unsigned char b : bytes) out.append(QChar(byteToUnicode(b)));
  return out;
}

std::string fromUnicode(const QString& text) {
  std::string out;
  out.reserve(size_t(text.size()));
  for (QChar ch : text) {
    int b = unicodeToByte(ch.unicode());
    out.push_back(b < 0 ? '?' : char(b));
  }
  return out;
}

}  // namespace ansi
