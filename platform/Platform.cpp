#include "platform/Platform.h"

#include <vector>

namespace kyvex::platform {

Platform& NativeInstance();  // defined by the native layer of the build

namespace {
Platform* g_current = nullptr;

std::vector<PlatformChangedHook>& Hooks() {
  static std::vector<PlatformChangedHook> hooks;
  return hooks;
}

void RunHooks() {
  for (auto hook : Hooks()) hook();
}
}  // namespace

Platform& Native() { return NativeInstance(); }

Platform& Current() {
  if (!g_current) g_current = &Native();
  return *g_current;
}

ScopedPlatform::ScopedPlatform(Platform& p) : previous_(&Current()) {
  g_current = &p;
  RunHooks();
}

ScopedPlatform::~ScopedPlatform() {
  g_current = previous_;
  RunHooks();
}

void OnPlatformChanged(PlatformChangedHook hook) { Hooks().push_back(hook); }

}  // namespace kyvex::platform
