// Linked into a test program, replaces operator new and delete for the whole program: counts the
// blocks alive, and instead of freeing a block at once poisons it and keeps it for a while, so a
// write after free is found when the block finally goes (and a read finds poison, not new data).
// A stand-in for AddressSanitizer where there is none (MinGW under Wine).
#pragma once

#include <cstddef>

namespace allocguard {

std::size_t liveBlocks();
// Releases every kept block, checking each is still poisoned; returns how many were not.
std::size_t flushAndCountTouched();
std::size_t doubleDeletes();

}  // namespace allocguard
