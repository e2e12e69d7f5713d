// Control kinds: one widget factory keyed by kind reference, and the live control each unit of a
// loaded window gets.
//
// A kind creates its control from the unit's stored settings (refusing a block whose format
// version is too high), and reads and writes its own properties (numbers from 8 on) as raw data;
// the window runtime converts between raw data and value records by the property's type.
//
// Controls live on the user-interface thread. A kind command that may run on a worker thread
// holds its control through the shared_ptr that find_control gives, touches only state the control
// guards with its own mutex, and posts its repaint (post_to_ui_thread); it never touches the widget.
#pragma once

#include <QWidget>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "ui/template/property_table.h"
#include "ui/template/window_template.h"

namespace pennacle {

class Control {
 public:
  Control(int32_t window_id, int32_t unit_id) : window_id_(window_id), unit_id_(unit_id) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // The widget; owned by its Qt parent (the window owns everything below it).
  virtual QWidget* widget() const = 0;
  // Where the children of a container go; their coordinates are relative to it.
  virtual QWidget* container() const { return widget(); }
  // Kind property `number` (8 on). False when the kind has no such property.
  virtual bool get(int number, PropertyData* out) = 0;
  virtual bool set(int number, const PropertyData& in) = 0;
  // Sent once all units exist, and once the window is shown.
  virtual void creation_finished() {}
  virtual void window_ready() {}
  // The window is going (user-interface thread): drops every connection made with context() and
  // lets the kind cut its own paths from the widget back to this control, so that a widget
  // awaiting deletion fires nothing.
  void detach() {
    context_.reset();
    detach_widget();
  }
  // Receiver for the widget's signal connections; gone after detach().
  QObject* context() const { return context_.get(); }

  int32_t window_id() const { return window_id_; }
  int32_t unit_id() const { return unit_id_; }

 protected:
  // Fires one of this unit's events (user-interface thread).
  void fire(int32_t event, std::initializer_list<int32_t> args = {}) const;
  virtual void detach_widget() {}

 private:
  std::unique_ptr<QObject> context_ = std::make_unique<QObject>();
  int32_t window_id_;
  int32_t unit_id_;
};

struct CreateParams {
  int32_t window_id;
  const UnitTemplate& unit;
  QWidget* parent;  // the window's client area (containers are applied later)
  int control_id;   // 100, 110, ... in creation order
};

// Creates the control, or nullptr when the unit cannot be created (bad settings).
using CreateControl = std::unique_ptr<Control> (*)(const CreateParams& params);

struct KindDescriptor {
  uint32_t reference = 0;  // library * 65536 + kind
  const char* name = "";
  bool window_unit = true;  // has events and a live widget
  bool menu_item = false;
  std::vector<PropType> properties;  // the types of properties 8, 9, ...
  CreateControl create = nullptr;
};

// The kind table. Registering a reference again replaces the earlier kind; a descriptor found
// before stays valid for as long as its holder keeps it.
void register_kind(KindDescriptor kind);
std::shared_ptr<const KindDescriptor> find_kind(uint32_t reference);
// The kinds built in: window, menu and the basic controls; called by runtime_start.
void register_builtin_kinds();

}  // namespace pennacle
