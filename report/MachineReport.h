// The full report of the machine the current platform answers for, as `kyvex report` prints
// it: the operating system's summary, every processor, the SMBIOS tables, the storage devices.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "cpu/KSI_CPUProcessors.h"

#include "report/Report.h"

namespace kyvex::report {

void AddSystemReport(FullReport& report);
void AddSmbiosReport(FullReport& report);
void AddStorageReport(FullReport& report);

// The text, or the JSON (indented, with its final newline), of the whole report. `census`:
// processors already read and their clocks measured, to be reported as they are; without it
// this machine's processors are read and measured.
std::string MachineReport(bool json, std::shared_ptr<const TProcessorCensus> census = nullptr);
// The same, written to `out` a part at a time.
void WriteMachineReport(std::ostream& out, bool json, std::shared_ptr<const TProcessorCensus> census = nullptr);

}  // namespace kyvex::report
