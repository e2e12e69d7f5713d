#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <algorithm>

#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/settings_control.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"

namespace pennacle {
namespace {

// A label without a background of its own: what lies beneath shows through. It paints the
// settings it was last shown.
class TransLabelWidget : public QWidget {
 public:
  explicit TransLabelWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
  }

  // Takes the settings and repaints the area in the top-level window, so that the background
  // under the old text is drawn again.
  void show_settings(const TransLabelSettings& s) {
    s_ = s;
    apply_font(this, s_.font);
    QWidget* top = window();
    if (top && top != this)
      top->update(QRect(mapTo(top, QPoint(0, 0)), size()));
    else
      update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (s_.caption.empty()) return;
    QPainter p(this);
    p.setFont(font());
    int flags = static_cast<int>(h_alignment(s_.h_align));
    if (s_.word_wrap)
      flags |= Qt::TextWordWrap | Qt::AlignTop;  // multi-line text starts at the top
    else
      flags |= Qt::TextSingleLine | static_cast<int>(v_alignment(s_.v_align));
    const QString text = to_qstring(s_.caption);
    const QRect r = rect();
    auto draw = [&](const QColor& c, int dx, int dy) {
      p.setPen(c);
      p.drawText(r.translated(dx, dy), flags, text);
    };
    switch (s_.effect) {
      case 1:  // raised: a white copy behind
        draw(Qt::white, 1, 1);
        break;
      case 2:  // engraved: white, then the text one pixel right and down
        draw(Qt::white, 0, 0);
        draw(qcolor(s_.text_colour), 1, 1);
        return;
      case 3:  // shadow: a black copy behind
        draw(Qt::black, 1, 1);
        break;
      default:
        break;
    }
    draw(qcolor(s_.text_colour), 0, 0);
  }

 private:
  TransLabelSettings s_;
};

class TransLabelControl final : public SettingsControl<TransLabelSettings> {
 public:
  TransLabelControl(const CreateParams& p, TransLabelSettings s)
      : SettingsControl(p, std::move(s)), w_(new TransLabelWidget(p.parent)) {
    apply(Apply::Widget);
  }
  QWidget* widget() const override { return w_; }

 private:
  // The codes are clamped to their ranges, also in what a read gives back.
  void apply(Apply) override {
    settings_.effect = std::clamp(settings_.effect, 0, 3);
    settings_.h_align = std::clamp(settings_.h_align, 0, 2);
    settings_.v_align = std::clamp(settings_.v_align, 0, 2);
    if (w_) w_->show_settings(settings_);
  }

  QPointer<TransLabelWidget> w_;
};

}  // namespace

KindDescriptor trans_label_kind() {
  return settings_kind<TransLabelSettings>(kKindTransLabel, "TransLabel",
                                           create_from_settings<TransLabelControl>);
}

}  // namespace pennacle
