// The processor instructions both native platforms execute for the processor component:
// the ID-flag test, CPUID and RDTSC. One copy for Linux and Windows, 32- and 64-bit.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define KYVEX_HAVE_X86 1
#else
#define KYVEX_HAVE_X86 0
#endif

namespace kyvex::platform::x86 {

#if KYVEX_HAVE_X86
// Whether bit 21 of EFLAGS can be changed: the processor has CPUID. Always true in 64-bit mode,
// but asked the same way so that both builds run the same test.
inline bool CanToggleIdFlag() {
  constexpr unsigned kId = 0x200000;
  const auto before = __readeflags();
  __writeeflags(before ^ kId);
  const auto after = __readeflags();
  __writeeflags(before);
  return ((before ^ after) & kId) != 0;
}

inline X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) {
  X86Registers r;
#if defined(__x86_64__)
  asm volatile("cpuid" : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx) : "a"(leaf), "c"(subLeaf));
#else
  // EBX is kept in ESI around the instruction: in position-independent 32-bit code it is the
  // PIC base register.
  asm volatile("movl %%ebx, %%esi\n\tcpuid\n\txchgl %%ebx, %%esi"
               : "=a"(r.eax), "=S"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
               : "0"(leaf), "2"(subLeaf));
#endif
  return r;
}

inline std::uint64_t ReadTimeStampCounter() { return __rdtsc(); }
#endif

}  // namespace kyvex::platform::x86
