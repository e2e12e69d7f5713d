#include "store/sole_file.h"

#include <algorithm>
#include <cstring>

namespace pennacle {
namespace {

bool bad_range(uint64_t offset, uint64_t length) {
  return length == 0 || offset > kShareLockBase || length > kShareLockBase - offset;
}

}  // namespace

bool SoleFile::set_alone(bool alone) {
  drop_pages();
  alone_ = false;
  if (!alone) return true;
  if (base_->size(&size_) != FileCause::None) return false;
  alone_ = true;
  return true;
}

void SoleFile::drop_pages() {
  pages_.clear();
  loaded_.clear();
}

uint8_t* SoleFile::page(uint64_t index, FileCause* cause) {
  *cause = FileCause::None;
  if (index < pages_.size() && pages_[index]) return pages_[index].get();
  if (loaded_.size() >= kMaxPages) {
    pages_[loaded_.front()].reset();
    loaded_.pop_front();
  }
  auto bytes = std::make_unique<uint8_t[]>(kPageSize);  // zero past the file's end
  const uint64_t at = index * kPageSize;
  const size_t want = static_cast<size_t>(std::min(kPageSize, size_ - std::min(size_, at)));
  size_t got = 0;
  if ((*cause = base_->read_at(at, bytes.get(), want, &got)) != FileCause::None) return nullptr;
  if (pages_.size() <= index) pages_.resize(index + 1);
  pages_[index] = std::move(bytes);
  loaded_.push_back(index);
  return pages_[index].get();
}

FileCause SoleFile::read_at(uint64_t offset, void* buf, size_t n, size_t* got) {
  if (!alone_) return base_->read_at(offset, buf, n, got);
  *got = 0;
  if (offset > static_cast<uint64_t>(INT64_MAX) - n) return FileCause::BadSeek;
  if (offset >= size_) return FileCause::None;
  const uint64_t end = std::min<uint64_t>(offset + n, size_);
  auto* out = static_cast<uint8_t*>(buf);
  for (uint64_t at = offset; at < end;) {
    FileCause cause;
    const uint8_t* p = page(at / kPageSize, &cause);
    if (!p) return cause;
    const uint64_t in_page = at % kPageSize;
    const size_t step = static_cast<size_t>(std::min(end - at, kPageSize - in_page));
    std::memcpy(out + (at - offset), p + in_page, step);
    at += step;
    *got += step;
  }
  return FileCause::None;
}

FileCause SoleFile::write_at(uint64_t offset, const void* buf, size_t n) {
  const FileCause c = base_->write_at(offset, buf, n);
  if (!alone_) return c;
  if (c != FileCause::None) {
    // Part of the write may have landed: read everything again from the file.
    if (!set_alone(true)) alone_ = false;
    return c;
  }
  const auto* in = static_cast<const uint8_t*>(buf);
  const uint64_t end = offset + n;
  for (uint64_t index = offset / kPageSize; index < pages_.size() && index * kPageSize < end; ++index) {
    if (!pages_[index]) continue;
    const uint64_t from = std::max(offset, index * kPageSize);
    const uint64_t to = std::min(end, (index + 1) * kPageSize);
    std::memcpy(pages_[index].get() + (from - index * kPageSize), in + (from - offset),
                static_cast<size_t>(to - from));
  }
  size_ = std::max(size_, end);
  return c;
}

FileCause SoleFile::size(uint64_t* out) {
  if (!alone_) return base_->size(out);
  *out = size_;
  return FileCause::None;
}

FileCause SoleFile::set_size(uint64_t length) {
  const FileCause c = base_->set_size(length);
  if (!alone_) return c;
  if (c != FileCause::None) {
    if (!set_alone(true)) alone_ = false;
    return c;
  }
  if (length < size_) {
    // Bytes past the new end read as zeros if the file grows again.
    for (uint64_t index = length / kPageSize; index < pages_.size(); ++index) {
      if (!pages_[index]) continue;
      const uint64_t from = std::max(length, index * kPageSize) - index * kPageSize;
      std::memset(pages_[index].get() + from, 0, static_cast<size_t>(kPageSize - from));
    }
  }
  size_ = length;
  return c;
}

FileCause SoleFile::lock(uint64_t offset, uint64_t length) {
  if (!alone_) return base_->lock(offset, length);
  return bad_range(offset, length) ? FileCause::BadSeek : FileCause::None;
}

FileCause SoleFile::unlock(uint64_t offset, uint64_t length) {
  if (!alone_) return base_->unlock(offset, length);
  return bad_range(offset, length) ? FileCause::BadSeek : FileCause::None;
}

void SoleFile::close() {
  drop_pages();
  alone_ = false;
  base_->close();
}

}  // namespace pennacle
