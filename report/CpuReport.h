// What the command and the window show of the TKyvex_CPU component.
#pragma once

#include "report/Report.h"
#include "cpu/KSI_CPU.h"

namespace kyvex::report {

// The processor's identification, caches and features, for its window page and text.
Sections CpuSections(const TKyvex_CPU& cpu);
nlohmann::ordered_json CpuJson(const TKyvex_CPU& cpu);

}  // namespace kyvex::report
