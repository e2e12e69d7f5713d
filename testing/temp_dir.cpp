#include "testing/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace pennacle::testing {

TempDir::TempDir(const std::string& prefix) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

std::string TempDir::write(const std::string& name, std::string_view bytes) const {
  const std::string p = file(name);
  std::ofstream(p, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace pennacle::testing
