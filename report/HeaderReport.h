// The machine description a storage file's header carries, as text and JSON.
#pragma once

#include "common/KSI_Common.h"
#include "report/Report.h"

namespace kyvex::report {

Lines StorageInfoLines(const TStorageInfoRecord& info);
nlohmann::ordered_json StorageInfoJson(const TStorageInfoRecord& info);

}  // namespace kyvex::report
