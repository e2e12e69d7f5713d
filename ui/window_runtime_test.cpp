#include "ui/window_runtime.h"

#include <gtest/gtest.h>

#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "ui/kinds/basic_kinds.h"
#include "ui/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

constexpr int32_t kButtonA = 0x16010001;
constexpr int32_t kButtonB = 0x16010002;
constexpr int32_t kGroup = 0x16010003;
constexpr int32_t kProbe = 0x16010005;
constexpr uint32_t kProbeKind = 0x00030001;   // a test kind whose creation runs g_probe_action
constexpr uint32_t kSilentKind = 0x00030002;  // a test kind without events

std::function<void()> g_probe_action;

class ProbeControl : public Control {
 public:
  ProbeControl(const CreateParams& p) : Control(p.window_id, p.unit.id), w_(new QWidget(p.parent)) {}
  QWidget* widget() const override { return w_; }
  bool get(int, PropertyData*) override { return false; }
  bool set(int, const PropertyData&) override { return false; }

 private:
  QPointer<QWidget> w_;
};

void register_test_kinds() {
  register_kind({kProbeKind, "Probe", true, false, {}, [](const CreateParams& p) -> std::unique_ptr<Control> {
                   if (g_probe_action) g_probe_action();
                   return std::make_unique<ProbeControl>(p);
                 }});
  register_kind(
      {kSilentKind, "Silent", false, false, {}, [](const CreateParams& p) -> std::unique_ptr<Control> {
         return std::make_unique<ProbeControl>(p);
       }});
}

UnitTemplate button(int32_t id, const char* caption, int left = 10, int top = 10, int32_t parent = 0) {
  ButtonSettings s;
  s.caption = caption;
  return unit(id, kKindButton, s.encode(), left, top, 80, 24, parent);
}

class WindowRuntime : public ::testing::Test {
 protected:
  void SetUp() override { g_probe_action = nullptr; }
  void TearDown() override {
    g_probe_action = nullptr;
    reset_calls();  // handler actions may point into the finished test
    if (is_window_loaded(kWin)) close_window(kWin);
  }
  // Starts with the test kinds registered (runtime_start registers the built-in ones).
  void start_with(std::vector<WindowTemplate> windows) {
    start(std::move(windows));
    register_test_kinds();
  }
};

TEST_F(WindowRuntime, LoadingCreatesUnitsInContainersWithTheZOrderOfTheList) {
  UnitTemplate group = unit(kGroup, kKindGroupBox, GroupBoxSettings().encode(), 0, 100, 300, 150);
  group.children = {kButtonA, kButtonB};
  WindowTemplate w =
      window({button(kButtonA, "A", 10, 20, kGroup), button(kButtonB, "B", 10, 20, kGroup), group});
  w.units[2].state &= ~kStateVisible;
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  QWidget* a = unit_widget(kWin, kButtonA);
  QWidget* b = unit_widget(kWin, kButtonB);
  QWidget* g = unit_widget(kWin, kGroup);
  ASSERT_TRUE(a && b && g);
  EXPECT_EQ(a->parentWidget(), g);
  // Control identifiers in creation order, which runs from the last unit back.
  EXPECT_EQ(g->property("pn_control_id").toInt(), 100);
  EXPECT_EQ(b->property("pn_control_id").toInt(), 110);
  EXPECT_EQ(a->property("pn_control_id").toInt(), 120);
  EXPECT_EQ(a->geometry(), QRect(10, 20, 80, 24));
  // The first listed control is on top: last among its siblings.
  EXPECT_GT(g->children().indexOf(a), g->children().indexOf(b));
  EXPECT_TRUE(a->isVisible());
  EXPECT_FALSE(b->isVisible());
  EXPECT_EQ(static_cast<QPushButton*>(a)->text(), QStringLiteral("A"));
  // Geometry reads live now; the window reads its outer rectangle as stored.
  EXPECT_EQ(get_property(kWin, kButtonA, 1).int_payload(), 20);
  EXPECT_EQ(get_property(kWin, 0, 0).int_payload(), 100);
  EXPECT_EQ(get_property(kWin, 0, 3).int_payload(), 300);
  EXPECT_FALSE(get_property(kWin, kButtonB, 5).int_payload());
  set_property(kWin, kButtonB, 5, -1, Value::of_logical(true));
  EXPECT_TRUE(b->isVisible());
}

TEST_F(WindowRuntime, EventsAfterLoadingComeInOrderAndNotWhileLoading) {
  WindowTemplate w = window({unit(kProbe, kProbeKind, ""), button(kButtonA, "A")});
  w.units[0].bindings = {{0, 0}, {3, 1}, {4, 2}, {10, 3}};
  w.units[2].bindings = {{0, 4}};
  start_with({w});
  // The probe is created while loading, after the button (creation runs last to first).
  g_probe_action = [] { EXPECT_FALSE(fire_event(kWin, kButtonA, 0).ran); };
  ASSERT_TRUE(load_window(kWin));
  EXPECT_EQ(count_calls(4), 0);
  ASSERT_GE(calls().size(), 3u);
  EXPECT_EQ(calls()[0].slot, 0);
  EXPECT_EQ(calls()[1].slot, 1);
  EXPECT_EQ(calls()[2].slot, 2);
  EXPECT_EQ(count_calls(3), 1);  // shown
  // After loading the same event runs its handler, with the event source set.
  QTest::mouseClick(unit_widget(kWin, kButtonA), Qt::LeftButton);
  ASSERT_EQ(count_calls(4), 1);
  EXPECT_EQ(calls().back().source.window_id, kWin);
  EXPECT_EQ(calls().back().source.unit_id, kButtonA);
  EXPECT_EQ(current_event_source().window_id, 0);
}

TEST_F(WindowRuntime, CommonPropertiesBeforeTheControlExistComeFromTheTemplate) {
  UnitTemplate later = button(kButtonA, "A", 11, 22);
  later.width = 33;
  later.height = 44;
  later.tag = "标签";
  start_with({window({later, unit(kProbe, kProbeKind, "")})});
  std::vector<int32_t> seen;
  std::string tag;
  std::string fatal;
  g_probe_action = [&] {
    for (int p = 0; p < 4; ++p) seen.push_back(get_property(kWin, kButtonA, p).int_payload());
    tag = text_of(get_property(kWin, kButtonA, 4));
    fatal = fatal_message([] { (void)get_property(kWin, kButtonA, 8); });
  };
  ASSERT_TRUE(load_window(kWin));
  EXPECT_EQ(seen, (std::vector<int32_t>{11, 22, 33, 44}));
  EXPECT_EQ(tag, "标签");
  EXPECT_EQ(fatal, "读取组件属性时发现指定窗口尚未载入");
}

TEST_F(WindowRuntime, FatalTextsForMissingWindowsUnitsAndEventSources) {
  start_with({window({button(kButtonA, "A"), unit(kProbe, kSilentKind, "")})});
  EXPECT_EQ(fatal_message([] { (void)get_property(kWin, kButtonA, 0); }), "未载入欲访问窗口组件所在的窗口");
  EXPECT_EQ(fatal_message([] { set_property(kWin, kButtonA, 0, -1, Value::of_int(1)); }),
            "未载入欲访问窗口组件所在的窗口");
  EXPECT_EQ(fatal_message([] { (void)find_control(kWin, kButtonA); }), "指定窗口或窗口组件不存在或尚未载入");
  EXPECT_EQ(fatal_message([] { (void)fire_event(kWin, kButtonA, 0); }), "未找到引发事件的窗口");
  ASSERT_TRUE(load_window(kWin));
  EXPECT_EQ(fatal_message([] { (void)fire_event(kWin, 0x16019999, 0); }), "未找到引发事件的窗口组件");
  EXPECT_EQ(fatal_message([] { (void)fire_event(kWin, kProbe, 0); }), "引发事件的窗口组件无效");
  EXPECT_EQ(fatal_message([] { (void)find_control(kWin, 0x16019999); }),
            "指定窗口或窗口组件不存在或尚未载入");
  EXPECT_EQ(fatal_message([] { (void)find_control(kWin, kButtonA); }), "");
  // The report names the window and the control for a window-id location.
  FatalReport r{"x", 0, kWin, kButtonA};
  std::string text = fatal_box_text(r);
  EXPECT_NE(text.find("\"主窗口\""), std::string::npos);
  EXPECT_NE(text.find("\"unit1\""), std::string::npos);
  r.second = 0x16019999;
  EXPECT_NE(fatal_box_text(r).find("未找到所指定的窗口组件"), std::string::npos);
}

TEST_F(WindowRuntime, AFailingUnitUnloadsTheWindow) {
  ButtonSettings s;
  std::string newer = s.encode();
  newer[0] = 2;  // a format version the kind does not know
  start_with({window({button(kButtonA, "A"), unit(kButtonB, kKindButton, newer)})});
  EXPECT_FALSE(load_window(kWin));
  EXPECT_FALSE(is_window_loaded(kWin));
  EXPECT_EQ(fatal_message([] { load_start_window(kWin); }), "载入启动窗口失败");
  EXPECT_EQ(fatal_message([] { load_start_window(0x52019999); }), "载入启动窗口失败");
}

TEST_F(WindowRuntime, MalformedTemplatesAreFatal) {
  std::string bytes = write_templates(TemplateSet{{window()}});
  std::vector<EventHandler> none;
  EXPECT_EQ(fatal_message([&] { runtime_start(bytes.substr(0, bytes.size() - 1), none); }),
            "载入窗口模板数据段出错!");
  // A handler offset beyond the handler table.
  WindowTemplate w = window();
  w.units[0].bindings = {{0, 5}};
  EXPECT_EQ(fatal_message([&] { runtime_start(write_templates(TemplateSet{{w}}), none); }),
            "载入窗口模板数据段出错!");
}

TEST_F(WindowRuntime, SharedBindingsAreFollowedWhileTheKindMatches) {
  UnitTemplate a = button(kButtonA, "A");
  a.shared = kButtonB;
  UnitTemplate b = button(kButtonB, "B", 100);
  b.shared = kGroup;  // a group box: another kind, so the chain stops at B
  b.bindings = {{0, 5}};
  UnitTemplate g = unit(kGroup, kKindGroupBox, "", 0, 100, 200, 100);
  g.bindings = {{0, 6}};
  start_with({window({a, b, g})});
  ASSERT_TRUE(load_window(kWin));
  QTest::mouseClick(unit_widget(kWin, kButtonA), Qt::LeftButton);
  ASSERT_EQ(count_calls(5), 1);
  EXPECT_EQ(count_calls(6), 0);
  EXPECT_EQ(calls().back().source.unit_id, kButtonA);  // the unit that fired, not the one shared
}

TEST_F(WindowRuntime, HandlerArgumentsAndResults) {
  UnitTemplate b = button(kButtonA, "A");
  b.bindings = {{77, 7}, {78, -1}, {79, 15}};  // event 77 never fired by a button; 15 is an empty slot
  start_with({window({b})});
  ASSERT_TRUE(load_window(kWin));
  slot_result(7) = Value::of_int(42);
  EventResult r = fire_event(kWin, kButtonA, 77, {1, -2, 3, 4, 5, 6});
  EXPECT_TRUE(r.ran);
  EXPECT_TRUE(r.has_result);
  EXPECT_EQ(r.result.int_payload(), 42);
  EXPECT_EQ(calls().back().args, (std::vector<int32_t>{1, -2, 3, 4, 5}));
  EXPECT_FALSE(fire_event(kWin, kButtonA, 78).ran);
  EXPECT_FALSE(fire_event(kWin, kButtonA, 79).ran);
  EXPECT_FALSE(fire_event(kWin, kButtonA, 0).ran);
  block_events();
  EXPECT_FALSE(fire_event(kWin, kButtonA, 77).ran);
  unblock_events();
  EXPECT_TRUE(fire_event(kWin, kButtonA, 77).ran);
}

TEST_F(WindowRuntime, NestedEventsRestoreTheOuterEventSource) {
  UnitTemplate a = button(kButtonA, "A");
  a.bindings = {{50, 0}};
  UnitTemplate b = button(kButtonB, "B", 100);
  b.bindings = {{51, 1}};
  start_with({window({a, b})});
  ASSERT_TRUE(load_window(kWin));
  EventSource after_inner;
  slot_action(0) = [&] {
    (void)fire_event(kWin, kButtonB, 51);
    after_inner = current_event_source();
  };
  EXPECT_TRUE(fire_event(kWin, kButtonA, 50).ran);
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_EQ(calls()[1].source.unit_id, kButtonB);
  EXPECT_EQ(after_inner.unit_id, kButtonA);
  EXPECT_EQ(current_event_source().unit_id, 0);
}

TEST_F(WindowRuntime, CloseRefusedByALogicalFalseThenDestroyedWithControlsStillThere) {
  WindowTemplate w = window({button(kButtonA, "A", 10, 10)});
  w.units[0].bindings = {{12, 0}, {1, 1}, {2, 2}};
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  slot_result(1) = Value::of_logical(false);
  close_window(kWin);
  EXPECT_TRUE(is_window_loaded(kWin));
  EXPECT_TRUE(window_widget(kWin)->isVisible());
  EXPECT_EQ(count_calls(0), 1);
  EXPECT_EQ(count_calls(2), 0);
  // An integer 0 is no refusal.
  slot_result(1) = Value::of_int(0);
  int32_t left_during_destroy = -1;
  slot_action(2) = [&] { left_during_destroy = get_property(kWin, kButtonA, 0).int_payload(); };
  close_window(kWin);
  EXPECT_EQ(count_calls(2), 1);
  EXPECT_EQ(left_during_destroy, 10);
  EXPECT_FALSE(is_window_loaded(kWin));
  // Loaded anew after destruction.
  ASSERT_TRUE(load_window(kWin));
  EXPECT_TRUE(is_window_loaded(kWin));
}

TEST_F(WindowRuntime, MenuBarCommandsAndPopup) {
  WindowTemplate w = window({
      menu_item(0x26010001, 0, "文件"),
      menu_item(0x26010002, 1, "打开", 0, 1),
      menu_item(0x26010003, 1, "-"),
      menu_item(0x26010004, 1, "灰", kMenuDisabled, 2),
      menu_item(0x26010005, 0, "隐藏", kMenuHidden),
      menu_item(0x26010006, 1, "删除记录", 0, 3),
      menu_item(0x26010007, 1, "查看备注", kMenuChecked, 4),
  });
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  QMenuBar* bar = window_widget(kWin)->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->actions().size(), 1);  // the hidden item is left out
  EXPECT_TRUE(bar->isVisible());
  QMenu* file = bar->actions()[0]->menu();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->actions().size(), 3);
  EXPECT_TRUE(file->actions()[1]->isSeparator());
  EXPECT_FALSE(file->actions()[2]->isEnabled());
  EXPECT_EQ(file->actions()[0]->data().toInt(), 20001);
  file->actions()[0]->trigger();
  EXPECT_EQ(count_calls(1), 1);
  // Commands by position; beyond the items and from 57600 up nothing happens.
  dispatch_menu_command(kWin, 20005);
  EXPECT_EQ(count_calls(3), 1);
  dispatch_menu_command(kWin, 20007);
  dispatch_menu_command(kWin, 57600);
  dispatch_menu_command(kWin, 19999);
  EXPECT_EQ(calls().size(), 2u);
  // The popup of the hidden item: its children, with their bar numbering and flags.
  QMenu popup;
  ASSERT_TRUE(build_popup_menu(kWin, 0x26010005, &popup));
  ASSERT_EQ(popup.actions().size(), 2);
  EXPECT_EQ(popup.actions()[0]->text(), QStringLiteral("删除记录"));
  EXPECT_EQ(popup.actions()[1]->data().toInt(), 20006);
  EXPECT_TRUE(popup.actions()[1]->isChecked());
  popup.actions()[1]->trigger();
  EXPECT_EQ(count_calls(4), 1);
  EXPECT_FALSE(build_popup_menu(kWin, kButtonA, &popup));
  // Menu item properties, and the bar rebuilt from them.
  EXPECT_EQ(text_of(get_property(kWin, 0x26010002, 0)), "打开");
  EXPECT_TRUE(get_property(kWin, 0x26010007, 1).int_payload());
  EXPECT_TRUE(get_property(kWin, 0x26010004, 2).int_payload());
  EXPECT_FALSE(get_property(kWin, 0x26010005, 3).int_payload());
  set_property(kWin, 0x26010001, 3, -1, Value::of_logical(false));
  EXPECT_TRUE(bar->isHidden());  // no visible item: no strip
  set_property(kWin, 0x26010005, 3, -1, Value::of_logical(true));
  Text caption("新");
  set_property(kWin, 0x26010005, 0, -1, caption.value());
  ASSERT_EQ(bar->actions().size(), 1);
  EXPECT_EQ(bar->actions()[0]->text(), QStringLiteral("新"));
}

TEST_F(WindowRuntime, MenuShortcutsWorkEvenForHiddenItems) {
  UnitTemplate open = menu_item(0x26010002, 1, "打开", 0, 1);
  open.shortcut = 1;  // Ctrl+A
  UnitTemplate hidden = menu_item(0x26010003, 0, "隐藏", kMenuHidden, 2);
  hidden.shortcut = 28;  // F2
  start_with({window({menu_item(0x26010001, 0, "文件"), open, hidden})});
  ASSERT_TRUE(load_window(kWin));
  QWidget* top = window_widget(kWin);
  top->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(top));
  QMenuBar* bar = top->findChild<QMenuBar*>();
  EXPECT_EQ(bar->actions()[0]->menu()->actions()[0]->text(), QStringLiteral("打开\tCtrl+A"));
  QTest::keyClick(top, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(count_calls(1), 1);
  QTest::keyClick(top, Qt::Key_F2);
  EXPECT_EQ(count_calls(2), 1);
}

TEST_F(WindowRuntime, NoVisibleMenuItemTakesNoClientSpace) {
  WindowTemplate w = window({menu_item(0x26010001, 0, "菜单", kMenuHidden), button(kButtonA, "A", 0, 0)});
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  QWidget* a = unit_widget(kWin, kButtonA);
  EXPECT_EQ(a->mapTo(window_widget(kWin), QPoint(0, 0)), QPoint(0, 0));
}

TEST_F(WindowRuntime, WindowSettingsAndCentring) {
  WindowSettings s;
  s.caption = "居中";
  s.position = 1;
  WindowTemplate w = window();
  w.units[0].settings = s.encode();
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(get_property(kWin, 0, 0).int_payload(), (screen.width() - 400) / 2);
  EXPECT_EQ(get_property(kWin, 0, 1).int_payload(), (screen.height() - 300) / 2);
  EXPECT_EQ(get_property(kWin, 0, 2).int_payload(), 400);
  EXPECT_EQ(text_of(get_property(kWin, 0, 8)), "居中");
  EXPECT_EQ(window_widget(kWin)->windowTitle(), QStringLiteral("居中"));
  Text t("改");
  set_property(kWin, 0, 8, -1, t.value());
  EXPECT_EQ(window_widget(kWin)->windowTitle(), QStringLiteral("改"));
  EXPECT_EQ(get_property(kWin, 0, 9).int_payload(), 2);   // fixed border
  EXPECT_EQ(get_property(kWin, 0, 18).int_payload(), 0);  // shown normally
  // A fixed window keeps its size; a choice written negative becomes 0 (no border).
  set_property(kWin, 0, 9, -1, Value::of_int(-5));
  EXPECT_EQ(get_property(kWin, 0, 9).int_payload(), 0);
  EXPECT_EQ(get_property(kWin, 0, 2).int_payload(), 400);
}

TEST_F(WindowRuntime, WindowKeptOutOfTheTaskBarIsOwnedByTheHiddenOwner) {
  WindowSettings s;
  s.taskbar = false;
  s.position = 0;
  s.border = 3;  // thin, resizable
  WindowTemplate w = window();
  w.units[0].settings = s.encode();
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  QWidget* top = window_widget(kWin);
  EXPECT_TRUE(top->isVisible());
  ASSERT_NE(top->parentWidget(), nullptr);
  EXPECT_EQ(top->parentWidget()->objectName(), QStringLiteral("_QZ_HideOwner"));
  EXPECT_FALSE(top->parentWidget()->isVisible());
  EXPECT_TRUE(top->windowFlags() & Qt::Tool);
  // The outer rectangle stays as stored whatever the frame.
  EXPECT_EQ(get_property(kWin, 0, 0).int_payload(), 100);
  EXPECT_EQ(get_property(kWin, 0, 3).int_payload(), 300);
  EXPECT_LT(top->height(), 300);
}

TEST_F(WindowRuntime, FontSubFields) {
  start_with({window({button(kButtonA, "A")})});
  ASSERT_TRUE(load_window(kWin));
  set_property(kWin, kButtonA, 13, 5, Value::of_int(18));
  set_property(kWin, kButtonA, 13, 1, Value::of_logical(true));
  EXPECT_EQ(get_property(kWin, kButtonA, 13, 5).int_payload(), 18);
  EXPECT_TRUE(get_property(kWin, kButtonA, 13, 1).int_payload());
  EXPECT_EQ(unit_widget(kWin, kButtonA)->font().pixelSize(), 24);
  EXPECT_EQ(unit_widget(kWin, kButtonA)->font().weight(), QFont::Bold);
  Text empty;
  set_property(kWin, kButtonA, 13, 6, empty.value());
  EXPECT_EQ(text_of(get_property(kWin, kButtonA, 13, 6)), "宋体");
  set_property(kWin, kButtonA, 13, 0, Value::of_int(3700));
  EXPECT_EQ(get_property(kWin, kButtonA, 13, 0).int_payload(), 100);
}

TEST_F(WindowRuntime, WorkerThreadsReachPropertiesAndTheLoopEndsWithTheLastWindow) {
  WindowTemplate w = window({button(kButtonA, "A", 10, 10)});
  start_with({w});
  ASSERT_TRUE(load_window(kWin));
  std::atomic<bool> stop{false};
  std::atomic<int32_t> seen{-1};
  std::thread worker([&] {
    seen = get_property(kWin, kButtonA, 0).int_payload();
    set_property(kWin, kButtonA, 0, -1, Value::of_int(30));
    close_window(kWin);
    while (!stop) std::this_thread::yield();  // still running when the loop ends
  });
  run_message_loop();
  EXPECT_FALSE(is_window_loaded(kWin));
  stop = true;
  worker.join();
  EXPECT_EQ(seen, 10);
  run_message_loop();  // no window: returns at once
}

TEST_F(WindowRuntime, IdleCallbacksRunEachTimeTheLoopFallsIdle) {
  start_with({window(), window({}, 0x52010002)});
  ASSERT_TRUE(load_window(kWin));
  ASSERT_TRUE(load_window(0x52010002));
  static std::vector<int> order;
  order.clear();
  // Registered first, called second; a callback of a window that is gone is dropped.
  add_idle_callback(
      0x52010002, [](intptr_t) { order.push_back(2); }, 0);
  add_idle_callback(
      kWin,
      [](intptr_t) {
        order.push_back(1);
        if (order.size() < 6)
          post_to_ui_thread([] {});  // wakes the loop: it falls idle again
        else
          close_window(0x52010002);
      },
      0);
  std::thread closer([] {
    while (true) {
      bool done = false;
      run_on_ui_thread([&] { done = !is_window_loaded(0x52010002) && order.size() >= 8; });
      if (done) break;
      std::this_thread::yield();
    }
    close_window(kWin);
  });
  run_message_loop();
  closer.join();
  ASSERT_GE(order.size(), 8u);
  EXPECT_EQ(order[0], 1);
  EXPECT_EQ(order[1], 2);
  // After the second window went only the first one's callback runs.
  EXPECT_EQ(order[order.size() - 1], 1);
  EXPECT_EQ(order[order.size() - 2], 1);
}

TEST_F(WindowRuntime, UnitReferences) {
  start_with({window({button(kButtonA, "A")})});
  Value ref = unit_reference(kWin, kButtonA);
  EXPECT_EQ(ref.kind, kKindButton);
  int32_t w = 0, u = 0;
  ASSERT_TRUE(read_unit_reference(ref, &w, &u));
  EXPECT_EQ(w, kWin);
  EXPECT_EQ(u, kButtonA);
  EXPECT_EQ(unit_reference(kWin, 0).kind, kKindWindow);
  EXPECT_FALSE(read_unit_reference(Value::of_int(5), &w, &u));
}

}  // namespace
}  // namespace pennacle
