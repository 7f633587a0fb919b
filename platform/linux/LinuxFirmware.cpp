// The firmware services on Linux. The firmware-table service's 'RSMB' table is answered from
// the kernel's copy of the SMBIOS entry point and table (/sys/firmware/dmi/tables, both
// entry-point kinds; root's alone on most systems, so without root there is no table, and
// the registry layer answers the identity values from /sys/class/dmi/id instead); the
// physical-memory section is
// /dev/mem, opened where the system permits it. There is no 'FIRM' provider and no command
// interpreter that runs DOS programs, so those requests fail as they would on a Windows that
// lacks them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef __linux__
#include <direct.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/FirmwareApi.h"
#include "platform/Text.h"
#include "platform/linux/LinuxPlatform.h"

namespace kyvex::platform {

namespace {

constexpr const char* kEntryPointFile = "/sys/firmware/dmi/tables/smbios_entry_point";
constexpr const char* kTableFile = "/sys/firmware/dmi/tables/DMI";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

class LinuxFirmware : public FirmwareApi {
 public:
  explicit LinuxFirmware(LinuxPlatform& owner) : owner_(owner) {}
  ~LinuxFirmware() override {
    for (auto& [handle, fd] : sections_) ::close(fd);
  }

  bool BindFirmwareTableService() override { return true; }

  std::uint32_t EnumSystemFirmwareTables(std::uint32_t provider, std::uint8_t* buffer, std::uint32_t size) override {
    if (provider != kProviderRSMB || RawSmbios().empty()) return 0;
    if (buffer && size >= 4) std::memset(buffer, 0, 4);  // the one table, id 0
    return 4;
  }

  std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, std::uint8_t* buffer,
                                       std::uint32_t size) override {
    if (provider != kProviderRSMB || tableId != 0) return 0;
    const std::vector<std::uint8_t> raw = RawSmbios();
    const auto needed = static_cast<std::uint32_t>(raw.size());
    if (buffer && size >= needed && needed) std::memcpy(buffer, raw.data(), needed);
    return needed;
  }

  MemoryGranularity GetSystemInfo() override {
    MemoryGranularity g;
#ifdef __linux__
    const long page = sysconf(_SC_PAGESIZE);
#else
    const long page = owner_.Recorded() ? static_cast<long>(owner_.Recorded()->pageSize) : 0;
#endif
    g.dwPageSize = page > 0 ? static_cast<std::uint32_t>(page) : 4096;
    g.dwAllocationGranularity = g.dwPageSize;
    return g;
  }

  std::uint32_t NtOpenSection(void*, Handle& section, std::uint32_t, const std::string& objectName,
                              std::uint32_t) override {
    if (!text::EqualsIgnoreAsciiCase(objectName, "\\Device\\PhysicalMemory")) return kStatusObjectNameNotFound;
    // A captured machine's memory was not captured; its tables are in the files.
    if (owner_.IsRecorded()) return kStatusObjectNameNotFound;
#ifndef __linux__
    return kStatusObjectNameNotFound;
#else
    const int fd = ::open(owner_.PathOf("/dev/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? kStatusObjectNameNotFound : kStatusAccessDenied;
    section = nextHandle_++;
    sections_[section] = fd;
    return kStatusSuccess;
#endif
  }

  std::uint32_t NtClose(void*, Handle handle) override {
    auto it = sections_.find(handle);
    if (it == sections_.end()) return 0xC0000008;  // STATUS_INVALID_HANDLE
    ::close(it->second);
    sections_.erase(it);
    return kStatusSuccess;
  }

  // A view is a copy read with pread: /dev/mem refuses to be mapped over much of what it
  // lets be read, and a copy is all the window needs.
  const std::uint8_t* MapViewOfFile(Handle section, std::uint32_t, std::uint32_t offsetHigh, std::uint32_t offsetLow,
                                    std::uint32_t bytes) override {
    auto it = sections_.find(section);
    if (it == sections_.end()) return nullptr;
    std::vector<std::uint8_t> view(bytes ? bytes : 1);
    const auto offset = static_cast<off_t>((static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow);
    std::size_t done = 0;
#ifndef __linux__
    (void)offset, (void)done;
    return nullptr;
#else
    while (done < bytes) {
      const ssize_t n = ::pread(it->second, view.data() + done, bytes - done, offset + static_cast<off_t>(done));
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return nullptr;
      }
      done += static_cast<std::size_t>(n);
    }
#endif
    const std::uint8_t* p = view.data();
    views_[p] = std::move(view);
    return p;
  }

  bool UnmapViewOfFile(const std::uint8_t* view) override { return views_.erase(view) != 0; }

  bool ReadLinearMemory(std::uint32_t, std::uint8_t*, std::uint32_t) override { return false; }

  std::string GetTempPath() override {
    std::string dir = GetEnvironmentVariable("TMPDIR");
    if (dir.empty()) dir = "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
  }

  std::string GetEnvironmentVariable(const std::string& name) override {
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
  }

  bool DirectoryExists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
#ifdef __linux__
  bool CreateDirectory(const std::string& path) override { return ::mkdir(path.c_str(), 0700) == 0; }
#else
  bool CreateDirectory(const std::string& path) override { return ::_mkdir(path.c_str()) == 0; }
#endif
  bool RemoveDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0; }
  bool DeleteFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  std::uint32_t WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& data) override {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return 0;
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return f ? static_cast<std::uint32_t>(data.size()) : 0;
  }

  bool ReadWholeFile(const std::string& path, std::uint32_t maxBytes, std::vector<std::uint8_t>& data) override {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    data.assign(maxBytes, 0);
    f.read(reinterpret_cast<char*>(data.data()), maxBytes);
    data.resize(static_cast<std::size_t>(f.gcount()));
    return true;
  }

  bool CreateProcess(const std::string&, std::uint32_t, ProcessInformation&) override { return false; }
  std::uint32_t WaitForSingleObject(Handle, std::uint32_t) override { return kWaitFailed; }
  bool TerminateProcess(Handle, std::uint32_t) override { return false; }
  bool CloseHandle(Handle handle) override { return NtClose(nullptr, handle) == kStatusSuccess; }
  bool RunsDosPrograms() override { return false; }

 private:
  // RawSMBIOSData as Windows hands it out: calling method, major, minor, DMI revision, the
  // table's length, the table.
  std::vector<std::uint8_t> RawSmbios() const {
    const std::string entry = owner_.ReadTextFile(kEntryPointFile);
    const std::string table = owner_.ReadTextFile(kTableFile);
    if (table.empty()) return {};
    auto byte = [&](std::size_t i) { return i < entry.size() ? static_cast<std::uint8_t>(entry[i]) : std::uint8_t{0}; };
    std::uint8_t major = 0, minor = 0, revision = 0;
    if (StartsWith(entry, "_SM3_")) {
      major = byte(7), minor = byte(8), revision = byte(0x0A);
    } else if (StartsWith(entry, "_SM_")) {
      major = byte(6), minor = byte(7), revision = byte(0x1E);
    } else if (StartsWith(entry, "_DMI_")) {
      revision = byte(0x0E);
      major = revision >> 4, minor = revision & 0x0F;
    }
    std::vector<std::uint8_t> raw(8 + table.size());
    raw[1] = major;
    raw[2] = minor;
    raw[3] = revision;
    const auto length = static_cast<std::uint32_t>(table.size());
    for (int i = 0; i < 4; ++i) raw[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    std::memcpy(raw.data() + 8, table.data(), table.size());
    return raw;
  }

  LinuxPlatform& owner_;
  std::map<Handle, int> sections_;
  std::map<const std::uint8_t*, std::vector<std::uint8_t>> views_;
  Handle nextHandle_ = 0x6000;
};
}  // namespace

std::unique_ptr<FirmwareApi> MakeLinuxFirmwareApi(LinuxPlatform& owner) { return std::make_unique<LinuxFirmware>(owner); }

}  // namespace kyvex::platform
