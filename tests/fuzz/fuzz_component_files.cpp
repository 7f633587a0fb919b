// Storage files are hostile input for the components too: every component loads the fuzzer's
// bytes as a storage file, and what it took in is shown the way `kyvex show` shows it, so that
// a value no save would write (an ordinal past its enumeration, a count beyond its records, a
// text of any length) is found wherever it is used.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "report/CpuReport.h"
#include "report/Report.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"
#include "common/Kyvex_SS.h"
#include "platform/fake/FakePlatform.h"

using namespace kyvex;

namespace {

std::string ScratchFile() { return "/tmp/kyvex-fuzz-components-" + std::to_string(::getpid()) + ".kyx"; }

void Show(const TKyvex_KSIC_Component& c) {
  // Loaded text is UTF-8 by construction: a dump that throws is a fault.
  if (auto* cpu = dynamic_cast<const TKyvex_CPU*>(&c)) {
    (void)report::CpuJson(*cpu).dump();
    (void)report::FormatSections(report::CpuSections(*cpu));
  } else if (auto* smbios = dynamic_cast<const TKyvex_SMBIOS*>(&c)) {
    (void)report::SmbiosJson(*smbios).dump();
    (void)report::FormatSections(report::SmbiosSystemSections(*smbios));
    (void)report::FormatSections(report::SmbiosDeviceSections(*smbios));
  } else if (auto* storage = dynamic_cast<const TKyvex_Storage*>(&c)) {
    (void)report::StorageJson(*storage).dump();
    (void)report::StorageText(*storage);
  }
}

void LoadAndShow(TKyvex_KSIC_Component& c, const std::string& file) {
  try {
    c.LoadFromStorageFile(file);
  } catch (const EOleSysError&) {
    return;  // a file the engine refuses: the component reports it, which is all it may do
  }
  Show(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::FakePlatform fake;
  static platform::ScopedPlatform scope(fake);
  static const std::string file = ScratchFile();
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  for (std::uint8_t index : {0, 1}) {
    TKyvex_CPU cpu;
    cpu.SetCPUIndex(index);
    LoadAndShow(cpu, file);
  }
  TKyvex_SMBIOS smbios;
  LoadAndShow(smbios, file);
  TKyvex_Storage storage;
  LoadAndShow(storage, file);
  return 0;
}
