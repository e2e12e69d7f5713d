#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QToolButton>

#include "runtime/convert.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/settings_control.h"
#include "ui/kinds/text_filter.h"
#include "ui/template/input_modes.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"

namespace pennacle {
namespace {

// Typing rules shared by the one-line and the multi-line box.
struct EditRules {
  int32_t mode = 0;
  int32_t letter_case = 0;
  int32_t max_length = 0;      // bytes, 0 for none
  bool hide_selection = true;  // while the box lacks the focus

  // The typed characters the mode's filter lets through and GBK can hold.
  QString accepted(const QString& typed) const {
    QString kept;
    for (char32_t ch : typed.toUcs4())
      if (input_mode_accepts(mode, ch) && gbk_can_hold(ch)) kept.append(QString::fromUcs4(&ch, 1));
    return kept;
  }
  QString cased(const QString& typed) const {
    return letter_case == 1 ? typed.toLower() : letter_case == 2 ? typed.toUpper() : typed;
  }
  // Whether the box may hold a text after a user edit: within the byte limit.
  bool fits(const QString& text) const {
    auto gbk = to_gbk(text);
    return gbk && (max_length <= 0 || gbk->size() <= static_cast<size_t>(max_length));
  }
  // The text on losing the focus, or nullopt when it stays.
  std::optional<QString> rewrite(const QString& text) const {
    if (mode < kInputByte || mode > kInputDateTime) return std::nullopt;
    std::string gbk = to_gbk(text).value_or(std::string());
    std::string canonical = canonical_input_text(mode, gbk);
    if (canonical == gbk) return std::nullopt;
    return to_qstring(canonical);
  }
};

// A typed key against the rules: a key that types no printable character always passes; one whose
// characters the rules refuse is swallowed (*drop); one they accept may come back with its letters
// re-cased. Returns the event to pass on instead, or nullptr for the key itself.
std::unique_ptr<QKeyEvent> filtered_key(const EditRules& rules, QKeyEvent* e, bool* drop) {
  *drop = false;
  const QString text = e->text();
  if (!types_printable(text) || (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
    return nullptr;
  if (rules.accepted(text) != text) {
    *drop = true;
    return nullptr;
  }
  QString cased = rules.cased(text);
  if (cased == text) return nullptr;
  return std::make_unique<QKeyEvent>(e->type(), e->key(), e->modifiers(), cased, e->isAutoRepeat(),
                                     static_cast<ushort>(e->count()));
}

// An input method's committed text keeps the characters the rules accept.
std::unique_ptr<QInputMethodEvent> filtered_commit(const EditRules& rules, QInputMethodEvent* e) {
  const QString kept = rules.accepted(e->commitString());
  if (kept == e->commitString()) return nullptr;
  auto out = std::make_unique<QInputMethodEvent>(e->preeditString(), e->attributes());
  out->setCommitString(kept, e->replacementStart(), e->replacementLength());
  return out;
}

// A selection as anchor and cursor position, in characters.
struct Selection {
  int anchor = 0;
  int position = 0;
  int start() const { return std::min(anchor, position); }
  int length() const { return std::abs(position - anchor); }
};

// Hides the selection while the box lacks the focus (property 13): it is kept here, collapsed in
// the widget, and put back when the focus returns. Property reads see it all the time.
class HiddenSelection {
 public:
  std::optional<Selection> kept;
  // The focus goes: `current` is what the widget showed.
  void on_focus_out(const EditRules& rules, Selection current) {
    if (rules.hide_selection && current.length() > 0) kept = current;
  }
};

class LineBox : public QLineEdit {
 public:
  LineBox(QWidget* parent, std::shared_ptr<const EditRules> rules)
      : QLineEdit(parent), rules_(std::move(rules)), validator_(new GbkValidator(this)) {
    setValidator(validator_);
    connect(this, &QLineEdit::textChanged, this, [this] { hidden_.kept.reset(); });
  }
  void rules_changed() { validator_->set_max_bytes(rules_->max_length); }

  Selection selection() const {
    if (hidden_.kept) return *hidden_.kept;
    const int pos = cursorPosition();
    if (!hasSelectedText()) return {pos, pos};
    const int start = selectionStart(), end = start + static_cast<int>(selectedText().size());
    return {pos == start ? end : start, pos};
  }
  void select(Selection s) {
    hidden_.kept.reset();
    setSelection(s.anchor, s.position - s.anchor);
    if (!hasFocus() && rules_->hide_selection && s.length() > 0) {
      hidden_.kept = s;
      setCursorPosition(s.position);
    }
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    bool drop = false;
    auto replaced = filtered_key(*rules_, e, &drop);
    if (drop) return e->accept();
    QLineEdit::keyPressEvent(replaced ? replaced.get() : e);
  }
  void inputMethodEvent(QInputMethodEvent* e) override {
    auto replaced = filtered_commit(*rules_, e);
    QLineEdit::inputMethodEvent(replaced ? replaced.get() : e);
  }
  void focusInEvent(QFocusEvent* e) override {
    if (auto s = std::exchange(hidden_.kept, std::nullopt)) setSelection(s->anchor, s->position - s->anchor);
    QLineEdit::focusInEvent(e);
  }
  void focusOutEvent(QFocusEvent* e) override {
    if (auto t = rules_->rewrite(text())) {
      setText(*t);
      return QLineEdit::focusOutEvent(e);
    }
    // The line edit drops its selection when the focus goes; the box keeps it.
    const Selection s = selection();
    QLineEdit::focusOutEvent(e);
    hidden_.on_focus_out(*rules_, s);
    if (hidden_.kept)
      setCursorPosition(s.position);
    else
      setSelection(s.anchor, s.position - s.anchor);
  }
  bool event(QEvent* e) override {
    // A line edit also drops the selection of an unfocused box when its window is activated.
    if (e->type() == QEvent::WindowActivate && !hasFocus()) return QWidget::event(e);
    return QLineEdit::event(e);
  }

 private:
  std::shared_ptr<const EditRules> rules_;
  GbkValidator* validator_;
  HiddenSelection hidden_;
};

class TextBox : public QPlainTextEdit {
 public:
  TextBox(QWidget* parent, std::shared_ptr<const EditRules> rules)
      : QPlainTextEdit(parent), rules_(std::move(rules)) {
    // Tab moves on to the next control, as everywhere else in a window; Ctrl+Tab types a tab.
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
      if (setting_) return;
      hidden_.kept.reset();
      QString t = toPlainText();
      if (rules_->fits(t)) {
        last_good_ = t;
        return;
      }
      set_text(last_good_);
      moveCursor(QTextCursor::End);
    });
  }
  void set_text(const QString& t) {
    setting_ = true;
    setPlainText(t);
    last_good_ = t;
    hidden_.kept.reset();
    setting_ = false;
  }
  Selection selection() const {
    if (hidden_.kept) return *hidden_.kept;
    return {textCursor().anchor(), textCursor().position()};
  }
  void select(Selection s) {
    hidden_.kept.reset();
    show_selection(s);
    if (!hasFocus() && rules_->hide_selection && s.length() > 0) {
      hidden_.kept = s;
      show_selection({s.position, s.position});
    }
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Tab && e->modifiers() == Qt::ControlModifier) {
      insertPlainText(QStringLiteral("\t"));
      return e->accept();
    }
    bool drop = false;
    auto replaced = filtered_key(*rules_, e, &drop);
    if (drop) return e->accept();
    QPlainTextEdit::keyPressEvent(replaced ? replaced.get() : e);
  }
  void inputMethodEvent(QInputMethodEvent* e) override {
    auto replaced = filtered_commit(*rules_, e);
    QPlainTextEdit::inputMethodEvent(replaced ? replaced.get() : e);
  }
  // A paste or a drop keeps the characters GBK can hold (the input mode filters typing only).
  void insertFromMimeData(const QMimeData* source) override {
    if (!source || !source->hasText()) return;
    QMimeData kept;
    kept.setText(gbk_only(source->text()));
    QPlainTextEdit::insertFromMimeData(&kept);
  }
  void focusInEvent(QFocusEvent* e) override {
    if (auto s = std::exchange(hidden_.kept, std::nullopt)) show_selection(*s);
    QPlainTextEdit::focusInEvent(e);
  }
  void focusOutEvent(QFocusEvent* e) override {
    if (auto t = rules_->rewrite(toPlainText())) set_text(*t);
    const Selection s = selection();
    QPlainTextEdit::focusOutEvent(e);
    hidden_.on_focus_out(*rules_, s);
    if (hidden_.kept) show_selection({s.position, s.position});
  }

 private:
  void show_selection(Selection s) {
    QTextCursor c = textCursor();
    c.setPosition(s.anchor);
    c.setPosition(s.position, QTextCursor::KeepAnchor);
    setTextCursor(c);
  }

  std::shared_ptr<const EditRules> rules_;
  QString last_good_;
  bool setting_ = false;
  HiddenSelection hidden_;
};

// Up and down arrows at the right edge of a one-line box: a step of 1 within the stored range.
class SpinArrows : public QWidget {
 public:
  explicit SpinArrows(QLineEdit* box) : QWidget(box), box_(box) {
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) b->setFocusPolicy(Qt::NoFocus);
    connect(up_, &QToolButton::clicked, this, [this] { step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    box_->installEventFilter(this);
    place();
  }
  void set_range(int32_t min, int32_t max) {
    min_ = min;
    max_ = max;
  }
  void step(int by) {
    const int64_t lo = std::min(min_, max_), hi = std::max(min_, max_);
    const auto gbk = to_gbk(box_->text()).value_or(std::string());
    const int64_t v = std::clamp<int64_t>(int64_t{text_to_int(gbk)} + by, lo, hi);
    box_->setText(QString::number(v));
  }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == box_ && e->type() == QEvent::Resize) place();
    return false;
  }

 private:
  void place() {
    const int w = std::min(16, box_->width() / 3), h = box_->height();
    setGeometry(box_->width() - w, 0, w, h);
    up_->setGeometry(0, 0, w, h / 2);
    down_->setGeometry(0, h / 2, w, h - h / 2);
    box_->setTextMargins(0, 0, w, 0);
  }
  QLineEdit* box_;
  int32_t min_ = 0;
  int32_t max_ = 100;
  QToolButton* up_;
  QToolButton* down_;
};

class EditBoxControl final : public SettingsControl<EditBoxSettings> {
 public:
  EditBoxControl(const CreateParams& p, EditBoxSettings s) : SettingsControl(p, std::move(s)) {
    rules_ = std::make_shared<EditRules>();
    if (settings_.multi_line) {
      text_ = new TextBox(p.parent, rules_);
      widget_ = text_;
      text_->set_text(to_qstring(settings_.content));
    } else {
      line_ = new LineBox(p.parent, rules_);
      widget_ = line_;
      line_->setText(to_qstring(settings_.content));
      if (settings_.spin_type != 0) spin_ = new SpinArrows(line_);
    }
    widget_->setFocusPolicy(Qt::StrongFocus);
    apply(Apply::Widget);
    set_selection(settings_.sel_start, settings_.sel_length);
  }
  QWidget* widget() const override { return widget_; }

 private:
  // The text and its selection live in the widget.
  bool read_live(Property p, PropertyData* out) override {
    switch (p) {
      case EditBoxSettings::kContent:
        out->bytes = to_gbk(outside_form(text())).value_or(std::string());
        return true;
      case EditBoxSettings::kSelStart:
        out->number = selection_start();
        return true;
      case EditBoxSettings::kSelLength:
        out->number = selection_length();
        return true;
      case EditBoxSettings::kSelectedText:
        out->bytes = to_gbk(outside_form(selected_text())).value_or(std::string());
        return true;
      default:
        return false;
    }
  }

  bool write_live(Property p, const PropertyData& in) override {
    switch (p) {
      case EditBoxSettings::kContent:
        set_text(inside_form(to_qstring(in.bytes)));
        return true;
      case EditBoxSettings::kSelStart:
        set_selection(static_cast<int32_t>(in.number), selection_length());
        return true;
      case EditBoxSettings::kSelLength:
        set_selection(selection_start(), static_cast<int32_t>(in.number));
        return true;
      case EditBoxSettings::kSelectedText:
        replace_selection(inside_form(to_qstring(in.bytes)));
        return true;
      default:
        return false;
    }
  }

 private:
  // Line breaks travel as "\r\n", as the program stores them; the widget keeps "\n".
  static QString outside_form(QString t) { return t.replace(QLatin1Char('\n'), QStringLiteral("\r\n")); }
  static QString inside_form(QString t) { return t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

  QString text() const {
    if (line_) return line_->text();
    if (text_) return text_->toPlainText();
    return to_qstring(settings_.content);
  }
  void set_text(const QString& t) {
    if (line_) line_->setText(t);
    if (text_) text_->set_text(t);
  }
  Selection selection() const {
    if (line_) return line_->selection();
    if (text_) return text_->selection();
    return {};
  }
  int selection_start() const { return selection().start(); }
  int selection_length() const { return selection().length(); }
  QString selected_text() const { return text().mid(selection_start(), selection_length()); }
  void set_selection(int start, int length) {
    const int size = static_cast<int>(text().size());
    start = std::clamp(start, 0, size);
    length = std::clamp(length, 0, size - start);
    if (line_) line_->select({start, start + length});
    if (text_) {
      text_->select({start, start + length});
      text_->ensureCursorVisible();
    }
  }
  void replace_selection(const QString& t) {
    if (line_) line_->insert(t);
    if (text_) text_->insertPlainText(t);
  }

  void apply(Apply) override {
    const EditBoxSettings& s = settings_;
    if (spin_) spin_->set_range(s.spin_min, s.spin_max);
    rules_->mode = s.input_mode;
    rules_->letter_case = s.letter_case;
    rules_->max_length = s.max_length;
    rules_->hide_selection = s.hide_selection;
    if (line_) line_->rules_changed();
    if (!widget_) return;
    apply_font(widget_, s.font);
    QPalette pal = widget_->palette();
    pal.setColor(QPalette::Text, qcolor(s.text_colour));
    pal.setColor(QPalette::Base, qcolor(s.background));
    widget_->setPalette(pal);
    const Qt::Alignment align = h_alignment(s.alignment);
    if (line_) {
      line_->setFrame(s.border != 0);
      line_->setAlignment(align | Qt::AlignVCenter);
      line_->setReadOnly(s.input_mode == kInputReadOnly);
      line_->setEchoMode(s.input_mode == kInputPassword ? QLineEdit::Password : QLineEdit::Normal);
      set_kind_style_sheet(
          line_, QStringLiteral("QLineEdit { lineedit-password-character: %1; }").arg(s.password_char));
    }
    if (text_) {
      text_->setFrameShape(s.border == 0 ? QFrame::NoFrame : QFrame::StyledPanel);
      text_->setReadOnly(s.input_mode == kInputReadOnly);
      const bool horizontal = s.scroll_bars == 1 || s.scroll_bars == 3;
      const bool vertical = s.scroll_bars == 2 || s.scroll_bars == 3;
      // Without a horizontal scroll the lines wrap at the box width.
      text_->setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
      text_->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      text_->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      QTextOption opt = text_->document()->defaultTextOption();
      opt.setAlignment(align);
      text_->document()->setDefaultTextOption(opt);
    }
  }

  void detach_widget() override {
    line_ = nullptr;
    text_ = nullptr;
    widget_ = nullptr;
  }

  std::shared_ptr<EditRules> rules_;  // shared with the widget
  QPointer<QWidget> widget_;
  QPointer<LineBox> line_;
  QPointer<TextBox> text_;
  QPointer<SpinArrows> spin_;
};

}  // namespace

KindDescriptor edit_box_kind() {
  return settings_kind<EditBoxSettings>(kKindEditBox, "EditBox", create_from_settings<EditBoxControl>);
}

}  // namespace pennacle
