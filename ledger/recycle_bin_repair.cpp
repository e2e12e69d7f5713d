// The repair of a damaged recycle bin (RecycleBin::repair).
#include <algorithm>

#include "ledger/checked_lines.h"
#include "ledger/recycle_bin.h"
#include "platform/gbk.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr std::string_view kHeader = "pennacle recycle bin 1\n";
constexpr uint64_t kMaxBinBytes = 256u << 20;
constexpr size_t kShown = 60;

std::string shown_line(std::string_view line) {
  std::string s = escape_field(line.substr(0, kShown));
  return line.size() > kShown ? s + "..." : s;
}

}  // namespace

Result<BinRepair> RecycleBin::repair(FileSystem& fs, const std::string& gbk_record_file) {
  // Held, like a writer's lock, until the new file is in place.
  if (Status s = open(fs, gbk_record_file, false); !s.ok() && s.code() != StatusCode::Corrupt) return s;
  const std::string shown = gbk_to_utf8_lossy(path_);
  if (!file_) return Status::not_found(shown + ": there is no recycle bin");
  file_->close();
  file_.reset();
  if (Status s = open_locked(fs, true); !s.ok()) return s;
  uint64_t size = 0;
  FileCause c = file_->size(&size);
  if (c == FileCause::None && size > kMaxBinBytes)
    return Status::corrupt(shown + ": larger than a recycle bin can be");
  std::string bytes(static_cast<size_t>(size), '\0');
  size_t got = 0;
  if (c == FileCause::None) c = file_->read_at(0, bytes.data(), bytes.size(), &got);
  if (c != FileCause::None) return Status::file(c, shown, "cannot read");
  bytes.resize(got);
  slots_.clear();
  by_id_.clear();
  undeleting_.clear();
  BinRepair report;
  std::string rebuilt(kHeader);
  int line_number = 0;
  for (size_t at = 0; at < bytes.size();) {
    ++line_number;
    const size_t end = bytes.find('\n', at);
    const std::string_view line =
        std::string_view(bytes).substr(at, end == std::string::npos ? end : end + 1 - at);
    at = end == std::string::npos ? bytes.size() : end + 1;
    uint64_t mark = 0;
    if ((line_number == 1 && line == kHeader) || parse_mark_line(line, &mark)) continue;
    if (take_line(line)) {
      rebuilt += line;
      ++report.kept;
    } else {
      report.dropped.emplace_back(line_number, shown_line(line));
    }
  }
  if (report.dropped.empty() && bytes.starts_with(kHeader)) return report;
  if (Status s = replace_whole(rebuilt, "rebuilt", path_ + ".damaged"); !s.ok()) return s;
  file_->close();
  file_.reset();
  return report;
}

}  // namespace pennacle
