#include "platform/fault_file.h"

namespace pennacle {
namespace {

class FaultFile final : public File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<File> base) : fs_(fs), base_(std::move(base)) {}

  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (FileCause c = fs_.before(FileOp::Read); c != FileCause::None) return c;
    return base_->read_at(offset, buf, n, got);
  }
  FileCause write_at(uint64_t offset, const void* buf, size_t n) override {
    if (FileCause c = fs_.before(FileOp::Write); c != FileCause::None) return c;
    return base_->write_at(offset, buf, n);
  }
  FileCause size(uint64_t* out) override {
    *out = 0;
    if (FileCause c = fs_.before(FileOp::Size); c != FileCause::None) return c;
    return base_->size(out);
  }
  FileCause set_size(uint64_t length) override {
    if (FileCause c = fs_.before(FileOp::SetSize); c != FileCause::None) return c;
    return base_->set_size(length);
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
    return base_->sync();
  }
  void close() override { base_->close(); }

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<File> base_;
};

}  // namespace

void FaultFileSystem::fail_nth(FileOp op, int n, FileCause cause) {
  std::lock_guard<std::mutex> g(mu_);
  fail_op_ = op;
  fail_at_ = calls_[static_cast<size_t>(op)] + n;
  fail_cause_ = cause;
}

void FaultFileSystem::crash_after_writes(int n) {
  std::lock_guard<std::mutex> g(mu_);
  writes_left_ = n;
  crashed_ = false;
}

void FaultFileSystem::reset() {
  std::lock_guard<std::mutex> g(mu_);
  calls_.fill(0);
  fail_op_ = FileOp::kCount;
  fail_at_ = 0;
  writes_left_ = -1;
  crashed_ = false;
}

int FaultFileSystem::calls(FileOp op) const {
  std::lock_guard<std::mutex> g(mu_);
  return calls_[static_cast<size_t>(op)];
}

bool FaultFileSystem::crashed() const {
  std::lock_guard<std::mutex> g(mu_);
  return crashed_;
}

FileCause FaultFileSystem::before(FileOp op) {
  std::lock_guard<std::mutex> g(mu_);
  int n = ++calls_[static_cast<size_t>(op)];
  if (op == FileOp::Write || op == FileOp::SetSize) {
    if (crashed_) return FileCause::HardwareIo;
    if (writes_left_ == 0) {
      crashed_ = true;
      return FileCause::HardwareIo;
    }
    if (writes_left_ > 0) --writes_left_;
  }
  if (op == fail_op_ && n == fail_at_) {
    fail_op_ = FileOp::kCount;
    return fail_cause_;
  }
  return FileCause::None;
}

FileCause FaultFileSystem::open(std::string_view gbk_path, FileAccess access, FileShare share,
                                std::unique_ptr<File>* out) {
  out->reset();
  if (FileCause c = before(FileOp::Open); c != FileCause::None) return c;
  std::unique_ptr<File> base;
  FileCause c = base_.open(gbk_path, access, share, &base);
  if (c == FileCause::None) *out = std::make_unique<FaultFile>(*this, std::move(base));
  return c;
}

FileCause FaultFileSystem::create(std::string_view gbk_path, std::unique_ptr<File>* out) {
  out->reset();
  if (FileCause c = before(FileOp::Open); c != FileCause::None) return c;
  std::unique_ptr<File> base;
  FileCause c = base_.create(gbk_path, &base);
  if (c == FileCause::None) *out = std::make_unique<FaultFile>(*this, std::move(base));
  return c;
}

FileCause FaultFileSystem::remove(std::string_view gbk_path) { return base_.remove(gbk_path); }

FileCause FaultFileSystem::rename(std::string_view gbk_from, std::string_view gbk_to) {
  return base_.rename(gbk_from, gbk_to);
}

FileCause FaultFileSystem::sync_directory_of(std::string_view gbk_path) {
  if (FileCause c = before(FileOp::Sync); c != FileCause::None) return c;
  return base_.sync_directory_of(gbk_path);
}

}  // namespace pennacle
