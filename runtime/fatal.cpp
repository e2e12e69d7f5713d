#include "runtime/fatal.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/gbk.h"
#include "runtime/program_end.h"

namespace pennacle {
namespace {

void stderr_presenter(std::string_view text, std::string_view title) {
  std::string out = gbk_to_utf8_lossy(title) + "\n" + gbk_to_utf8_lossy(text) + "\n";
  // Plain write: the allocator or stdio may be what failed.
  [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, out.data(), out.size());
}

// Exit routines dropped, the end sequence run with -1 (status 255).
void default_end() { end_program_after_fatal(); }

std::atomic<FatalPresenter> g_presenter{stderr_presenter};
std::atomic<FatalHook> g_hook{nullptr};
std::atomic<WindowNameLookup> g_lookup{nullptr};
std::atomic<FatalEnd> g_end{default_end};

// Bits 24 to 27 holding 2 mark a window id.
bool is_window_id(int32_t id) { return ((static_cast<uint32_t>(id) >> 24) & 0xF) == 2; }

}  // namespace

std::string_view fault_text(int32_t code) {
  static constexpr std::string_view kTexts[] = {
      "数组成员引用下标超出定义范围",
      "未得到所需要的数值型数据",
      "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
      "数组成员引用下标必须大于等于1",
      "数据或数组类型不匹配",
      "调用DLL命令后发现堆栈错误",
      "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
      "被比较数据只能使用等于或不等于命令比较",
      "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
      "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
      "所提供参数的数据类型不符合要求",
  };
  if (code < 1 || code > 11) return {};
  return kTexts[code - 1];
}

std::string fatal_box_text(const FatalReport& r) {
  std::string t = "运行时出错!\r\n";
  if (r.code != 0) t += "\r\n错误代码：" + std::to_string(r.code) + "\r\n";
  if (!r.message.empty()) t += "\r\n错误信息：" + r.message + "\r\n";
  t += "\r\n" + std::to_string(r.location) + ", " + std::to_string(r.second);
  if (is_window_id(r.location)) {
    WindowNameLookup lookup = g_lookup.load();
    WindowNames names = lookup ? lookup(r.location, r.second) : WindowNames{};
    if (names.window_loaded) {
      t += "\r\n\"" + names.window + "\"";
      t += names.control_found ? "\r\n\"" + names.control + "\"" : std::string("\r\n未找到所指定的窗口组件");
    } else {
      t += "\r\n未找到所指定的窗口";
    }
  }
  t += "\r\n";
  return t;
}

void report_fatal(std::string_view message, int32_t code, int32_t location, int32_t second) {
  FatalReport report{std::string(message), code, location, second};
  if (FatalHook hook = g_hook.load()) {
    hook(report);
    std::abort();  // a hook must not return
  }
  g_presenter.load()(fatal_box_text(report), "错误");
  g_end.load()();
  ::_exit(255);
}

void report_fatal_message(std::string_view message) { report_fatal(message, 0, 0, 0); }

void raise_fault(int32_t code, int32_t location, int32_t check) {
  report_fatal(fault_text(code), code, location, check);
}

FatalPresenter set_fatal_presenter(FatalPresenter p) {
  return g_presenter.exchange(p ? p : stderr_presenter);
}
FatalHook set_fatal_hook(FatalHook hook) { return g_hook.exchange(hook); }
void set_window_name_lookup(WindowNameLookup lookup) { g_lookup.store(lookup); }
void set_fatal_end(FatalEnd end) { g_end.store(end ? end : default_end); }

}  // namespace pennacle
