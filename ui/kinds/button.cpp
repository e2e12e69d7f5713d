#include <QGroupBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

#include "ui/kinds/basic_kinds.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

const char* text_align(int32_t code) {
  return code == 0 ? "text-align: left;" : code == 2 ? "text-align: right;" : "text-align: center;";
}

class ButtonControl : public Control {
 public:
  ButtonControl(const CreateParams& p, ButtonSettings s)
      : Control(p.window_id, p.unit.id), s_(std::move(s)), w_(new QPushButton(p.parent)) {
    w_->setAutoDefault(false);
    const int32_t window = p.window_id, unit = p.unit.id;
    QObject::connect(w_, &QPushButton::clicked, context(), [window, unit] { fire_event(window, unit, 0); });
    apply();
  }
  QWidget* widget() const override { return w_; }

  bool get(int index, PropertyData* out) override {
    switch (index) {
      case 0:
        out->bytes = s_.picture;
        return true;
      case 1:
        out->number = s_.type;
        return true;
      case 2:
        out->bytes = s_.caption;
        return true;
      case 3:
        out->number = s_.h_align;
        return true;
      case 4:
        out->number = s_.v_align;
        return true;
      case 5:
        out->bytes = s_.font;
        return true;
      default:
        return false;
    }
  }

  bool set(int index, const PropertyData& in) override {
    const auto n = static_cast<int32_t>(in.number);
    switch (index) {
      case 0:
        s_.picture = in.bytes;
        break;
      case 1:
        s_.type = n;
        break;
      case 2:
        s_.caption = in.bytes;
        break;
      case 3:
        s_.h_align = n;
        break;
      case 4:
        s_.v_align = n;
        break;
      case 5:
        s_.font = in.bytes;
        break;
      default:
        return false;
    }
    apply();
    return true;
  }

 private:
  void apply() {
    if (!w_) return;
    w_->setText(to_qstring(s_.caption));
    w_->setDefault(s_.type == 1);
    // Qt buttons centre vertically whatever is asked; the horizontal placement follows the setting.
    set_kind_style_sheet(w_, QString::fromLatin1(text_align(s_.h_align)));
    QPixmap pm;
    if (!s_.picture.empty() && pm.loadFromData(reinterpret_cast<const uchar*>(s_.picture.data()),
                                               static_cast<uint>(s_.picture.size()))) {
      w_->setIcon(QIcon(pm));
      w_->setIconSize(pm.size());
    } else {
      w_->setIcon(QIcon());
    }
    apply_font(w_, s_.font);
  }

  ButtonSettings s_;
  QPointer<QPushButton> w_;
};

class GroupBoxControl : public Control {
 public:
  GroupBoxControl(const CreateParams& p, GroupBoxSettings s)
      : Control(p.window_id, p.unit.id), s_(std::move(s)), w_(new QGroupBox(p.parent)) {
    w_->setFocusPolicy(Qt::NoFocus);
    apply();
  }
  QWidget* widget() const override { return w_; }

  bool get(int index, PropertyData* out) override {
    switch (index) {
      case 0:
        out->bytes = s_.caption;
        return true;
      case 1:
        out->number = s_.alignment;
        return true;
      case 2:
        out->number = s_.text_colour;
        return true;
      case 3:
        out->number = s_.background;
        return true;
      case 4:
        out->bytes = s_.font;
        return true;
      default:
        return false;
    }
  }

  bool set(int index, const PropertyData& in) override {
    switch (index) {
      case 0:
        s_.caption = in.bytes;
        break;
      case 1:
        s_.alignment = static_cast<int32_t>(in.number);
        break;
      case 2:
        s_.text_colour = static_cast<uint32_t>(in.number);
        break;
      case 3:
        s_.background = static_cast<uint32_t>(in.number);
        break;
      case 4:
        s_.font = in.bytes;
        break;
      default:
        return false;
    }
    apply();
    return true;
  }

 private:
  void apply() {
    if (!w_) return;
    w_->setTitle(to_qstring(s_.caption));
    w_->setAlignment(h_alignment(s_.alignment));
    QPalette pal = w_->palette();
    pal.setColor(QPalette::WindowText, qcolor(s_.text_colour));
    pal.setColor(QPalette::Window, qcolor(s_.background));
    w_->setPalette(pal);
    w_->setAutoFillBackground(s_.background != kColourButtonFace);
    apply_font(w_, s_.font);
  }

  GroupBoxSettings s_;
  QPointer<QGroupBox> w_;
};

std::unique_ptr<Control> create_button(const CreateParams& p) {
  auto s = ButtonSettings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<ButtonControl>(p, std::move(*s));
}

std::unique_ptr<Control> create_group_box(const CreateParams& p) {
  auto s = GroupBoxSettings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<GroupBoxControl>(p, std::move(*s));
}

}  // namespace

KindDescriptor button_kind() {
  using P = PropType;
  return {
      kKindButton,  "Button", true, false, {P::Picture, P::Choice, P::Text, P::Choice, P::Choice, P::Font},
      create_button};
}

KindDescriptor group_box_kind() {
  using P = PropType;
  return {kKindGroupBox,   "GroupBox", true, false, {P::Text, P::Choice, P::Colour, P::Colour, P::Font},
          create_group_box};
}

}  // namespace pennacle
