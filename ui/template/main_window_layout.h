// The main window: its window id, the ids of its 18 units, the handler slots its event bindings
// name, and the template model the build turns into the carried template bytes.
//
// Handler slots: the template's handler offsets are indices into the handler table the
// application passes to runtime_start (see ui/main_window_template.h for the table).
#pragma once

#include <cstdint>

#include "ui/template/window_template.h"

namespace pennacle {

inline constexpr int32_t kMainWindowId = 0x52010001;

// Unit ids, in template order.
inline constexpr int32_t kUnitMainWindow = 0x06010000;     // the window itself
inline constexpr int32_t kUnitMenu = 0x26015686;           // 菜单 (hidden top-level item)
inline constexpr int32_t kUnitDeleteRecord = 0x26015687;   // 删除记录
inline constexpr int32_t kUnitViewRemark = 0x26015688;     // 查看备注
inline constexpr int32_t kUnitSummaryButton = 0x1601565f;  // 按钮2 "生成信息"
inline constexpr int32_t kUnitAddButton = 0x1601565e;      // 按钮1 "添加记录"
inline constexpr int32_t kUnitRemarkEdit = 0x1601565d;     // 编辑框_备注
inline constexpr int32_t kUnitRemarkLabel = 0x1601565c;    // 透明标签4 "备注:"
inline constexpr int32_t kUnitPaymentCombo = 0x1601565b;   // 组合框_收付款方式
inline constexpr int32_t kUnitPaymentLabel = 0x1601565a;   // 透明标签3 "付/收款方式:"
inline constexpr int32_t kUnitAmountEdit = 0x16015659;     // 编辑框_金额
inline constexpr int32_t kUnitAmountLabel = 0x16015658;    // 透明标签2 "金额:"
inline constexpr int32_t kUnitTypeCombo = 0x16015657;      // 组合框_类型
inline constexpr int32_t kUnitTypeLabel = 0x16015656;      // 透明标签1 "类型:"
inline constexpr int32_t kUnitGroupBox = 0x16015655;       // 分组框1 "操作"
inline constexpr int32_t kUnitRecordList = 0x16015654;     // 超级列表框1
inline constexpr int32_t kUnitDateLabel = 0x16010003;      // 透明标签_本日时间
inline constexpr int32_t kUnitStatusBar = 0x16010002;      // 状态条1

// Handler table slots of the main window's bindings.
enum MainWindowHandlerSlot : int32_t {
  kSlotMainWindowCreated = 0,     // window event 0
  kSlotMainWindowDestroyed = 1,   // window event 2
  kSlotAddRecordClick = 2,        // 按钮1 event 0
  kSlotSummaryClick = 3,          // 按钮2 event 0
  kSlotRecordListRightClick = 4,  // 超级列表框1 event 5
  kSlotDeleteRecordClick = 5,     // 删除记录 selected
  kSlotViewRemarkClick = 6,       // 查看备注 selected
  kMainWindowHandlerCount = 7,
};

// The columns of the record list, in order.
inline constexpr int kRecordListColumns = 6;

// The main window's template set (one window), as the build writes it into the program.
TemplateSet main_window_template_set();

}  // namespace pennacle
