#include "platform/ProcessorApi.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

namespace kyvex::platform {

namespace {
class Win32Processor : public ProcessorApi {
 public:
  explicit Win32Processor(Win32Platform& owner) : owner_(owner) {}

 private:
  Win32Platform& owner_;
};
}  // namespace

std::unique_ptr<ProcessorApi> MakeWin32ProcessorApi(Win32Platform& owner) { return std::make_unique<Win32Processor>(owner); }

}  // namespace kyvex::platform
