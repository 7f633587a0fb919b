#include "platform/DeviceApi.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

namespace kyvex::platform {

namespace {
class Win32Device : public DeviceApi {
 public:
  explicit Win32Device(Win32Platform& owner) : owner_(owner) {}

 private:
  Win32Platform& owner_;
};
}  // namespace

std::unique_ptr<DeviceApi> MakeWin32DeviceApi(Win32Platform& owner) { return std::make_unique<Win32Device>(owner); }

}  // namespace kyvex::platform
