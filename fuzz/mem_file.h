// An in-memory file system for the store's fuzz targets: no disk, and locks that always succeed.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/file.h"

namespace pennacle::fuzzing {

class MemFile final : public File {
 public:
  explicit MemFile(std::shared_ptr<std::string> data) : data_(std::move(data)) {}
  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (offset >= data_->size()) return FileCause::None;
    *got = std::min<size_t>(n, data_->size() - offset);
    std::memcpy(buf, data_->data() + offset, *got);
    return FileCause::None;
  }
  FileCause write_at(uint64_t offset, const void* buf, size_t n) override {
    if (offset + n > kLimit) return FileCause::DiskFull;
    if (data_->size() < offset + n) data_->resize(offset + n, '\0');
    std::memcpy(data_->data() + offset, buf, n);
    return FileCause::None;
  }
  FileCause size(uint64_t* out) override {
    *out = data_->size();
    return FileCause::None;
  }
  FileCause set_size(uint64_t length) override {
    if (length > kLimit) return FileCause::DiskFull;
    data_->resize(length, '\0');
    return FileCause::None;
  }
  FileCause lock(uint64_t, uint64_t) override { return FileCause::None; }
  FileCause unlock(uint64_t, uint64_t) override { return FileCause::None; }
  FileCause sync() override { return FileCause::None; }
  void close() override {}

 private:
  // A fuzz input cannot make the store grow a file past this.
  static constexpr uint64_t kLimit = 1u << 20;
  std::shared_ptr<std::string> data_;
};

class MemFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::shared_ptr<std::string>> files;

  FileCause open(std::string_view path, FileAccess, FileShare, std::unique_ptr<File>* out) override {
    auto it = files.find(std::string(path));
    if (it == files.end()) return FileCause::NotFound;
    *out = std::make_unique<MemFile>(it->second);
    return FileCause::None;
  }
  FileCause create(std::string_view path, std::unique_ptr<File>* out) override {
    auto& f = files[std::string(path)];
    if (f) return FileCause::AccessDenied;
    f = std::make_shared<std::string>();
    *out = std::make_unique<MemFile>(f);
    return FileCause::None;
  }
  FileCause remove(std::string_view path) override {
    files.erase(std::string(path));
    return FileCause::None;
  }
  FileCause rename(std::string_view from, std::string_view to) override {
    auto it = files.find(std::string(from));
    if (it == files.end()) return FileCause::NotFound;
    files[std::string(to)] = it->second;
    files.erase(std::string(from));
    return FileCause::None;
  }
  FileCause sync_directory_of(std::string_view) override { return FileCause::None; }
};

}  // namespace pennacle::fuzzing
