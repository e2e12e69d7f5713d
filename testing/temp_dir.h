// A temporary directory for a test: made empty when the object is made, removed with everything in
// it when the object goes.
#pragma once

#include <string>
#include <string_view>

namespace pennacle::testing {

class TempDir {
 public:
  // Under $TMPDIR (or /tmp), named `prefix` and six random characters. path() is empty when the
  // directory cannot be made.
  explicit TempDir(const std::string& prefix = "pennacle-test-");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes a file `name` holding `bytes`; its path.
  std::string write(const std::string& name, std::string_view bytes) const;

 private:
  std::string path_;
};

}  // namespace pennacle::testing
