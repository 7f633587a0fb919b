// Scripted answers for the platform's firmware tables, physical memory, temporary files and child processes.
#pragma once

#include "platform/FirmwareApi.h"

namespace kyvex::platform {

class FakeFirmware : public FirmwareApi {
 public:
};

}  // namespace kyvex::platform
