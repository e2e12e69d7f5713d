// The host module behind the carried skin engine image: the image imports these functions and its
// exports jump straight into them. Qt-free so that the build-time image generator can use it.
#pragma once

#include <cstdint>

namespace pennacle {

inline constexpr char kSkinHostModule[] = "pnskin.dll";
inline constexpr char kSkinHostAttach[] = "SkinAttach";  // (data address, length): 1 when attached
inline constexpr char kSkinHostDetach[] = "SkinDetach";  // (): 1 when a skin was detached
inline constexpr char kSkinHostEntry[] = "SkinEntry";    // (instance, reason, reserved): 1
inline constexpr uint16_t kSkinHostAttachOrdinal = 1;
inline constexpr uint16_t kSkinHostDetachOrdinal = 2;
inline constexpr uint16_t kSkinHostEntryOrdinal = 3;

}  // namespace pennacle
