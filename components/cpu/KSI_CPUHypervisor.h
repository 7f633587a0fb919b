// The hypervisor a processor runs under, as CPUID tells it: leaf 1 ECX bit 31, which
// hypervisors set and processors leave clear, and the vendor signature hypervisors place in
// EBX, ECX and EDX of leaf 0x40000000.
#pragma once

#include <cstdint>
#include <string>

#include "platform/CpuidSnapshot.h"

namespace kyvex {

struct THypervisorInfo {
  bool Present = false;  // leaf 1 ECX bit 31
  // The 12 characters of leaf 0x40000000, zero bytes at the end dropped; empty without the
  // bit (on bare metal the leaf answers with whatever the last standard leaf holds).
  std::string Signature;
  // The hypervisor's name where its signature is a known one; empty otherwise.
  std::string Name;
  // The leaf whose signature gave Name: 0x40000000, or a later multiple of 0x100 where a
  // hypervisor offers another one's interface first.
  std::uint32_t Leaf = 0;
  bool operator==(const THypervisorInfo&) const = default;
};

constexpr std::uint32_t kHypervisorFirstLeaf = 0x40000000;
// Xen places its leaves at the first free multiple of 0x100 from 0x40000000 (Xen's public
// arch-x86/cpuid.h), KVM likewise behind its Hyper-V interface; Linux searches up to here.
constexpr std::uint32_t kHypervisorLeafEnd = 0x40010000;
constexpr std::uint32_t kHypervisorLeafStep = 0x100;

THypervisorInfo DecodeHypervisor(const platform::CpuidLeaves& leaves);

// The name of a signature (with its trailing zero bytes dropped); empty when unknown.
std::string HypervisorName(const std::string& signature);

// One line: "KVM", "unnamed hypervisor (signature "...")", "Xen (leaf 40000100h; leaf
// 40000000h: "Microsoft Hv")"; empty without the bit.
std::string HypervisorText(const THypervisorInfo& h);

}  // namespace kyvex
