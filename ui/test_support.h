// Shared pieces of the window tests: templates made in code, a handler table that records each
// call, the message of a fatal report caught as an exception (testing/fatal_capture.h), and the
// fixture of the tests that type into an edit box.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <optional>
#include <string>
#include <vector>

#include "runtime/fatal.h"
#include "testing/fatal_capture.h"
#include "ui/template/kind_settings.h"
#include "ui/template/window_template.h"
#include "ui/window_runtime.h"

namespace pennacle::testing {

inline constexpr int32_t kWin = 0x52010001;
inline constexpr int32_t kWinUnit = 0x06010000;

// The message of the fatal report `fn` makes, or "" when it makes none.
template <class Fn>
std::string fatal_message(Fn fn) {
  const std::optional<FatalReport> report = fatal_report_of(fn);
  return report ? report->message : std::string();
}

struct Call {
  int slot;
  EventSource source;
  std::vector<int32_t> args;
};

inline std::vector<Call>& calls() {
  static std::vector<Call> c;
  return c;
}
// What each slot hands back (Value{} for no result).
inline Value& slot_result(int slot) {
  static Value r[16];
  return r[slot];
}
// Run inside a slot after recording.
inline std::function<void()>& slot_action(int slot) {
  static std::function<void()> a[16];
  return a[slot];
}

template <int K>
void slot(int argc, const Value* args, Value* result) {
  Call c{K, current_event_source(), {}};
  for (int i = 0; i < argc; ++i) c.args.push_back(args[i].int_payload());
  calls().push_back(c);
  if (slot_action(K)) slot_action(K)();
  *result = slot_result(K);
}

inline std::vector<EventHandler> handler_table() {
  return {slot<0>, slot<1>, slot<2>,  slot<3>,  slot<4>,  slot<5>,  slot<6>,  slot<7>,
          slot<8>, slot<9>, slot<10>, slot<11>, slot<12>, slot<13>, slot<14>, nullptr};
}

inline int count_calls(int slot) {
  int n = 0;
  for (const Call& c : calls()) n += c.slot == slot;
  return n;
}

inline void reset_calls() {
  calls().clear();
  for (int i = 0; i < 16; ++i) {
    slot_result(i) = Value{};
    slot_action(i) = nullptr;
  }
}

inline UnitTemplate unit(int32_t id, uint32_t kind, std::string settings, int left = 0, int top = 0,
                         int width = 80, int height = 24, int32_t parent = 0) {
  UnitTemplate u;
  u.id = id;
  u.kind = kind;
  u.settings = std::move(settings);
  u.left = left;
  u.top = top;
  u.width = width;
  u.height = height;
  u.parent = parent;
  u.state = kStateVisible | kStateTabStop;
  u.name = "unit" + std::to_string(id & 0xFFFF);
  return u;
}

inline UnitTemplate menu_item(int32_t id, int32_t level, std::string caption, int32_t flags = 0,
                              int32_t handler = kNoHandler) {
  UnitTemplate u;
  u.id = id;
  u.kind = kKindMenu;
  u.level = level;
  u.caption = std::move(caption);
  u.menu_flags = flags;
  u.handler = handler;
  u.name = u.caption;
  return u;
}

// A window unit at (100, 100) of 400 x 300, not centred.
inline WindowTemplate window(std::vector<UnitTemplate> units = {}, int32_t id = kWin) {
  WindowSettings s;
  s.caption = "测试";
  s.position = 0;
  WindowTemplate w;
  w.id = id;
  UnitTemplate win = unit(kWinUnit, kKindWindow, s.encode(), 100, 100, 400, 300);
  win.name = "主窗口";
  w.units.push_back(win);
  for (auto& u : units) w.units.push_back(std::move(u));
  return w;
}

// Starts the runtime on these windows with the recording handler table.
inline void start(std::vector<WindowTemplate> windows) {
  reset_calls();
  TemplateSet set;
  set.windows = std::move(windows);
  static std::vector<EventHandler> table = handler_table();
  runtime_start(write_templates(set), table);
}

inline std::string text_of(Value v) { return Text::from_result(v).str(); }

// Types text with key events, one per character (a character beyond 16 bits in one event, as a
// keyboard gives it): QTest types only Latin-1 itself.
inline void type(QWidget* w, std::u16string_view text) {
  const QString all = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  for (char32_t ch : all.toUcs4()) {
    if (ch < 0x80)
      QTest::keyClick(w, static_cast<char>(ch));
    else
      QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString::fromUcs4(&ch, 1), Qt::NoModifier);
  }
}

// A window test around one edit box: every test ends with no window loaded and no handler action
// left behind.
class EditWindowTest : public ::testing::Test {
 protected:
  static constexpr int32_t kEdit = 0x16010001;   // the edit box under test
  static constexpr int32_t kOther = 0x16010002;  // the box that takes the focus away
  static constexpr int32_t kCombo = 0x16010003;

  void TearDown() override {
    reset_calls();  // handler actions may point into the finished test
    if (is_window_loaded(kWin)) close_window(kWin);
  }
  // A window, loaded afresh, with an edit box of these settings, then the units `between`, then a
  // second edit box below them to move the focus to; the window is active, the focus in the first box.
  QWidget* load_edit(const EditBoxSettings& s, std::vector<UnitTemplate> between = {}) {
    if (is_window_loaded(kWin)) close_window(kWin);
    std::vector<UnitTemplate> units;
    units.push_back(unit(kEdit, kKindEditBox, s.encode(), 10, 10, 200, s.multi_line ? 80 : 24));
    const int other_top = between.empty() ? 120 : between.back().top + between.back().height + 16;
    for (UnitTemplate& u : between) units.push_back(std::move(u));
    units.push_back(unit(kOther, kKindEditBox, "", 10, other_top, 200, 24));
    start({window(std::move(units))});
    EXPECT_TRUE(load_window(kWin));
    QWidget* top = window_widget(kWin);
    top->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(top));
    QWidget* edit = unit_widget(kWin, kEdit);
    edit->setFocus();
    return edit;
  }
  // The edit box's text (property 8).
  std::string content() { return text_of(get_property(kWin, kEdit, 8)); }
  // Moves the focus to the second box and lets the edit box see it go.
  void leave() {
    unit_widget(kWin, kOther)->setFocus();
    QApplication::processEvents();
  }
};

}  // namespace pennacle::testing
