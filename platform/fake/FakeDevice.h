// Scripted answers for the platform's device paths, device I/O control requests, drive letters and drive types.
#pragma once

#include "platform/DeviceApi.h"

namespace kyvex::platform {

class FakeDevice : public DeviceApi {
 public:
};

}  // namespace kyvex::platform
