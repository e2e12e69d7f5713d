#include "loader/image_builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

namespace pennacle {
namespace {

uint32_t align_up(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

template <typename T>
void put(std::vector<uint8_t>& out, size_t offset, const T& value) {
  if (offset + sizeof(T) > out.size()) throw std::logic_error("image builder: write past the buffer");
  std::memcpy(out.data() + offset, &value, sizeof(T));
}

void put_text(std::vector<uint8_t>& out, size_t offset, const std::string& s) {
  if (offset + s.size() + 1 > out.size()) throw std::logic_error("image builder: text past the buffer");
  std::memcpy(out.data() + offset, s.data(), s.size());
  out[offset + s.size()] = 0;
}

}  // namespace

ImageBuilder::Section& ImageBuilder::section(int index) {
  if (index < 0 || static_cast<size_t>(index) >= sections_.size())
    throw std::out_of_range("image builder: no such section");
  return sections_[static_cast<size_t>(index)];
}

int ImageBuilder::add_section(std::string name, uint32_t characteristics) {
  if (name.size() > 8) throw std::invalid_argument("image builder: section name longer than 8 bytes");
  sections_.push_back(Section{std::move(name), characteristics, {}});
  return static_cast<int>(sections_.size()) - 1;
}

uint32_t ImageBuilder::append(int index, std::span<const uint8_t> bytes) {
  auto& data = section(index).data;
  auto at = static_cast<uint32_t>(data.size());
  data.insert(data.end(), bytes.begin(), bytes.end());
  return at;
}

uint32_t ImageBuilder::append_u32(int index, uint32_t value) {
  uint8_t b[4];
  std::memcpy(b, &value, 4);
  return append(index, b);
}

uint32_t ImageBuilder::align(int index, uint32_t alignment) {
  auto& data = section(index).data;
  data.resize(align_up(static_cast<uint32_t>(data.size()), alignment), 0);
  return static_cast<uint32_t>(data.size());
}

int ImageBuilder::add_import(Import imp) {
  for (size_t i = 0; i < imports_.size(); ++i) {
    const auto& o = imports_[i];
    if (o.module == imp.module && o.name == imp.name && o.ordinal == imp.ordinal) return static_cast<int>(i);
  }
  imports_.push_back(std::move(imp));
  return static_cast<int>(imports_.size()) - 1;
}

int ImageBuilder::import_by_name(const std::string& module, const std::string& name) {
  if (name.empty()) throw std::invalid_argument("image builder: empty import name");
  return add_import(Import{module, name, 0});
}

int ImageBuilder::import_by_ordinal(const std::string& module, uint16_t ordinal) {
  return add_import(Import{module, "", ordinal});
}

uint32_t ImageBuilder::append_import_jump(int index, int import_id) {
  if (import_id < 0 || static_cast<size_t>(import_id) >= imports_.size())
    throw std::out_of_range("image builder: no such import");
  const uint8_t op[2] = {0xFF, 0x25};
  uint32_t at = append(index, op);
  uint32_t slot = append_u32(index, 0);
  fixups_.push_back(Fixup{index, slot, true, import_id, -1, 0});
  relocations_.push_back(Relocation{index, slot, pe::kRelHighLow});
  return at;
}

uint32_t ImageBuilder::append_address(int index, int target_section, uint32_t target_offset) {
  section(target_section);
  uint32_t at = append_u32(index, 0);
  fixups_.push_back(Fixup{index, at, false, -1, target_section, target_offset});
  relocations_.push_back(Relocation{index, at, pe::kRelHighLow});
  return at;
}

void ImageBuilder::add_relocation(int index, uint32_t offset, uint16_t type) {
  section(index);
  relocations_.push_back(Relocation{index, offset, type});
}

void ImageBuilder::add_export(const std::string& name, int index, uint32_t offset) {
  section(index);
  exports_.push_back(Export{name, index, offset, ""});
}

void ImageBuilder::add_forwarder(const std::string& name, const std::string& target) {
  exports_.push_back(Export{name, -1, 0, target});
}

void ImageBuilder::set_entry_point(int index, uint32_t offset) {
  section(index);
  entry_section_ = index;
  entry_offset_ = offset;
}

// The work of build(): the tables laid out in their sections, the sections placed, the tables and
// fixups written, then the headers and the file. Each step fills members the later ones read.
class ImageBuilder::Build {
 public:
  explicit Build(const ImageBuilder& b) : b_(b), secs_(b.sections_) {}

  BuiltImage run() {
    check_placed();
    plan_imports();
    plan_exports();
    place_sections();
    out_.nt_offset = b_.options_.nt_offset;
    out_.section_rva = rva_;
    out_.slot_rva.resize(b_.imports_.size());
    write_imports();
    write_exports();
    apply_fixups();
    write_file();
    return std::move(out_);
  }

 private:
  static constexpr uint32_t kImportDescriptorSize = 20;
  static constexpr uint32_t kExportDirectorySize = 40;
  static constexpr uint32_t kNtHeadersSize = 248;
  static constexpr uint32_t kSectionHeaderSize = 40;

  Section& sec(int i) { return secs_.at(static_cast<size_t>(i)); }
  uint32_t rva_of(int i, uint32_t offset) const { return rva_[static_cast<size_t>(i)] + offset; }
  // Room for `size` bytes at the end of section i, 4-aligned; its offset there.
  uint32_t reserve(int i, uint32_t size) {
    auto& d = sec(i).data;
    d.resize(align_up(static_cast<uint32_t>(d.size()), 4), 0);
    const auto at = static_cast<uint32_t>(d.size());
    d.resize(d.size() + size, 0);
    return at;
  }

  void check_placed() const {
    if (secs_.empty()) throw std::logic_error("image builder: an image needs a section");
    if (!b_.imports_.empty() && b_.import_section_ < 0)
      throw std::logic_error("image builder: imports not placed");
    if (!b_.exports_.empty() && b_.export_section_ < 0)
      throw std::logic_error("image builder: exports not placed");
    if (!b_.relocations_.empty() && b_.reloc_section_ < 0)
      throw std::logic_error("image builder: relocations not placed");
  }

  // Import table: descriptors, then per module its lookup and address tables, then hint/name
  // entries and module names.
  void plan_imports() {
    const auto& imports = b_.imports_;
    for (size_t i = 0; i < imports.size(); ++i) {
      auto it = std::find(modules_.begin(), modules_.end(), imports[i].module);
      const auto m = static_cast<size_t>(it - modules_.begin());
      if (it == modules_.end()) {
        modules_.push_back(imports[i].module);
        by_module_.emplace_back();
      }
      by_module_[m].push_back(static_cast<int>(i));
    }
    ilt_at_.resize(modules_.size());
    iat_at_.resize(modules_.size());
    module_name_at_.resize(modules_.size());
    hint_at_.resize(imports.size());
    if (imports.empty()) return;
    uint32_t size = static_cast<uint32_t>(modules_.size() + 1) * kImportDescriptorSize;
    for (size_t m = 0; m < modules_.size(); ++m) {
      ilt_at_[m] = size;
      size += static_cast<uint32_t>(by_module_[m].size() + 1) * 4;
      iat_at_[m] = size;
      size += static_cast<uint32_t>(by_module_[m].size() + 1) * 4;
    }
    for (size_t i = 0; i < imports.size(); ++i) {
      if (imports[i].name.empty()) continue;
      hint_at_[i] = size;
      size += align_up(static_cast<uint32_t>(2 + imports[i].name.size() + 1), 2);
    }
    for (size_t m = 0; m < modules_.size(); ++m) {
      module_name_at_[m] = size;
      size += static_cast<uint32_t>(modules_[m].size() + 1);
    }
    import_size_ = size;
    import_at_ = reserve(b_.import_section_, size);
  }

  // Export directory: the directory, its three arrays, the library name, the export names and the
  // forwarder texts. Names are sorted, as a Windows loader's binary search expects.
  void plan_exports() {
    const auto& exports = b_.exports_;
    sorted_.resize(exports.size());
    for (size_t i = 0; i < sorted_.size(); ++i) sorted_[i] = i;
    std::sort(sorted_.begin(), sorted_.end(),
              [&](size_t a, size_t b) { return exports[a].name < exports[b].name; });
    export_name_at_.resize(exports.size());
    forward_at_.resize(exports.size());
    if (exports.empty()) return;
    const auto n = static_cast<uint32_t>(exports.size());
    uint32_t size = kExportDirectorySize + n * 4 + n * 4 + n * 2;
    dll_name_at_ = size;
    size += static_cast<uint32_t>(b_.dll_name_.size() + 1);
    for (size_t i = 0; i < exports.size(); ++i) {
      export_name_at_[i] = size;
      size += static_cast<uint32_t>(exports[i].name.size() + 1);
      if (exports[i].section < 0) {
        forward_at_[i] = size;
        size += static_cast<uint32_t>(exports[i].forward.size() + 1);
      }
    }
    export_size_ = size;
    export_at_ = reserve(b_.export_section_, size);
  }

  // The base relocation blocks for the relocations at the current section addresses.
  std::vector<uint8_t> relocation_table() const {
    std::map<uint32_t, std::vector<uint16_t>> pages;
    for (const auto& r : b_.relocations_) {
      const uint32_t at = rva_of(r.section, r.offset);
      pages[at & ~0xFFFu].push_back(static_cast<uint16_t>((r.type << 12) | (at & 0xFFF)));
    }
    std::vector<uint8_t> table;
    for (auto& [page, entries] : pages) {
      std::sort(entries.begin(), entries.end());
      if (entries.size() % 2) entries.push_back(0);  // blocks are a whole number of 32-bit words
      pe::BaseRelocationBlock block{page, static_cast<uint32_t>(8 + entries.size() * 2)};
      const size_t at = table.size();
      table.resize(at + block.SizeOfBlock);
      put(table, at, block);
      for (size_t e = 0; e < entries.size(); ++e) put(table, at + 8 + e * 2, entries[e]);
    }
    return table;
  }

  // Section placement, redone until the relocation table's size (which depends on the pages the
  // relocations fall in) no longer changes; then the table goes into its section.
  void place_sections() {
    const uint32_t sa = b_.options_.section_alignment;
    const auto n_sections = static_cast<uint32_t>(secs_.size());
    size_of_headers_ = align_up(b_.options_.nt_offset + kNtHeadersSize + kSectionHeaderSize * n_sections,
                                b_.options_.file_alignment);
    rva_.resize(secs_.size());
    const int reloc = b_.reloc_section_;
    const uint32_t reloc_base_size =
        reloc >= 0 ? align_up(static_cast<uint32_t>(sec(reloc).data.size()), 4) : 0;
    std::vector<uint8_t> table;
    for (int round = 0; round < 8; ++round) {
      uint32_t next = align_up(size_of_headers_, sa);
      for (size_t i = 0; i < secs_.size(); ++i) {
        rva_[i] = next;
        uint32_t data_size = static_cast<uint32_t>(secs_[i].data.size());
        if (static_cast<int>(i) == reloc) data_size = reloc_base_size + reloc_size_;
        next = align_up(rva_[i] + std::max(data_size, 1u), sa);
      }
      table = relocation_table();
      if (table.size() == reloc_size_) break;
      reloc_size_ = static_cast<uint32_t>(table.size());
    }
    if (reloc >= 0 && !table.empty()) {
      reloc_at_ = reserve(reloc, reloc_size_);
      std::memcpy(sec(reloc).data.data() + reloc_at_, table.data(), reloc_size_);
    }
  }

  void write_imports() {
    if (b_.imports_.empty()) return;
    const int s = b_.import_section_;
    auto& d = sec(s).data;
    for (size_t m = 0; m < modules_.size(); ++m) {
      pe::ImportDescriptor desc{};
      desc.OriginalFirstThunk = rva_of(s, import_at_ + ilt_at_[m]);
      desc.Name = rva_of(s, import_at_ + module_name_at_[m]);
      desc.FirstThunk = rva_of(s, import_at_ + iat_at_[m]);
      put(d, import_at_ + m * kImportDescriptorSize, desc);
      put_text(d, import_at_ + module_name_at_[m], modules_[m]);
      for (size_t k = 0; k < by_module_[m].size(); ++k) {
        const auto id = static_cast<size_t>(by_module_[m][k]);
        const Import& imp = b_.imports_[id];
        const uint32_t thunk =
            imp.name.empty() ? (pe::kOrdinalFlag | imp.ordinal) : rva_of(s, import_at_ + hint_at_[id]);
        put(d, import_at_ + ilt_at_[m] + k * 4, thunk);
        put(d, import_at_ + iat_at_[m] + k * 4, thunk);
        out_.slot_rva[id] = rva_of(s, import_at_ + iat_at_[m] + static_cast<uint32_t>(k) * 4);
        if (!imp.name.empty()) put_text(d, import_at_ + hint_at_[id] + 2, imp.name);
      }
    }
  }

  void write_exports() {
    const auto& exports = b_.exports_;
    if (exports.empty()) return;
    auto& d = sec(b_.export_section_).data;
    const uint32_t base = rva_of(b_.export_section_, export_at_);
    const auto n = static_cast<uint32_t>(exports.size());
    const uint32_t functions = kExportDirectorySize, names = functions + n * 4, ordinals = names + n * 4;
    pe::ExportDirectory dir{};
    dir.Name = base + dll_name_at_;
    dir.Base = 1;
    dir.NumberOfFunctions = n;
    dir.NumberOfNames = n;
    dir.AddressOfFunctions = base + functions;
    dir.AddressOfNames = base + names;
    dir.AddressOfNameOrdinals = base + ordinals;
    put(d, export_at_, dir);
    put_text(d, export_at_ + dll_name_at_, b_.dll_name_);
    for (uint32_t i = 0; i < n; ++i) {
      const Export& e = exports[i];
      const uint32_t address = e.section < 0 ? base + forward_at_[i] : rva_of(e.section, e.offset);
      put(d, export_at_ + functions + i * 4, address);
      put_text(d, export_at_ + export_name_at_[i], e.name);
      if (e.section < 0) put_text(d, export_at_ + forward_at_[i], e.forward);
    }
    for (uint32_t k = 0; k < n; ++k) {
      const auto i = static_cast<uint32_t>(sorted_[k]);
      put(d, export_at_ + names + k * 4, base + export_name_at_[i]);
      put(d, export_at_ + ordinals + k * 2, static_cast<uint16_t>(i));
    }
  }

  void apply_fixups() {
    for (const auto& f : b_.fixups_) {
      const uint32_t target = f.to_slot ? out_.slot_rva[static_cast<size_t>(f.import_id)]
                                        : rva_of(f.target_section, f.target_offset);
      put(sec(f.section).data, f.offset, b_.options_.image_base + target);
    }
  }

  pe::NtHeaders32 nt_headers() const {
    const ImageBuilder::Options& o = b_.options_;
    pe::NtHeaders32 nt{};
    nt.Signature = pe::kNtSignature;
    nt.FileHeader.Machine = pe::kMachineI386;
    nt.FileHeader.NumberOfSections = static_cast<uint16_t>(secs_.size());
    nt.FileHeader.SizeOfOptionalHeader = sizeof(pe::OptionalHeader32);
    nt.FileHeader.Characteristics = pe::kExecutableImage | pe::kMachine32Bit | (o.dll ? pe::kDll : 0);
    auto& opt = nt.OptionalHeader;
    opt.Magic = pe::kOptionalMagic32;
    opt.MajorLinkerVersion = 6;
    opt.ImageBase = o.image_base;
    opt.SectionAlignment = o.section_alignment;
    opt.FileAlignment = o.file_alignment;
    opt.MajorOperatingSystemVersion = 4;
    opt.MajorSubsystemVersion = 4;
    opt.SizeOfHeaders = size_of_headers_;
    opt.Subsystem = 2;  // a window program
    opt.SizeOfStackReserve = 0x100000;
    opt.SizeOfStackCommit = 0x1000;
    opt.SizeOfHeapReserve = 0x100000;
    opt.SizeOfHeapCommit = 0x1000;
    opt.NumberOfRvaAndSizes = pe::kDirectoryCount;
    if (b_.entry_section_ >= 0) opt.AddressOfEntryPoint = rva_of(b_.entry_section_, b_.entry_offset_);
    if (!b_.imports_.empty())
      opt.DataDirectory[pe::kDirImport] = {rva_of(b_.import_section_, import_at_), import_size_};
    if (!b_.exports_.empty())
      opt.DataDirectory[pe::kDirExport] = {rva_of(b_.export_section_, export_at_), export_size_};
    if (reloc_size_)
      opt.DataDirectory[pe::kDirBaseReloc] = {rva_of(b_.reloc_section_, reloc_at_), reloc_size_};
    return nt;
  }

  // The section headers, filling in the sizes and bases of the optional header; the file's length.
  uint32_t section_headers(pe::OptionalHeader32& opt, std::vector<pe::SectionHeader>* headers) const {
    const uint32_t sa = b_.options_.section_alignment, fa = b_.options_.file_alignment;
    headers->resize(secs_.size());
    uint32_t file_at = size_of_headers_, image_end = align_up(size_of_headers_, sa);
    for (size_t i = 0; i < secs_.size(); ++i) {
      auto& h = (*headers)[i];
      std::memcpy(h.Name, secs_[i].name.data(), secs_[i].name.size());
      const auto data_size = static_cast<uint32_t>(secs_[i].data.size());
      h.VirtualSize = data_size;
      h.VirtualAddress = rva_[i];
      h.SizeOfRawData = align_up(data_size, fa);
      h.PointerToRawData = h.SizeOfRawData ? file_at : 0;
      h.Characteristics = secs_[i].characteristics;
      file_at += h.SizeOfRawData;
      image_end = align_up(rva_[i] + std::max(h.VirtualSize, 1u), sa);
      if (secs_[i].characteristics & pe::kSectionCode) {
        opt.SizeOfCode += h.SizeOfRawData;
        if (!opt.BaseOfCode) opt.BaseOfCode = rva_[i];
      } else {
        opt.SizeOfInitializedData += h.SizeOfRawData;
        if (!opt.BaseOfData) opt.BaseOfData = rva_[i];
      }
    }
    opt.SizeOfImage = image_end;
    return file_at;
  }

  static pe::DosHeader dos_header(uint32_t nt_offset) {
    pe::DosHeader dos{};
    dos.e_magic = pe::kDosMagic;
    dos.e_cblp = 0x90;
    dos.e_cp = 3;
    dos.e_cparhdr = 4;
    dos.e_maxalloc = 0xFFFF;
    dos.e_sp = 0xB8;
    dos.e_lfarlc = 0x40;
    dos.e_lfanew = static_cast<int32_t>(nt_offset);
    return dos;
  }

  void write_file() {
    pe::NtHeaders32 nt = nt_headers();
    out_.entry_rva = nt.OptionalHeader.AddressOfEntryPoint;
    std::vector<pe::SectionHeader> headers;
    out_.bytes.assign(section_headers(nt.OptionalHeader, &headers), 0);
    put(out_.bytes, 0, dos_header(b_.options_.nt_offset));
    put(out_.bytes, b_.options_.nt_offset, nt);
    for (size_t i = 0; i < headers.size(); ++i) {
      put(out_.bytes, out_.section_header_offset(static_cast<int>(i)), headers[i]);
      out_.section_file_offset.push_back(headers[i].PointerToRawData);
      if (!secs_[i].data.empty())
        std::memcpy(out_.bytes.data() + headers[i].PointerToRawData, secs_[i].data.data(),
                    secs_[i].data.size());
    }
  }

  const ImageBuilder& b_;
  std::vector<Section> secs_;  // the builder's sections, with the tables added
  BuiltImage out_;
  // Imports, by module in the order first named.
  std::vector<std::string> modules_;
  std::vector<std::vector<int>> by_module_;
  uint32_t import_at_ = 0, import_size_ = 0;
  std::vector<uint32_t> ilt_at_, iat_at_, module_name_at_, hint_at_;  // offsets inside the import table
  // Exports.
  std::vector<size_t> sorted_;  // export indexes by name
  uint32_t export_at_ = 0, export_size_ = 0, dll_name_at_ = 0;
  std::vector<uint32_t> export_name_at_, forward_at_;  // offsets inside the export directory
  // Placement.
  uint32_t size_of_headers_ = 0;
  std::vector<uint32_t> rva_;
  uint32_t reloc_at_ = 0, reloc_size_ = 0;
};

BuiltImage ImageBuilder::build() const { return Build(*this).run(); }

}  // namespace pennacle
