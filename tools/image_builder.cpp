#include "tools/image_builder.h"

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
  sections_.push_back(Section{std::move(name), characteristics, {}, 0});
  return static_cast<int>(sections_.size()) - 1;
}

void ImageBuilder::set_virtual_size(int index, uint32_t size) { section(index).virtual_size = size; }

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

BuiltImage ImageBuilder::build() const {
  if (sections_.empty()) throw std::logic_error("image builder: an image needs a section");
  if (!imports_.empty() && import_section_ < 0) throw std::logic_error("image builder: imports not placed");
  if (!exports_.empty() && export_section_ < 0) throw std::logic_error("image builder: exports not placed");
  if (!relocations_.empty() && reloc_section_ < 0)
    throw std::logic_error("image builder: relocations not placed");
  const uint32_t sa = options_.section_alignment, fa = options_.file_alignment;
  std::vector<Section> secs = sections_;
  auto sec = [&](int i) -> Section& { return secs.at(static_cast<size_t>(i)); };
  auto reserve = [&](int i, uint32_t size) {
    auto& d = sec(i).data;
    d.resize(align_up(static_cast<uint32_t>(d.size()), 4), 0);
    auto at = static_cast<uint32_t>(d.size());
    d.resize(d.size() + size, 0);
    return at;
  };

  // Import table: descriptors, then per module its lookup and address tables, then hint/name
  // entries and module names.
  std::vector<std::string> modules;
  std::vector<std::vector<int>> by_module;
  for (size_t i = 0; i < imports_.size(); ++i) {
    auto it = std::find(modules.begin(), modules.end(), imports_[i].module);
    size_t m = static_cast<size_t>(it - modules.begin());
    if (it == modules.end()) {
      modules.push_back(imports_[i].module);
      by_module.emplace_back();
    }
    by_module[m].push_back(static_cast<int>(i));
  }
  uint32_t import_at = 0, import_size = 0;
  std::vector<uint32_t> ilt_at(modules.size()), iat_at(modules.size()), module_name_at(modules.size());
  std::vector<uint32_t> hint_at(imports_.size());
  if (!imports_.empty()) {
    uint32_t size = static_cast<uint32_t>(modules.size() + 1) * 20;
    for (size_t m = 0; m < modules.size(); ++m) {
      ilt_at[m] = size;
      size += static_cast<uint32_t>(by_module[m].size() + 1) * 4;
      iat_at[m] = size;
      size += static_cast<uint32_t>(by_module[m].size() + 1) * 4;
    }
    for (size_t i = 0; i < imports_.size(); ++i) {
      if (imports_[i].name.empty()) continue;
      hint_at[i] = size;
      size += align_up(static_cast<uint32_t>(2 + imports_[i].name.size() + 1), 2);
    }
    for (size_t m = 0; m < modules.size(); ++m) {
      module_name_at[m] = size;
      size += static_cast<uint32_t>(modules[m].size() + 1);
    }
    import_size = size;
    import_at = reserve(import_section_, size);
  }

  // Export directory: the directory, its three arrays, the library name, the export names and the
  // forwarder texts. Names are sorted, as a Windows loader's binary search expects.
  std::vector<size_t> sorted(exports_.size());
  for (size_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
  std::sort(sorted.begin(), sorted.end(),
            [&](size_t a, size_t b) { return exports_[a].name < exports_[b].name; });
  uint32_t export_at = 0, export_size = 0, dll_name_at = 0;
  std::vector<uint32_t> export_name_at(exports_.size()), forward_at(exports_.size());
  const auto n_exports = static_cast<uint32_t>(exports_.size());
  if (!exports_.empty()) {
    uint32_t size = 40 + n_exports * 4 + n_exports * 4 + n_exports * 2;
    dll_name_at = size;
    size += static_cast<uint32_t>(dll_name_.size() + 1);
    for (size_t i = 0; i < exports_.size(); ++i) {
      export_name_at[i] = size;
      size += static_cast<uint32_t>(exports_[i].name.size() + 1);
      if (exports_[i].section < 0) {
        forward_at[i] = size;
        size += static_cast<uint32_t>(exports_[i].forward.size() + 1);
      }
    }
    export_size = size;
    export_at = reserve(export_section_, size);
  }

  // Section placement, redone until the relocation table's size (which depends on the pages the
  // relocations fall in) no longer changes.
  const auto n_sections = static_cast<uint32_t>(secs.size());
  const uint32_t headers_end = options_.nt_offset + 248 + 40 * n_sections;
  const uint32_t size_of_headers = align_up(headers_end, fa);
  std::vector<uint32_t> rva(secs.size());
  uint32_t reloc_at = 0, reloc_size = 0;
  size_t reloc_base_size =
      reloc_section_ >= 0 ? align_up(static_cast<uint32_t>(sec(reloc_section_).data.size()), 4) : 0;
  std::vector<uint8_t> reloc_table;
  for (int round = 0; round < 8; ++round) {
    uint32_t next = align_up(size_of_headers, sa);
    for (size_t i = 0; i < secs.size(); ++i) {
      rva[i] = next;
      uint32_t data_size = static_cast<uint32_t>(secs[i].data.size());
      if (static_cast<int>(i) == reloc_section_)
        data_size = static_cast<uint32_t>(reloc_base_size) + reloc_size;
      next = align_up(rva[i] + std::max({data_size, secs[i].virtual_size, 1u}), sa);
    }
    std::map<uint32_t, std::vector<uint16_t>> pages;
    for (const auto& r : relocations_) {
      uint32_t at = rva[static_cast<size_t>(r.section)] + r.offset;
      pages[at & ~0xFFFu].push_back(static_cast<uint16_t>((r.type << 12) | (at & 0xFFF)));
    }
    reloc_table.clear();
    for (auto& [page, entries] : pages) {
      std::sort(entries.begin(), entries.end());
      if (entries.size() % 2) entries.push_back(0);  // blocks are a whole number of 32-bit words
      pe::BaseRelocationBlock block{page, static_cast<uint32_t>(8 + entries.size() * 2)};
      size_t at = reloc_table.size();
      reloc_table.resize(at + block.SizeOfBlock);
      put(reloc_table, at, block);
      for (size_t e = 0; e < entries.size(); ++e) put(reloc_table, at + 8 + e * 2, entries[e]);
    }
    if (reloc_table.size() == reloc_size) break;
    reloc_size = static_cast<uint32_t>(reloc_table.size());
  }
  if (reloc_section_ >= 0 && !reloc_table.empty()) {
    reloc_at = reserve(reloc_section_, reloc_size);
    std::memcpy(sec(reloc_section_).data.data() + reloc_at, reloc_table.data(), reloc_size);
  }
  auto rva_of = [&](int i, uint32_t offset) { return rva[static_cast<size_t>(i)] + offset; };

  BuiltImage out;
  out.nt_offset = options_.nt_offset;
  out.section_rva = rva;
  out.slot_rva.resize(imports_.size());

  if (!imports_.empty()) {
    auto& d = sec(import_section_).data;
    for (size_t m = 0; m < modules.size(); ++m) {
      pe::ImportDescriptor desc{};
      desc.OriginalFirstThunk = rva_of(import_section_, import_at + ilt_at[m]);
      desc.Name = rva_of(import_section_, import_at + module_name_at[m]);
      desc.FirstThunk = rva_of(import_section_, import_at + iat_at[m]);
      put(d, import_at + m * 20, desc);
      put_text(d, import_at + module_name_at[m], modules[m]);
      for (size_t k = 0; k < by_module[m].size(); ++k) {
        const auto id = static_cast<size_t>(by_module[m][k]);
        const Import& imp = imports_[id];
        uint32_t thunk = imp.name.empty() ? (pe::kOrdinalFlag | imp.ordinal)
                                          : rva_of(import_section_, import_at + hint_at[id]);
        put(d, import_at + ilt_at[m] + k * 4, thunk);
        put(d, import_at + iat_at[m] + k * 4, thunk);
        out.slot_rva[id] = rva_of(import_section_, import_at + iat_at[m] + static_cast<uint32_t>(k) * 4);
        if (!imp.name.empty()) put_text(d, import_at + hint_at[id] + 2, imp.name);
      }
    }
  }
  if (!exports_.empty()) {
    auto& d = sec(export_section_).data;
    const uint32_t base = rva_of(export_section_, export_at);
    pe::ExportDirectory dir{};
    dir.Name = base + dll_name_at;
    dir.Base = 1;
    dir.NumberOfFunctions = n_exports;
    dir.NumberOfNames = n_exports;
    dir.AddressOfFunctions = base + 40;
    dir.AddressOfNames = base + 40 + n_exports * 4;
    dir.AddressOfNameOrdinals = base + 40 + n_exports * 8;
    put(d, export_at, dir);
    put_text(d, export_at + dll_name_at, dll_name_);
    for (uint32_t i = 0; i < n_exports; ++i) {
      const Export& e = exports_[i];
      uint32_t address = e.section < 0 ? base + forward_at[i] : rva_of(e.section, e.offset);
      put(d, export_at + 40 + i * 4, address);
      put_text(d, export_at + export_name_at[i], e.name);
      if (e.section < 0) put_text(d, export_at + forward_at[i], e.forward);
    }
    for (uint32_t k = 0; k < n_exports; ++k) {
      const auto i = static_cast<uint32_t>(sorted[k]);
      put(d, export_at + 40 + n_exports * 4 + k * 4, base + export_name_at[i]);
      put(d, export_at + 40 + n_exports * 8 + k * 2, static_cast<uint16_t>(i));
    }
  }
  for (const auto& f : fixups_) {
    uint32_t target = f.to_slot ? out.slot_rva[static_cast<size_t>(f.import_id)]
                                : rva_of(f.target_section, f.target_offset);
    put(sec(f.section).data, f.offset, options_.image_base + target);
  }

  // Headers and the file.
  pe::NtHeaders32 nt{};
  nt.Signature = pe::kNtSignature;
  nt.FileHeader.Machine = pe::kMachineI386;
  nt.FileHeader.NumberOfSections = static_cast<uint16_t>(n_sections);
  nt.FileHeader.SizeOfOptionalHeader = sizeof(pe::OptionalHeader32);
  nt.FileHeader.Characteristics = pe::kExecutableImage | pe::kMachine32Bit | (options_.dll ? pe::kDll : 0);
  auto& opt = nt.OptionalHeader;
  opt.Magic = pe::kOptionalMagic32;
  opt.MajorLinkerVersion = 6;
  opt.ImageBase = options_.image_base;
  opt.SectionAlignment = sa;
  opt.FileAlignment = fa;
  opt.MajorOperatingSystemVersion = 4;
  opt.MajorSubsystemVersion = 4;
  opt.SizeOfHeaders = size_of_headers;
  opt.Subsystem = 2;
  opt.SizeOfStackReserve = 0x100000;
  opt.SizeOfStackCommit = 0x1000;
  opt.SizeOfHeapReserve = 0x100000;
  opt.SizeOfHeapCommit = 0x1000;
  opt.NumberOfRvaAndSizes = pe::kDirectoryCount;
  if (entry_section_ >= 0) opt.AddressOfEntryPoint = rva_of(entry_section_, entry_offset_);
  out.entry_rva = opt.AddressOfEntryPoint;
  if (!imports_.empty())
    opt.DataDirectory[pe::kDirImport] = {rva_of(import_section_, import_at), import_size};
  if (!exports_.empty())
    opt.DataDirectory[pe::kDirExport] = {rva_of(export_section_, export_at), export_size};
  if (reloc_size) opt.DataDirectory[pe::kDirBaseReloc] = {rva_of(reloc_section_, reloc_at), reloc_size};

  std::vector<pe::SectionHeader> headers(secs.size());
  uint32_t file_at = size_of_headers, image_end = align_up(size_of_headers, sa);
  for (size_t i = 0; i < secs.size(); ++i) {
    auto& h = headers[i];
    std::memcpy(h.Name, secs[i].name.data(), secs[i].name.size());
    const auto data_size = static_cast<uint32_t>(secs[i].data.size());
    h.VirtualSize = std::max(data_size, secs[i].virtual_size);
    h.VirtualAddress = rva[i];
    h.SizeOfRawData = align_up(data_size, fa);
    h.PointerToRawData = h.SizeOfRawData ? file_at : 0;
    h.Characteristics = secs[i].characteristics;
    file_at += h.SizeOfRawData;
    image_end = align_up(rva[i] + std::max(h.VirtualSize, 1u), sa);
    if (secs[i].characteristics & pe::kSectionCode) {
      opt.SizeOfCode += h.SizeOfRawData;
      if (!opt.BaseOfCode) opt.BaseOfCode = rva[i];
    } else {
      opt.SizeOfInitializedData += h.SizeOfRawData;
      if (!opt.BaseOfData) opt.BaseOfData = rva[i];
    }
  }
  opt.SizeOfImage = image_end;

  out.bytes.assign(file_at, 0);
  pe::DosHeader dos{};
  dos.e_magic = pe::kDosMagic;
  dos.e_cblp = 0x90;
  dos.e_cp = 3;
  dos.e_cparhdr = 4;
  dos.e_maxalloc = 0xFFFF;
  dos.e_sp = 0xB8;
  dos.e_lfarlc = 0x40;
  dos.e_lfanew = static_cast<int32_t>(options_.nt_offset);
  put(out.bytes, 0, dos);
  put(out.bytes, options_.nt_offset, nt);
  for (size_t i = 0; i < headers.size(); ++i) {
    put(out.bytes, out.section_header_offset(static_cast<int>(i)), headers[i]);
    out.section_file_offset.push_back(headers[i].PointerToRawData);
    if (!secs[i].data.empty())
      std::memcpy(out.bytes.data() + headers[i].PointerToRawData, secs[i].data.data(), secs[i].data.size());
  }
  return out;
}

}  // namespace pennacle
