// CPUID as recorded: what every leaf and sub-leaf answered on each logical processor, read
// on this machine or from a dump of another (the raw format of the `cpuid` tool).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProcessorApi.h"

namespace kyvex::platform {

// One logical processor's CPUID answers. A leaf that is not recorded answers zeros.
struct CpuidLeaves {
  std::map<std::pair<std::uint32_t, std::uint32_t>, X86Registers> leaves;  // (leaf, sub-leaf)
  bool hasCpuid = true;  // the ID flag of EFLAGS can be toggled

  void Set(std::uint32_t leaf, X86Registers regs, std::uint32_t subLeaf = 0) { leaves[{leaf, subLeaf}] = regs; }
  X86Registers Get(std::uint32_t leaf, std::uint32_t subLeaf = 0) const;
};

// Every logical processor's answers, in processor order.
using CpuidSnapshot = std::vector<CpuidLeaves>;

// Reads the raw register dump of the `cpuid` tool: the one-processor form of `cpuid -r -1`
// ("CPU:" then lines "   0x00000001 0x00: eax=0x... ebx=0x... ecx=0x... edx=0x...") and the
// all-processors form of `cpuid -r` ("CPU 0:", "CPU 1:", ...), processors in file order (at
// most 8192). Lines of any other kind are skipped. Nothing (and `error` says why) when no
// register line is found, or when the text is too large to be a dump.
std::optional<CpuidSnapshot> ParseCpuidDump(std::string_view text, std::string& error);

}  // namespace kyvex::platform
