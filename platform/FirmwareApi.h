// The platform's services for firmware tables, physical memory, temporary files and child processes, in the shapes of the Windows services the components
// were designed against.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace kyvex::platform {

class FirmwareApi {
 public:
  virtual ~FirmwareApi() = default;
};

class LinuxPlatform;
class Win32Platform;
std::unique_ptr<FirmwareApi> MakeLinuxFirmwareApi(LinuxPlatform& owner);
std::unique_ptr<FirmwareApi> MakeWin32FirmwareApi(Win32Platform& owner);

}  // namespace kyvex::platform
