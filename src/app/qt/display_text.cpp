#include "app/qt/display_text.h"

#include "base/big5.h"

namespace stampwright {

QString DisplayText(std::string_view bytes) {
  if (!HasNonAscii(bytes)) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  const std::string utf8 = Big5ToUtf8(bytes);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string NarrowText(const QString& text) {
  std::string narrow;
  narrow.reserve(static_cast<size_t>(text.size()));
  for (const QChar c : text)
    narrow.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
  return narrow;
}

}  // namespace stampwright
