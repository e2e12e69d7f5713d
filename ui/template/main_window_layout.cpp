#include "ui/template/main_window_layout.h"

#include <string>
#include <utility>

#include "ui/template/kind_settings.h"
#include "ui/template/list_view_settings.h"
#include "ui/template/unit_events.h"

namespace pennacle {
namespace {

// A font of the given character height, weight 400, GB2312 character set, no face name.
std::string gb2312_font(int32_t pixels) {
  LogFont f;
  f.height = -pixels;
  f.weight = 400;
  f.charset = 134;
  return f.encode();
}

UnitTemplate control(int32_t id, uint32_t kind, const char* name, int32_t parent, int32_t left, int32_t top,
                     int32_t width, int32_t height, bool tab_stop, std::string settings) {
  UnitTemplate u;
  u.id = id;
  u.kind = kind;
  u.name = name;
  u.parent = parent;
  u.left = left;
  u.top = top;
  u.width = width;
  u.height = height;
  u.state = kStateVisible | (tab_stop ? kStateTabStop : 0);
  u.settings = std::move(settings);
  return u;
}

UnitTemplate menu_item(int32_t id, const char* name, int32_t level, int32_t flags, int32_t handler) {
  UnitTemplate u;
  u.id = id;
  u.kind = kKindMenu;
  u.name = name;
  u.caption = name;
  u.level = level;
  u.menu_flags = flags;
  u.handler = handler;
  return u;
}

std::string label(const char* caption) {
  TransLabelSettings s;
  s.caption = caption;
  return s.encode();
}

std::string button(const char* caption) {
  ButtonSettings s;
  s.caption = caption;
  return s.encode();
}

UnitTemplate window_unit() {
  WindowSettings ws;
  ws.caption = "Pennacle";
  ws.border = 2;  // fixed single frame
  ws.background = kColourButtonFace;
  ws.control_box = true;
  ws.maximize_box = false;
  ws.minimize_box = false;
  ws.position = 1;  // centred; the stored left and top are not used
  ws.movable = true;
  ws.taskbar = true;
  ws.topmost = false;
  ws.flag21 = ws.flag22 = ws.flag23 = ws.flag27 = ws.flag30 = false;
  UnitTemplate win = control(kUnitMainWindow, kKindWindow, "主窗口", 0, 50, 50, 520, 524, false, ws.encode());
  win.bindings = {{kWindowCreated, kSlotMainWindowCreated}, {kWindowDestroyed, kSlotMainWindowDestroyed}};
  return win;
}

// The buttons of the entry area.
void add_buttons(std::vector<UnitTemplate>& units) {
  UnitTemplate b2 = control(kUnitSummaryButton, kKindButton, "按钮2", kUnitGroupBox, 360, 104, 136, 56, true,
                            button("生成信息"));
  b2.bindings = {{kButtonClicked, kSlotSummaryClick}};
  units.push_back(std::move(b2));
  UnitTemplate b1 = control(kUnitAddButton, kKindButton, "按钮1", kUnitGroupBox, 360, 24, 136, 64, true,
                            button("添加记录"));
  b1.bindings = {{kButtonClicked, kSlotAddRecordClick}};
  units.push_back(std::move(b1));
}

// The remark and the payment method with their labels.
void add_remark_and_method(std::vector<UnitTemplate>& units) {
  EditBoxSettings remark;
  remark.multi_line = true;
  remark.scroll_bars = 2;  // vertical only
  remark.border = 1;
  remark.hide_selection = true;
  units.push_back(control(kUnitRemarkEdit, kKindEditBox, "编辑框_备注", kUnitGroupBox, 96, 80, 240, 80, true,
                          remark.encode()));
  units.push_back(control(kUnitRemarkLabel, kKindTransLabel, "透明标签4", kUnitGroupBox, 56, 72, 40, 24,
                          false, label("备注:")));
  ComboBoxSettings payment;
  payment.type = 1;  // editable drop-down
  payment.items = {"支付宝", "微信", "股票", "基金", "QQ钱包", "银行卡"};
  payment.current = -1;
  units.push_back(control(kUnitPaymentCombo, kKindComboBox, "组合框_收付款方式", kUnitGroupBox, 96, 50, 240,
                          20, true, payment.encode()));
  units.push_back(control(kUnitPaymentLabel, kKindTransLabel, "透明标签3", kUnitGroupBox, 16, 48, 80, 24,
                          false, label("付/收款方式:")));
}

// The amount and the type with their labels.
void add_amount_and_type(std::vector<UnitTemplate>& units) {
  EditBoxSettings amount;
  amount.alignment = 1;
  amount.input_mode = kInputDecimalText;
  amount.border = 1;
  units.push_back(control(kUnitAmountEdit, kKindEditBox, "编辑框_金额", kUnitGroupBox, 240, 17, 96, 24, true,
                          amount.encode()));
  units.push_back(control(kUnitAmountLabel, kKindTransLabel, "透明标签2", kUnitGroupBox, 200, 16, 40, 24,
                          false, label("金额:")));
  ComboBoxSettings type;
  type.type = 2;  // selection only
  type.items = {"支出", "收入"};
  type.current = 0;
  type.content = "支出";
  units.push_back(control(kUnitTypeCombo, kKindComboBox, "组合框_类型", kUnitGroupBox, 96, 19, 96, 20, true,
                          type.encode()));
  units.push_back(control(kUnitTypeLabel, kKindTransLabel, "透明标签1", kUnitGroupBox, 64, 16, 40, 24, false,
                          label("类型:")));
}

// The group box round the entry area; its children are the ten units before it.
UnitTemplate group_unit(const std::vector<UnitTemplate>& units) {
  GroupBoxSettings group;
  group.caption = "操作";
  group.alignment = 0;
  UnitTemplate g =
      control(kUnitGroupBox, kKindGroupBox, "分组框1", 0, 0, 297, 512, 176, false, group.encode());
  for (size_t i = 4; i <= 13; ++i) g.children.push_back(units.size() > i ? units[i].id : 0);
  return g;
}

UnitTemplate record_list_unit() {
  ListViewSettings list;
  list.border = 0;
  list.view = kListViewReport;
  list.hide_header = false;
  list.clickable_header = false;
  list.full_row_select = true;
  list.grid_lines = true;
  list.single_selection = true;
  list.check_boxes = false;
  list.hot_tracking = false;
  list.label_editing = false;
  list.sorting = 0;
  list.text_colour = 0;
  list.text_background = kColourWhite;
  list.background = kColourWhite;
  list.font = gb2312_font(14);
  list.columns = {{false, -1, 0, 70, "序号"},     {false, -1, 0, 80, "类型"},  {false, -1, 0, 70, "金额"},
                  {false, -1, 0, 96, "付款方式"}, {false, -1, 0, 190, "时间"}, {false, -1, 0, 0, "备注"}};
  UnitTemplate lv =
      control(kUnitRecordList, kKindListView, "超级列表框1", 0, 0, 41, 512, 256, true, list.encode());
  lv.bindings = {{kListRightClicked, kSlotRecordListRightClick}};
  return lv;
}

UnitTemplate date_label_unit() {
  TransLabelSettings date;
  date.h_align = 1;
  date.v_align = 1;
  date.font = gb2312_font(24);
  return control(kUnitDateLabel, kKindTransLabel, "透明标签_本日时间", 0, 0, -8, 512, 56, false,
                 date.encode());
}

UnitTemplate status_bar_unit() {
  StatusBarSettings bar;
  bar.background = kColourButtonFace;
  bar.position = 0;
  bar.size_grip = false;
  bar.panes = {{90, 0, -1, "本日记录:", ""}, {80, 0, -1, "", ""},          {90, 0, -1, "本月记录:", ""},
               {80, 0, -1, "", ""},          {90, 0, -1, "年度记录:", ""}, {80, 0, -1, "", ""}};
  return control(kUnitStatusBar, kKindStatusBar, "状态条1", 0, 0, 498, 582, 20, false, bar.encode());
}

}  // namespace

TemplateSet main_window_template_set() {
  WindowTemplate w;
  w.id = kMainWindowId;
  w.units.push_back(window_unit());
  w.units.push_back(menu_item(kUnitMenu, "菜单", 0, kMenuHidden, kNoHandler));
  w.units.push_back(menu_item(kUnitDeleteRecord, "删除记录", 1, 0, kSlotDeleteRecordClick));
  w.units.push_back(menu_item(kUnitViewRemark, "查看备注", 1, 0, kSlotViewRemarkClick));
  add_buttons(w.units);
  add_remark_and_method(w.units);
  add_amount_and_type(w.units);
  w.units.push_back(group_unit(w.units));
  w.units.push_back(record_list_unit());
  w.units.push_back(date_label_unit());
  w.units.push_back(status_bar_unit());

  // Tab positions follow the template order, as the z-order does.
  for (size_t i = 1; i < w.units.size(); ++i)
    if (!w.units[i].is_menu()) w.units[i].tab = static_cast<int32_t>(i);

  TemplateSet set;
  set.windows.push_back(std::move(w));
  return set;
}

}  // namespace pennacle
