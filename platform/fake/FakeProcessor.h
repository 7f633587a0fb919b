// Scripted answers for the platform's processors: count, affinity, CPUID and RDTSC, performance counter, tick count, sleep, thread priority.
#pragma once

#include "platform/ProcessorApi.h"

namespace kyvex::platform {

class FakeProcessor : public ProcessorApi {
 public:
};

}  // namespace kyvex::platform
