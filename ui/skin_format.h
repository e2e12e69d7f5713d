// The ".SKN" skin data block: what the skin engine reads to restyle the program's windows.
//
// This file has no Qt in it on purpose: the build-time generator that writes the carried skins and
// the fuzz target use it without a display. All numbers are little-endian.
//
//   offset  size  field
//   0       4     magic ".SKN"
//   4       2     format version, 1
//   6       2     record count n, 1 to 16
//   8       4     block length in bytes, equal to the length handed over
//   12      4     CRC-32 (zlib polynomial) of bytes 16 to the end
//   16      ...   n records, back to back: u16 tag, u16 zero, u32 payload length, payload
//
// Records (each at most once; a record with an unknown tag is skipped by its length so that
// later versions can add some):
//   1 name     UTF-8 text, 1 to 64 bytes, no zero byte
//   2 palette  u16 count (1 to 128), then count entries of 6 bytes: u8 colour group (0 active,
//              1 disabled, 2 inactive, 3 every group), u8 colour role (0 to 20, Qt's
//              QPalette::ColorRole numbering), u32 colour 0xAARRGGBB
//   3 font     u16 point size (6 to 48), u16 weight (100 to 900), u16 family length (1 to 64),
//              family, UTF-8 without a zero byte
//   4 style    the style sheet, UTF-8 text without a zero byte, at most 64 KiB
// A block needs a palette and a style record. Anything else (short block, wrong magic or version,
// length or checksum mismatch, a record running past the end, bytes left over, a bad field, a
// repeated record) refuses the whole block and nothing of it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"

namespace pennacle {

inline constexpr uint16_t kSkinFormatVersion = 1;
inline constexpr size_t kSkinHeaderSize = 16;
inline constexpr uint16_t kSkinGroupAll = 3;
inline constexpr uint8_t kSkinRoleCount = 21;

enum class SkinRecord : uint16_t { Name = 1, Palette = 2, Font = 3, Style = 4 };

struct SkinColour {
  uint8_t group = 0;  // 0 active, 1 disabled, 2 inactive, 3 every group
  uint8_t role = 0;   // QPalette::ColorRole numbering
  uint32_t argb = 0;
  bool operator==(const SkinColour&) const = default;
};

struct SkinFont {
  uint16_t point_size = 0;
  uint16_t weight = 400;
  std::string family;
  bool operator==(const SkinFont&) const = default;
};

struct Skin {
  std::string name;
  std::vector<SkinColour> palette;
  std::optional<SkinFont> font;
  std::string style_sheet;
  bool operator==(const Skin&) const = default;
};

// Reads a block; Corrupt, saying why, for anything malformed.
Result<Skin> read_skin(std::span<const uint8_t> block);

// Writes a block that read_skin accepts. Throws std::invalid_argument for a skin it would refuse.
std::vector<uint8_t> write_skin(const Skin& skin);

// CRC-32 as zlib computes it.
uint32_t skin_crc32(std::span<const uint8_t> bytes);

}  // namespace pennacle
