// What typed and pasted text may bring into an edit field: only characters GBK can hold, since the
// program's texts are GBK; the others are dropped and the rest is kept.
#pragma once

#include <QString>
#include <QValidator>

namespace pennacle {

// `text` without the characters GBK cannot hold.
QString gbk_only(const QString& text);

// Whether a key's text types a printable character. Keys that type none (Backspace, Delete, which
// X11 gives the character 0x7F, Escape, the arrows) are never filtered.
bool types_printable(const QString& text);

// Keeps a line edit GBK: whatever enters it, typed, pasted, dropped or set, loses the characters GBK
// cannot hold. With a byte limit, a user edit that would pass it is undone.
class GbkValidator : public QValidator {
 public:
  explicit GbkValidator(QObject* parent) : QValidator(parent) {}
  // 0: no limit.
  void set_max_bytes(int max_bytes) { max_bytes_ = max_bytes; }
  State validate(QString& input, int& pos) const override;

 private:
  int max_bytes_ = 0;
};

}  // namespace pennacle
