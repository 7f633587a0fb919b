// What the command and the window show of the TKyvex_SMBIOS component.
#pragma once

#include <functional>
#include <ostream>

#include "report/Report.h"
#include "smbios/KSI_SMBIOS.h"

namespace kyvex::report {

// BIOS, system, board and chassis (one window page) and the device records (another).
Sections SmbiosSystemSections(const TKyvex_SMBIOS& smbios);
Sections SmbiosDeviceSections(const TKyvex_SMBIOS& smbios);
// The same sections handed to `sink` one at a time, as they are made: a table of tens of
// thousands of records is then never held as text at once.
void EachSmbiosDeviceSection(const TKyvex_SMBIOS& smbios, const std::function<void(Section)>& sink);
nlohmann::ordered_json SmbiosJson(const TKyvex_SMBIOS& smbios);
// The same text as JsonText(SmbiosJson(smbios)), written as it is made: a table of tens of
// thousands of structures never stands in memory as one document.
void WriteSmbiosJson(std::ostream& out, const TKyvex_SMBIOS& smbios);
// Every structure of the table, a line each.
std::string StructTablesText(const TKyvex_SMBIOS& smbios);

}  // namespace kyvex::report
