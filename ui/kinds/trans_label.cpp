#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <algorithm>

#include "ui/kinds/basic_kinds.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"

namespace pennacle {
namespace {

// A label without a background of its own: what lies beneath shows through.
class TransLabelWidget : public QWidget {
 public:
  TransLabelWidget(QWidget* parent, TransLabelSettings s) : QWidget(parent), s_(std::move(s)) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    clamp();
  }

  TransLabelSettings& settings() { return s_; }

  // After a change: clamp the codes and repaint the area in the top-level window, so that the
  // background under the old text is drawn again.
  void changed() {
    clamp();
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
  void clamp() {
    s_.effect = std::clamp(s_.effect, 0, 3);
    s_.h_align = std::clamp(s_.h_align, 0, 2);
    s_.v_align = std::clamp(s_.v_align, 0, 2);
  }
  TransLabelSettings s_;
};

class TransLabelControl : public Control {
 public:
  TransLabelControl(const CreateParams& p, TransLabelSettings s)
      : Control(p.window_id, p.unit.id), w_(new TransLabelWidget(p.parent, std::move(s))) {
    w_->changed();
  }
  QWidget* widget() const override { return w_; }

  bool get(int index, PropertyData* out) override {
    if (!w_) return false;
    const TransLabelSettings& s = w_->settings();
    switch (index) {
      case 0:
        out->bytes = s.caption;
        return true;
      case 1:
        out->number = s.effect;
        return true;
      case 2:
        out->bytes = s.font;
        return true;
      case 3:
        out->number = s.text_colour;
        return true;
      case 4:
        out->number = s.h_align;
        return true;
      case 5:
        out->number = s.word_wrap;
        return true;
      case 6:
        out->number = s.v_align;
        return true;
      default:
        return false;
    }
  }

  bool set(int index, const PropertyData& in) override {
    if (!w_) return false;
    TransLabelSettings& s = w_->settings();
    const auto n = static_cast<int32_t>(in.number);
    switch (index) {
      case 0:
        s.caption = in.bytes;
        break;
      case 1:
        s.effect = n;
        break;
      case 2:
        s.font = in.bytes;
        break;
      case 3:
        s.text_colour = static_cast<uint32_t>(n);
        break;
      case 4:
        s.h_align = n;
        break;
      case 5:
        s.word_wrap = n != 0;
        break;
      case 6:
        s.v_align = n;
        break;
      default:
        return false;
    }
    w_->changed();
    return true;
  }

 private:
  QPointer<TransLabelWidget> w_;
};

std::unique_ptr<Control> create_trans_label(const CreateParams& p) {
  auto s = TransLabelSettings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<TransLabelControl>(p, std::move(*s));
}

}  // namespace

KindDescriptor trans_label_kind() {
  using P = PropType;
  return {kKindTransLabel,
          "TransLabel",
          true,
          false,
          {P::Text, P::Choice, P::Font, P::Colour, P::Choice, P::Logical, P::Choice},
          create_trans_label};
}

}  // namespace pennacle
