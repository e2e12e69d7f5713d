// The one place where program text (GBK bytes) meets Qt text (UTF-16).
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace pennacle {

// GBK to Qt. Bytes that are not GBK show as U+FFFD rather than being dropped.
QString to_qstring(std::string_view gbk);
// Qt to GBK; nullopt when the text holds a character GBK cannot hold.
std::optional<std::string> to_gbk(const QString& text);
// Whether GBK can hold the character (a code point).
bool gbk_can_hold(char32_t ch);

}  // namespace pennacle
