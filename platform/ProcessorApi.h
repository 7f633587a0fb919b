// The platform's services for processors: count, affinity, CPUID and RDTSC, performance counter, tick count, sleep, thread priority, in the shapes of the Windows services the components
// were designed against.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace kyvex::platform {

class ProcessorApi {
 public:
  virtual ~ProcessorApi() = default;
};

class LinuxPlatform;
class Win32Platform;
std::unique_ptr<ProcessorApi> MakeLinuxProcessorApi(LinuxPlatform& owner);
std::unique_ptr<ProcessorApi> MakeWin32ProcessorApi(Win32Platform& owner);

}  // namespace kyvex::platform
