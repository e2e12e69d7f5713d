// Compiled with UTF-8 literals, as the rest of the import.
#include "ledger/import/import_preview.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace pennacle {

int ImportPreview::skipped() const {
  return neutral + failed_or_closed + pending + static_cast<int>(unknown_statuses.size()) + orphan_refunds +
         ignored;
}

std::string preview_place(const ImportPreview& preview, int line) {
  ExportRead where;
  where.sheet = preview.sheet;
  return row_place(where, line);
}

bool blank_export(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return bytes.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

Result<std::optional<CategoryRules>> rules_beside_ledger(const std::string& utf8_record_file) {
  const std::string path = rules_path_beside(utf8_record_file);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return std::optional<CategoryRules>();
  Result<CategoryRules> rules = CategoryRules::load(path);
  if (!rules.ok()) return rules.status();
  return std::optional<CategoryRules>(std::move(*rules));
}

Result<std::string> read_export_input(const std::string& path, size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Status::invalid(path + ": cannot read the file: " + std::strerror(errno));
  struct stat st {};
  std::string why;
  if (fstat(fd, &st) != 0) {
    why = std::string("cannot read the file: ") + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    why = "is a directory, not an export file";
  } else if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
    why = "is a device, not an export file";
  }
  // Regular files, pipes and sockets alike: the bytes are counted as they come, so a file that grows
  // while it is read, or a pipe without end, stops at the limit.
  std::string bytes;
  char buf[1 << 16];
  while (why.empty()) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) why = std::string("cannot read the file: ") + std::strerror(errno);
    if (n <= 0) break;
    if (static_cast<size_t>(n) > limit - bytes.size()) {
      why = "larger than the " + std::to_string(limit >> 20) + " MB an import reads";
    } else {
      bytes.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (!why.empty()) return Status::invalid(path + ": " + why);
  return bytes;
}

}  // namespace pennacle
