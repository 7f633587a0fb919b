// The cpuid dump reader over arbitrary text, and the processor component's whole refresh over
// whatever CPUID tables a dump yields: every leaf value, vendor text and brand byte must end
// in a refresh that finishes and in output that stays valid.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzShown.h"
#include "report/CpuReport.h"
#include "cpu/KSI_CPU.h"
#include "platform/fake/FakePlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kyvex::platform::FakePlatform fake;
  std::string error;
  if (!fake.processor.LoadCpuidDump(text, error)) return 0;
  // A fast virtual clock: two counter reads end a measuring window.
  fake.processor.counterStep = 5000;
  fake.processor.tscMHz = 1000;
  kyvex::platform::ScopedPlatform use(fake);
  kyvex::TKyvex_CPU cpu;
  // The first processor, and the last of an all-processors dump.
  const std::size_t last = fake.processor.cpus.size() - 1;
  for (std::size_t index = 0; index <= last; index += last ? last : 1) {
    cpu.SetCPUIndex(static_cast<std::uint8_t>(index));
    cpu.CollectData();
    kyvex::fuzz::CheckJson(kyvex::report::CpuJson(cpu));
    kyvex::fuzz::CheckShown(kyvex::report::FormatSections(kyvex::report::CpuSections(cpu)));
  }
  return 0;
}
