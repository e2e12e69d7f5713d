// Outside functions: functions of system libraries that the program declares once by library file
// name and exported name, resolves on first call and then calls directly.
//
// On this host the "system libraries" are built-in host libraries registered in one table
// ("kernel32.dll", "oleaut32.dll", ...). A host function takes and returns machine words. The
// original passes 32-bit words; here a word is pointer-sized so that buffers and blocks can be
// passed by address.
//
// Procedure and module addresses handed out by the host loader (GetProcAddress, LoadLibraryA,
// GetModuleHandleA) are 32-bit tokens, not host pointers, so that they fit the 32-bit import slots
// of a mapped library image; `call_host_address` turns a token back into the function.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace pennacle {

using Word = uintptr_t;

// Every host function has this one shape; a callee reads the arguments it takes and ignores the
// rest (arguments not passed read as 0).
using HostFunction = Word (*)(std::span<const Word> args);

struct HostExport {
  std::string_view name;  // exported name
  uint16_t ordinal;       // export ordinal, 0 for none
  HostFunction function;
};

// Registers a host library under its file name (compared without regard to case). The exports
// must outlive the program (a static table). Registering a name twice replaces the exports.
void register_host_library(std::string_view file_name, std::span<const HostExport> exports);

// The host loader, as a Windows loader would answer (0 for failure).
Word host_load_library(std::string_view file_name);    // LoadLibraryA
Word host_module_handle(std::string_view file_name);   // GetModuleHandleA: only already loaded
Word host_proc_address(Word module, std::string_view name);  // GetProcAddress by name
Word host_proc_address(Word module, uint16_t ordinal);       // GetProcAddress by ordinal
void host_free_library(Word module);                   // FreeLibrary

// True when `address` is a procedure token from host_proc_address; calls it with the arguments.
bool is_host_address(Word address);
Word call_host_address(Word address, std::span<const Word> args);

// The program's declared outside functions, by entry number.
enum OutsideEntry : int {
  kGetLocaleInfoA = 0,
  kVariantTimeToSystemTime = 1,
  kGetDateFormatA = 2,
  kGetTimeFormatA = 3,
  kLstrcpyn = 4,
  kLstrcpynA = 5,
  kVirtualAlloc = 6,
  kVirtualFree = 7,
  kRtlMoveMemoryFirst = 8,  // 8 to 18: RtlMoveMemory in eleven argument shapes
  kRtlMoveMemoryLast = 18,
  kGetModuleHandleA = 19,
  kLoadLibraryA = 20,
  kGetProcAddress = 21,
  kOutsideEntryCount = 22,
};

// Calls a declared outside function, resolving it on first use (fatal when it cannot be found).
Word call_outside(int entry, std::initializer_list<Word> args);

}  // namespace pennacle
