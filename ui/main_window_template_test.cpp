// The carried main window: the template bytes against the layout unit by unit, then the live
// window (geometry, fonts, columns, panes, the hidden menu, bindings) and a screenshot.
#include "ui/main_window_template.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include "ui/kinds/basic_kinds.h"
#include "ui/kinds/list_view.h"
#include "ui/kinds/window_kind.h"
#include "ui/template/kind_settings.h"
#include "ui/template/list_view_settings.h"
#include "ui/test_support.h"
#include "ui/testing/message_box_watcher.h"
#include "ui/ui_commands.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
using testing_support::PopupMenuWatcher;

struct Expected {
  int32_t id;
  uint32_t kind;
  const char* name;
  int32_t parent;
  int32_t left, top, width, height;
  bool tab_stop;
};

// Units 4 to 17 of the main window, in template order.
const Expected kControls[] = {
    {kUnitSummaryButton, kKindButton, "按钮2", kUnitGroupBox, 360, 104, 136, 56, true},
    {kUnitAddButton, kKindButton, "按钮1", kUnitGroupBox, 360, 24, 136, 64, true},
    {kUnitRemarkEdit, kKindEditBox, "编辑框_备注", kUnitGroupBox, 96, 80, 240, 80, true},
    {kUnitRemarkLabel, kKindTransLabel, "透明标签4", kUnitGroupBox, 56, 72, 40, 24, false},
    {kUnitPaymentCombo, kKindComboBox, "组合框_收付款方式", kUnitGroupBox, 96, 50, 240, 20, true},
    {kUnitPaymentLabel, kKindTransLabel, "透明标签3", kUnitGroupBox, 16, 48, 80, 24, false},
    {kUnitAmountEdit, kKindEditBox, "编辑框_金额", kUnitGroupBox, 240, 17, 96, 24, true},
    {kUnitAmountLabel, kKindTransLabel, "透明标签2", kUnitGroupBox, 200, 16, 40, 24, false},
    {kUnitTypeCombo, kKindComboBox, "组合框_类型", kUnitGroupBox, 96, 19, 96, 20, true},
    {kUnitTypeLabel, kKindTransLabel, "透明标签1", kUnitGroupBox, 64, 16, 40, 24, false},
    {kUnitGroupBox, kKindGroupBox, "分组框1", 0, 0, 297, 512, 176, false},
    {kUnitRecordList, kKindListView, "超级列表框1", 0, 0, 41, 512, 256, true},
    {kUnitDateLabel, kKindTransLabel, "透明标签_本日时间", 0, 0, -8, 512, 56, false},
    {kUnitStatusBar, kKindStatusBar, "状态条1", 0, 0, 498, 582, 20, false},
};

WindowTemplate carried() {
  auto set = read_templates(main_window_templates());
  EXPECT_TRUE(set.has_value());
  if (!set || set->windows.size() != 1) return {};
  return set->windows[0];
}

TEST(MainWindowTemplate, CarriedBytesAreTheLayout) {
  auto set = read_templates(main_window_templates());
  ASSERT_TRUE(set.has_value());
  EXPECT_TRUE(*set == main_window_template_set());
  ASSERT_EQ(set->windows.size(), 1u);
  EXPECT_EQ(set->windows[0].id, 0x52010001);
  EXPECT_EQ(set->windows[0].units.size(), 18u);
}

TEST(MainWindowTemplate, WindowAndMenuUnits) {
  const WindowTemplate w = carried();
  ASSERT_EQ(w.units.size(), 18u);
  const UnitTemplate& win = w.units[0];
  EXPECT_EQ(win.id, 0x06010000);
  EXPECT_EQ(win.kind, kKindWindow);
  EXPECT_EQ((std::vector<int32_t>{win.left, win.top, win.width, win.height}),
            (std::vector<int32_t>{50, 50, 520, 524}));
  EXPECT_EQ(win.bindings, (std::vector<Binding>{{0, kSlotMainWindowCreated}, {2, kSlotMainWindowDestroyed}}));
  auto ws = WindowSettings::decode(win.settings);
  ASSERT_TRUE(ws.has_value());
  EXPECT_EQ(ws->caption, "Pennacle");
  EXPECT_EQ(ws->border, 2);
  EXPECT_EQ(ws->position, 1);
  EXPECT_TRUE(ws->control_box);
  EXPECT_FALSE(ws->minimize_box);
  EXPECT_FALSE(ws->maximize_box);
  EXPECT_TRUE(ws->movable);
  EXPECT_TRUE(ws->taskbar);
  EXPECT_FALSE(ws->topmost);
  EXPECT_EQ(ws->background, kColourButtonFace);
  EXPECT_TRUE(ws->class_name.empty());
  EXPECT_FALSE(ws->flag21 || ws->flag22 || ws->flag23 || ws->flag27 || ws->flag30);

  struct Menu {
    int32_t id;
    const char* caption;
    int32_t level, flags, handler;
  } menus[] = {{kUnitMenu, "菜单", 0, kMenuHidden, kNoHandler},
               {kUnitDeleteRecord, "删除记录", 1, 0, kSlotDeleteRecordClick},
               {kUnitViewRemark, "查看备注", 1, 0, kSlotViewRemarkClick}};
  for (int i = 0; i < 3; ++i) {
    const UnitTemplate& u = w.units[size_t(i + 1)];
    EXPECT_EQ(u.id, menus[i].id);
    EXPECT_EQ(u.kind, kKindMenu);
    EXPECT_EQ(u.caption, menus[i].caption);
    EXPECT_EQ(u.level, menus[i].level);
    EXPECT_EQ(u.menu_flags, menus[i].flags);
    EXPECT_EQ(u.handler, menus[i].handler);
  }
}

TEST(MainWindowTemplate, ControlUnitsOneByOne) {
  const WindowTemplate w = carried();
  ASSERT_EQ(w.units.size(), 18u);
  for (size_t i = 0; i < std::size(kControls); ++i) {
    const Expected& e = kControls[i];
    const UnitTemplate& u = w.units[i + 4];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(u.id, e.id);
    EXPECT_EQ(u.kind, e.kind);
    EXPECT_EQ(u.name, e.name);
    EXPECT_EQ(u.parent, e.parent);
    EXPECT_EQ((std::vector<int32_t>{u.left, u.top, u.width, u.height}),
              (std::vector<int32_t>{e.left, e.top, e.width, e.height}));
    EXPECT_EQ(u.state, kStateVisible | (e.tab_stop ? kStateTabStop : 0));
    EXPECT_TRUE(u.tag.empty());
    EXPECT_TRUE(u.cursor.empty());
  }
  // The group box holds exactly units 4 to 13, in template order.
  const UnitTemplate* group = w.find(kUnitGroupBox);
  ASSERT_NE(group, nullptr);
  std::vector<int32_t> inside;
  for (size_t i = 4; i <= 13; ++i) inside.push_back(w.units[i].id);
  EXPECT_EQ(group->children, inside);
  // Tab order follows the template order.
  int last = 0;
  for (size_t i = 4; i < w.units.size(); ++i) {
    EXPECT_GT(w.units[i].tab, last);
    last = w.units[i].tab;
  }
  // Bindings: only the two buttons and the list's right click.
  for (const UnitTemplate& u : w.units) {
    std::vector<Binding> want;
    if (u.id == kUnitAddButton) want = {{0, kSlotAddRecordClick}};
    if (u.id == kUnitSummaryButton) want = {{0, kSlotSummaryClick}};
    if (u.id == kUnitRecordList) want = {{5, kSlotRecordListRightClick}};
    if (u.id == kUnitMainWindow) continue;
    EXPECT_EQ(u.bindings, want) << u.name;
  }
}

TEST(MainWindowTemplate, ControlSettings) {
  const WindowTemplate w = carried();
  ASSERT_EQ(w.units.size(), 18u);
  auto b1 = ButtonSettings::decode(w.find(kUnitAddButton)->settings);
  auto b2 = ButtonSettings::decode(w.find(kUnitSummaryButton)->settings);
  ASSERT_TRUE(b1 && b2);
  EXPECT_EQ(b1->caption, "添加记录");
  EXPECT_EQ(b2->caption, "生成信息");
  for (const auto& b : {*b1, *b2}) {
    EXPECT_EQ(b.type, 0);
    EXPECT_EQ(b.h_align, 1);
    EXPECT_EQ(b.v_align, 1);
    EXPECT_TRUE(b.font.empty());
  }
  auto remark = EditBoxSettings::decode(w.find(kUnitRemarkEdit)->settings);
  ASSERT_TRUE(remark);
  EXPECT_TRUE(remark->multi_line);
  EXPECT_EQ(remark->scroll_bars, 2);
  EXPECT_EQ(remark->alignment, 0);
  EXPECT_EQ(remark->input_mode, kInputNormal);
  EXPECT_EQ(remark->border, 1);
  EXPECT_TRUE(remark->hide_selection);
  EXPECT_EQ(remark->max_length, 0);
  auto amount = EditBoxSettings::decode(w.find(kUnitAmountEdit)->settings);
  ASSERT_TRUE(amount);
  EXPECT_FALSE(amount->multi_line);
  EXPECT_EQ(amount->alignment, 1);
  EXPECT_EQ(amount->input_mode, kInputDecimalText);
  EXPECT_EQ(amount->border, 1);
  auto payment = ComboBoxSettings::decode(w.find(kUnitPaymentCombo)->settings);
  ASSERT_TRUE(payment);
  EXPECT_EQ(payment->type, 1);
  EXPECT_EQ(payment->items, (std::vector<std::string>{"支付宝", "微信", "股票", "基金", "QQ钱包", "银行卡"}));
  EXPECT_EQ(payment->current, -1);
  EXPECT_TRUE(payment->content.empty());
  EXPECT_FALSE(payment->sorted);
  EXPECT_EQ(payment->extra_height, 1);
  auto type = ComboBoxSettings::decode(w.find(kUnitTypeCombo)->settings);
  ASSERT_TRUE(type);
  EXPECT_EQ(type->type, 2);
  EXPECT_EQ(type->items, (std::vector<std::string>{"支出", "收入"}));
  EXPECT_EQ(type->current, 0);
}

TEST(MainWindowTemplate, LabelAndGroupSettings) {
  const WindowTemplate w = carried();
  ASSERT_EQ(w.units.size(), 18u);
  struct Label {
    int32_t id;
    const char* caption;
  } labels[] = {{kUnitTypeLabel, "类型:"},
                {kUnitAmountLabel, "金额:"},
                {kUnitPaymentLabel, "付/收款方式:"},
                {kUnitRemarkLabel, "备注:"}};
  for (const Label& l : labels) {
    auto s = TransLabelSettings::decode(w.find(l.id)->settings);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->caption, l.caption);
    EXPECT_EQ(s->h_align, 0);
    EXPECT_EQ(s->v_align, 1);
    EXPECT_TRUE(s->font.empty());
  }
  auto date = TransLabelSettings::decode(w.find(kUnitDateLabel)->settings);
  ASSERT_TRUE(date);
  EXPECT_TRUE(date->caption.empty());
  EXPECT_EQ(date->h_align, 1);
  auto date_font = LogFont::decode(date->font);
  ASSERT_TRUE(date_font);
  EXPECT_EQ(date_font->height, -24);
  EXPECT_EQ(date_font->weight, 400);
  EXPECT_EQ(date_font->charset, 134);
  EXPECT_TRUE(date_font->face.empty());
  auto group = GroupBoxSettings::decode(w.find(kUnitGroupBox)->settings);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->caption, "操作");
  EXPECT_EQ(group->alignment, 0);
}

TEST(MainWindowTemplate, ListAndStatusBarSettings) {
  const WindowTemplate w = carried();
  ASSERT_EQ(w.units.size(), 18u);
  auto list = ListViewSettings::decode(w.find(kUnitRecordList)->settings);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->view, kListViewReport);
  EXPECT_FALSE(list->hide_header);
  EXPECT_FALSE(list->clickable_header);
  EXPECT_TRUE(list->full_row_select);
  EXPECT_TRUE(list->grid_lines);
  EXPECT_TRUE(list->single_selection);
  EXPECT_EQ(list->border, 0);
  EXPECT_FALSE(list->check_boxes || list->hot_tracking || list->label_editing);
  EXPECT_EQ(list->sorting, 0);
  EXPECT_EQ(list->text_colour, 0u);
  EXPECT_EQ(list->background, kColourWhite);
  EXPECT_TRUE(list->row_images.empty() && list->header_images.empty() && list->state_images.empty());
  EXPECT_TRUE(list->initial_rows.empty());
  auto list_font = LogFont::decode(list->font);
  ASSERT_TRUE(list_font);
  EXPECT_EQ(list_font->height, -14);
  EXPECT_EQ(list_font->weight, 400);
  EXPECT_EQ(list_font->charset, 134);
  EXPECT_EQ(list->columns, (std::vector<ListColumn>{{false, -1, 0, 70, "序号"},
                                                    {false, -1, 0, 80, "类型"},
                                                    {false, -1, 0, 70, "金额"},
                                                    {false, -1, 0, 96, "付款方式"},
                                                    {false, -1, 0, 190, "时间"},
                                                    {false, -1, 0, 0, "备注"}}));

  auto bar = StatusBarSettings::decode(w.find(kUnitStatusBar)->settings);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->position, 0);
  EXPECT_FALSE(bar->size_grip);
  EXPECT_EQ(bar->background, kColourButtonFace);
  EXPECT_EQ(bar->panes, (std::vector<StatusPane>{{90, 0, -1, "本日记录:", ""},
                                                 {80, 0, -1, "", ""},
                                                 {90, 0, -1, "本月记录:", ""},
                                                 {80, 0, -1, "", ""},
                                                 {90, 0, -1, "年度记录:", ""},
                                                 {80, 0, -1, "", ""}}));
}

// ---- The live window ----------------------------------------------------------------------------

class MainWindowLive : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_calls();
    MainWindowHandlers h;
    h.created = slot<kSlotMainWindowCreated>;
    h.destroyed = slot<kSlotMainWindowDestroyed>;
    h.add_record_click = slot<kSlotAddRecordClick>;
    h.summary_click = slot<kSlotSummaryClick>;
    h.record_list_right_click = slot<kSlotRecordListRightClick>;
    h.delete_record_click = slot<kSlotDeleteRecordClick>;
    h.view_remark_click = slot<kSlotViewRemarkClick>;
    start_main_window_runtime(h);
    ASSERT_TRUE(load_window(kMainWindowId));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  void TearDown() override {
    if (is_window_loaded(kMainWindowId)) close_window(kMainWindowId);
  }
  static QWidget* w(int32_t unit) { return unit_widget(kMainWindowId, unit); }
};

TEST_F(MainWindowLive, FixedCentredWindowWithoutMenuStrip) {
  EXPECT_EQ(count_calls(kSlotMainWindowCreated), 1);
  QWidget* win = window_widget(kMainWindowId);
  ASSERT_NE(win, nullptr);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  Value left = get_property(kMainWindowId, 0, 0), top = get_property(kMainWindowId, 0, 1);
  EXPECT_EQ(left.int_payload(), (screen.width() - 520) / 2);
  EXPECT_EQ(top.int_payload(), (screen.height() - 524) / 2);
  EXPECT_EQ(get_property(kMainWindowId, 0, 2).int_payload(), 520);
  EXPECT_EQ(get_property(kMainWindowId, 0, 3).int_payload(), 524);
  EXPECT_EQ(win->minimumSize(), win->maximumSize());
  EXPECT_FALSE(win->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(win->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(text_of(get_property(kMainWindowId, 0, 8)), "Pennacle");
  // The only top-level menu item is hidden: no menu strip, no entry.
  for (QMenuBar* bar : win->findChildren<QMenuBar*>()) {
    EXPECT_FALSE(bar->isVisible());
    for (QAction* a : bar->actions()) EXPECT_FALSE(a->isVisible());
  }
  // So every control sits at its layout coordinates in the client area.
  EXPECT_EQ(w(kUnitRecordList)->mapTo(win, QPoint(0, 0)), QPoint(0, 41));
  EXPECT_EQ(w(kUnitGroupBox)->mapTo(win, QPoint(0, 0)), QPoint(0, 297));
  EXPECT_EQ(w(kUnitDateLabel)->mapTo(win, QPoint(0, 0)), QPoint(0, -8));
}

TEST_F(MainWindowLive, ControlsAtTheirPlacesWithTheirFontsAndTexts) {
  for (const Expected& e : kControls) {
    if (e.id == kUnitStatusBar) continue;
    SCOPED_TRACE(e.name);
    QWidget* c = w(e.id);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isVisible());
    EXPECT_EQ(c->geometry().topLeft(), QPoint(e.left, e.top));
    EXPECT_EQ(c->width(), e.width);
    if (e.kind != kKindComboBox) {
      EXPECT_EQ(c->height(), e.height);
    }
    EXPECT_EQ(c->parentWidget() == w(kUnitGroupBox) || c->parentWidget()->parentWidget() == w(kUnitGroupBox),
              e.parent == kUnitGroupBox);
  }
  // The status bar docks itself along the bottom edge.
  QWidget* bar = w(kUnitStatusBar);
  EXPECT_EQ(bar->geometry().bottom(), bar->parentWidget()->height() - 1);
  EXPECT_EQ(bar->width(), bar->parentWidget()->width());
  const char* panes[] = {"本日记录:", "", "本月记录:", "", "年度记录:", ""};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(status_pane_text(kMainWindowId, kUnitStatusBar, i), panes[i]);

  EXPECT_EQ(w(kUnitDateLabel)->font().pixelSize(), 24);
  EXPECT_EQ(w(kUnitRecordList)->font().pixelSize(), 14);
  EXPECT_EQ(qobject_cast<QAbstractButton*>(w(kUnitAddButton))->text(), QStringLiteral("添加记录"));
  EXPECT_EQ(qobject_cast<QAbstractButton*>(w(kUnitSummaryButton))->text(), QStringLiteral("生成信息"));
  EXPECT_EQ(text_of(get_property(kMainWindowId, kUnitGroupBox, 8)), "操作");
  EXPECT_EQ(text_of(get_property(kMainWindowId, kUnitPaymentLabel, 8)), "付/收款方式:");
  EXPECT_EQ(get_property(kMainWindowId, kUnitTypeCombo, 19).int_payload(), 0);
  EXPECT_EQ(text_of(get_property(kMainWindowId, kUnitTypeCombo, 9)), "支出");
  EXPECT_EQ(get_property(kMainWindowId, kUnitPaymentCombo, 19).int_payload(), -1);
  auto* payment = w(kUnitPaymentCombo)->findChild<QComboBox*>();
  if (!payment) payment = qobject_cast<QComboBox*>(w(kUnitPaymentCombo));
  ASSERT_NE(payment, nullptr);
  EXPECT_TRUE(payment->isEditable());
  EXPECT_EQ(payment->count(), 6);
  EXPECT_EQ(payment->itemText(4), QStringLiteral("QQ钱包"));

  auto* list = qobject_cast<QTableView*>(w(kUnitRecordList));
  ASSERT_NE(list, nullptr);
  QHeaderView* h = list->horizontalHeader();
  EXPECT_TRUE(h->isVisible());
  const int widths[] = {70, 80, 70, 96, 190};
  const char16_t* titles[] = {u"序号", u"类型", u"金额", u"付款方式", u"时间", u"备注"};
  ASSERT_EQ(list->model()->columnCount(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(list->model()->headerData(i, Qt::Horizontal).toString(), QString::fromUtf16(titles[i]));
    if (i < 5) {
      EXPECT_EQ(h->sectionSize(i), widths[i]);
    }
  }
  EXPECT_TRUE(h->isSectionHidden(5));
  EXPECT_EQ(h->count() - h->hiddenSectionCount(), 5);
  EXPECT_TRUE(list->showGrid());
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(MainWindowLive, BindingsReachTheirHandlers) {
  QTest::mouseClick(w(kUnitAddButton), Qt::LeftButton);
  EXPECT_EQ(count_calls(kSlotAddRecordClick), 1);
  QTest::mouseClick(w(kUnitSummaryButton), Qt::LeftButton);
  EXPECT_EQ(count_calls(kSlotSummaryClick), 1);
  EXPECT_EQ(count_calls(kSlotAddRecordClick), 1);

  // The right-click handler pops up 菜单 as the application does; the popup shows its two items
  // even though 菜单 itself is hidden, and the chosen one reaches the window as a menu event.
  slot_action(kSlotRecordListRightClick) = [] {
    call_command(show_popup_menu,
                 {unit_reference(kMainWindowId, kUnitMainWindow), unit_reference(kMainWindowId, kUnitMenu)});
  };
  PopupMenuWatcher menus;
  menus.choose(QStringLiteral("删除记录"));
  auto* list = qobject_cast<QTableView*>(w(kUnitRecordList));
  // On an empty part of the list: no row there at all.
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(20, list->viewport()->height() - 10));
  QCoreApplication::processEvents();
  EXPECT_EQ(count_calls(kSlotRecordListRightClick), 1);
  ASSERT_EQ(menus.menus().size(), 1u);
  EXPECT_EQ(menus.menus()[0].entries, (QStringList{QStringLiteral("删除记录"), QStringLiteral("查看备注")}));
  EXPECT_EQ(count_calls(kSlotDeleteRecordClick), 1);
  EXPECT_EQ(count_calls(kSlotViewRemarkClick), 0);
  for (const Call& c : calls()) {
    if (c.slot != kSlotDeleteRecordClick) continue;
    EXPECT_EQ(c.source.unit_id, kUnitDeleteRecord);
  }

  menus.choose(QStringLiteral("查看备注"));
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(20, 20));
  QCoreApplication::processEvents();
  EXPECT_EQ(count_calls(kSlotViewRemarkClick), 1);
  EXPECT_EQ(count_calls(kSlotDeleteRecordClick), 1);

  close_window(kMainWindowId);
  QCoreApplication::processEvents();
  EXPECT_EQ(count_calls(kSlotMainWindowDestroyed), 1);
}

TEST_F(MainWindowLive, Screenshot) {
  set_property(kMainWindowId, kUnitDateLabel, 8, -1, Text("2026年12月8日 星期二 09:30:00").value());
  const Value list = unit_reference(kMainWindowId, kUnitRecordList);
  const char* rows[][6] = {{"1", "支出", "12.5", "支付宝", "2026-12-08 09:12:40", "午饭"},
                           {"2", "收入", "3000", "银行卡", "2026-12-08 09:20:03", "工资"}};
  for (const auto& row : rows) {
    Value r = call_command(list_insert_row, {list});
    for (int c = 0; c < 6; ++c) {
      Text t(row[c]);
      call_command(list_set_cell_text, {list, r, Value::of_int(c), t.value()});
    }
  }
  status_set_pane_text(kMainWindowId, kUnitStatusBar, 1, "2");
  status_set_pane_text(kMainWindowId, kUnitStatusBar, 3, "2");
  status_set_pane_text(kMainWindowId, kUnitStatusBar, 5, "2");
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const QPixmap shot = window_widget(kMainWindowId)->grab();
  EXPECT_EQ(shot.width(), window_widget(kMainWindowId)->width());
  const QString path = QStringLiteral(SCREENSHOT_DIR "/main_window.png");
  EXPECT_TRUE(shot.save(path)) << path.toStdString();
}

// Without a skin the caption "操作" sits on the frame's top line a few pixels in, the line broken
// behind it: the line shows left of the caption, and no ink of the caption reaches the left edge.
TEST_F(MainWindowLive, TheGroupBoxCaptionSitsOnItsFrameLine) {
  QWidget* box = w(kUnitGroupBox);
  ASSERT_NE(box, nullptr);
  const QImage image = box->grab().toImage();
  const int line = QFontMetrics(box->font()).height() / 2;
  const QColor ground = box->palette().color(QPalette::Window);
  const auto ink = [&](int x, int y) { return qGray(image.pixel(x, y)) < qGray(ground.rgb()) - 40; };
  bool line_left_of_caption = false;
  for (int y = line - 1; y <= line + 1; ++y) line_left_of_caption |= ink(2, y);
  EXPECT_TRUE(line_left_of_caption) << "no frame line at the caption's middle";
  int caption_left = image.width(), caption_right = -1;
  for (int y = 0; y < line - 1; ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (!ink(x, y)) continue;
      caption_left = std::min(caption_left, x);
      caption_right = std::max(caption_right, x);
    }
  }
  ASSERT_GE(caption_right, 0) << "no caption above the line";
  EXPECT_GE(caption_left, 4);
  EXPECT_LT(caption_right, image.width() / 2) << "a left-aligned caption";
  // Right of the caption the line runs on.
  bool line_right_of_caption = false;
  for (int y = line - 1; y <= line + 1; ++y) line_right_of_caption |= ink(caption_right + 12, y);
  EXPECT_TRUE(line_right_of_caption);
}

}  // namespace
}  // namespace pennacle
