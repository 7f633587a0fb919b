// CPUID as recorded: what every leaf and sub-leaf answered on each logical processor, read
// from a dump of another machine (the raw format of the `cpuid` tool), and the processors and
// the platform that answer from such a recording.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProcessorApi.h"

namespace kyvex::platform {

// One logical processor's CPUID answers. A leaf that is not recorded answers zeros.
struct CpuidLeaves {
  std::map<std::pair<std::uint32_t, std::uint32_t>, X86Registers> leaves;  // (leaf, sub-leaf)
  bool hasCpuid = true;  // the ID flag of EFLAGS can be toggled

  void Set(std::uint32_t leaf, X86Registers regs, std::uint32_t subLeaf = 0) { leaves[{leaf, subLeaf}] = regs; }
  X86Registers Get(std::uint32_t leaf, std::uint32_t subLeaf = 0) const;
};

// Every logical processor's answers, in processor order.
using CpuidSnapshot = std::vector<CpuidLeaves>;

// Reads the raw register dump of the `cpuid` tool: the one-processor form of `cpuid -r -1`
// ("CPU:" then lines "   0x00000001 0x00: eax=0x... ebx=0x... ecx=0x... edx=0x...") and the
// all-processors form of `cpuid -r` ("CPU 0:", "CPU 1:", ...), processors in file order (at
// most 256). Lines of any other kind are skipped. Nothing (and `error` says why) when no
// register line is found, or when the text is too large to be a dump.
std::optional<CpuidSnapshot> ParseCpuidDump(std::string_view text, std::string& error);

// Processors that answer CPUID from a snapshot: binding the process to a processor selects its
// answers (an affinity mask reaches the first 32). The counters run on virtual time
// and the time-stamp counter at `mhz`, so that the clock measurement finds that rate (0: the
// counter stands still, as a recording gives no clock).
class SnapshotProcessor : public ProcessorApi {
 public:
  SnapshotProcessor(CpuidSnapshot snapshot, double mhz);

  void GetSystemInfo(SystemInfo& info) override;
  Handle GetCurrentProcess() override { return kCurrentProcessHandle; }
  Handle GetCurrentThread() override { return kCurrentThreadHandle; }
  bool GetProcessAffinityMask(Handle process, std::uint32_t& processMask, std::uint32_t& systemMask) override;
  bool BindProcessAffinitySetter() override { return true; }
  bool SetProcessAffinityMask(Handle process, std::uint32_t mask) override;
  int GetThreadPriority(Handle thread) override;
  bool SetThreadPriority(Handle thread, int priority) override;
  bool CanToggleIdFlag() override;
  X86Registers Cpuid(std::uint32_t leaf, std::uint32_t subLeaf) override;
  std::uint64_t ReadTimeStampCounter() override;
  bool QueryPerformanceCounter(std::int64_t& count) override;
  bool QueryPerformanceFrequency(std::int64_t& frequency) override;
  std::uint32_t GetTickCount() override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  static constexpr std::uint64_t kFrequency = 10'000'000;
  std::uint32_t SystemMask() const;
  std::size_t CurrentCpu() const;
  void Advance(std::uint64_t ticks);

  CpuidSnapshot cpus_;
  double mhz_;
  std::uint32_t affinity_ = 0;  // 0: every processor
  int priority_ = kThreadPriorityNormal;
  std::uint64_t ticks_ = 0;
  double cycles_ = 0;
};

// The running machine with its processors replaced by a recording: the processor services
// answer from the snapshot, the registry's description of this machine's processors is
// absent, and everything else is the running machine's own.
class SnapshotPlatform : public Platform {
 public:
  SnapshotPlatform(Platform& base, CpuidSnapshot snapshot, double mhz);

  ProcessorApi& Processor() override { return processor_; }
  FirmwareApi& Firmware() override { return base_.Firmware(); }
  DeviceApi& Devices() override { return base_.Devices(); }
  std::uint32_t GetLastError() override { return base_.GetLastError(); }
  bool GetVersionEx(OSVersionInfo& info, bool extended) override { return base_.GetVersionEx(info, extended); }
  bool RegKeyExists(RegRoot root, const std::string& subKey) override;
  std::optional<RegistryValue> RegQueryValue(RegRoot root, const std::string& subKey,
                                             const std::string& valueName) override;
  SystemTime GetLocalTime() override { return base_.GetLocalTime(); }
  std::optional<std::string> GetComputerName() override { return base_.GetComputerName(); }
  std::optional<std::string> GetUserName() override { return base_.GetUserName(); }
  bool OpenThreadToken(std::uint32_t access, bool openAsSelf, Handle& token) override {
    return base_.OpenThreadToken(access, openAsSelf, token);
  }
  bool OpenProcessToken(std::uint32_t access, Handle& token) override { return base_.OpenProcessToken(access, token); }
  std::optional<std::vector<std::vector<std::uint8_t>>> GetTokenGroupSids(Handle token) override {
    return base_.GetTokenGroupSids(token);
  }
  bool CloseHandle(Handle h) override { return base_.CloseHandle(h); }
  bool ProbeVMwarePort(X86Registers& regs) override { return base_.ProbeVMwarePort(regs); }
  bool ProbeVirtualPCCall(X86Registers& regs) override { return base_.ProbeVirtualPCCall(regs); }
  Handle GetModuleHandle(const std::string& name) override { return base_.GetModuleHandle(name); }
  Handle LoadLibrary(const std::string& name) override { return base_.LoadLibrary(name); }
  void* GetProcAddress(Handle module, const std::string& name) override { return base_.GetProcAddress(module, name); }
  bool FreeLibrary(Handle module) override { return base_.FreeLibrary(module); }
  std::string GetModuleFileName() override { return base_.GetModuleFileName(); }
  std::uint32_t GetFileVersionInfoSize(const std::string& path) override { return base_.GetFileVersionInfoSize(path); }
  bool GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) override {
    return base_.GetFileVersionInfo(path, block);
  }
  bool VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) override {
    return base_.VerQueryRoot(block, info);
  }

 private:
  Platform& base_;
  SnapshotProcessor processor_;
};

}  // namespace kyvex::platform
