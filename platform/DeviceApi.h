// The platform's services for device paths, device I/O control requests, drive letters and drive types, in the shapes of the Windows services the components
// were designed against.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace kyvex::platform {

class DeviceApi {
 public:
  virtual ~DeviceApi() = default;
};

class LinuxPlatform;
class Win32Platform;
std::unique_ptr<DeviceApi> MakeLinuxDeviceApi(LinuxPlatform& owner);
std::unique_ptr<DeviceApi> MakeWin32DeviceApi(Win32Platform& owner);

}  // namespace kyvex::platform
