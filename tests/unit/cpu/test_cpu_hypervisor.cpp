// The hypervisor CPUID reports: leaf 1 ECX bit 31 and the signatures of the leaves from
// 0x40000000, in the processor component, its report and the system summary's line.
#include <gtest/gtest.h>

#include <cstring>

#include "cpu/KSI_CPU.h"
#include "cpu/KSI_CPUHypervisor.h"
#include "report/CpuReport.h"
#include "report/Report.h"
#include "tests/unit/cpu/CpuTestSupport.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::CpuidLeaves;
using platform::FakePlatform;
using platform::ScopedPlatform;
using platform::X86Registers;

namespace {

// A hypervisor leaf: its largest leaf in EAX, 12 signature bytes in EBX, ECX, EDX.
X86Registers SignatureLeaf(std::uint32_t maxLeaf, const char (&s)[13]) {
  std::uint32_t r[3] = {};
  for (int i = 0; i < 12; ++i)
    r[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(s[i])) << (8 * (i % 4));
  return {maxLeaf, r[0], r[1], r[2]};
}

constexpr std::uint32_t kBit = 1u << 31;

struct Leaf {
  std::uint32_t leaf;
  const char* signature;  // 12 bytes; zero bytes written as \0
};

CpuidLeaves Processor(std::uint32_t leaf1Ecx, std::initializer_list<Leaf> hypervisorLeaves) {
  CpuidLeaves l;
  l.Set(0, VendorLeaf("GenuineIntel", 0x16));
  l.Set(1, {0x000906EA, 0, leaf1Ecx, 0x178BFBFF});
  for (const auto& h : hypervisorLeaves) {
    char s[13] = {};
    std::memcpy(s, h.signature, 12);
    l.Set(h.leaf, SignatureLeaf(h.leaf + 0x10, s));
  }
  return l;
}

TEST(Hypervisor, Signatures) {
  struct Case {
    const char* what;
    CpuidLeaves leaves;
    THypervisorInfo expected;
    const char* text;
  };
  const Case cases[] = {
      {"bare metal: no bit, the leaf's bytes are not a signature", Processor(0, {{0x40000000, "VMwareVMware"}}),
       {}, ""},
      {"KVM pads with zero bytes", Processor(kBit, {{0x40000000, "KVMKVMKVM\0\0\0"}}),
       {true, "KVMKVMKVM", "KVM", 0x40000000}, "KVM"},
      {"Hyper-V", Processor(kBit, {{0x40000000, "Microsoft Hv"}}),
       {true, "Microsoft Hv", "Microsoft Hyper-V", 0x40000000}, "Microsoft Hyper-V"},
      {"bhyve", Processor(kBit, {{0x40000000, "bhyve bhyve "}}), {true, "bhyve bhyve ", "bhyve", 0x40000000},
       "bhyve"},
      {"QNX", Processor(kBit, {{0x40000000, " QNXQVMBSQG "}}), {true, " QNXQVMBSQG ", "QNX Hypervisor", 0x40000000},
       "QNX Hypervisor"},
      {"Parallels", Processor(kBit, {{0x40000000, " lrpepyh  vr"}}), {true, " lrpepyh  vr", "Parallels", 0x40000000},
       "Parallels"},
      {"Xen behind its Hyper-V interface",
       Processor(kBit, {{0x40000000, "Microsoft Hv"}, {0x40000100, "XenVMMXenVMM"}}),
       {true, "Microsoft Hv", "Xen", 0x40000100}, "Xen (leaf 40000100h; leaf 40000000h: \"Microsoft Hv\")"},
      {"KVM behind its Hyper-V interface, further up",
       Processor(kBit, {{0x40000000, "Linux KVM Hv"}, {0x40000200, "KVMKVMKVM\0\0\0"}}),
       {true, "Linux KVM Hv", "KVM", 0x40000200}, "KVM (leaf 40000200h; leaf 40000000h: \"Linux KVM Hv\")"},
      {"the same signature again further up changes nothing",
       Processor(kBit, {{0x40000000, "VBoxVBoxVBox"}, {0x40000100, "VBoxVBoxVBox"}}),
       {true, "VBoxVBoxVBox", "VirtualBox", 0x40000000}, "VirtualBox"},
      {"an unknown signature", Processor(kBit, {{0x40000000, "NewHvNewHv\0\0"}}), {true, "NewHvNewHv", "", 0},
       "unnamed hypervisor (signature \"NewHvNewHv\")"},
      {"the bit without a signature", Processor(kBit, {}), {true, "", "", 0}, "unnamed hypervisor"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const THypervisorInfo h = DecodeHypervisor(c.leaves);
    EXPECT_EQ(h.Present, c.expected.Present);
    EXPECT_EQ(h.Signature, c.expected.Signature);
    EXPECT_EQ(h.Name, c.expected.Name);
    EXPECT_EQ(h.Leaf, c.expected.Leaf);
    EXPECT_EQ(HypervisorText(h), c.text);
  }
}

TEST(Hypervisor, NoLeaf1NoHypervisor) {
  CpuidLeaves l = Processor(kBit, {{0x40000000, "KVMKVMKVM\0\0\0"}});
  l.Set(0, VendorLeaf("GenuineIntel", 0));  // leaf 1 is beyond the largest leaf
  EXPECT_FALSE(DecodeHypervisor(l).Present);
}

// The recorded bhyve guest, end to end: the values, the processor's report and its JSON.
TEST(Hypervisor, RecordedGuestInTheComponentAndItsReport) {
  FakePlatform fake;
  LoadDump(fake, "AuthenticAMD0B00F21_Turin_bhyve_CPUID.txt");
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  cpu.CollectData();
  EXPECT_TRUE(cpu.HypervisorInfo().Present);
  EXPECT_EQ(cpu.HypervisorInfo().Name, "bhyve");

  const auto json = report::CpuJson(cpu);
  EXPECT_EQ(json["HypervisorPresent"], true);
  EXPECT_EQ(json["Hypervisor"], "bhyve");
  EXPECT_EQ(json["HypervisorSignature"], "bhyve bhyve ");
  EXPECT_EQ(json["HypervisorLeaf"], 0x40000000u);
  const std::string text = report::FormatSections(report::CpuSections(cpu));
  EXPECT_NE(text.find("Hypervisor:"), std::string::npos) << text;
  EXPECT_NE(text.find(" bhyve\n"), std::string::npos) << text;

  // Another processor without the bit: nothing of the guest's stays.
  FakePlatform bare;
  LoadDump(bare, "GenuineIntel00206A7_SandyBridge_CPUID.txt");
  ScopedPlatform useBare(bare);
  cpu.CollectData();
  EXPECT_EQ(cpu.HypervisorInfo(), THypervisorInfo{});
  EXPECT_EQ(report::CpuJson(cpu)["Hypervisor"], "");
}

TEST(Hypervisor, VirtualMachineLine) {
  struct Case {
    bool vmware, vpc, present;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {false, false, false, "", "none detected"},
      {false, false, true, "bhyve", "bhyve"},
      {true, false, true, "VMware", "VMware"},
      {false, true, true, "Microsoft Hyper-V", "Virtual PC; CPUID: Microsoft Hyper-V"},
      {true, false, false, "", "VMware"},
      {false, false, true, "", "unnamed hypervisor"},
  };
  for (const auto& c : cases) {
    report::SystemSummary s;
    s.VMWare = c.vmware;
    s.VPC = c.vpc;
    s.Hypervisor.Present = c.present;
    s.Hypervisor.Name = c.name;
    s.Hypervisor.Leaf = *c.name ? kHypervisorFirstLeaf : 0;
    EXPECT_EQ(report::VirtualMachineText(s), c.expected);
  }
}

}  // namespace
