#include "platform/FirmwareApi.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

namespace kyvex::platform {

namespace {
class Win32Firmware : public FirmwareApi {
 public:
  explicit Win32Firmware(Win32Platform& owner) : owner_(owner) {}

 private:
  Win32Platform& owner_;
};
}  // namespace

std::unique_ptr<FirmwareApi> MakeWin32FirmwareApi(Win32Platform& owner) { return std::make_unique<Win32Firmware>(owner); }

}  // namespace kyvex::platform
