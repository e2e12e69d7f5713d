#include <qdrawutil.h>

#include <QApplication>
#include <QGroupBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QStylePainter>
#include <algorithm>

#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/settings_control.h"
#include "ui/template/kind_settings.h"
#include "ui/template/unit_events.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

const char* text_align(int32_t code) {
  return code == 0 ? "text-align: left;" : code == 2 ? "text-align: right;" : "text-align: center;";
}

class ButtonControl final : public SettingsControl<ButtonSettings> {
 public:
  ButtonControl(const CreateParams& p, ButtonSettings s)
      : SettingsControl(p, std::move(s)), w_(new QPushButton(p.parent)) {
    w_->setAutoDefault(false);
    const int32_t window = p.window_id, unit = p.unit.id;
    QObject::connect(w_, &QPushButton::clicked, context(),
                     [window, unit] { fire_event(window, unit, kButtonClicked); });
    apply(Apply::Widget);
  }
  QWidget* widget() const override { return w_; }

 private:
  void apply(Apply) override {
    if (!w_) return;
    const ButtonSettings& s = settings_;
    w_->setText(to_qstring(s.caption));
    w_->setDefault(s.type == 1);
    // Qt buttons centre vertically whatever is asked; the horizontal placement follows the setting.
    set_kind_style_sheet(w_, QString::fromLatin1(text_align(s.h_align)));
    QPixmap pm;
    if (!s.picture.empty() && pm.loadFromData(reinterpret_cast<const uchar*>(s.picture.data()),
                                              static_cast<uint>(s.picture.size()))) {
      w_->setIcon(QIcon(pm));
      w_->setIconSize(pm.size());
    } else {
      w_->setIcon(QIcon());
    }
    apply_font(w_, s.font);
  }

  QPointer<QPushButton> w_;
};

// Without a skin the caption sits on the frame's top line, a few pixels in from its left end (or
// centred, or at its right end), the line broken behind it: the template places the box's controls
// for that look. A skin's sheet draws the box and its caption its own way.
class CaptionedFrame final : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent* e) override {
    if (!qApp->styleSheet().isEmpty()) return QGroupBox::paintEvent(e);
    constexpr int kInset = 8, kGap = 2;
    const QFontMetrics metrics(font());
    QStylePainter painter(this);
    // An etched line, as the system draws a group box's frame.
    qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1);
    if (title().isEmpty()) return;
    const int width = std::min(metrics.horizontalAdvance(title()) + 2 * kGap, this->width() - 2 * kInset);
    int left = kInset;
    if (alignment() & Qt::AlignHCenter) left = (this->width() - width) / 2;
    if (alignment() & Qt::AlignRight) left = this->width() - kInset - width;
    const QRect caption(left, 0, width, metrics.height());
    painter.fillRect(caption, palette().brush(backgroundRole()));
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          title(), QPalette::WindowText);
  }
};

class GroupBoxControl final : public SettingsControl<GroupBoxSettings> {
 public:
  GroupBoxControl(const CreateParams& p, GroupBoxSettings s)
      : SettingsControl(p, std::move(s)), w_(new CaptionedFrame(p.parent)) {
    w_->setFocusPolicy(Qt::NoFocus);
    apply(Apply::Widget);
  }
  QWidget* widget() const override { return w_; }

 private:
  void apply(Apply) override {
    if (!w_) return;
    const GroupBoxSettings& s = settings_;
    w_->setTitle(to_qstring(s.caption));
    w_->setAlignment(h_alignment(s.alignment));
    QPalette pal = w_->palette();
    pal.setColor(QPalette::WindowText, qcolor(s.text_colour));
    pal.setColor(QPalette::Window, qcolor(s.background));
    w_->setPalette(pal);
    w_->setAutoFillBackground(s.background != kColourButtonFace);
    apply_font(w_, s.font);
  }

  QPointer<QGroupBox> w_;
};

}  // namespace

KindDescriptor button_kind() {
  return settings_kind<ButtonSettings>(kKindButton, "Button", create_from_settings<ButtonControl>);
}

KindDescriptor group_box_kind() {
  return settings_kind<GroupBoxSettings>(kKindGroupBox, "GroupBox", create_from_settings<GroupBoxControl>);
}

}  // namespace pennacle
