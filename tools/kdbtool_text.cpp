#include "tools/kdbtool_text.h"

#include <optional>
#include <ostream>

#include "platform/gbk.h"

namespace pennacle {

std::string utf8(std::string_view gbk) { return gbk_to_utf8_lossy(gbk); }

int fail(std::ostream& err, const std::string& what) {
  err << "kdbtool: " << what << "\n";
  return 1;
}

bool wants_help(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

bool to_gbk(const std::string& path, std::string* out, std::ostream& err) {
  std::optional<std::string> g = utf8_to_gbk(path);
  if (!g) {
    fail(err, path + ": the path has characters GBK cannot hold");
    return false;
  }
  *out = std::move(*g);
  return true;
}

bool to_gbk(const std::vector<std::string>& paths, std::vector<std::string>* out, std::ostream& err) {
  for (const std::string& p : paths) {
    std::string g;
    if (!to_gbk(p, &g, err)) return false;
    out->push_back(std::move(g));
  }
  return true;
}

}  // namespace pennacle
