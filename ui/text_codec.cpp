#include "ui/text_codec.h"

#include "platform/gbk.h"

namespace pennacle {

QString to_qstring(std::string_view gbk) {
  bool ascii = true;
  for (char c : gbk) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
  std::string utf8 = gbk_to_utf8_lossy(gbk);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<std::string> to_gbk(const QString& text) {
  bool ascii = true;
  for (QChar c : text) ascii = ascii && c.unicode() < 0x80;
  if (ascii) return text.toStdString();
  return utf8_to_gbk(text.toStdString());
}

bool gbk_can_hold(char32_t ch) {
  if (ch < 0x80) return true;
  return to_gbk(QString::fromUcs4(&ch, 1)).has_value();
}

}  // namespace pennacle
