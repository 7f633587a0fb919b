#include "platform/DeviceApi.h"
#include "platform/linux/LinuxPlatform.h"

namespace kyvex::platform {

namespace {
class LinuxDevice : public DeviceApi {
 public:
  explicit LinuxDevice(LinuxPlatform& owner) : owner_(owner) {}

 private:
  LinuxPlatform& owner_;
};
}  // namespace

std::unique_ptr<DeviceApi> MakeLinuxDeviceApi(LinuxPlatform& owner) { return std::make_unique<LinuxDevice>(owner); }

}  // namespace kyvex::platform
