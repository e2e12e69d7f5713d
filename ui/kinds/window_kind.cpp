#include "ui/kinds/window_kind.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

#include "ui/runtime_internal.h"
#include "ui/template/unit_events.h"
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

bool resizable(int32_t border) { return border == 1 || border == 3 || border == 5; }
bool tool_window(int32_t border) { return border == 3 || border == 4; }

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
  if (owner_) fire_event(owner_->window_id(), 0, kWindowMoved);
}

void RuntimeWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  relayout();
  if (owner_) fire_event(owner_->window_id(), 0, kWindowResized);
}

void RuntimeWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (owner_ && !e->spontaneous()) fire_event(owner_->window_id(), 0, kWindowShown);
}

void RuntimeWindow::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (owner_ && !e->spontaneous()) fire_event(owner_->window_id(), 0, kWindowHidden);
}

WindowControl::WindowControl(const CreateParams& p, WindowSettings settings)
    : SettingsControl(p, std::move(settings)), owner_(p.parent) {
  window_ = new RuntimeWindow(this, settings_.taskbar ? nullptr : owner_, Qt::Window);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  apply_flags();
  apply_look();
  set_outer_geometry(QRect(p.unit.left, p.unit.top, p.unit.width, p.unit.height));
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

bool WindowControl::read_live(Property p, PropertyData* out) {
  switch (p) {
    case WindowSettings::kCaption:
      out->bytes = window_ ? to_gbk(window_->windowTitle()).value_or(settings_.caption) : settings_.caption;
      return true;
    case WindowSettings::kPosition:
      out->number = window_ && window_->isMinimized() ? 2 : window_ && window_->isMaximized() ? 3 : 0;
      return true;
    default:
      return false;
  }
}

// Position: 1 centres the window; a shown window is minimized (2), maximized (3) or restored.
bool WindowControl::write_live(Property p, const PropertyData& in) {
  if (p != WindowSettings::kPosition) return false;
  const auto n = static_cast<int32_t>(in.number);
  settings_.position = n;
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
}

void WindowControl::before_apply(Apply how) {
  if (how == Apply::Frame) kept_outer_ = outer_geometry();
}

void WindowControl::apply(Apply how) {
  if (!window_) return;
  if (how == Apply::Frame) {
    apply_flags();
    set_outer_geometry(kept_outer_);
  }
  apply_look();
}

KindDescriptor window_kind() {
  return settings_kind<WindowSettings>(kKindWindow, "window", create_from_settings<WindowControl>);
}

}  // namespace pennacle
