// The `window` kind: a top-level widget with an optional menu bar strip above its client area.
// The template's geometry is the outer rectangle; the runtime converts with the frame margins the
// border style implies, so positions read back as they were stored whatever the window manager
// draws around the window.
#pragma once

#include <QMargins>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

#include "ui/kinds/settings_control.h"
#include "ui/template/kind_settings.h"

namespace pennacle {

class WindowControl;

// The top-level widget of a loaded window.
class RuntimeWindow : public QWidget {
  Q_OBJECT
 public:
  RuntimeWindow(WindowControl* owner, QWidget* parent, Qt::WindowFlags flags);
  QWidget* client() const { return client_; }
  QMenuBar* menu_bar() const { return menu_bar_; }
  // Lays out the menu strip (shown only when it has a visible entry) and the client area.
  void relayout();
  // The control has gone (the window is being destroyed): events stop.
  void detach() { owner_ = nullptr; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  WindowControl* owner_;
  QMenuBar* menu_bar_;
  QWidget* client_;
};

class WindowControl final : public SettingsControl<WindowSettings> {
 public:
  // `p.parent` is the hidden owner, for windows kept out of the task bar.
  WindowControl(const CreateParams& p, WindowSettings settings);
  ~WindowControl() override;

  QWidget* widget() const override { return window_; }
  QWidget* container() const override { return window_ ? window_->client() : nullptr; }

  RuntimeWindow* window() const { return window_; }
  // Frame and caption around the widget, from the border style.
  QMargins frame_margins() const;
  // Outer rectangle (screen coordinates, frame included).
  QRect outer_geometry() const;
  void set_outer_geometry(const QRect& r);
  // Centres the stored outer size on the primary screen.
  void centre();
  // Shown as the stored position says: minimized, maximized or normal.
  void show_initially();

 private:
  friend class RuntimeWindow;
  bool read_live(Property p, PropertyData* out) override;
  bool write_live(Property p, const PropertyData& in) override;
  void before_apply(Apply how) override;
  void apply(Apply how) override;
  void detach_widget() override;
  void apply_flags();
  void apply_look();

  QPointer<RuntimeWindow> window_;
  QWidget* owner_;    // the hidden owner, for windows kept out of the task bar
  QRect kept_outer_;  // the outer rectangle a change of frame keeps
};

// Kind descriptor of `window`.
KindDescriptor window_kind();

}  // namespace pennacle
