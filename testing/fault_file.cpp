#include "testing/fault_file.h"

#include <algorithm>
#include <random>
#include <tuple>

namespace pennacle {
namespace {

class FaultFile final : public File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<File> base, std::string path)
      : fs_(fs), base_(std::move(base)), path_(std::move(path)) {}

  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (FileCause c = fs_.before(FileOp::Read); c != FileCause::None) return c;
    return base_->read_at(offset, buf, n, got);
  }
  FileCause write_at(uint64_t offset, const void* buf, size_t n) override {
    if (FileCause c = fs_.before(FileOp::Write); c != FileCause::None) return c;
    FileCause c = base_->write_at(offset, buf, n);
    if (c == FileCause::None) fs_.wrote(path_, offset, buf, n);
    return c;
  }
  FileCause size(uint64_t* out) override {
    *out = 0;
    if (FileCause c = fs_.before(FileOp::Size); c != FileCause::None) return c;
    return base_->size(out);
  }
  FileCause set_size(uint64_t length) override {
    if (FileCause c = fs_.before(FileOp::SetSize); c != FileCause::None) return c;
    FileCause c = base_->set_size(length);
    if (c == FileCause::None) fs_.resized(path_, length);
    return c;
  }
  FileCause lock(uint64_t offset, uint64_t length) override {
    if (FileCause c = fs_.before(FileOp::Lock); c != FileCause::None) return c;
    return base_->lock(offset, length);
  }
  FileCause unlock(uint64_t offset, uint64_t length) override {
    if (FileCause c = fs_.before(FileOp::Unlock); c != FileCause::None) return c;
    return base_->unlock(offset, length);
  }
  FileCause sync() override {
    if (FileCause c = fs_.before(FileOp::Sync); c != FileCause::None) return c;
    FileCause c = base_->sync();
    if (c == FileCause::None) fs_.synced(path_);
    return c;
  }
  void close() override { base_->close(); }
  bool take_lease(std::function<void()> on_break) override { return base_->take_lease(std::move(on_break)); }
  void release_lease() override { base_->release_lease(); }
  FileCause id(FileId* out) override { return base_->id(out); }

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<File> base_;
  std::string path_;
};

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void put_bytes(std::string* s, uint64_t offset, std::string_view bytes) {
  if (s->size() < offset + bytes.size()) s->resize(offset + bytes.size(), '\0');
  s->replace(offset, bytes.size(), bytes);
}

}  // namespace

void FaultFileSystem::fail_nth(FileOp op, int n, FileCause cause) {
  MutexLock g(mu_);
  fail_op_ = op;
  fail_at_ = calls_[static_cast<size_t>(op)] + n;
  fail_cause_ = cause;
}

void FaultFileSystem::crash_after_writes(int n) {
  MutexLock g(mu_);
  writes_left_ = n;
  crashed_ = false;
}

void FaultFileSystem::reset() {
  MutexLock g(mu_);
  calls_.fill(0);
  fail_op_ = FileOp::Count;
  fail_at_ = 0;
  writes_left_ = -1;
  crashed_ = false;
  pause_op_ = FileOp::Count;
  paused_ = false;
  pause_changed_.notify_all();
}

int FaultFileSystem::calls(FileOp op) const {
  MutexLock g(mu_);
  return calls_[static_cast<size_t>(op)];
}

bool FaultFileSystem::crashed() const {
  MutexLock g(mu_);
  return crashed_;
}

FileCause FaultFileSystem::before(FileOp op) {
  MutexLock g(mu_);
  int n = ++calls_[static_cast<size_t>(op)];
  if (op == FileOp::Write || op == FileOp::SetSize || op == FileOp::Sync) {
    if (crashed_) return FileCause::HardwareIo;
    if (writes_left_ == 0) {
      crashed_ = true;
      return FileCause::HardwareIo;
    }
    if (writes_left_ > 0) --writes_left_;
  }
  if (op == pause_op_ && n == pause_at_) {
    pause_op_ = FileOp::Count;
    paused_ = true;
    pause_changed_.notify_all();
    while (paused_) pause_changed_.wait(mu_);
  }
  if (op == fail_op_ && n == fail_at_) {
    fail_op_ = FileOp::Count;
    return fail_cause_;
  }
  return FileCause::None;
}

void FaultFileSystem::pause_nth(FileOp op, int n) {
  MutexLock g(mu_);
  pause_op_ = op;
  pause_at_ = calls_[static_cast<size_t>(op)] + n;
}

bool FaultFileSystem::wait_until_paused(std::chrono::milliseconds limit) {
  MutexLock g(mu_);
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!paused_) {
    if (pause_changed_.wait_until(mu_, until) == std::cv_status::timeout) return paused_;
  }
  return true;
}

void FaultFileSystem::resume() {
  MutexLock g(mu_);
  paused_ = false;
  pause_changed_.notify_all();
}

void FaultFileSystem::wrote(const std::string& path, uint64_t offset, const void* buf, size_t n) {
  MutexLock g(mu_);
  auto it = models_.find(path);
  if (it == models_.end()) return;
  it->second.pending.push_back({false, offset, std::string(static_cast<const char*>(buf), n)});
}

void FaultFileSystem::resized(const std::string& path, uint64_t length) {
  MutexLock g(mu_);
  auto it = models_.find(path);
  if (it != models_.end()) it->second.pending.push_back({true, length, {}});
}

void FaultFileSystem::synced(const std::string& path) {
  MutexLock g(mu_);
  auto it = models_.find(path);
  if (it == models_.end()) return;
  Model& m = it->second;
  for (const Change& c : m.pending) {
    if (c.resize) {
      m.durable.resize(c.offset, '\0');
    } else {
      put_bytes(&m.durable, c.offset, c.bytes);
    }
  }
  m.pending.clear();
}

size_t FaultFileSystem::unsynced_writes() const {
  MutexLock g(mu_);
  size_t n = 0;
  for (const auto& [path, m] : models_) n += m.pending.size();
  return n;
}

// A file that exists before the test touches it counts as durable as it is.
void FaultFileSystem::model_existing(const std::string& path, File& file) {
  {
    MutexLock g(mu_);
    if (models_.count(path)) return;
  }
  uint64_t size = 0;
  std::string bytes;
  if (file.size(&size) == FileCause::None) {
    bytes.resize(size);
    size_t got = 0;
    if (file.read_at(0, bytes.data(), bytes.size(), &got) != FileCause::None) got = 0;
    bytes.resize(got);
  }
  MutexLock g(mu_);
  Model m;
  m.durable = std::move(bytes);
  models_.emplace(path, std::move(m));
}

FileCause FaultFileSystem::write_out(const std::string& path, const std::string& bytes) {
  std::unique_ptr<File> f;
  FileCause c = base_.open(path, FileAccess::ReadWrite, FileShare::DenyNone, &f);
  if (c == FileCause::NotFound) c = base_.create(path, &f);
  if (c != FileCause::None) return c;
  if ((c = f->set_size(0)) == FileCause::None && !bytes.empty())
    c = f->write_at(0, bytes.data(), bytes.size());
  f->close();
  return c;
}

void FaultFileSystem::apply_power_cut(CutKeeps keeps, uint32_t seed) {
  std::map<std::string, std::string> survivors;
  std::vector<std::string> lost;
  {
    MutexLock g(mu_);
    std::mt19937 rng(seed);
    auto kept = [&] {
      return keeps == CutKeeps::Everything || (keeps == CutKeeps::RandomSectors && rng() % 2);
    };
    for (const auto& [path, m] : models_) {
      std::string bytes = m.durable;
      for (const Change& c : m.pending) {
        if (c.resize) {
          if (kept()) bytes.resize(c.offset, '\0');
          continue;
        }
        for (uint64_t at = c.offset; at < c.offset + c.bytes.size();) {
          const uint64_t end =
              std::min<uint64_t>((at / kSectorSize + 1) * kSectorSize, c.offset + c.bytes.size());
          if (kept()) put_bytes(&bytes, at, std::string_view(c.bytes).substr(at - c.offset, end - at));
          at = end;
        }
      }
      if (m.entry_durable || kept()) {
        survivors[path] = std::move(bytes);
        continue;
      }
      if (!m.renamed_from.empty()) survivors[m.renamed_from] = std::move(bytes);
      if (m.replaced) {
        survivors[path] = *m.replaced;
      } else {
        lost.push_back(path);
      }
    }
  }
  for (const auto& [path, bytes] : survivors) std::ignore = write_out(path, bytes);
  for (const std::string& path : lost) std::ignore = base_.remove(path);
}

FileCause FaultFileSystem::open(std::string_view gbk_path, FileAccess access, FileShare share,
                                std::unique_ptr<File>* out) {
  out->reset();
  if (FileCause c = before(FileOp::Open); c != FileCause::None) return c;
  std::unique_ptr<File> base;
  FileCause c = base_.open(gbk_path, access, share, &base);
  if (c != FileCause::None) return c;
  std::string path(gbk_path);
  model_existing(path, *base);
  *out = std::make_unique<FaultFile>(*this, std::move(base), std::move(path));
  return c;
}

FileCause FaultFileSystem::create(std::string_view gbk_path, std::unique_ptr<File>* out) {
  out->reset();
  if (FileCause c = before(FileOp::Open); c != FileCause::None) return c;
  std::unique_ptr<File> base;
  FileCause c = base_.create(gbk_path, &base);
  if (c != FileCause::None) return c;
  std::string path(gbk_path);
  {
    MutexLock g(mu_);
    Model m;
    m.entry_durable = false;
    models_[path] = std::move(m);
  }
  *out = std::make_unique<FaultFile>(*this, std::move(base), std::move(path));
  return c;
}

FileCause FaultFileSystem::remove(std::string_view gbk_path) {
  {
    MutexLock g(mu_);
    models_.erase(std::string(gbk_path));
  }
  return base_.remove(gbk_path);
}

FileCause FaultFileSystem::rename(std::string_view gbk_from, std::string_view gbk_to) {
  FileCause c = base_.rename(gbk_from, gbk_to);
  if (c != FileCause::None) return c;
  MutexLock g(mu_);
  auto node = models_.extract(std::string(gbk_from));
  if (node.empty()) return c;
  Model& m = node.mapped();
  auto old = models_.find(std::string(gbk_to));
  if (old != models_.end() && old->second.entry_durable) m.replaced = old->second.durable;
  if (m.entry_durable) m.renamed_from = std::string(gbk_from);
  m.entry_durable = false;
  node.key() = std::string(gbk_to);
  models_.erase(node.key());
  models_.insert(std::move(node));
  return c;
}

FileCause FaultFileSystem::id_of(std::string_view gbk_path, FileId* out) {
  return base_.id_of(gbk_path, out);
}

FileCause FaultFileSystem::sync_directory_of(std::string_view gbk_path) {
  if (FileCause c = before(FileOp::Sync); c != FileCause::None) return c;
  FileCause c = base_.sync_directory_of(gbk_path);
  if (c != FileCause::None) return c;
  const std::string dir = directory_of(std::string(gbk_path));
  MutexLock g(mu_);
  for (auto& [path, m] : models_) {
    if (directory_of(path) != dir) continue;
    m.entry_durable = true;
    m.renamed_from.clear();
    m.replaced.reset();
  }
  return c;
}

}  // namespace pennacle
