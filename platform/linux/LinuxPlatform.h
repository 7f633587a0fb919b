// The Linux translation layer: answers the Windows-shaped platform calls from Linux sources
// (procfs, sysfs, /etc, /dev). Every file it reads is taken below a root folder, "/" on a
// running system, so that tests can point it at a fixture tree.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CpuidSnapshot.h"
#include "platform/linux/CaptureTree.h"
#include "platform/Platform.h"

namespace kyvex::platform {

// What a running machine answers without a file to read it from (the user, the rights, the
// instruction probes, CPUID), taken when the machine was captured. A platform given these
// answers from them and from the files below its root alone: nothing of the machine it runs
// on is read, and no path leads out of the root.
struct RecordedMachineFacts {
  std::string userName;  // empty: none could be found
  bool admin = false;
  bool vmwarePort = false;      // the VMware guest port answered
  bool virtualPcCall = false;   // Virtual PC's guest call was handled
  std::uint16_t architecture = 9;  // PROCESSOR_ARCHITECTURE_AMD64
  std::uint32_t pageSize = 4096;
  CpuidSnapshot processors;     // every logical processor's leaves, in processor order
};

class LinuxPlatform : public Platform {
 public:
  explicit LinuxPlatform(std::string root = "/");
  // A captured machine: `root` holds its files.
  LinuxPlatform(std::string root, RecordedMachineFacts facts);
  // A captured machine whose files are held in memory (its archive read where its folder
  // could not keep its links): `files` is its fs/ folder. Paths then name places in the tree,
  // "/" its top.
  LinuxPlatform(std::shared_ptr<const CaptureTree> files, RecordedMachineFacts facts);
  ~LinuxPlatform() override;

  ProcessorApi& Processor() override;
  FirmwareApi& Firmware() override;
  DeviceApi& Devices() override;

  const std::string& Root() const { return root_; }
  // The file `path` (absolute, e.g. "/proc/cpuinfo") below the root folder. For a captured
  // machine, the path with its links resolved, and empty (a path nothing can be opened at)
  // when it leads out of the root.
  std::string PathOf(const std::string& path) const;
  // As PathOf, for a folder whose entries are listed.
  std::string ListingPathOf(const std::string& path) const;
  // The path below the root (as PathOf takes it) of a path on the host, "" when it is not
  // below the root.
  std::string BelowRoot(const std::string& hostPath) const;
  // The whole contents of a file below the root; empty when it cannot be read. For a captured
  // machine only regular files of reasonable size are read; anything else is noted.
  std::string ReadTextFile(const std::string& path) const;
  // The names in the folder `path` below the root (unsorted), whether `path` is there (links
  // followed), and the path below the root it names with every link resolved ("" when it is
  // not there or leads out).
  std::vector<std::string> ListFolder(const std::string& path) const;
  bool Exists(const std::string& path) const;
  std::string RealPath(const std::string& path) const;
  // Whether the files are held in memory (CaptureTree) rather than in a folder.
  bool InMemory() const { return tree_ != nullptr; }

  // Every path below the root this layer reaches for, with whether the folder's entries were
  // listed. Set while nothing else uses the platform.
  using PathObserver = std::function<void(const std::string& path, bool listed)>;
  void SetPathObserver(PathObserver observer) { observer_ = std::move(observer); }

  bool IsRecorded() const { return recorded_ != nullptr; }
  const RecordedMachineFacts* Recorded() const { return recorded_.get(); }
  // What was refused while reading a captured machine's files (links leading out, special
  // files, files too large), each once.
  std::vector<std::string> Problems() const;
  // Larger files of a captured machine are refused: nothing it reads comes near this size.
  static constexpr std::uint64_t kMaxRecordedFile = 64u << 20;

  std::uint32_t GetLastError() override;
  bool GetVersionEx(OSVersionInfo& info, bool extended) override;
  SystemTime GetLocalTime() override;
  bool RegKeyExists(RegRoot root, const std::string& subKey) override;
  std::optional<RegistryValue> RegQueryValue(RegRoot root, const std::string& subKey,
                                             const std::string& valueName) override;
  std::optional<std::string> GetComputerName() override;
  std::optional<std::string> GetUserName() override;
  bool OpenThreadToken(std::uint32_t access, bool openAsSelf, Handle& token) override;
  bool OpenProcessToken(std::uint32_t access, Handle& token) override;
  std::optional<std::vector<std::vector<std::uint8_t>>> GetTokenGroupSids(Handle token) override;
  bool CloseHandle(Handle h) override;
  bool ProbeVMwarePort(X86Registers& regs) override;
  bool ProbeVirtualPCCall(X86Registers& regs) override;
  Handle GetModuleHandle(const std::string& name) override;
  Handle LoadLibrary(const std::string& name) override;
  void* GetProcAddress(Handle module, const std::string& name) override;
  bool FreeLibrary(Handle module) override;
  std::string GetModuleFileName() override;
  std::uint32_t GetFileVersionInfoSize(const std::string& path) override;
  bool GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) override;
  bool VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) override;

  // The values of the registry keys this layer answers, as (value name -> value); empty when
  // the key is not one of them. Exposed for tests.
  std::map<std::string, RegistryValue> RegistryKey(RegRoot root, const std::string& subKey);

  // The processors of /proc/cpuinfo as the CentralProcessor\N keys describe them.
  struct CpuInfoEntry {
    std::string vendor, modelName;
    int family = 0, model = 0, stepping = 0;
    std::uint32_t mhz = 0;
  };
  std::vector<CpuInfoEntry> ReadCpuInfo() const;

  // PRETTY_NAME of os-release (/etc/os-release, else /usr/lib/os-release), else NAME,
  // else "Linux".
  std::string OsPrettyName() const;

 private:
  void SetLastError(std::uint32_t e);
  void Note(const std::string& problem) const;
  // A captured machine's probes answer as the machine's did: a guest's interface answers
  // with its signature, a machine without one faults.
  bool RecordedVMwarePort(X86Registers& regs) const;
  bool RecordedVirtualPcCall(X86Registers& regs) const;
  std::string Confined(const std::string& relative, const std::string& joined) const;
  std::string root_;
  std::string canonicalRoot_;  // captured machines: the root with its links resolved
  std::shared_ptr<const RecordedMachineFacts> recorded_;
  std::shared_ptr<const CaptureTree> tree_;
  // A path resolved in the tree, "" (noted where it leads out) when it cannot be.
  std::optional<std::string> InTree(const std::string& path) const;
  PathObserver observer_;
  mutable std::mutex problemsMutex_;
  mutable std::vector<std::string> problems_;
  std::unique_ptr<ProcessorApi> processor_;
  std::unique_ptr<FirmwareApi> firmware_;
  std::unique_ptr<DeviceApi> devices_;
};

}  // namespace kyvex::platform
