#include "loader/memory_module.h"

#include <cstring>

#include "loader/host_code_runner.h"

namespace pennacle {
namespace {

// The eleven declared shapes of RtlMoveMemory (outside entries 8 to 18), one per kind of copy.
enum Shape : int {
  kCopyDosHeader = static_cast<int>(kRtlMoveMemoryFirst),
  kCopyNtHeaders,
  kCopySectionHeader,
  kCopyHeaders,
  kCopySectionData,
  kCopyRelocBlock,
  kCopyRelocEntry,
  kCopyRelocTarget,
  kCopyImportDescriptor,
  kCopyThunk,
  kCopyExportData,
};
static_assert(static_cast<int>(kCopyExportData) == static_cast<int>(kRtlMoveMemoryLast));

constexpr Word kMemCommitReserve = kMemCommit | kMemReserve;
constexpr uint32_t kDllAttach = 1, kDllDetach = 0;

Word address_of(const void* p) { return reinterpret_cast<Word>(p); }

}  // namespace

void MemoryModule::move_memory(int shape, Word target, Word source, Word n) {
  call_outside(shape, {target, source, n});
}

template <typename T>
bool MemoryModule::read_image(Word target, uint64_t offset, T* out, int shape) const {
  if (offset > image_size_ || sizeof(T) > image_size_ - offset) return false;
  move_memory(shape, address_of(out), target + offset, sizeof(T));
  return true;
}

bool MemoryModule::text_in_image(Word target, uint64_t offset) const {
  if (offset >= image_size_) return false;
  return std::memchr(reinterpret_cast<const void*>(target + offset), 0, image_size_ - offset) != nullptr;
}

void MemoryModule::release_memory(Word memory) {
  remove_code_region(memory);
  call_outside(kVirtualFree, {memory, 0, kMemRelease});
}

void MemoryModule::ReleaseHeaders() {
  dos_header_ = {};
  nt_headers_ = {};
  std::vector<pe::SectionHeader>().swap(sections_);
}

MemoryModule MemoryModule::CopyModule() const { return *this; }

bool MemoryModule::LoadFromMemory(const ByteSetHeader* image) {
  if (base_ != 0) return false;
  refused_ = false;
  // The address of the byte set's first byte, as the copy function with a count of 0 returns it.
  const std::string_view bytes = byteset_view(image);
  const Word data = bytes.empty() ? 0 : address_of(bytes.data());
  const Word source = call_outside(kLstrcpynA, {data, data, 0});
  if (!ParseHeaders(source, bytes.size())) return false;
  const uint32_t size = ImageSize();
  if (size == 0) return false;

  const auto& opt = nt_headers_.OptionalHeader;
  Word memory = call_outside(kVirtualAlloc, {opt.ImageBase, size, kMemCommitReserve, kPageExecuteReadWrite});
  if (memory == 0) memory = call_outside(kVirtualAlloc, {0, size, kMemCommitReserve, kPageExecuteReadWrite});
  if (memory == 0) return false;
  image_size_ = size;
  add_code_region(memory, size);

  MapImage(memory, source);
  if (!refused_ && nt_headers_.OptionalHeader.DataDirectory[pe::kDirBaseReloc].Size > 0)
    ApplyRelocations(memory);
  if (refused_ || !ResolveImports(memory)) {
    release_memory(memory);
    return false;
  }
  // A DLL without an entry point (offset 0) has nothing to call; calling offset 0 would run the
  // DOS header.
  const uint32_t entry = nt_headers_.OptionalHeader.AddressOfEntryPoint;
  if ((nt_headers_.FileHeader.Characteristics & pe::kDll) && entry != 0) {
    if (CallExport(memory + entry, {0, kDllAttach, 0}) == 0) {
      CallExport(memory + entry, {0, kDllDetach, 0});
      release_memory(memory);
      return false;
    }
  }
  base_ = memory;
  return true;
}

void MemoryModule::Unload() {
  if (base_ == 0) return;
  const uint32_t entry = nt_headers_.OptionalHeader.AddressOfEntryPoint;
  if ((nt_headers_.FileHeader.Characteristics & pe::kDll) && entry != 0)
    CallExport(base_ + entry, {0, kDllDetach, 0});
  release_memory(base_);
  base_ = 0;
}

Word MemoryModule::FindExport(std::string_view name) const {
  if (base_ == 0) return 0;
  const pe::ImageDataDirectory dir = nt_headers_.OptionalHeader.DataDirectory[pe::kDirExport];
  if (dir.Size == 0) return 0;
  pe::ExportDirectory exports;
  if (!read_image(base_, dir.VirtualAddress, &exports, kCopyExportData)) return 0;
  const uint64_t names = exports.AddressOfNames, ordinals = exports.AddressOfNameOrdinals;
  const uint64_t n = exports.NumberOfNames;
  // Both name arrays must lie wholly inside the image before any entry is read.
  if (names + n * 4 > image_size_ || ordinals + n * 2 > image_size_) return 0;
  // One copy of the whole name array rather than one per name.
  std::vector<uint32_t> name_rvas(n);
  if (n) move_memory(kCopyExportData, address_of(name_rvas.data()), base_ + names, n * 4);
  for (uint64_t i = 0; i < n; ++i) {
    const uint32_t name_rva = name_rvas[i];
    // Equal byte for byte, terminator included, and inside the image.
    if (name_rva > image_size_ || name.size() + 1 > image_size_ - name_rva) continue;
    const auto* text = reinterpret_cast<const char*>(base_ + name_rva);
    if (std::memcmp(text, name.data(), name.size()) != 0 || text[name.size()] != '\0') continue;
    uint16_t index;
    uint32_t function_rva;
    if (!read_image(base_, ordinals + i * 2, &index, kCopyExportData)) return 0;
    if (index >= exports.NumberOfFunctions) return 0;
    if (!read_image(base_, uint64_t{exports.AddressOfFunctions} + uint64_t{index} * 4, &function_rva,
                    kCopyExportData))
      return 0;
    return base_ + function_rva;
  }
  return 0;
}

Word MemoryModule::EntryPointAddress() const {
  return base_ == 0 ? 0 : base_ + nt_headers_.OptionalHeader.AddressOfEntryPoint;
}

Word MemoryModule::BaseAddress() const { return base_; }

bool MemoryModule::ParseHeaders(Word source, Word length) {
  source_length_ = length;
  if (source == 0 || length < sizeof(pe::DosHeader)) return false;
  move_memory(kCopyDosHeader, address_of(&dos_header_), source, sizeof(pe::DosHeader));
  if (dos_header_.e_magic != pe::kDosMagic) return false;
  // e_lfanew is signed: a negative one would point before the bytes.
  if (dos_header_.e_lfanew < 0) return false;
  const uint64_t nt_at = static_cast<uint32_t>(dos_header_.e_lfanew);
  if (length < nt_at + sizeof(pe::NtHeaders32)) return false;
  move_memory(kCopyNtHeaders, address_of(&nt_headers_), source + nt_at, sizeof(pe::NtHeaders32));
  if (nt_headers_.Signature != pe::kNtSignature) return false;
  if (!(nt_headers_.FileHeader.Characteristics & pe::kExecutableImage)) return false;
  if (nt_headers_.FileHeader.SizeOfOptionalHeader != sizeof(pe::OptionalHeader32)) return false;

  const uint64_t count = nt_headers_.FileHeader.NumberOfSections;
  const uint64_t table_at = nt_at + sizeof(pe::NtHeaders32);
  if (table_at + count * sizeof(pe::SectionHeader) > length) return false;
  sections_.assign(count, pe::SectionHeader{});
  for (uint64_t i = 0; i < count; ++i) {
    pe::SectionHeader& s = sections_[i];
    move_memory(kCopySectionHeader, address_of(&s), source + table_at + i * sizeof(pe::SectionHeader),
                sizeof(pe::SectionHeader));
    if (uint64_t{s.PointerToRawData} + s.SizeOfRawData > length) return false;
  }
  return true;
}

uint32_t MemoryModule::ImageSize() const {
  const uint32_t a = nt_headers_.OptionalHeader.SectionAlignment;
  if (a == 0) return 0;
  // In 64 bits, so that a section near the top of the address space cannot wrap to a small size.
  auto align = [a](uint64_t v) { return (v + a - 1) / a * a; };
  uint64_t size = align(nt_headers_.OptionalHeader.SizeOfHeaders);
  for (const pe::SectionHeader& s : sections_) {
    const uint64_t extent = s.SizeOfRawData > s.VirtualSize ? s.SizeOfRawData : s.VirtualSize;
    const uint64_t end = align(uint64_t{s.VirtualAddress} + extent);
    if (end > size) size = end;
  }
  return size > kMaxImageSize ? 0 : static_cast<uint32_t>(size);
}

uint32_t MemoryModule::AlignUp(uint32_t value, uint32_t alignment) {
  if (alignment == 0) return 0;
  const uint64_t r = (uint64_t{value} + alignment - 1) / alignment * alignment;
  return r > UINT32_MAX ? 0 : static_cast<uint32_t>(r);
}

void MemoryModule::MapImage(Word target, Word source) {
  const uint32_t headers = nt_headers_.OptionalHeader.SizeOfHeaders;
  if (headers > source_length_ || headers > image_size_) {
    refused_ = true;
    return;
  }
  move_memory(kCopyHeaders, target, source, headers);
  for (const pe::SectionHeader& s : sections_) {
    if (s.VirtualAddress == 0) break;
    // The data lies within the source (ParseHeaders); it must land within the image too.
    if (uint64_t{s.VirtualAddress} + s.SizeOfRawData > image_size_) {
      refused_ = true;
      return;
    }
    move_memory(kCopySectionData, target + s.VirtualAddress, source + s.PointerToRawData, s.SizeOfRawData);
  }

  // The copies again, now from the mapped image; where they lie is checked afresh, as the mapped
  // headers need not be the ones parsed (sections may overlay them).
  if (!read_image(target, 0, &dos_header_, kCopyDosHeader) || dos_header_.e_lfanew < 0 ||
      !read_image(target, static_cast<uint32_t>(dos_header_.e_lfanew), &nt_headers_, kCopyNtHeaders)) {
    refused_ = true;
    return;
  }
  const uint64_t table_at = uint64_t{static_cast<uint32_t>(dos_header_.e_lfanew)} + sizeof(pe::NtHeaders32);
  const uint64_t count = nt_headers_.FileHeader.NumberOfSections;
  if (table_at + count * sizeof(pe::SectionHeader) > image_size_) {
    refused_ = true;
    return;
  }
  sections_.assign(count, pe::SectionHeader{});
  for (uint64_t i = 0; i < count; ++i) {
    if (!read_image(target, table_at + i * sizeof(pe::SectionHeader), &sections_[i], kCopySectionHeader)) {
      refused_ = true;
      return;
    }
  }
}

void MemoryModule::ApplyRelocations(Word target) {
  // A 32-bit difference: adding it wraps around exactly as the 32-bit addresses do.
  const uint32_t delta = static_cast<uint32_t>(target) - nt_headers_.OptionalHeader.ImageBase;
  const pe::ImageDataDirectory dir = nt_headers_.OptionalHeader.DataDirectory[pe::kDirBaseReloc];
  const uint64_t end = uint64_t{dir.VirtualAddress} + dir.Size;
  if (end > image_size_) {
    refused_ = true;
    return;
  }
  // The walk ends at a zero block header or at the end of the table, whichever comes first.
  uint64_t at = dir.VirtualAddress;
  while (end - at >= sizeof(pe::BaseRelocationBlock)) {
    pe::BaseRelocationBlock block;
    if (!read_image(target, at, &block, kCopyRelocBlock)) break;
    if (block.VirtualAddress == 0) break;
    // A block shorter than its header would never move the walk on.
    if (block.SizeOfBlock < sizeof block || block.SizeOfBlock > end - at) {
      refused_ = true;
      return;
    }
    // The block lies inside the table, which lies inside the image: its entries in one copy.
    std::vector<uint16_t> entries((block.SizeOfBlock - sizeof block) / 2);
    if (!entries.empty())
      move_memory(kCopyRelocEntry, address_of(entries.data()), target + at + sizeof block,
                  entries.size() * 2);
    for (const uint16_t entry : entries) {
      if ((entry >> 12) != pe::kRelHighLow) continue;
      const uint64_t fix = uint64_t{block.VirtualAddress} + (entry & 0x0FFF);
      uint32_t value;
      if (!read_image(target, fix, &value, kCopyRelocTarget)) {
        refused_ = true;
        return;
      }
      value += delta;
      move_memory(kCopyRelocTarget, target + fix, address_of(&value), sizeof value);
    }
    at += block.SizeOfBlock;
  }
}

bool MemoryModule::ResolveImports(Word target) {
  const pe::ImageDataDirectory dir = nt_headers_.OptionalHeader.DataDirectory[pe::kDirImport];
  if (dir.VirtualAddress == 0) return true;
  for (uint64_t at = dir.VirtualAddress;; at += sizeof(pe::ImportDescriptor)) {
    pe::ImportDescriptor desc;
    if (!read_image(target, at, &desc, kCopyImportDescriptor)) return false;
    if (desc.FirstThunk == 0) break;
    if (!text_in_image(target, desc.Name)) return false;
    const Word name = target + desc.Name;
    Word module = call_outside(kGetModuleHandleA, {name});
    if (module == 0) module = call_outside(kLoadLibraryA, {name});
    if (module == 0) return false;
    for (uint64_t slot = desc.FirstThunk;; slot += 4) {
      uint32_t entry;
      if (!read_image(target, slot, &entry, kCopyThunk)) return false;
      if (entry == 0) break;
      Word function;
      if (entry & pe::kOrdinalFlag) {
        function = call_outside(kGetProcAddress, {module, entry & 0xFFFF});
      } else {
        if (!text_in_image(target, uint64_t{entry} + 2)) return false;
        function = call_outside(kGetProcAddress, {module, target + entry + 2});
      }
      // A procedure that does not fit the 32-bit slot could never be called through it.
      if (function == 0 || function > UINT32_MAX) return false;
      const auto bound = static_cast<uint32_t>(function);
      move_memory(kCopyThunk, target + slot, address_of(&bound), sizeof bound);
    }
  }
  return true;
}

}  // namespace pennacle
