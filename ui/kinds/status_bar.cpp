#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QPointer>
#include <QSizeGrip>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <QWidget>
#include <atomic>

#include "platform/mutex.h"
#include "runtime/args.h"
#include "runtime/fatal.h"
#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/settings_control.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"
#include "ui/widget_style.h"
#include "ui/window_runtime.h"

namespace pennacle {
namespace {

// The pane table, shared between the commands (any thread) and the widget (user-interface thread).
struct PaneStore {
  Mutex mu;
  std::vector<StatusPane> panes GUARDED_BY(mu);
  std::atomic<bool> repaint_posted{false};
  QPointer<QWidget> widget;  // user-interface thread only
};

constexpr const char* kNoControl = "指定窗口或窗口组件不存在或尚未载入";

// Right edges of the panes: running sums of the widths; a -1 width reaches the right edge and
// ends the list (the panes after it get no room).
std::vector<QRect> pane_rects(const std::vector<StatusPane>& panes, const QRect& area) {
  std::vector<QRect> rects;
  int left = area.left();
  for (const StatusPane& p : panes) {
    if (left > area.right() + 1) break;
    int right = p.width < 0 ? area.right() + 1 : left + p.width;
    rects.emplace_back(QPoint(left, area.top()), QPoint(right - 1, area.bottom()));
    if (p.width < 0) break;
    left = right;
  }
  return rects;
}

class StatusBarWidget : public QWidget {
 public:
  StatusBarWidget(QWidget* parent, std::shared_ptr<PaneStore> store)
      : QWidget(parent), store_(std::move(store)) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
  }
  void set_background(const QColor& c) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, c);
    setPalette(pal);
    setAutoFillBackground(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    std::vector<StatusPane> panes;
    {
      MutexLock lock(store_->mu);
      panes = store_->panes;
    }
    QPainter p(this);
    const auto rects = pane_rects(panes, rect().adjusted(0, 2, 0, 0));
    for (size_t i = 0; i < rects.size(); ++i) {
      const QRect r = rects[i].adjusted(0, 0, -2, 0);
      if (!(panes[i].style & kPaneNoBorders)) {
        const bool raised = panes[i].style & kPanePopOut;
        p.setPen(palette().color(raised ? QPalette::Light : QPalette::Dark));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(raised ? QPalette::Dark : QPalette::Light));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
      }
      p.setPen(palette().color(QPalette::WindowText));
      p.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                 to_qstring(panes[i].text));
    }
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ToolTip) {
      auto* help = static_cast<QHelpEvent*>(e);
      MutexLock lock(store_->mu);
      const auto rects = pane_rects(store_->panes, rect());
      for (size_t i = 0; i < rects.size(); ++i)
        if (rects[i].contains(help->pos()) && !store_->panes[i].tip.empty()) {
          QToolTip::showText(help->globalPos(), to_qstring(store_->panes[i].tip), this);
          return true;
        }
      QToolTip::hideText();
      return true;
    }
    return QWidget::event(e);
  }

 private:
  std::shared_ptr<PaneStore> store_;
};

// Keeps a docked bar at the bottom or top edge of its parent.
class Docker : public QObject {
 public:
  Docker(QWidget* bar, int position) : QObject(bar), bar_(bar), position_(position) {}
  void set_position(int position) { position_ = position; }
  void dock() {
    QWidget* parent = bar_->parentWidget();
    if (!parent || position_ == 2) return;
    const int h = bar_->fontMetrics().height() + 8;
    bar_->setGeometry(0, position_ == 1 ? 0 : parent->height() - h, parent->width(), h);
  }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == bar_->parentWidget() && e->type() == QEvent::Resize) dock();
    return false;
  }

 private:
  QWidget* bar_;
  int position_;
};

class StatusBarControl final : public SettingsControl<StatusBarSettings> {
 public:
  StatusBarControl(const CreateParams& p, StatusBarSettings s)
      : SettingsControl(p, std::move(s)), store_(std::make_shared<PaneStore>()) {
    {
      MutexLock lock(store_->mu);
      store_->panes = settings_.panes;
    }
    w_ = new StatusBarWidget(p.parent, store_);
    store_->widget = w_;
    docker_ = new Docker(w_, settings_.position);
    grip_ = new QSizeGrip(w_);
    apply(Apply::Widget);
  }
  QWidget* widget() const override { return w_; }
  const std::shared_ptr<PaneStore>& store() const { return store_; }

  void creation_finished() override { follow_parent(); }
  void window_ready() override { follow_parent(); }

 private:
  void follow_parent() {
    if (!w_ || !w_->parentWidget()) return;
    if (watched_ != w_->parentWidget()) {
      if (watched_) watched_->removeEventFilter(docker_);
      watched_ = w_->parentWidget();
      watched_->installEventFilter(docker_);
    }
    docker_->dock();
  }

  // The pane table lives in the store, where the commands change it.
  bool read_live(Property, PropertyData* out) override {
    MutexLock lock(store_->mu);
    out->bytes = encode_panes(store_->panes);
    return true;
  }
  bool write_live(Property, const PropertyData& in) override {
    auto panes = decode_panes(in.bytes);
    {
      MutexLock lock(store_->mu);
      store_->panes = panes ? std::move(*panes) : std::vector<StatusPane>();
    }
    apply(Apply::Widget);
    return true;
  }

  void apply(Apply) override {
    if (!w_) return;
    const StatusBarSettings& s = settings_;
    apply_font(w_, s.font);
    w_->set_background(qcolor(s.background));
    docker_->set_position(s.position);
    grip_->setVisible(s.size_grip);
    grip_->move(w_->width() - grip_->sizeHint().width(), w_->height() - grip_->sizeHint().height());
    follow_parent();
    w_->update();
  }

  void detach_widget() override {
    if (watched_ && docker_) watched_->removeEventFilter(docker_);
    w_ = nullptr;
  }

  std::shared_ptr<PaneStore> store_;
  QPointer<StatusBarWidget> w_;
  QPointer<Docker> docker_;
  QPointer<QSizeGrip> grip_;
  QPointer<QWidget> watched_;
};

std::shared_ptr<PaneStore> store_of(int32_t window_id, int32_t unit_id) {
  std::shared_ptr<Control> c = find_control(window_id, unit_id);
  auto* bar = dynamic_cast<StatusBarControl*>(c.get());
  if (!bar) report_fatal_message(kNoControl);
  return bar->store();
}

}  // namespace

void status_set_pane_text(int32_t window_id, int32_t unit_id, int32_t pane, std::string_view text) {
  std::shared_ptr<PaneStore> store = store_of(window_id, unit_id);
  {
    MutexLock lock(store->mu);
    if (pane < 0 || static_cast<size_t>(pane) >= store->panes.size()) return;
    store->panes[static_cast<size_t>(pane)].text.assign(text);
  }
  // One repaint for any number of changes made before it runs.
  if (!store->repaint_posted.exchange(true)) {
    post_to_ui_thread([store] {
      store->repaint_posted = false;
      if (store->widget) store->widget->update();
    });
  }
}

void status_set_pane_text_command(int argc, const Value* args, Value* /*result*/) {
  const Args a(argc, args);
  int32_t window_id = 0, unit_id = 0;
  if (!read_unit_reference(a[0], &window_id, &unit_id)) report_fatal_message(kNoControl);
  status_set_pane_text(window_id, unit_id, a[1].int_payload(), a.text(2));
}

std::string status_pane_text(int32_t window_id, int32_t unit_id, int32_t pane) {
  std::shared_ptr<PaneStore> store = store_of(window_id, unit_id);
  MutexLock lock(store->mu);
  if (pane < 0 || static_cast<size_t>(pane) >= store->panes.size()) return {};
  return store->panes[static_cast<size_t>(pane)].text;
}

KindDescriptor status_bar_kind() {
  return settings_kind<StatusBarSettings>(kKindStatusBar, "StatusBar",
                                          create_from_settings<StatusBarControl>);
}

}  // namespace pennacle
