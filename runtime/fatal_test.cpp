#include "runtime/fatal.h"

#include <gtest/gtest.h>

#include <string>

namespace pennacle {
namespace {

FatalReport report(std::string message, int32_t code, int32_t location, int32_t second) {
  return FatalReport{std::move(message), code, location, second};
}

TEST(FatalBox, ApplicationFaultShowsCodeMessageAndLocation) {
  EXPECT_EQ(fatal_box_text(report(std::string(fault_text(4)), 4, 67219250, 509)),
            "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n\r\n67219250, "
            "509\r\n");
  // The same text byte for byte in GBK: "运行时出错!" begins D4 CB D0 D0.
  std::string t = fatal_box_text(report("", 0, 0, 0));
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(t[0]), 0xD4);
  EXPECT_EQ(static_cast<unsigned char>(t[1]), 0xCB);
}

TEST(FatalBox, RuntimeMessagesLeaveTheCodeOutAndKeepTheLocationLine) {
  EXPECT_EQ(fatal_box_text(report("", 0, 0, 0)), "运行时出错!\r\n\r\n0, 0\r\n");
  EXPECT_EQ(fatal_box_text(report("分配 64 字节内存失败!", 0, 0, 0)),
            "运行时出错!\r\n\r\n错误信息：分配 64 字节内存失败!\r\n\r\n0, 0\r\n");
  EXPECT_EQ(fatal_box_text(report("", 6, -5, -1)), "运行时出错!\r\n\r\n错误代码：6\r\n\r\n-5, -1\r\n");
}

WindowNames names_of(int32_t window, int32_t unit) {
  WindowNames n;
  if (window != 0x02000001) return n;
  n.window_loaded = true;
  n.window = "主窗口";
  if (unit == 7) {
    n.control_found = true;
    n.control = "按钮1";
  }
  return n;
}

TEST(FatalBox, WindowIdentifiersAddWindowAndControlNames) {
  set_window_name_lookup(names_of);
  EXPECT_EQ(fatal_box_text(report("x", 0, 0x02000001, 7)),
            "运行时出错!\r\n\r\n错误信息：x\r\n\r\n33554433, 7\r\n\"主窗口\"\r\n\"按钮1\"\r\n");
  EXPECT_EQ(fatal_box_text(report("", 0, 0x02000001, 8)),
            "运行时出错!\r\n\r\n33554433, 8\r\n\"主窗口\"\r\n未找到所指定的窗口组件\r\n");
  EXPECT_EQ(fatal_box_text(report("", 0, 0x02000002, 7)),
            "运行时出错!\r\n\r\n33554434, 7\r\n未找到所指定的窗口\r\n");
  // Bits 24 to 27 hold 2 only for window ids; 0x12000001 has them too, 0x03000001 does not.
  EXPECT_NE(fatal_box_text(report("", 0, 0x12000001, 0)).find("未找到所指定的窗口"), std::string::npos);
  for (int32_t location : {0, 509, 67219250, 0x01000000, 0x03000001, 0x20000000, -1}) {
    EXPECT_EQ(fatal_box_text(report("", 0, location, 7)).find("未找到所指定的窗口"), std::string::npos)
        << location;
  }
  set_window_name_lookup(nullptr);
  EXPECT_EQ(fatal_box_text(report("", 0, 0x02000001, 7)),
            "运行时出错!\r\n\r\n33554433, 7\r\n未找到所指定的窗口\r\n");
}

}  // namespace
}  // namespace pennacle
