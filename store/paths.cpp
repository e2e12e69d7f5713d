#include "store/paths.h"

#include <unistd.h>

#include <optional>
#include <vector>

#include "platform/gbk.h"

namespace pennacle {
namespace {

constexpr std::string_view kDefaultExtension = "KDB";
constexpr std::string_view kAuxExtension = "KDT";

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> split_path(std::string_view p) {
  std::vector<std::string> parts;
  std::string cur;
  for (size_t i = 0; i < p.size();) {
    const size_t len = gbk_char_length(p, i);
    if (len == 1 && is_separator(p[i])) {
      if (!cur.empty()) parts.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.append(p.substr(i, len));
    }
    i += len;
  }
  if (!cur.empty()) parts.push_back(std::move(cur));
  return parts;
}

// A separator as the last character, not the trail byte of one.
bool ends_with_separator(std::string_view p) {
  size_t last = 0;
  for (size_t i = 0; i < p.size(); i += gbk_char_length(p, i)) last = i;
  return !p.empty() && last + 1 == p.size() && is_separator(p[last]);
}

}  // namespace

std::string full_path_of(std::string_view name) {
  std::vector<std::string> parts = split_path(name);
  if (parts.empty() || ends_with_separator(name)) return {};
  std::string& last = parts.back();
  if (last.find('.') == std::string::npos) last += '.';
  if (last.back() == '.') last += kDefaultExtension;
  std::vector<std::string> all;
  if (!is_separator(name[0])) {
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) return {};
    std::optional<std::string> cwd = utf8_to_gbk(buf);
    if (!cwd) return {};
    all = split_path(*cwd);
  }
  for (std::string& p : parts) all.push_back(std::move(p));
  std::vector<std::string> clean;
  for (std::string& p : all) {
    if (p == ".") continue;
    if (p == "..") {
      if (!clean.empty()) clean.pop_back();
      continue;
    }
    clean.push_back(std::move(p));
  }
  std::string full;
  for (const std::string& p : clean) full += "/" + p;
  if (full.size() > kMaxPathBytes) return {};
  return full;
}

std::string stem_of(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view last = path.substr(slash + 1);
  return std::string(last.substr(0, last.rfind('.')));
}

std::string aux_path_of(std::string_view gbk_file) {
  const size_t slash = gbk_file.rfind('/');
  const size_t dot = gbk_file.rfind('.');
  const bool has_extension =
      dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
  return std::string(has_extension ? gbk_file.substr(0, dot) : gbk_file) + "." + std::string(kAuxExtension);
}

}  // namespace pennacle
