#include "ui/ui_commands.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QStyle>

#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "ui/text_codec.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

constexpr const char* kNoControl = "指定窗口或窗口组件不存在或尚未载入";
constexpr const char* kDefaultTitle = "信息：";

struct ButtonSet {
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton escape;  // what Escape and the close box give
};

ButtonSet buttons_for(int32_t style) {
  using B = QMessageBox;
  switch (style & 0xF) {
    case kBoxOkCancel:
      return {B::Ok | B::Cancel, B::Cancel};
    case kBoxAbortRetryIgnore:
      return {B::Abort | B::Retry | B::Ignore, B::NoButton};
    case kBoxYesNoCancel:
      return {B::Yes | B::No | B::Cancel, B::Cancel};
    case kBoxYesNo:
      return {B::Yes | B::No, B::NoButton};
    case kBoxRetryCancel:
      return {B::Retry | B::Cancel, B::Cancel};
    default:
      return {B::Ok, B::Ok};
  }
}

QMessageBox::Icon icon_for(int32_t style) {
  switch (style & 0xF0) {
    case kBoxIconError:
      return QMessageBox::Critical;
    case kBoxIconQuestion:
      return QMessageBox::Question;
    case kBoxIconWarning:
      return QMessageBox::Warning;
    case kBoxIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int32_t result_for(int button) {
  switch (button) {
    case QMessageBox::Ok:
      return kResultOk;
    case QMessageBox::Cancel:
      return kResultCancel;
    case QMessageBox::Abort:
      return kResultAbort;
    case QMessageBox::Retry:
      return kResultRetry;
    case QMessageBox::Ignore:
      return kResultIgnore;
    case QMessageBox::Yes:
      return kResultYes;
    case QMessageBox::No:
      return kResultNo;
    default:
      return kResultOk;
  }
}

// Message texts use "\r\n" line ends; Qt breaks lines at "\n" alone.
QString box_text(std::string_view gbk) {
  QString s = to_qstring(gbk);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

}  // namespace

std::string message_text(const Value& message) {
  const Kind k = message.kind_code();
  if (message.is_array()) return {};
  if (is_numeric(k)) return value_to_text(message);
  switch (k) {
    case Kind::Logical:
      return message.lo != 0 ? "真" : "假";
    case Kind::DateTime:
      return date_time_to_text(message.double_payload());
    case Kind::Text:
      return std::string(message.text());
    default:
      return {};
  }
}

int title_room(const QWidget& window, const QString& title) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const int bar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
  constexpr int kFrameParts = 4;  // the icon and three buttons
  return QFontMetrics(font).horizontalAdvance(title) + kFrameParts * bar;
}

void fit_box_to_title(QMessageBox& box) {
  // The box fixes its own size from its layout's minimum whenever it is shown, so the room goes
  // into the layout: a row of its own holding nothing but width.
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  const QMargins margins = grid->contentsMargins();
  const int width = title_room(box, box.windowTitle()) - margins.left() - margins.right();
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                grid->columnCount());
}

int32_t show_message_box(std::string_view text, int32_t style, std::string_view title, QWidget* parent) {
  // Task-modal is added whenever system-modal is not asked for; both block the whole program.
  if (!(style & kBoxSystemModal)) style |= kBoxTaskModal;
  int32_t result = kResultOk;
  QPointer<QWidget> owner = parent;
  run_on_ui_thread([&] {
    if (!QApplication::instance()) return;
    const ButtonSet set = buttons_for(style);
    QMessageBox box(icon_for(style), to_qstring(title), box_text(text), set.buttons, owner.data());
    box.setWindowModality(Qt::ApplicationModal);
    fit_box_to_title(box);
    if (set.escape != QMessageBox::NoButton) box.setEscapeButton(set.escape);
    const int def = (style >> 8) & 0x3;
    // Default button bits pick the first, second or third button in the style's own order.
    QMessageBox::StandardButton listed[3] = {};
    int n = 0;
    for (QMessageBox::StandardButton b :
         {QMessageBox::Ok, QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore, QMessageBox::Yes,
          QMessageBox::No, QMessageBox::Cancel})
      if ((set.buttons & b) && n < 3) listed[n++] = b;
    if (def < n) box.setDefaultButton(listed[def]);
    if (style & (kBoxTopmost | kBoxSystemModal)) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    result = clicked ? result_for(box.standardButton(clicked)) : result_for(set.escape);
  });
  return result;
}

void message_box(int argc, const Value* args, Value* result) {
  const std::string text = message_text(arg(argc, args, 0));
  const Value& style = arg(argc, args, 1);
  const Value& title = arg(argc, args, 2);
  QWidget* parent = nullptr;
  if (argc >= 4) {
    const Value& p = args[3];
    int32_t window_id = 0, unit_id = 0;
    // Widgets are looked up on the thread that owns them.
    if (p.is(Kind::WindowRef) && read_unit_reference(p, &window_id, &unit_id)) {
      run_on_ui_thread([&] { parent = window_widget(window_id); });  // none when not loaded
    } else if (p.is(Kind::Int)) {
      run_on_ui_thread([&] { parent = QWidget::find(static_cast<WId>(static_cast<uint32_t>(p.lo))); });
    }
  }
  const int32_t s = style.omitted() ? 0 : value_to_int(style);
  const std::string_view t = title.is(Kind::Text) ? title.text() : std::string_view(kDefaultTitle);
  *result = Value::of_int(show_message_box(text, s, t, parent));
}

bool set_clipboard_text(std::string_view gbk) {
  bool ok = false;
  run_on_ui_thread([&] {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return;
    const QString text = to_qstring(gbk);
    clipboard->setText(text, QClipboard::Clipboard);
    // The platform may refuse the ownership; then the text is not there.
    ok = clipboard->text(QClipboard::Clipboard) == text;
  });
  return ok;
}

void set_clipboard_text(int argc, const Value* args, Value* result) {
  const Value& t = arg(argc, args, 0);
  *result = Value::of_logical(set_clipboard_text(t.is(Kind::Text) ? t.text() : std::string_view()));
}

QPoint popup_position(QPoint cursor, const Value& x, const Value& y) {
  QPoint p = cursor + QPoint(3, 3);
  if (!x.omitted()) p.setX(value_to_int(x));
  if (!y.omitted()) p.setY(value_to_int(y));
  return p;
}

void show_popup_menu(int argc, const Value* args, Value* /*result*/) {
  int32_t window_id = 0, unit_id = 0;
  if (!read_unit_reference(arg(argc, args, 0), &window_id, &unit_id) || !is_window_loaded(window_id))
    report_fatal_message(kNoControl);
  int32_t menu_window = 0, item = 0;
  if (!read_unit_reference(arg(argc, args, 1), &menu_window, &item) || menu_window != window_id) return;
  const Value x = arg(argc, args, 2), y = arg(argc, args, 3);
  run_on_ui_thread([&] {
    QWidget* owner = window_widget(window_id);
    if (!owner) return;
    QMenu menu(owner);
    if (!build_popup_menu(window_id, item, &menu)) return;
    // The chosen entry reaches the window after the menu has closed, as a menu command does, not
    // from inside this call.
    QList<QMenu*> menus = menu.findChildren<QMenu*>();
    menus << &menu;
    for (QMenu* m : menus)
      for (QAction* a : m->actions()) QObject::disconnect(a, &QAction::triggered, a, nullptr);
    QAction* chosen = menu.exec(popup_position(QCursor::pos(), x, y));
    bool has_command = false;
    const int command = chosen ? chosen->data().toInt(&has_command) : 0;
    if (has_command) post_to_ui_thread([window_id, command] { dispatch_menu_command(window_id, command); });
  });
}

}  // namespace pennacle
