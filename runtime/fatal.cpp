#include "runtime/fatal.h"

#include <iconv.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "platform/gbk.h"
#include "runtime/program_end.h"

namespace pennacle {
namespace {

constexpr std::string_view kErrorTitle = "错误";
// Room for the box text; a longer message is cut on a character boundary.
constexpr size_t kBoxTextBytes = 4096;

// Text built in place: nothing on the way to the box allocates, so a report that memory ran out can
// still be shown.
class FixedText {
 public:
  void append(std::string_view s) {
    size_t n = 0;  // whole characters that fit
    while (n < s.size() && size_ + n + gbk_char_length(s, n) <= sizeof buf_) n += gbk_char_length(s, n);
    s.copy(buf_ + size_, n);
    size_ += n;
  }
  void append_number(int32_t v) {
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
    append(ec == std::errc() ? std::string_view(digits, static_cast<size_t>(end - digits)) : "?");
  }
  std::string_view view() const { return {buf_, size_}; }

 private:
  char buf_[kBoxTextBytes];
  size_t size_ = 0;
};

// GBK to UTF-8 through a descriptor opened when the program starts: at the time of a fault, opening
// one could need memory the program no longer has. One report at a time uses it.
iconv_t g_to_utf8 = iconv_open("UTF-8", "GBK");
std::atomic_flag g_to_utf8_busy = ATOMIC_FLAG_INIT;

void write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (n <= 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

// Writes GBK text as UTF-8 in pieces of a fixed buffer; a byte GBK cannot read becomes U+FFFD.
void write_utf8(std::string_view gbk) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  char out[512];
  char* in = const_cast<char*>(gbk.data());
  size_t in_left = gbk.size();
  while (in_left > 0) {
    char* o = out;
    size_t o_left = sizeof out;
    const size_t rc = iconv(g_to_utf8, &in, &in_left, &o, &o_left);
    write_all(std::string_view(out, sizeof out - o_left));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      write_all(kReplacement);
      ++in;
      --in_left;
      iconv(g_to_utf8, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

// The default box: title and text in UTF-8 on standard error, with plain writes (the allocator or
// stdio may be what failed). Without the descriptor, or while another report uses it, the GBK
// bytes go out as they are.
void stderr_presenter(std::string_view text, std::string_view title) {
  const bool convert = g_to_utf8 != reinterpret_cast<iconv_t>(-1) && !g_to_utf8_busy.test_and_set();
  for (std::string_view part : {title, std::string_view("\n"), text, std::string_view("\n")}) {
    if (convert) {
      write_utf8(part);
    } else {
      write_all(part);
    }
  }
  if (convert) g_to_utf8_busy.clear();
}

// Exit routines dropped, the end sequence run with -1 (status 255).
void default_end() { end_program_after_fatal(); }

std::atomic<FatalPresenter> g_presenter{stderr_presenter};
std::atomic<FatalHook> g_hook{nullptr};
std::atomic<WindowNameLookup> g_lookup{nullptr};
std::atomic<FatalEnd> g_end{default_end};

// Bits 24 to 27 holding 2 mark a window id.
bool is_window_id(int32_t id) { return ((static_cast<uint32_t>(id) >> 24) & 0xF) == 2; }

// The box text, "\r\n" line ends. Only a window id as the location asks the window runtime for
// names, which may allocate.
void write_box_text(std::string_view message, int32_t code, int32_t location, int32_t second, FixedText* t) {
  t->append("运行时出错!\r\n");
  if (code != 0) {
    t->append("\r\n错误代码：");
    t->append_number(code);
    t->append("\r\n");
  }
  if (!message.empty()) {
    t->append("\r\n错误信息：");
    t->append(message);
    t->append("\r\n");
  }
  t->append("\r\n");
  t->append_number(location);
  t->append(", ");
  t->append_number(second);
  if (is_window_id(location)) {
    WindowNameLookup lookup = g_lookup.load();
    const WindowNames names = lookup ? lookup(location, second) : WindowNames{};
    if (names.window_loaded) {
      t->append("\r\n\"");
      t->append(names.window);
      t->append("\"");
      if (names.control_found) {
        t->append("\r\n\"");
        t->append(names.control);
        t->append("\"");
      } else {
        t->append("\r\n未找到所指定的窗口组件");
      }
    } else {
      t->append("\r\n未找到所指定的窗口");
    }
  }
  t->append("\r\n");
}

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
  FixedText t;
  write_box_text(r.message, r.code, r.location, r.second, &t);
  return std::string(t.view());
}

void report_fatal(std::string_view message, int32_t code, int32_t location, int32_t second) {
  if (FatalHook hook = g_hook.load()) {
    hook(FatalReport{std::string(message), code, location, second});  // tests: they may allocate
    std::abort();                                                     // a hook must not return
  }
  FixedText text;
  write_box_text(message, code, location, second, &text);
  g_presenter.load()(text.view(), kErrorTitle);
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
