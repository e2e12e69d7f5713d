// The built-in host libraries ("kernel32.dll", "oleaut32.dll" and the other default libraries)
// that the outside-function table starts with.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "runtime/outside.h"

namespace pennacle {

struct BuiltinLibrary {
  std::string_view file_name;
  std::span<const HostExport> exports;
  bool pinned;  // loaded in every process, so GetModuleHandleA finds it without LoadLibraryA
};

std::span<const BuiltinLibrary> builtin_host_libraries();

// The picture renderer behind GetDateFormatA and GetTimeFormatA: GBK walked by characters, text in
// single quotes copied, "''" an apostrophe. `date` selects which letters are elements: d M y g for a
// date, h H m s t for a time. `flags` are the time flags (kTimeNoSeconds ...).
std::string render_picture(std::string_view picture, const SystemTime& st, bool date, uint32_t flags);

// False when the fields are not a real calendar date / clock time.
bool valid_date(const SystemTime& st);
bool valid_time(const SystemTime& st);

// VariantTimeToSystemTime's conversion: days since 1899-12-30, rounded to the second.
bool variant_time_to_system_time(double t, SystemTime* st);

}  // namespace pennacle
