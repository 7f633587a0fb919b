// The `cpuid -r` dump reader behind the fake processors.
#include <gtest/gtest.h>

#include "platform/fake/FakeProcessor.h"

using kyvex::platform::FakeCpu;
using kyvex::platform::ParseCpuidDump;
using kyvex::platform::X86Registers;

namespace {

bool Same(const X86Registers& a, const X86Registers& b) {
  return a.eax == b.eax && a.ebx == b.ebx && a.ecx == b.ecx && a.edx == b.edx;
}

TEST(CpuidDump, ReadsBothFormsProcessorsInFileOrder) {
  std::string error;
  const auto one = ParseCpuidDump(
      "CPU:\n"
      "   0x00000000 0x00: eax=0x00000002 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\r\n"
      "   0x00000004 0x01: eax=0x1C004122 ebx=0x01c0003f ecx=0x0000003f edx=0x00000000\n",
      error);
  ASSERT_TRUE(one) << error;
  ASSERT_EQ(one->size(), 1u);
  EXPECT_TRUE(Same((*one)[0].Get(0), {2, 0x756e6547, 0x6c65746e, 0x49656e69})) << "CRLF line ends are read too";
  EXPECT_EQ((*one)[0].Get(4, 1).eax, 0x1C004122u) << "sub-leaves are kept apart, hex digits of either case";
  EXPECT_TRUE(Same((*one)[0].Get(4, 0), {})) << "a leaf missing from the dump answers zeros";

  const auto all = ParseCpuidDump(
      "CPU 0:\n"
      "   0x00000001 0x00: eax=0x00000f29 ebx=0x00020809 ecx=0x00004400 edx=0xbfebfbff\n"
      "CPU 1:\n"
      "   0x00000001 0x00: eax=0x00000f29 ebx=0x01020809 ecx=0x00004400 edx=0xbfebfbff\n",
      error);
  ASSERT_TRUE(all) << error;
  ASSERT_EQ(all->size(), 2u);
  EXPECT_EQ((*all)[0].Get(1).ebx, 0x00020809u);
  EXPECT_EQ((*all)[1].Get(1).ebx, 0x01020809u);
}

TEST(CpuidDump, LinesWithoutHeaderAreOneProcessorAndOtherLinesAreSkipped) {
  std::string error;
  const auto cpus = ParseCpuidDump(
      "cpuid version 20230120\n"
      "0x00000000 0x00: eax=0x00000001 ebx=0x68747541 ecx=0x444d4163 edx=0x69746e65\n"
      "   0x00000001 0x00: eax=0x123456789 ebx=0x0 ecx=0x0 edx=0x0\n"    // nine digits: not a register
      "   0x00000001 0x00: eax=0x00000500 ebx=0x0 ecx=0x0\n"             // edx missing
      "   0x00000001 0x00: eax=0x00000500 ebx=0x0 ecx=0x0 edx=0x1 x\n"   // trailing junk
      "   CPU 7 extra:\n",
      error);
  ASSERT_TRUE(cpus) << error;
  ASSERT_EQ(cpus->size(), 1u);
  EXPECT_EQ((*cpus)[0].Get(0).ebx, 0x68747541u);
  EXPECT_TRUE(Same((*cpus)[0].Get(1), {})) << "no malformed line entered the table";
}

TEST(CpuidDump, RefusesTextWithoutRegisterLines) {
  for (const char* text : {"", "CPU:\n", "CPUID 00000000: 00000001-68747541-444D4163-69746E65\n", "\x01\x02\xff\n"}) {
    std::string error;
    EXPECT_FALSE(ParseCpuidDump(text, error)) << text;
    EXPECT_NE(error.find("no CPUID register lines"), std::string::npos);
  }
}

TEST(CpuidDump, LoadingKeepsTheFakeUnchangedOnFailure) {
  kyvex::platform::FakeProcessor fake;
  fake.cpus[0].Set(0, {7, 0, 0, 0});
  std::string error;
  EXPECT_FALSE(fake.LoadCpuidDump("not a dump", error));
  EXPECT_EQ(fake.cpus[0].Get(0).eax, 7u);
  EXPECT_TRUE(fake.LoadCpuidDump("CPU 0:\n0x0 0x0: eax=0x1 ebx=0x2 ecx=0x3 edx=0x4\nCPU 1:\n", error));
  EXPECT_EQ(fake.cpus.size(), 2u) << "a processor block without lines still counts";
}

}  // namespace
