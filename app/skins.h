// The skin engine the program carries and the skins it attaches to its windows.
//
// Start-up and shut-down use these in this order:
//   program entry:          create_skin_engine(); register the exit routine; StartUp();
//   MainWindow_Created:     ApplySkin(27) (last step)
//   MainWindow_Destroyed:   DetachSkin() (after db_close)
//   exit routine:           release_skin_engine()
// Everything here runs on the user-interface thread. A skin call is skipped, not made, when the
// engine did not load or lacks the export; nothing is ever reported to the user.
#pragma once

#include <cstdint>

#include "loader/host_code_runner.h"
#include "loader/memory_module.h"
#include "runtime/value.h"

namespace pennacle {

inline constexpr int32_t kProgramSkin = 27;

// The program-wide skinEngine (created on first use if create_skin_engine was not called).
void create_skin_engine();
MemoryModule& skin_engine();

// Loads the carried engine image into skinEngine; a failed load leaves the program unskinned.
void StartUp();

// Attaches carried skin n for 1 <= n <= 33; any other number does nothing.
void ApplySkin(int32_t number);

// Hands the skin data to the engine's Skin_AttachRes (address of the first byte, length).
void AttachSkin(const ByteSetHeader* skin);

// Calls the engine's Skin_Detach.
void DetachSkin();

// The exit routine's part: releases the header copies and the object. The mapped image is never
// unloaded and its entry point is not called again; the end of the process reclaims it.
void release_skin_engine();

}  // namespace pennacle
