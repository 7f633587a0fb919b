#include "platform/ProcessorApi.h"
#include "platform/linux/LinuxPlatform.h"

namespace kyvex::platform {

namespace {
class LinuxProcessor : public ProcessorApi {
 public:
  explicit LinuxProcessor(LinuxPlatform& owner) : owner_(owner) {}

 private:
  LinuxPlatform& owner_;
};
}  // namespace

std::unique_ptr<ProcessorApi> MakeLinuxProcessorApi(LinuxPlatform& owner) { return std::make_unique<LinuxProcessor>(owner); }

}  // namespace kyvex::platform
