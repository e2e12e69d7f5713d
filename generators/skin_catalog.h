// The 33 skins the program carries, as skin descriptions; the build-time generator writes each
// as a ".SKN" block. Number n is at index n - 1.
#pragma once

#include <vector>

#include "ui/skin_format.h"

namespace pennacle {

inline constexpr int kSkinCount = 33;

std::vector<Skin> carried_skin_catalog();

// WCAG contrast ratio of two 0xAARRGGBB colours (alpha ignored), 1 to 21.
double contrast_ratio(uint32_t a, uint32_t b);

}  // namespace pennacle
