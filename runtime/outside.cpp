#include "runtime/outside.h"

#include <array>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/low_memory.h"
#include "platform/mutex.h"
#include "runtime/commands.h"
#include "runtime/fatal.h"
#include "runtime/host_libraries.h"

namespace pennacle {
namespace {

// Tokens are addresses inside one inaccessible reservation below 2 GiB: they fit a 32-bit import
// slot and no mapped image or other memory can ever lie at one of them. Module tokens are 64 KiB
// apart like module handles; procedure tokens 16 bytes apart.
constexpr size_t kMaxLibraries = 128;  // slot 0 is the program image itself
constexpr size_t kMaxProcedures = 4096;
constexpr uintptr_t kModuleStride = 0x10000;
constexpr uintptr_t kProcedureStride = 16;
constexpr uintptr_t kProcedureArea = kMaxLibraries * kModuleStride;
constexpr size_t kTokenAreaSize = kProcedureArea + kMaxProcedures * kProcedureStride;

struct Library {
  std::string key;  // normalised file name or path
  std::span<const HostExport> exports;
  int refs = 0;
  bool pinned = false;  // always loaded, like kernel32 in every Windows process
  uint64_t loads = 0;
};

struct Table {
  Mutex mutex;
  uintptr_t token_base = 0;  // set once, before the table is shared
  std::vector<Library> libraries GUARDED_BY(mutex);
  std::unordered_map<HostFunction, size_t> procedure_index GUARDED_BY(mutex);
  std::array<std::atomic<HostFunction>, kMaxProcedures> procedures{};
  std::atomic<size_t> procedure_count{0};
  std::optional<std::string> directory GUARDED_BY(mutex);  // none: the program directory
  std::vector<OutsideFunction*> resolved GUARDED_BY(mutex);
};

std::string normalise(std::string_view name);

Table& table() {
  static Table* t = [] {
    auto* t = new Table;  // never destroyed: worker threads may still call host functions at exit
    uintptr_t base = low_reserve(0, kTokenAreaSize + kModuleStride, false, PageAccess::None);
    // Without a reservation the tokens still fit 32 bits; nothing else maps there by itself.
    if (base == 0) base = 0x7E000000;
    t->token_base = (base + kModuleStride - 1) & ~(kModuleStride - 1);
    MutexLock lock(t->mutex);
    t->libraries.push_back(Library{"", {}, 0, true, 0});
    for (const BuiltinLibrary& b : builtin_host_libraries()) {
      t->libraries.push_back(Library{normalise(b.file_name), b.exports, 0, b.pinned, 0});
    }
    return t;
  }();
  return *t;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A file name as the host loader compares it: case-blind, '\' and '/' alike, ".dll" added to a
// name without an extension, a trailing '.' meaning "no extension".
std::string normalise(std::string_view name) {
  std::string s;
  s.reserve(name.size() + 4);
  for (char c : name) s += c == '\\' ? '/' : lower(c);
  size_t slash = s.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  if (!s.empty() && s.back() == '.') {
    s.pop_back();
  } else if (s.find('.', start) == std::string::npos) {
    s += ".dll";
  }
  return s;
}

std::string_view base_name(std::string_view s) {
  size_t slash = s.rfind('/');
  return slash == std::string_view::npos ? s : s.substr(slash + 1);
}

bool has_path(std::string_view s) { return s.find('/') != std::string_view::npos; }

Word module_token(const Table& t, size_t slot) { return t.token_base + slot * kModuleStride; }

// The slot of a loaded library's token, or -1.
long slot_of(const Table& t, Word module) REQUIRES(t.mutex) {
  t.mutex.assert_held();
  if (module < t.token_base || (module - t.token_base) % kModuleStride != 0) return -1;
  size_t slot = (module - t.token_base) / kModuleStride;
  if (slot >= t.libraries.size()) return -1;
  const Library& lib = t.libraries[slot];
  if (lib.refs == 0 && !lib.pinned) return -1;
  return static_cast<long>(slot);
}

long find_key(const Table& t, const std::string& key) REQUIRES(t.mutex) {
  t.mutex.assert_held();
  for (size_t i = 1; i < t.libraries.size(); ++i) {
    if (t.libraries[i].key == key) return static_cast<long>(i);
  }
  return -1;
}

// The procedure token of a host function, made on first use.
Word procedure_token(Table& t, HostFunction f) REQUIRES(t.mutex) {
  t.mutex.assert_held();
  auto it = t.procedure_index.find(f);
  size_t index;
  if (it != t.procedure_index.end()) {
    index = it->second;
  } else {
    index = t.procedure_count.load(std::memory_order_relaxed);
    if (index >= kMaxProcedures) return 0;
    t.procedures[index].store(f, std::memory_order_release);
    t.procedure_count.store(index + 1, std::memory_order_release);
    t.procedure_index.emplace(f, index);
  }
  return t.token_base + kProcedureArea + index * kProcedureStride;
}

// "#" and decimal digits name an export by ordinal: the number's low 16 bits.
std::optional<uint16_t> parse_ordinal(std::string_view name) {
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  uint32_t n = 0;
  for (char c : name.substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = (n * 10 + static_cast<uint32_t>(c - '0')) & 0xFFFF;  // mod 2^16 at every step keeps the low bits
  }
  return static_cast<uint16_t>(n);
}

// A full path: a name holding a drive colon (C:\x.dll), or one that starts at a root, '/' or '\'.
bool is_full_path(std::string_view name) {
  return name.find(':') != std::string_view::npos || (!name.empty() && (name[0] == '/' || name[0] == '\\'));
}

OutsideFunction g_entries[kOutsideEntryCount] = {
    {"kernel32.dll", "GetLocaleInfoA"},
    {"oleaut32.dll", "VariantTimeToSystemTime"},
    {"kernel32.dll", "GetDateFormatA"},
    {"kernel32.dll", "GetTimeFormatA"},
    {"", "lstrcpyn"},
    {"", "lstrcpynA"},
    {"", "VirtualAlloc"},
    {"", "VirtualFree"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "RtlMoveMemory"},
    {"", "GetModuleHandleA"},
    {"", "LoadLibraryA"},
    {"", "GetProcAddress"},
};

}  // namespace

void register_host_library(std::string_view file_name, std::span<const HostExport> exports) {
  Table& t = table();
  std::string key = normalise(file_name);
  MutexLock lock(t.mutex);
  long slot = find_key(t, key);
  if (slot >= 0) {
    t.libraries[static_cast<size_t>(slot)].exports = exports;
    return;
  }
  if (t.libraries.size() >= kMaxLibraries) {
    report_fatal_message("host library table full: " + std::string(file_name));
  }
  t.libraries.push_back(Library{std::move(key), exports, 0, false, 0});
}

Word host_load_library(std::string_view file_name) {
  if (file_name.empty()) return 0;
  Table& t = table();
  std::string key = normalise(file_name);
  MutexLock lock(t.mutex);
  long slot = find_key(t, key);
  if (slot < 0) return 0;
  Library& lib = t.libraries[static_cast<size_t>(slot)];
  ++lib.refs;
  ++lib.loads;
  return module_token(t, static_cast<size_t>(slot));
}

Word host_module_handle(std::string_view file_name) {
  Table& t = table();
  MutexLock lock(t.mutex);
  if (file_name.empty()) return module_token(t, 0);
  std::string key = normalise(file_name);
  // A bare name matches a loaded library of that file name wherever it was loaded from.
  const bool by_path = has_path(key);
  for (size_t i = 1; i < t.libraries.size(); ++i) {
    const Library& lib = t.libraries[i];
    if (lib.refs == 0 && !lib.pinned) continue;
    if (by_path ? lib.key == key : base_name(lib.key) == key) return module_token(t, i);
  }
  return 0;
}

Word host_proc_address(Word module, std::string_view name) {
  Table& t = table();
  MutexLock lock(t.mutex);
  long slot = slot_of(t, module);
  if (slot < 0) return 0;
  for (const HostExport& e : t.libraries[static_cast<size_t>(slot)].exports) {
    if (e.name == name) return procedure_token(t, e.function);
  }
  return 0;
}

Word host_proc_address(Word module, uint16_t ordinal) {
  if (ordinal == 0) return 0;
  Table& t = table();
  MutexLock lock(t.mutex);
  long slot = slot_of(t, module);
  if (slot < 0) return 0;
  for (const HostExport& e : t.libraries[static_cast<size_t>(slot)].exports) {
    if (e.ordinal == ordinal) return procedure_token(t, e.function);
  }
  return 0;
}

void host_free_library(Word module) {
  Table& t = table();
  MutexLock lock(t.mutex);
  long slot = slot_of(t, module);
  if (slot > 0 && t.libraries[static_cast<size_t>(slot)].refs > 0)
    --t.libraries[static_cast<size_t>(slot)].refs;
}

uint64_t host_load_count(std::string_view file_name) {
  Table& t = table();
  std::string key = normalise(file_name);
  MutexLock lock(t.mutex);
  long slot = find_key(t, key);
  return slot < 0 ? 0 : t.libraries[static_cast<size_t>(slot)].loads;
}

bool is_host_address(Word address) {
  Table& t = table();
  const uintptr_t first = t.token_base + kProcedureArea;
  if (address < first || (address - first) % kProcedureStride != 0) return false;
  return (address - first) / kProcedureStride < t.procedure_count.load(std::memory_order_acquire);
}

Word call_host_address(Word address, std::span<const Word> args) {
  if (!is_host_address(address)) return 0;
  Table& t = table();
  size_t index = (address - t.token_base - kProcedureArea) / kProcedureStride;
  return t.procedures[index].load(std::memory_order_acquire)(args);
}

void set_library_directory(std::string_view directory) {
  Table& t = table();
  MutexLock lock(t.mutex);
  t.directory = std::string(directory);
}

std::string library_directory() {
  Table& t = table();
  {
    MutexLock lock(t.mutex);
    if (t.directory) return *t.directory;
  }
  return program_directory();
}

Word resolve_outside(OutsideFunction& f) {
  if (Word a = f.address.load(std::memory_order_acquire)) return a;
  const std::optional<uint16_t> ordinal = parse_ordinal(f.name);
  auto lookup = [&](Word module) {
    return ordinal ? host_proc_address(module, *ordinal) : host_proc_address(module, f.name);
  };
  Word module = 0;
  Word address = 0;
  if (f.library.empty()) {
    for (std::string_view lib : kDefaultLibraries) {
      Word m = host_load_library(lib);
      if (m == 0) continue;
      address = lookup(m);
      if (address != 0) {
        module = m;
        break;
      }
      host_free_library(m);
    }
  } else {
    if (!is_full_path(f.library))
      module = host_load_library(library_directory() + "/" + std::string(f.library));
    if (module == 0) module = host_load_library(f.library);
    if (module != 0) address = lookup(module);
  }
  if (address == 0) {
    if (module != 0) host_free_library(module);
    std::string name(f.name);
    if (f.library.empty()) {
      report_fatal_message("无法找到指定DLL库文件中的输出命令“" + name + "”");
    }
    report_fatal_message("无法找到指定DLL库文件“" + std::string(f.library) + "”中的输出命令“" + name + "”");
  }
  Word expected = 0;
  if (f.address.compare_exchange_strong(expected, address, std::memory_order_acq_rel)) {
    f.module.store(module, std::memory_order_release);
    Table& t = table();
    MutexLock lock(t.mutex);
    t.resolved.push_back(&f);
  } else {
    host_free_library(module);  // another thread resolved it first and keeps its library
  }
  return f.address.load(std::memory_order_acquire);
}

OutsideFunction& outside_entry(int entry) {
  if (entry < 0 || entry >= kOutsideEntryCount) {
    report_fatal_message("call_outside: no outside function number " + std::to_string(entry));
  }
  return g_entries[entry];
}

Word call_outside(int entry, std::initializer_list<Word> args) {
  Word address = resolve_outside(outside_entry(entry));
  return call_host_address(address, std::span<const Word>(args.begin(), args.size()));
}

void free_outside_libraries() {
  Table& t = table();
  std::vector<OutsideFunction*> resolved;
  {
    MutexLock lock(t.mutex);
    resolved.swap(t.resolved);
  }
  for (OutsideFunction* f : resolved) {
    Word m = f->module.exchange(0, std::memory_order_acq_rel);
    f->address.store(0, std::memory_order_release);
    if (m != 0) host_free_library(m);
  }
}

Word double_word(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return static_cast<Word>(bits);
}

}  // namespace pennacle
