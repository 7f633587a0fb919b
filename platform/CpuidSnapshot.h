// CPUID as recorded: what every leaf and sub-leaf answered on each logical processor, read
// on this machine or from a dump of another (the raw format of the `cpuid` tool).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProcessorApi.h"

namespace kyvex::platform {

// Answers by (leaf, sub-leaf), in that order. A processor answers a few hundred leaves and a
// machine may have hundreds of processors: a sorted list takes a third of a tree's memory, and
// the leaves are read in order, so adding one is mostly appending.
class CpuidLeafList {
 public:
  using Key = std::pair<std::uint32_t, std::uint32_t>;
  using value_type = std::pair<Key, X86Registers>;

  // Adds the answer, or replaces the one recorded for the same key.
  void Set(Key key, const X86Registers& regs);
  const X86Registers* Find(Key key) const;
  std::size_t count(Key key) const { return Find(key) ? 1 : 0; }
  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  std::vector<value_type>::const_iterator begin() const { return rows_.begin(); }
  std::vector<value_type>::const_iterator end() const { return rows_.end(); }
  // Gives back what the list grew beyond its answers: a machine of hundreds of processors
  // otherwise keeps up to half again of its readings unused.
  void ShrinkToFit() { rows_.shrink_to_fit(); }

 private:
  std::vector<value_type> rows_;
};

// One logical processor's CPUID answers. A leaf that is not recorded answers zeros.
struct CpuidLeaves {
  CpuidLeafList leaves;
  bool hasCpuid = true;  // the ID flag of EFLAGS can be toggled

  void Set(std::uint32_t leaf, X86Registers regs, std::uint32_t subLeaf = 0) { leaves.Set({leaf, subLeaf}, regs); }
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
