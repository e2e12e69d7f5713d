#include "store/sole_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pennacle {
namespace {

bool bad_range(uint64_t offset, uint64_t length) {
  return length == 0 || offset > kShareLockBase || length > kShareLockBase - offset;
}

}  // namespace

bool SoleFile::enter_alone() {
  MutexLock lock(mu_);
  drop_pages();
  held_.clear();
  alone_ = base_->size(&size_) == FileCause::None;
  return alone_;
}

FileCause SoleFile::leave_alone() {
  MutexLock lock(mu_);
  FileCause first = FileCause::None;
  if (alone_) {
    for (const Range& r : held_) {
      const FileCause c = base_->lock(r.offset, r.length);
      if (c != FileCause::None && c != FileCause::LockUnsupported && first == FileCause::None) first = c;
    }
  }
  held_.clear();
  drop_pages();
  alone_ = false;
  return first;
}

bool SoleFile::alone() const {
  MutexLock lock(mu_);
  return alone_;
}

size_t SoleFile::pages() const {
  MutexLock lock(mu_);
  return loaded_.size();
}

void SoleFile::drop_pages() {
  pages_.clear();
  loaded_.clear();
}

void SoleFile::reread() {
  drop_pages();
  // Without a length the pages cannot be trusted: every call goes to the file from here.
  if (base_->size(&size_) != FileCause::None) alone_ = false;
}

uint8_t* SoleFile::page(uint64_t index, FileCause* cause) {
  *cause = FileCause::None;
  if (index < pages_.size() && pages_[index]) return pages_[index].get();
  std::unique_ptr<uint8_t[]> bytes;
  if (loaded_.size() >= kMaxPages) {
    bytes = std::move(pages_[loaded_.front()]);  // the oldest page's buffer serves again
    loaded_.pop_front();
  } else {
    bytes.reset(new (std::nothrow) uint8_t[kPageSize]);
    if (!bytes) return nullptr;
  }
  const uint64_t at = index * kPageSize;
  const size_t want = static_cast<size_t>(std::min(kPageSize, size_ - std::min(size_, at)));
  size_t got = 0;
  if ((*cause = base_->read_at(at, bytes.get(), want, &got)) != FileCause::None) return nullptr;
  std::memset(bytes.get() + got, 0, kPageSize - got);  // zeros past the file's end
  if (pages_.size() <= index) pages_.resize(index + 1);
  pages_[index] = std::move(bytes);
  loaded_.push_back(index);
  return pages_[index].get();
}

FileCause SoleFile::read_at(uint64_t offset, void* buf, size_t n, size_t* got) {
  MutexLock lock(mu_);
  if (!alone_) return base_->read_at(offset, buf, n, got);
  return read_pages(offset, buf, n, got);
}

bool SoleFile::read_mapped(uint64_t offset, void* buf, size_t n) {
  MutexLock lock(mu_);
  return !alone_ && base_->read_mapped(offset, buf, n);
}

FileCause SoleFile::read_pages(uint64_t offset, void* buf, size_t n, size_t* got) {
  // Writes go through to the file, so it always holds what the pages hold: a read of a page or
  // more (a purge's batch) goes to it straight, instead of through pages it would only push out.
  if (n >= kPageSize) return base_->read_at(offset, buf, n, got);
  *got = 0;
  if (offset > static_cast<uint64_t>(INT64_MAX) - n) return FileCause::BadSeek;
  if (offset >= size_) return FileCause::None;
  const uint64_t end = std::min<uint64_t>(offset + n, size_);
  auto* out = static_cast<uint8_t*>(buf);
  for (uint64_t at = offset; at < end;) {
    FileCause cause;
    const uint8_t* p = page(at / kPageSize, &cause);
    if (!p && cause == FileCause::None) {  // no memory for a page: the rest comes from the file
      size_t direct = 0;
      cause = base_->read_at(at, out + (at - offset), static_cast<size_t>(end - at), &direct);
      *got += direct;
      return cause;
    }
    if (!p) return cause;
    const uint64_t in_page = at % kPageSize;
    const size_t step = static_cast<size_t>(std::min(end - at, kPageSize - in_page));
    std::memcpy(out + (at - offset), p + in_page, step);
    at += step;
    *got += step;
  }
  return FileCause::None;
}

void SoleFile::patch_pages(uint64_t offset, const uint8_t* bytes, size_t n) {
  const uint64_t end = offset + n;
  for (uint64_t index = offset / kPageSize; index < pages_.size() && index * kPageSize < end; ++index) {
    if (!pages_[index]) continue;
    const uint64_t from = std::max(offset, index * kPageSize);
    const uint64_t to = std::min(end, (index + 1) * kPageSize);
    std::memcpy(pages_[index].get() + (from - index * kPageSize), bytes + (from - offset),
                static_cast<size_t>(to - from));
  }
}

FileCause SoleFile::write_at(uint64_t offset, const void* buf, size_t n) {
  MutexLock lock(mu_);
  const FileCause c = base_->write_at(offset, buf, n);
  if (!alone_) return c;
  if (c != FileCause::None) {
    reread();  // part of the write may have landed
    return c;
  }
  patch_pages(offset, static_cast<const uint8_t*>(buf), n);
  size_ = std::max(size_, offset + n);
  return c;
}

FileCause SoleFile::size(uint64_t* out) {
  MutexLock lock(mu_);
  if (!alone_) return base_->size(out);
  *out = size_;
  return FileCause::None;
}

FileCause SoleFile::set_size(uint64_t length) {
  MutexLock lock(mu_);
  const FileCause c = base_->set_size(length);
  if (!alone_) return c;
  if (c != FileCause::None) {
    reread();
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
  MutexLock lock(mu_);
  if (!alone_) return base_->lock(offset, length);
  if (bad_range(offset, length)) return FileCause::BadSeek;
  held_.push_back({offset, length});
  return FileCause::None;
}

FileCause SoleFile::unlock(uint64_t offset, uint64_t length) {
  MutexLock lock(mu_);
  if (!alone_) return base_->unlock(offset, length);
  if (bad_range(offset, length)) return FileCause::BadSeek;
  // The store unlocks exactly the ranges it locked; the latest match goes.
  for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
    if (it->offset == offset && it->length == length) {
      held_.erase(std::next(it).base());
      break;
    }
  }
  return FileCause::None;
}

void SoleFile::close() {
  MutexLock lock(mu_);
  drop_pages();
  held_.clear();
  alone_ = false;
  base_->close();
}

}  // namespace pennacle
