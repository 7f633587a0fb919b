#include "platform/Platform.h"

#include <vector>

namespace kyvex::platform {

namespace {
std::vector<std::uint8_t> Sid(std::uint8_t authority, std::vector<std::uint32_t> subs) {
  std::vector<std::uint8_t> sid{1, static_cast<std::uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (auto s : subs)
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<std::uint8_t>(s >> (8 * i)));
  return sid;
}
}  // namespace

std::vector<std::uint8_t> SidAdministrators() { return Sid(5, {32, 544}); }
std::vector<std::uint8_t> SidUsers() { return Sid(5, {32, 545}); }
std::vector<std::uint8_t> SidEveryone() { return Sid(1, {0}); }

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
