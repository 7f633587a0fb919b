#include "cpu/KSI_CPUHypervisor.h"

#include "platform/Text.h"

#include <cstdio>
#include <string_view>

namespace kyvex {

namespace {

constexpr std::uint32_t kHypervisorBit = 1u << 31;  // leaf 1 ECX

// Signatures as the hypervisors' own documents and Linux's detection code give them, with the
// trailing zero bytes some of them pad with dropped.
struct THypervisorSignature {
  std::string_view Signature;
  const char* Name;
};
constexpr THypervisorSignature kSignatures[] = {
    {"VMwareVMware", "VMware"},
    {"Microsoft Hv", "Microsoft Hyper-V"},  // also Windows Virtual PC 7
    {"KVMKVMKVM", "KVM"},
    {"Linux KVM Hv", "KVM (Hyper-V emulation)"},  // KVM's own Hyper-V interface
    {"XenVMMXenVMM", "Xen"},
    {"VBoxVBoxVBox", "VirtualBox"},
    {"TCGTCGTCGTCG", "QEMU (TCG)"},
    {"bhyve bhyve ", "bhyve"},
    {"ACRNACRNACRN", "ACRN"},
    {" QNXQVMBSQG ", "QNX Hypervisor"},
    {"Jailhouse", "Jailhouse"},
    {" lrpepyh  vr", "Parallels"},  // as Parallels Desktop gives it
    {" prl hyperv ", "Parallels"},
    {"MicrosoftXTA", "Microsoft x86-to-ARM"},
    {"VirtualApple", "Apple Rosetta 2"},
    {"HAXMHAXMHAXM", "Intel HAXM"},
    {"UnisysSpar64", "Unisys s-Par"},
};

std::string SignatureAt(const platform::CpuidLeaves& leaves, std::uint32_t leaf) {
  const platform::X86Registers r = leaves.Get(leaf);
  std::string s;
  for (std::uint32_t reg : {r.ebx, r.ecx, r.edx})
    for (int i = 0; i < 4; ++i) s += static_cast<char>((reg >> (8 * i)) & 0xFF);
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08Xh", v);
  return buf;
}

}  // namespace

std::string HypervisorName(const std::string& signature) {
  for (const auto& s : kSignatures)
    if (signature == s.Signature) return s.Name;
  return {};
}

THypervisorInfo DecodeHypervisor(const platform::CpuidLeaves& leaves) {
  THypervisorInfo h;
  if (leaves.Get(0).eax < 1 || !(leaves.Get(1).ecx & kHypervisorBit)) return h;
  h.Present = true;
  // Every known signature is plain text, so the shown form matches exactly when the bytes do.
  h.Signature = text::Sanitize(SignatureAt(leaves, kHypervisorFirstLeaf));
  h.Name = HypervisorName(h.Signature);
  if (!h.Name.empty()) h.Leaf = kHypervisorFirstLeaf;
  // Xen with Viridian and KVM with Hyper-V enlightenments show "Microsoft Hv" first and their
  // own signature at a later base: that one is the hypervisor actually running.
  for (std::uint32_t leaf = kHypervisorFirstLeaf + kHypervisorLeafStep; leaf < kHypervisorLeafEnd;
       leaf += kHypervisorLeafStep) {
    const std::string name = HypervisorName(SignatureAt(leaves, leaf));
    if (!name.empty() && name != h.Name) {
      h.Name = name;
      h.Leaf = leaf;
      break;
    }
  }
  return h;
}

std::string HypervisorText(const THypervisorInfo& h) {
  if (!h.Present) return {};
  if (h.Name.empty())
    return h.Signature.empty() ? "unnamed hypervisor" : "unnamed hypervisor (signature \"" + h.Signature + "\")";
  if (h.Leaf == kHypervisorFirstLeaf) return h.Name;
  return h.Name + " (leaf " + Hex(h.Leaf) + "; leaf " + Hex(kHypervisorFirstLeaf) + ": \"" + h.Signature + "\")";
}

}  // namespace kyvex
