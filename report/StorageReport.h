// What the command and the window show of the TKyvex_Storage component.
#pragma once

#include "report/Report.h"
#include "storage/KSI_Storage.h"

namespace kyvex::report {

// The physical devices (one window page) and the logical drives (another).
Sections StoragePhysicalSections(const TKyvex_Storage& storage);
Sections StorageLogicalSections(const TKyvex_Storage& storage);
nlohmann::ordered_json StorageJson(const TKyvex_Storage& storage);
// One record with every field under its own name.
nlohmann::ordered_json DeviceJson(const TDeviceInfo& device);
// A count line, then the physical and the logical sections.
std::string StorageText(const TKyvex_Storage& storage);
// What one ATA identify block says (the fields ParseIdentifyData fills), as JSON and as lines.
nlohmann::ordered_json IdentifyJson(const TDeviceInfo& device);
Lines IdentifyTextLines(const TDeviceInfo& device);

}  // namespace kyvex::report
