// Outside functions: functions of system libraries that the program declares once by library file
// name and exported name, resolves on first call and then calls directly.
//
// On this host the "system libraries" are built-in host libraries registered in one table
// ("kernel32.dll", "oleaut32.dll", ...). A host function takes and returns machine words: a 32-bit
// host passes each argument as one word, and here a word is pointer-sized so that buffers and
// blocks can be passed by address.
//
// Procedure and module addresses handed out by the host loader (GetProcAddress, LoadLibraryA,
// GetModuleHandleA) are 32-bit tokens, not host pointers, so that they fit the 32-bit import slots
// of a mapped library image; `call_host_address` turns a token back into the function.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
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
Word host_load_library(std::string_view file_name);          // LoadLibraryA
Word host_module_handle(std::string_view file_name);         // GetModuleHandleA: only already loaded
Word host_proc_address(Word module, std::string_view name);  // GetProcAddress by name
Word host_proc_address(Word module, uint16_t ordinal);       // GetProcAddress by ordinal
void host_free_library(Word module);                         // FreeLibrary

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
// Host functions are plain C++ calls that read their arguments from a span: the callee cannot
// remove more or fewer argument words than were passed, so the stack depth after a call always
// equals the depth before it and the stack-mismatch fault cannot arise here.
Word call_outside(int entry, std::initializer_list<Word> args);

// ---- Resolution ------------------------------------------------------------------------------

// One declared outside function: library file name ("" for the default libraries) and exported
// name ("#12" names ordinal 12). The address and the library loaded for it are filled in on first
// resolution and kept. Two threads may resolve at once: both find the same address, one keeps its
// library reference and the other frees its own.
struct OutsideFunction {
  std::string_view library;
  std::string_view name;
  std::atomic<Word> address{0};
  std::atomic<Word> module{0};
};

// Searched in this order for a function declared without a library file name.
inline constexpr std::string_view kDefaultLibraries[] = {"Kernel32.dll", "Gdi32.dll", "User32.dll",
                                                         "Advapi32.dll", "Mpr.dll",   "Shell32.dll"};

// The address of `f` (a procedure token), resolving it on first use. When nothing exports it the
// fatal path reports "无法找到指定DLL库文件“%s”中的输出命令“%s”" (or the form without a library
// name) and this does not return.
Word resolve_outside(OutsideFunction& f);

// The declared entry (0 to 21) of this program.
OutsideFunction& outside_entry(int entry);

// A library named without a full path is first looked for in the program directory. No real
// library is ever loaded here, so "the file in the program directory" is a host library registered
// under the directory path joined with the name ("/opt/pennacle/kernel32.dll"); only when no such
// library exists is the bare name tried. The directory is program_directory() unless set; GBK.
void set_library_directory(std::string_view directory);
std::string library_directory();

// Frees every library loaded for outside functions; their entries become unresolved again.
// Called once at the end of the program.
void free_outside_libraries();

// How many times a library has been loaded (LoadLibraryA or a resolution), for diagnostics.
uint64_t host_load_count(std::string_view file_name);

// ---- Structures the host functions share with their callers ----------------------------------

// The broken-down time of VariantTimeToSystemTime, GetDateFormatA and GetTimeFormatA.
struct SystemTime {
  uint16_t year;
  uint16_t month;
  uint16_t day_of_week;  // 0 = Sunday
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

// Arguments and results of the host functions that this program uses.
inline constexpr Word kLocaleITime = 0x23;
inline constexpr Word kTimeNoMinutesOrSeconds = 0x1;
inline constexpr Word kTimeNoSeconds = 0x2;
inline constexpr Word kTimeNoTimeMarker = 0x4;
inline constexpr Word kTimeForce24Hour = 0x8;
inline constexpr Word kMemCommit = 0x1000;
inline constexpr Word kMemReserve = 0x2000;
inline constexpr Word kMemDecommit = 0x4000;
inline constexpr Word kMemRelease = 0x8000;
inline constexpr Word kPageNoAccess = 0x01;
inline constexpr Word kPageReadWrite = 0x04;
inline constexpr Word kPageExecuteReadWrite = 0x40;

// A double argument travels as its 64-bit pattern in one word (a 32-bit host pushes it as two
// words).
Word double_word(double d);

}  // namespace pennacle
