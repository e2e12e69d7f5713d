// Builds 32-bit Windows library images (PE32) from sections, imports, exports and relocations.
//
// Used at build time to make the skin engine image the program carries, and by tests to make any
// image the module loader must load or refuse. Code that refers to an address inside the image
// (an import jump, an absolute address) gets its base relocation automatically, so the image can be
// placed anywhere. Table sizes do not depend on addresses, so `build` lays the tables out first,
// then fixes every section's address, then writes the contents.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "loader/pe_format.h"

namespace pennacle {

struct BuiltImage {
  std::vector<uint8_t> bytes;
  uint32_t nt_offset = 0;             // e_lfanew
  std::vector<uint32_t> section_rva;  // by section index
  std::vector<uint32_t> section_file_offset;
  std::vector<uint32_t> slot_rva;  // import address slot, by import id
  uint32_t entry_rva = 0;

  // Offset of the file's section header i (for tests that damage a field).
  uint32_t section_header_offset(int i) const {
    return nt_offset + static_cast<uint32_t>(sizeof(pe::NtHeaders32)) + 40u * static_cast<uint32_t>(i);
  }
};

class ImageBuilder {
 public:
  struct Options {
    uint32_t image_base = 0x10000000;
    uint32_t section_alignment = 0x1000;
    uint32_t file_alignment = 0x200;
    bool dll = true;
    uint32_t nt_offset = 0x80;  // e_lfanew; the DOS stub before it stays zero
  };

  ImageBuilder() : ImageBuilder(Options{}) {}
  explicit ImageBuilder(Options options) : options_(options) {}

  // Sections are laid out in the order they are added. Returns the section index.
  int add_section(std::string name, uint32_t characteristics);

  // Appending returns the offset of the first appended byte within the section.
  uint32_t append(int section, std::span<const uint8_t> bytes);
  uint32_t append_u32(int section, uint32_t value);
  uint32_t align(int section, uint32_t alignment);

  // Declares an import; the same module and name (or ordinal) twice gives the same id.
  int import_by_name(const std::string& module, const std::string& name);
  int import_by_ordinal(const std::string& module, uint16_t ordinal);

  // `jmp dword ptr [slot]` (FF 25 abs32) through the import's address slot, relocated.
  uint32_t append_import_jump(int section, int import_id);
  // A 32-bit absolute address of (target_section, target_offset), relocated.
  uint32_t append_address(int section, int target_section, uint32_t target_offset);
  // A base relocation entry of any type, for images that test how types are treated.
  void add_relocation(int section, uint32_t offset, uint16_t type);

  void add_export(const std::string& name, int section, uint32_t offset);
  // An export whose address points at the text "module.function" inside the export directory.
  void add_forwarder(const std::string& name, const std::string& target);
  void set_entry_point(int section, uint32_t offset);

  // Where the tables go. A table that is never placed is left out with its directory.
  void place_imports(int section) { import_section_ = section; }
  void place_exports(int section, std::string dll_name) {
    export_section_ = section;
    dll_name_ = std::move(dll_name);
  }
  void place_relocations(int section) { reloc_section_ = section; }

  // Lays out and writes the image. The builder is not changed, so it can be built again.
  BuiltImage build() const;

 private:
  struct Section {
    std::string name;
    uint32_t characteristics;
    std::vector<uint8_t> data;
  };
  struct Import {
    std::string module;
    std::string name;  // empty for an ordinal import
    uint16_t ordinal = 0;
  };
  struct Fixup {  // a 32-bit absolute address written at (section, offset)
    int section;
    uint32_t offset;
    bool to_slot;  // the address of an import slot, else of (target_section, target_offset)
    int import_id;
    int target_section;
    uint32_t target_offset;
  };
  struct Relocation {
    int section;
    uint32_t offset;
    uint16_t type;
  };
  struct Export {
    std::string name;
    int section;  // -1 for a forwarder
    uint32_t offset;
    std::string forward;
  };

  class Build;  // the work of build()

  Section& section(int index);
  int add_import(Import imp);

  Options options_;
  std::vector<Section> sections_;
  std::vector<Import> imports_;
  std::vector<Fixup> fixups_;
  std::vector<Relocation> relocations_;
  std::vector<Export> exports_;
  int entry_section_ = -1;
  uint32_t entry_offset_ = 0;
  int import_section_ = -1;
  int export_section_ = -1;
  int reloc_section_ = -1;
  std::string dll_name_;
};

}  // namespace pennacle
