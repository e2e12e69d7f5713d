#include "ui/kinds/window_kind.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

#include "ui/runtime_internal.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

// Frame metrics of the classic desktop the templates were laid out on.
constexpr int kCaption = 19;
constexpr int kToolCaption = 15;
constexpr int kFixedFrame = 3;
constexpr int kSizingFrame = 4;
constexpr int kClientEdge = 2;

enum Field {
  kCaptionText = 0,
  kBorder = 1,
  kBackground = 2,
  kPicture = 3,
  kPictureMode = 4,
  kSound = 5,
  kSoundMode = 6,
  kControlBox = 7,
  kMaximizeBox = 8,
  kMinimizeBox = 9,
  kPosition = 10,
  kMovable = 11,
  kIcon = 12,
  kFlag21 = 13,
  kFlag22 = 14,
  kFlag23 = 15,
  kHelpFile = 16,
  kHelpContext = 17,
  kTaskbar = 18,
  kFlag27 = 19,
  kShape = 20,
  kTopmost = 21,
  kFlag30 = 22,
  kClassName = 23,
};

bool resizable(int32_t border) { return border == 1 || border == 3 || border == 5; }
bool tool_window(int32_t border) { return border == 3 || border == 4; }

std::unique_ptr<Control> create_window(const CreateParams& p) {
  auto s = WindowSettings::decode(p.unit.settings);
  if (!s) return nullptr;
  return std::make_unique<WindowControl>(p.window_id, p.unit, std::move(*s), p.parent);
}

}  // namespace

RuntimeWindow::RuntimeWindow(WindowControl* owner, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), owner_(owner), menu_bar_(new QMenuBar(this)), client_(new QWidget(this)) {
  menu_bar_->hide();
  menu_bar_->setNativeMenuBar(false);
}

void RuntimeWindow::relayout() {
  bool any = false;
  for (QAction* a : menu_bar_->actions()) any = any || a->isVisible();
  int h = any ? menu_bar_->sizeHint().height() : 0;
  menu_bar_->setVisible(any);
  menu_bar_->setGeometry(0, 0, width(), h);
  client_->setGeometry(0, h, width(), height() - h);
}

void RuntimeWindow::closeEvent(QCloseEvent* e) {
  if (!owner_) return QWidget::closeEvent(e);
  int32_t id = owner_->window_id();
  if (!window_close_requested(id)) {
    e->ignore();
    return;
  }
  e->accept();
  window_closing(id);
}

void RuntimeWindow::moveEvent(QMoveEvent* e) {
  QWidget::moveEvent(e);
  if (owner_) fire_event(owner_->window_id(), 0, 3);
}

void RuntimeWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  relayout();
  if (owner_) fire_event(owner_->window_id(), 0, 4);
}

void RuntimeWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (owner_ && !e->spontaneous()) fire_event(owner_->window_id(), 0, 10);
}

void RuntimeWindow::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (owner_ && !e->spontaneous()) fire_event(owner_->window_id(), 0, 11);
}

WindowControl::WindowControl(int32_t window_id, const UnitTemplate& unit, WindowSettings settings,
                             QWidget* owner)
    : Control(window_id, unit.id), settings_(std::move(settings)), owner_(owner) {
  window_ = new RuntimeWindow(this, settings_.taskbar ? nullptr : owner_, Qt::Window);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  apply_flags();
  apply_look();
  set_outer_geometry(QRect(unit.left, unit.top, unit.width, unit.height));
  if (settings_.position == 1) centre();
}

WindowControl::~WindowControl() { detach_widget(); }

void WindowControl::detach_widget() {
  if (window_) {
    window_->detach();
    window_->hide();
    window_->deleteLater();
    window_ = nullptr;
  }
}

QMargins WindowControl::frame_margins() const {
  const int32_t b = settings_.border;
  if (b == 0) return {};
  int frame = resizable(b) ? kSizingFrame : kFixedFrame;
  if (b == 5 || b == 6) frame += kClientEdge;
  int caption = 0;
  if (!settings_.caption.empty() || settings_.control_box) caption = tool_window(b) ? kToolCaption : kCaption;
  return QMargins(frame, frame + caption, frame, frame);
}

QRect WindowControl::outer_geometry() const {
  if (!window_) return {};
  return window_->geometry().marginsAdded(frame_margins());
}

void WindowControl::set_outer_geometry(const QRect& r) {
  if (!window_) return;
  QRect inner = r.marginsRemoved(frame_margins());
  inner.setWidth(std::max(inner.width(), 0));
  inner.setHeight(std::max(inner.height(), 0));
  if (!resizable(settings_.border)) {
    window_->setMinimumSize(0, 0);
    window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  window_->setGeometry(inner);
  if (!resizable(settings_.border)) window_->setFixedSize(inner.size());
}

void WindowControl::centre() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen || !window_) return;
  QRect outer = outer_geometry();
  QSize s = screen->geometry().size();
  outer.moveTo((s.width() - outer.width()) / 2, (s.height() - outer.height()) / 2);
  set_outer_geometry(outer);
}

void WindowControl::show_initially() {
  if (!window_) return;
  if (settings_.position == 2)
    window_->showMinimized();
  else if (settings_.position == 3 && resizable(settings_.border))
    window_->showMaximized();
  else
    window_->show();
}

void WindowControl::apply_flags() {
  const int32_t b = settings_.border;
  Qt::WindowFlags f = tool_window(b) || !settings_.taskbar ? Qt::Tool : Qt::Window;
  f |= Qt::CustomizeWindowHint;
  if (b == 0) {
    f |= Qt::FramelessWindowHint;
  } else if (!settings_.caption.empty() || settings_.control_box) {
    f |= Qt::WindowTitleHint;
    if (settings_.control_box) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  if (settings_.maximize_box && resizable(b)) f |= Qt::WindowMaximizeButtonHint;
  if (settings_.minimize_box) f |= Qt::WindowMinimizeButtonHint;
  if (settings_.topmost) f |= Qt::WindowStaysOnTopHint;
  bool was_visible = window_->isVisible();
  QRect g = window_->geometry();
  window_->setParent(settings_.taskbar ? nullptr : owner_, f);
  window_->setGeometry(g);
  if (was_visible) window_->show();
}

void WindowControl::apply_look() {
  window_->setWindowTitle(to_qstring(settings_.caption));
  window_->setObjectName(settings_.class_name.empty() ? QStringLiteral("RVWindow")
                                                      : to_qstring(settings_.class_name));
  QPalette pal = window_->palette();
  pal.setColor(QPalette::Window, qcolor(settings_.background));
  window_->setPalette(pal);
  window_->setAutoFillBackground(true);
  QRect r(QPoint(0, 0), window_->size());
  switch (settings_.shape) {
    case 1:
      window_->setMask(QRegion(r, QRegion::Ellipse));
      break;
    case 2: {
      QPainterPath path;
      path.addRoundedRect(r, 16, 16);
      window_->setMask(QRegion(path.toFillPolygon().toPolygon()));
      break;
    }
    case 3: {
      int ring = std::min(r.width(), r.height()) / 4;
      window_->setMask(QRegion(r, QRegion::Ellipse)
                           .subtracted(QRegion(r.adjusted(ring, ring, -ring, -ring), QRegion::Ellipse)));
      break;
    }
    default:
      window_->clearMask();
  }
}

bool WindowControl::get(int index, PropertyData* out) {
  const WindowSettings& s = settings_;
  switch (index) {
    case kCaptionText:
      out->bytes = window_ ? to_gbk(window_->windowTitle()).value_or(s.caption) : s.caption;
      return true;
    case kBorder:
      out->number = s.border;
      return true;
    case kBackground:
      out->number = s.background;
      return true;
    case kPicture:
      out->bytes = s.picture;
      return true;
    case kPictureMode:
      out->number = s.picture_mode;
      return true;
    case kSound:
      out->bytes = s.sound;
      return true;
    case kSoundMode:
      out->number = s.sound_mode;
      return true;
    case kControlBox:
      out->number = s.control_box;
      return true;
    case kMaximizeBox:
      out->number = s.maximize_box;
      return true;
    case kMinimizeBox:
      out->number = s.minimize_box;
      return true;
    case kPosition:
      out->number = window_ && window_->isMinimized() ? 2 : window_ && window_->isMaximized() ? 3 : 0;
      return true;
    case kMovable:
      out->number = s.movable;
      return true;
    case kIcon:
      out->bytes = s.icon;
      return true;
    case kFlag21:
      out->number = s.flag21;
      return true;
    case kFlag22:
      out->number = s.flag22;
      return true;
    case kFlag23:
      out->number = s.flag23;
      return true;
    case kHelpFile:
      out->bytes = s.help_file;
      return true;
    case kHelpContext:
      out->number = s.help_context;
      return true;
    case kTaskbar:
      out->number = s.taskbar;
      return true;
    case kFlag27:
      out->number = s.flag27;
      return true;
    case kShape:
      out->number = s.shape;
      return true;
    case kTopmost:
      out->number = s.topmost;
      return true;
    case kFlag30:
      out->number = s.flag30;
      return true;
    case kClassName:
      out->bytes = s.class_name;
      return true;
    default:
      return false;
  }
}

bool WindowControl::set(int index, const PropertyData& in) {
  const QRect outer = outer_geometry();  // kept across a change of frame
  WindowSettings& s = settings_;
  const int32_t n = static_cast<int32_t>(in.number);
  bool flags = false;
  switch (index) {
    case kCaptionText:
      s.caption = in.bytes;
      break;
    case kBorder:
      s.border = n > 6 ? 2 : n;
      flags = true;
      break;
    case kBackground:
      s.background = static_cast<uint32_t>(n);
      break;
    case kPicture:
      s.picture = in.bytes;
      break;
    case kPictureMode:
      s.picture_mode = n;
      break;
    case kSound:
      s.sound = in.bytes;
      break;
    case kSoundMode:
      s.sound_mode = n;
      break;
    case kControlBox:
      s.control_box = n != 0;
      flags = true;
      break;
    case kMaximizeBox:
      s.maximize_box = n != 0;
      flags = true;
      break;
    case kMinimizeBox:
      s.minimize_box = n != 0;
      flags = true;
      break;
    case kPosition:
      s.position = n;
      if (window_ && n == 1) centre();
      if (window_ && window_->isVisible()) {
        if (n == 2)
          window_->showMinimized();
        else if (n == 3)
          window_->showMaximized();
        else
          window_->showNormal();
      }
      return true;
    case kMovable:
      s.movable = n != 0;
      break;
    case kIcon:
      s.icon = in.bytes;
      break;
    case kFlag21:
      s.flag21 = n != 0;
      break;
    case kFlag22:
      s.flag22 = n != 0;
      break;
    case kFlag23:
      s.flag23 = n != 0;
      break;
    case kHelpFile:
      s.help_file = in.bytes;
      break;
    case kHelpContext:
      s.help_context = n;
      break;
    case kTaskbar:
      s.taskbar = n != 0;
      flags = true;
      break;
    case kFlag27:
      s.flag27 = n != 0;
      break;
    case kShape:
      s.shape = n;
      break;
    case kTopmost:
      s.topmost = n != 0;
      flags = true;
      break;
    case kFlag30:
      s.flag30 = n != 0;
      break;
    case kClassName:
      s.class_name = in.bytes;
      break;
    default:
      return false;
  }
  if (!window_) return true;
  if (flags) {
    apply_flags();
    set_outer_geometry(outer);
  }
  apply_look();
  return true;
}

KindDescriptor window_kind() {
  using P = PropType;
  return KindDescriptor{
      kKindWindow,
      "window",
      true,
      false,
      {P::Text,     P::Choice,  P::Colour,  P::Picture, P::Choice, P::Sound,   P::Choice,  P::Logical,
       P::Logical,  P::Logical, P::Choice,  P::Logical, P::Icon,   P::Logical, P::Logical, P::Logical,
       P::FileName, P::Integer, P::Logical, P::Logical, P::Choice, P::Logical, P::Logical, P::Text},
      create_window,
  };
}

}  // namespace pennacle
