#include "ui/kinds/text_filter.h"

#include "ui/text_codec.h"

namespace pennacle {

QString gbk_only(const QString& text) {
  if (to_gbk(text)) return text;
  QString kept;
  kept.reserve(text.size());
  for (char32_t ch : text.toUcs4())
    if (gbk_can_hold(ch)) kept.append(QString::fromUcs4(&ch, 1));
  return kept;
}

bool types_printable(const QString& text) {
  for (char32_t ch : text.toUcs4())
    if (QChar::isPrint(ch)) return true;
  return false;
}

QValidator::State GbkValidator::validate(QString& input, int& pos) const {
  if (!to_gbk(input)) {
    // The cursor stays behind the same kept characters.
    const int kept_before = static_cast<int>(gbk_only(input.left(pos)).size());
    input = gbk_only(input);
    pos = kept_before;
  }
  if (max_bytes_ > 0) {
    const auto bytes = to_gbk(input);
    if (bytes && bytes->size() > static_cast<size_t>(max_bytes_)) return Invalid;
  }
  return Acceptable;
}

}  // namespace pennacle
