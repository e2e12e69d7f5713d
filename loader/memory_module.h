// MemoryModule: maps a 32-bit Windows library image from a byte set, relocates it, binds its
// imports, runs its entry point and looks up its exports by name, without writing it to disk.
//
// Memory, copies, module and function lookup go through the declared outside functions
// (VirtualAlloc, VirtualFree, RtlMoveMemory, GetModuleHandleA, LoadLibraryA, GetProcAddress,
// lstrcpynA). The image is mapped read-write, never executable; code runs only through the host
// code runner (host_code_runner.h).
//
// The image comes from outside the program's control, so every walk over it is bounded: the
// section table must lie within the given bytes, each section's data within them and within the
// image, and the relocation blocks, import descriptors with their address tables, the export
// directory with its three arrays, and every name within the mapped image. A malformed image is
// refused: LoadFromMemory gives false and leaves nothing reserved.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "loader/pe_format.h"
#include "runtime/outside.h"
#include "runtime/value.h"

namespace pennacle {

class MemoryModule {
 public:
  // Images larger than this are refused (the carried one is a few kilobytes).
  static constexpr uint32_t kMaxImageSize = 16u << 20;

  MemoryModule() = default;

  // The operations, in the order of the class's method table.

  // Releases the header copies. The mapped image stays: it belongs to the process once loaded.
  void ReleaseHeaders();
  // A deep copy of the object and its header copies.
  [[nodiscard]] MemoryModule CopyModule() const;
  // Maps the DLL image in `image`. False (nothing kept reserved, base 0) for a malformed image,
  // no memory, an import that cannot be bound, an entry point that refuses, or a second load.
  [[nodiscard]] bool LoadFromMemory(const ByteSetHeader* image);
  // Tells a loaded DLL of the detach, releases its memory, base back to 0.
  void Unload();
  // The address of the export `name` (compared byte for byte), 0 when not found or not loaded.
  // Forwarded exports are not recognised: their address is that of the forwarder text.
  [[nodiscard]] Word FindExport(std::string_view name) const;
  // base + entry-point offset; 0 while nothing is loaded.
  [[nodiscard]] Word EntryPointAddress() const;
  [[nodiscard]] Word BaseAddress() const;
  // Takes the header copies from `length` bytes at `source`; false when they are malformed.
  [[nodiscard]] bool ParseHeaders(Word source, Word length);
  // The size to reserve for the image: headers and every section, aligned. 0 for an image that
  // cannot be placed (no section alignment, or larger than kMaxImageSize).
  [[nodiscard]] uint32_t ImageSize() const;
  // The smallest multiple of `alignment` not below `value`; 0 for alignment 0 or when the result
  // does not fit 32 bits.
  [[nodiscard]] static uint32_t AlignUp(uint32_t value, uint32_t alignment);
  // Copies headers and sections from `source` to `target` and takes the header copies again from
  // the mapped image. Marks the image refused when anything lies outside the bytes or the image.
  void MapImage(Word target, Word source);
  // Moves every whole-address relocation by target - ImageBase; other types are skipped. Marks the
  // image refused when a block or an entry lies outside the relocation table or the image.
  void ApplyRelocations(Word target);
  // Binds every import slot; false when a module or function cannot be found or the table is
  // malformed.
  [[nodiscard]] bool ResolveImports(Word target);

  const pe::DosHeader& dos_header() const { return dos_header_; }
  const pe::NtHeaders32& nt_headers() const { return nt_headers_; }
  const std::vector<pe::SectionHeader>& sections() const { return sections_; }

 private:
  // Copies n bytes between host addresses through RtlMoveMemory (one of its declared shapes).
  static void move_memory(int shape, Word target, Word source, Word n);
  // Reads a T at target + offset when it lies inside the image being mapped.
  template <typename T>
  bool read_image(Word target, uint64_t offset, T* out, int shape) const;
  // True when a zero-terminated text starts at offset and ends inside the image.
  bool text_in_image(Word target, uint64_t offset) const;
  // Releases the reservation of a failed load.
  void release_memory(Word memory);

  // Members, in order: the mapped image's address, then the header copies.
  Word base_ = 0;
  pe::DosHeader dos_header_{};
  pe::NtHeaders32 nt_headers_{};
  std::vector<pe::SectionHeader> sections_;

  Word source_length_ = 0;  // bytes given to the last ParseHeaders
  Word image_size_ = 0;     // bytes of the image being mapped, or mapped
  bool refused_ = false;    // set by MapImage and ApplyRelocations for a malformed image
};

}  // namespace pennacle
