// The whole of `kyvex show` over a hostile storage file: one image of the file, the header,
// the processors from "0" up, the SMBIOS tables and the storage devices, each shown as text
// and JSON. A part the engine refuses is an error the command reports; anything else that
// escapes, and any output that is not valid UTF-8 or carries a control character, is a fault.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzShown.h"
#include "common/KSI_Common.h"
#include "common/Kyvex_SS.h"
#include "cpu/KSI_CPU.h"
#include "platform/fake/FakePlatform.h"
#include "report/CpuReport.h"
#include "report/HeaderReport.h"
#include "report/Report.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

using namespace kyvex;

namespace {

bool Load(TKyvex_KSIC_Component& c, const std::string& file) {
  try {
    return c.LoadFromStorageFile(file);
  } catch (const EOleSysError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::FakePlatform fake;
  static platform::ScopedPlatform scope(fake);
  static const std::string file = "/tmp/kyvex-fuzz-show-" + std::to_string(::getpid()) + ".kyx";
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  try {
    TStorageFileImage image(file);
    TKyvex_KSIC_Component header;
    if (!Load(header, file)) return 0;
    fuzz::CheckJson(report::StorageInfoJson(header.StorageInfo()));
    fuzz::CheckShown(report::FormatLines(report::StorageInfoLines(header.StorageInfo())));
    // A few processors: each is its own storage, read the same way.
    for (std::uint32_t i = 0; i < 4; ++i) {
      TKyvex_CPU cpu;
      cpu.SetCPUIndex(i);
      if (!Load(cpu, file)) break;
      fuzz::CheckJson(report::CpuJson(cpu));
      fuzz::CheckShown(report::FormatSections(report::CpuSections(cpu)));
    }
    TKyvex_SMBIOS smbios;
    if (Load(smbios, file)) {
      fuzz::CheckJson(report::SmbiosJson(smbios));
      fuzz::CheckShown(report::FormatSections(report::SmbiosSystemSections(smbios)));
      fuzz::CheckShown(report::FormatSections(report::SmbiosDeviceSections(smbios)));
    }
    TKyvex_Storage storage;
    if (Load(storage, file)) {
      fuzz::CheckJson(report::StorageJson(storage));
      fuzz::CheckShown(report::StorageText(storage));
    }
  } catch (const EOleSysError&) {
    // The image itself refused (too large, unreadable): the command says so and fails.
  }
  return 0;
}
