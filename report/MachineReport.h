// The full report of the machine the current platform answers for, as `kyvex report` prints
// it: the operating system's summary, every processor, the SMBIOS tables, the storage devices.
#pragma once

#include <string>

#include "report/Report.h"

namespace kyvex::report {

void AddSystemReport(FullReport& report);
void AddCpuReport(FullReport& report);
void AddSmbiosReport(FullReport& report);
void AddStorageReport(FullReport& report);

// The text, or the JSON (indented, with its final newline), of the whole report.
std::string MachineReport(bool json);

}  // namespace kyvex::report
