#include "ui/skin_format.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "platform/utf8.h"

namespace pennacle {
namespace {

constexpr uint8_t kMagic[4] = {'.', 'S', 'K', 'N'};
constexpr size_t kMaxRecords = 16;
constexpr size_t kMaxName = 64;
constexpr size_t kMaxFamily = 64;
constexpr size_t kMaxColours = 128;
constexpr size_t kMaxStyle = 64 * 1024;

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void add16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void add32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Well-formed UTF-8 (no overlongs, no surrogates, nothing past U+10FFFF) without a zero byte.
bool is_text(std::span<const uint8_t> bytes) {
  const std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  uint32_t cp = 0;
  for (size_t i = 0, n = 0; i < s.size(); i += n) {
    if ((n = utf8_sequence(s, i, &cp)) == 0 || cp == 0) return false;
  }
  return true;
}

bool fail(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

bool read_record(SkinRecord tag, std::span<const uint8_t> p, Skin& skin, std::string* why) {
  switch (tag) {
    case SkinRecord::Name:
      if (p.empty() || p.size() > kMaxName || !is_text(p)) return fail(why, "bad name record");
      skin.name.assign(p.begin(), p.end());
      return true;
    case SkinRecord::Palette: {
      if (p.size() < 2) return fail(why, "short palette record");
      size_t count = get16(p.data());
      if (count == 0 || count > kMaxColours || p.size() != 2 + count * 6)
        return fail(why, "bad palette length");
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = p.data() + 2 + i * 6;
        if (e[0] > kSkinGroupAll || e[1] >= kSkinRoleCount) return fail(why, "bad palette entry");
        skin.palette.push_back(SkinColour{e[0], e[1], get32(e + 2)});
      }
      return true;
    }
    case SkinRecord::Font: {
      if (p.size() < 6) return fail(why, "short font record");
      SkinFont f{get16(p.data()), get16(p.data() + 2), {}};
      size_t len = get16(p.data() + 4);
      if (f.point_size < 6 || f.point_size > 48 || f.weight < 100 || f.weight > 900 || len == 0 ||
          len > kMaxFamily || p.size() != 6 + len || !is_text(p.subspan(6)))
        return fail(why, "bad font record");
      f.family.assign(p.begin() + 6, p.end());
      skin.font = std::move(f);
      return true;
    }
    case SkinRecord::Style:
      if (p.empty() || p.size() > kMaxStyle || !is_text(p)) return fail(why, "bad style record");
      skin.style_sheet.assign(p.begin(), p.end());
      return true;
  }
  return true;  // unknown tag: skipped
}

}  // namespace

uint32_t skin_crc32(std::span<const uint8_t> bytes) {
  static const auto kTable = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

namespace {

std::optional<Skin> read_block(std::span<const uint8_t> block, std::string* why) {
  if (block.size() < kSkinHeaderSize) return fail(why, "shorter than the header"), std::nullopt;
  if (std::memcmp(block.data(), kMagic, 4) != 0) return fail(why, "not a skin block"), std::nullopt;
  if (get16(block.data() + 4) != kSkinFormatVersion) return fail(why, "unknown version"), std::nullopt;
  const size_t count = get16(block.data() + 6);
  if (count == 0 || count > kMaxRecords) return fail(why, "bad record count"), std::nullopt;
  if (get32(block.data() + 8) != block.size()) return fail(why, "length mismatch"), std::nullopt;
  if (get32(block.data() + 12) != skin_crc32(block.subspan(kSkinHeaderSize)))
    return fail(why, "checksum mismatch"), std::nullopt;

  Skin skin;
  uint32_t seen = 0;
  size_t at = kSkinHeaderSize;
  for (size_t r = 0; r < count; ++r) {
    if (block.size() - at < 8) return fail(why, "record header past the end"), std::nullopt;
    const uint16_t tag = get16(block.data() + at);
    const uint32_t length = get32(block.data() + at + 4);
    if (get16(block.data() + at + 2) != 0) return fail(why, "bad record header"), std::nullopt;
    at += 8;
    if (length > block.size() - at) return fail(why, "record past the end"), std::nullopt;
    if (tag >= 1 && tag <= 4) {
      if (seen & (1u << tag)) return fail(why, "repeated record"), std::nullopt;
      seen |= 1u << tag;
      if (!read_record(static_cast<SkinRecord>(tag), block.subspan(at, length), skin, why))
        return std::nullopt;
    }
    at += length;
  }
  if (at != block.size()) return fail(why, "bytes after the last record"), std::nullopt;
  if (!(seen & (1u << 2)) || !(seen & (1u << 4))) return fail(why, "palette or style missing"), std::nullopt;
  return skin;
}

}  // namespace

Result<Skin> read_skin(std::span<const uint8_t> block) {
  std::string why;
  std::optional<Skin> skin = read_block(block, &why);
  if (!skin) return Status::corrupt(why);
  return std::move(*skin);
}

std::vector<uint8_t> write_skin(const Skin& skin) {
  std::vector<uint8_t> out(kSkinHeaderSize, 0);
  uint16_t count = 0;
  auto record = [&](SkinRecord tag, const std::vector<uint8_t>& payload) {
    add16(out, static_cast<uint16_t>(tag));
    add16(out, 0);
    add32(out, static_cast<uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    ++count;
  };
  if (!skin.name.empty()) record(SkinRecord::Name, {skin.name.begin(), skin.name.end()});
  std::vector<uint8_t> pal;
  add16(pal, static_cast<uint16_t>(skin.palette.size()));
  for (const auto& c : skin.palette) {
    pal.push_back(c.group);
    pal.push_back(c.role);
    add32(pal, c.argb);
  }
  record(SkinRecord::Palette, pal);
  if (skin.font) {
    std::vector<uint8_t> f;
    add16(f, skin.font->point_size);
    add16(f, skin.font->weight);
    add16(f, static_cast<uint16_t>(skin.font->family.size()));
    f.insert(f.end(), skin.font->family.begin(), skin.font->family.end());
    record(SkinRecord::Font, f);
  }
  record(SkinRecord::Style, {skin.style_sheet.begin(), skin.style_sheet.end()});
  std::memcpy(out.data(), kMagic, 4);
  out[4] = kSkinFormatVersion & 0xFF;
  out[5] = kSkinFormatVersion >> 8;
  out[6] = static_cast<uint8_t>(count);
  out[7] = 0;
  const auto length = static_cast<uint32_t>(out.size());
  std::memcpy(out.data() + 8, &length, 4);
  const uint32_t crc = skin_crc32(std::span<const uint8_t>(out).subspan(kSkinHeaderSize));
  std::memcpy(out.data() + 12, &crc, 4);
  if (const Result<Skin> back = read_skin(out); !back.ok())
    throw std::invalid_argument("skin \"" + skin.name + "\" would be refused: " + back.status().message());
  return out;
}

}  // namespace pennacle
