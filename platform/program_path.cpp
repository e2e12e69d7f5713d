#include "platform/program_path.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/gbk.h"

namespace pennacle {
namespace {

// The symbolic errno name: plain ASCII whatever LC_MESSAGES says, so it fits a GBK message.
std::string errno_name(int e) {
  const char* name = strerrorname_np(e);
  return name ? name : "errno " + std::to_string(e);
}

}  // namespace

ProgramDirectory program_directory_of(std::string_view utf8_path) {
  ProgramDirectory d;
  size_t slash = utf8_path.rfind('/');
  std::string_view dir = slash == std::string_view::npos ? std::string_view() : utf8_path.substr(0, slash);
  std::optional<std::string> gbk = utf8_to_gbk(dir);
  if (!gbk) {
    d.error = "程序所在目录的路径含有GBK编码无法表示的字符，请把程序放到只含中文、英文和数字的目录中";
    return d;
  }
  d.ok = true;
  d.utf8 = std::string(dir);
  d.gbk = std::move(*gbk);
  return d;
}

ProgramDirectory read_program_directory() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) {
      ProgramDirectory d;
      d.error = "无法取得程序文件的路径: " + errno_name(errno);
      return d;
    }
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      break;
    }
    path.resize(path.size() * 2);  // may have been cut: try a larger buffer
  }
  return program_directory_of(path);
}

bool set_current_directory(std::string_view utf8_dir, std::string& error) {
  std::string dir = utf8_dir.empty() ? std::string("/") : std::string(utf8_dir);
  if (::chdir(dir.c_str()) == 0) return true;
  int e = errno;
  error = "无法进入程序所在目录: " + errno_name(e);
  return false;
}

}  // namespace pennacle
