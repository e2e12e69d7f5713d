// Running code of a mapped library image on this host.
//
// A mapped image is 32-bit Windows code and is never executed natively. The runner executes
// exactly one instruction form, the import jump `FF 25 abs32` (`jmp dword ptr [abs32]`) that the
// carried skin engine's exports and entry point consist of: it reads the bound 32-bit import slot
// at abs32 and calls the host function behind that procedure token with the ten arguments. Any
// other code, an address outside every registered image, or a slot that holds no host procedure
// is not run and gives 0.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/outside.h"

namespace pennacle {

// The code and slots the runner may read: the mapped images. `size` is above 0 (asserted).
void add_code_region(Word base, Word size);
void remove_code_region(Word base);

// Calls the code at `code` with ten arguments: the given ones, then zeros (more than ten is a
// programming fault). Returns the 32-bit result, or 0 when nothing could be run. Ten words are passed
// whatever the callee declares, so a callee that takes fewer simply does not read the rest.
uint32_t CallExport(Word code, std::initializer_list<Word> args);

}  // namespace pennacle
