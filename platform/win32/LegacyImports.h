// What every Windows program links in place of the imports the oldest supported systems lack.
#pragma once

#include <atomic>
#include <cstdint>

namespace kyvex::platform {

// A 64-bit tick count from the 32-bit one, `now`: the wraps are counted from the calls made
// (`last` holds the previous answer), which is right as long as calls come at least once
// every 49 days.
std::uint64_t WidenTickCount(std::atomic<std::uint64_t>& last, std::uint32_t now);

}  // namespace kyvex::platform

// The import slot the threading runtime calls GetTickCount64 through, under the name the
// import library gives it.
#if defined(__i386__)
extern "C" unsigned long long(__stdcall* kyvex_GetTickCount64_slot)() asm("__imp__GetTickCount64@0");
#else
extern "C" unsigned long long(__stdcall* kyvex_GetTickCount64_slot)() asm("__imp_GetTickCount64");
#endif
