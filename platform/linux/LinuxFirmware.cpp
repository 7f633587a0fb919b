#include "platform/FirmwareApi.h"
#include "platform/linux/LinuxPlatform.h"

namespace kyvex::platform {

namespace {
class LinuxFirmware : public FirmwareApi {
 public:
  explicit LinuxFirmware(LinuxPlatform& owner) : owner_(owner) {}

 private:
  LinuxPlatform& owner_;
};
}  // namespace

std::unique_ptr<FirmwareApi> MakeLinuxFirmwareApi(LinuxPlatform& owner) { return std::make_unique<LinuxFirmware>(owner); }

}  // namespace kyvex::platform
