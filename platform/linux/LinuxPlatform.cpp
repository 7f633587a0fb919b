#include "platform/linux/LinuxPlatform.h"

#ifdef __linux__
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/DeviceApi.h"
#include "platform/FirmwareApi.h"
#include "platform/ProcessorApi.h"
#include "platform/Text.h"
#include "platform/VersionBlock.h"

namespace kyvex::platform {

#ifdef __linux__
Platform& NativeInstance() {
  static LinuxPlatform instance;
  return instance;
}
#endif

namespace {
thread_local std::uint32_t t_lastError = 0;
constexpr Handle kProcessToken = 0x70C3;

std::string Normalize(const std::string& key) {
  std::string k = key;
  while (!k.empty() && k.front() == '\\') k.erase(k.begin());
  while (!k.empty() && k.back() == '\\') k.pop_back();
  return text::AsciiUpper(k);
}

RegistryValue StringValue(const std::string& s) {
  RegistryValue v;
  v.type = kRegSz;
  v.text = s;
  v.data.assign(s.begin(), s.end());
  v.data.push_back(0);
  return v;
}

RegistryValue DwordValue(std::uint32_t d) {
  RegistryValue v;
  v.type = kRegDword;
  v.dword = d;
  for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<std::uint8_t>(d >> (8 * i)));
  return v;
}

std::uint32_t LeadingNumber(const std::string& s, std::size_t& pos) {
  std::uint64_t n = 0;
  bool any = false;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    n = n * 10 + static_cast<std::uint64_t>(s[pos] - '0');
    if (n > UINT32_MAX) n = UINT32_MAX;
    ++pos;
    any = true;
  }
  return any ? static_cast<std::uint32_t>(n) : 0;
}

std::string Unquote(std::string v) {
  v = text::Trim(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return v;
}

const char* kComputerNameKey = "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\COMPUTERNAME\\COMPUTERNAME";
const char* kCurrentVersionKey = "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION";
const char* kCentralProcessorKey = "HARDWARE\\DESCRIPTION\\SYSTEM\\CENTRALPROCESSOR";
const char* kBiosKey = "HARDWARE\\DESCRIPTION\\SYSTEM\\BIOS";

// The firmware's identity as Windows keeps it under HARDWARE\DESCRIPTION\System\BIOS, from
// the kernel's files of the same values, which every user may read (unlike the tables they
// come from). The serial numbers and the UUID are root's alone and have no value there on
// Windows either; the chassis values are this layer's own additions.
struct DmiIdValue {
  const char* file;
  const char* value;
};
constexpr DmiIdValue kDmiIdValues[] = {
    {"bios_vendor", "BIOSVendor"},
    {"bios_version", "BIOSVersion"},
    {"bios_date", "BIOSReleaseDate"},
    {"sys_vendor", "SystemManufacturer"},
    {"product_name", "SystemProductName"},
    {"product_version", "SystemVersion"},
    {"product_family", "SystemFamily"},
    {"product_sku", "SystemSKU"},
    {"board_vendor", "BaseBoardManufacturer"},
    {"board_name", "BaseBoardProduct"},
    {"board_version", "BaseBoardVersion"},
    {"board_asset_tag", "BaseBoardAssetTag"},
    {"chassis_vendor", "ChassisManufacturer"},
    {"chassis_version", "ChassisVersion"},
    {"chassis_asset_tag", "ChassisAssetTag"},
};

}  // namespace

LinuxPlatform::LinuxPlatform(std::string root) : root_(std::move(root)) {
  if (root_.empty()) root_ = "/";
  std::error_code ec;
  canonicalRoot_ = std::filesystem::weakly_canonical(root_, ec).string();
  if (ec || canonicalRoot_.empty()) canonicalRoot_ = root_;
  while (canonicalRoot_.size() > 1 && canonicalRoot_.back() == '/') canonicalRoot_.pop_back();
  processor_ = MakeLinuxProcessorApi(*this);
  firmware_ = MakeLinuxFirmwareApi(*this);
  devices_ = MakeLinuxDeviceApi(*this);
}

LinuxPlatform::LinuxPlatform(std::string root, RecordedMachineFacts facts) : root_(std::move(root)) {
  if (root_.empty()) root_ = "/";
  std::error_code ec;
  canonicalRoot_ = std::filesystem::weakly_canonical(root_, ec).string();
  if (ec || canonicalRoot_.empty()) canonicalRoot_ = root_;
  while (canonicalRoot_.size() > 1 && canonicalRoot_.back() == '/') canonicalRoot_.pop_back();
  recorded_ = std::make_shared<const RecordedMachineFacts>(std::move(facts));
  processor_ = MakeLinuxProcessorApi(*this);
  firmware_ = MakeLinuxFirmwareApi(*this);
  devices_ = MakeLinuxDeviceApi(*this);
}

LinuxPlatform::LinuxPlatform(std::shared_ptr<const CaptureTree> files, RecordedMachineFacts facts)
    : root_("(in memory)"), canonicalRoot_(root_), tree_(std::move(files)) {
  recorded_ = std::make_shared<const RecordedMachineFacts>(std::move(facts));
  processor_ = MakeLinuxProcessorApi(*this);
  firmware_ = MakeLinuxFirmwareApi(*this);
  devices_ = MakeLinuxDeviceApi(*this);
}

LinuxPlatform::~LinuxPlatform() = default;

std::optional<std::string> LinuxPlatform::InTree(const std::string& path) const {
  const CaptureTree::Resolved r = tree_->Resolve(path);
  switch (r.outcome) {
    case CaptureTree::Outcome::Found: return r.path;
    case CaptureTree::Outcome::Missing:
      if (r.path.empty()) return std::nullopt;
      return r.path;
    case CaptureTree::Outcome::LeadsOut:
      Note(path + ": leads out of the captured machine's folder; not read");
      return std::nullopt;
    case CaptureTree::Outcome::Loop:
      Note(path + ": cannot be resolved (a loop of links)");
      return std::nullopt;
  }
  return std::nullopt;
}

void LinuxPlatform::Note(const std::string& problem) const {
  std::lock_guard<std::mutex> lock(problemsMutex_);
  if (std::find(problems_.begin(), problems_.end(), problem) == problems_.end()) problems_.push_back(problem);
}

std::vector<std::string> LinuxPlatform::Problems() const {
  std::lock_guard<std::mutex> lock(problemsMutex_);
  return problems_;
}

// A captured machine's links are followed as far as they go, and the path is taken only when
// it ends below the root: a capture is someone else's folder, and a link in it to /etc/shadow
// or ../../home must not make this program read the file it names.
std::string LinuxPlatform::Confined(const std::string& relative, const std::string& joined) const {
  std::error_code ec;
  const std::string real = std::filesystem::weakly_canonical(joined, ec).string();
  if (ec) {
    Note(relative + ": cannot be resolved (" + ec.message() + ")");
    return {};
  }
  if (real == canonicalRoot_ || (real.size() > canonicalRoot_.size() && real.compare(0, canonicalRoot_.size(), canonicalRoot_) == 0 &&
                                 (canonicalRoot_ == "/" || real[canonicalRoot_.size()] == '/')))
    return real;
  Note(relative + ": leads out of the captured machine's folder (to " + real + "); not read");
  return {};
}

std::string LinuxPlatform::BelowRoot(const std::string& hostPath) const {
  // In memory, the paths handed out are the paths below the root already.
  if (tree_) return !hostPath.empty() && hostPath[0] == '/' ? hostPath : std::string();
  if (root_ == "/" && !recorded_) return hostPath;
  // Resolved paths start with the resolved root; a root reached through a link (a /tmp that
  // is one) is also taken as given.
  std::vector<std::string> bases{canonicalRoot_};
  if (!recorded_) bases.push_back(root_.size() > 1 && root_.back() == '/' ? root_.substr(0, root_.size() - 1) : root_);
  for (const auto& base : bases) {
    if (hostPath == base) return "/";
    if (hostPath.size() > base.size() && hostPath.compare(0, base.size(), base) == 0 && hostPath[base.size()] == '/')
      return hostPath.substr(base.size());
  }
  return {};
}

std::string LinuxPlatform::ListingPathOf(const std::string& path) const {
  if (observer_) observer_(path, true);
  if (tree_) {
    const auto resolved = InTree(path);
    return resolved ? "/" + *resolved : std::string();
  }
  std::string r = root_;
  if (r == "/") return path;
  if (r.back() == '/') r.pop_back();
  const std::string joined = r + (path.empty() || path.front() != '/' ? "/" : "") + path;
  return recorded_ ? Confined(path, joined) : joined;
}

ProcessorApi& LinuxPlatform::Processor() { return *processor_; }
FirmwareApi& LinuxPlatform::Firmware() { return *firmware_; }
DeviceApi& LinuxPlatform::Devices() { return *devices_; }

std::string LinuxPlatform::PathOf(const std::string& path) const {
  if (observer_) observer_(path, false);
  if (tree_) {
    const auto resolved = InTree(path);
    return resolved ? "/" + *resolved : std::string();
  }
  if (root_ == "/") return path;
  std::string r = root_;
  if (r.back() == '/') r.pop_back();
  const std::string joined = r + (path.empty() || path.front() != '/' ? "/" : "") + path;
  return recorded_ ? Confined(path, joined) : joined;
}

std::string LinuxPlatform::ReadTextFile(const std::string& path) const {
  const std::string host = PathOf(path);
  if (host.empty()) return {};
  if (tree_) {
    const CaptureTree::Node* node = tree_->Find(host.substr(1));
    if (!node || node->kind != CaptureTree::Kind::File) return {};
    if (node->data.size() > kMaxRecordedFile) {
      Note(path + ": " + std::to_string(node->data.size()) + " bytes, more than a captured file may hold (" +
           std::to_string(kMaxRecordedFile >> 20) + " MiB); not read");
      return {};
    }
    return node->data;
  }
  if (recorded_) {
    // A pipe would block the reading, a device would be this machine's: a captured machine
    // holds regular files only, each far below the limit.
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(host, ec);
    if (ec || !fs::exists(st)) return {};
    if (!fs::is_regular_file(st)) {
      if (!fs::is_directory(st)) Note(path + ": not a regular file; not read");
      return {};
    }
    const auto size = fs::file_size(host, ec);
    if (!ec && size > kMaxRecordedFile) {
      Note(path + ": " + std::to_string(size) + " bytes, more than a captured file may hold (" +
           std::to_string(kMaxRecordedFile >> 20) + " MiB); not read");
      return {};
    }
  }
#ifdef __linux__
  // Plain reads: most files here are a few bytes of procfs or sysfs, which a stream costs more
  // to set up than to read. Their sizes say nothing (0 or a page), so reading goes to the end.
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  char piece[16384];
  for (;;) {
    const ssize_t n = ::read(fd, piece, sizeof piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content.append(piece, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
#else
  std::ifstream f(host, std::ios::binary);
  if (!f) return {};
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
#endif
}

std::vector<std::string> LinuxPlatform::ListFolder(const std::string& path) const {
  std::vector<std::string> names;
  const std::string host = ListingPathOf(path);
  if (host.empty()) return names;
  if (tree_) return tree_->List(host.substr(1));
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(host, ec)) names.push_back(e.path().filename().string());
  return names;
}

bool LinuxPlatform::Exists(const std::string& path) const {
  const std::string host = PathOf(path);
  if (host.empty()) return false;
  if (tree_) return tree_->Find(host.substr(1)) != nullptr;
  std::error_code ec;
  return std::filesystem::exists(host, ec);
}

std::string LinuxPlatform::RealPath(const std::string& path) const {
  const std::string host = PathOf(path);
  if (host.empty()) return {};
  if (tree_) return tree_->Find(host.substr(1)) ? host : std::string();
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::canonical(host, ec);
  return ec ? std::string() : BelowRoot(p.string());
}

void LinuxPlatform::SetLastError(std::uint32_t e) { t_lastError = e; }
std::uint32_t LinuxPlatform::GetLastError() { return t_lastError; }

bool LinuxPlatform::GetVersionEx(OSVersionInfo& info, bool extended) {
  info = OSVersionInfo{};
  info.dwPlatformId = kPlatformLinux;
  std::string release = text::Trim(ReadTextFile("/proc/sys/kernel/osrelease"));
#ifdef __linux__
  if (release.empty() && root_ == "/") {
    utsname u{};
    if (uname(&u) == 0) release = u.release;
  }
#endif
  // "6.1.0-27-amd64" -> 6, 1, 0; a missing part reads 0.
  std::size_t pos = 0;
  info.dwMajorVersion = LeadingNumber(release, pos);
  if (pos < release.size() && release[pos] == '.') ++pos;
  info.dwMinorVersion = LeadingNumber(release, pos);
  if (pos < release.size() && release[pos] == '.') ++pos;
  info.dwBuildNumber = LeadingNumber(release, pos);
  return true;
}

SystemTime LinuxPlatform::GetLocalTime() {
  timespec ts{};
  tm local{};
#ifdef __linux__
  clock_gettime(CLOCK_REALTIME, &ts);
  localtime_r(&ts.tv_sec, &local);
#else
  const std::time_t now = std::time(nullptr);
  localtime_s(&local, &now);
#endif
  SystemTime t;
  t.wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
  t.wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
  t.wDayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
  t.wDay = static_cast<std::uint16_t>(local.tm_mday);
  t.wHour = static_cast<std::uint16_t>(local.tm_hour);
  t.wMinute = static_cast<std::uint16_t>(local.tm_min);
  // A leap second reads as the last second of its minute, as Windows shows it.
  t.wSecond = static_cast<std::uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  t.wMilliseconds = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
  return t;
}

std::string LinuxPlatform::OsPrettyName() const {
  std::string content = ReadTextFile("/etc/os-release");
  if (content.empty()) content = ReadTextFile("/usr/lib/os-release");
  std::string pretty, name;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = text::Trim(line.substr(0, eq));
    if (key == "PRETTY_NAME") pretty = Unquote(line.substr(eq + 1));
    if (key == "NAME") name = Unquote(line.substr(eq + 1));
  }
  if (!pretty.empty()) return pretty;
  if (!name.empty()) return name;
  return "Linux";
}

std::vector<LinuxPlatform::CpuInfoEntry> LinuxPlatform::ReadCpuInfo() const {
  std::vector<CpuInfoEntry> cpus;
  std::istringstream in(ReadTextFile("/proc/cpuinfo"));
  std::string line;
  CpuInfoEntry current;
  bool open = false;
  auto flush = [&] {
    if (open) cpus.push_back(current);
    current = CpuInfoEntry{};
    open = false;
  };
  while (std::getline(in, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
      if (text::Trim(line).empty()) flush();
      continue;
    }
    const std::string key = text::Trim(line.substr(0, colon));
    const std::string value = text::Trim(line.substr(colon + 1));
    if (key == "processor") {
      flush();
      open = true;
    } else if (key == "vendor_id") {
      current.vendor = value;
    } else if (key == "model name") {
      current.modelName = value;
    } else if (key == "cpu family") {
      current.family = std::atoi(value.c_str());
    } else if (key == "model") {
      current.model = std::atoi(value.c_str());
    } else if (key == "stepping") {
      current.stepping = std::atoi(value.c_str());
    } else if (key == "cpu MHz") {
      current.mhz = static_cast<std::uint32_t>(std::atof(value.c_str()) + 0.5);
    }
  }
  flush();
  return cpus;
}

std::map<std::string, RegistryValue> LinuxPlatform::RegistryKey(RegRoot root, const std::string& subKey) {
  std::map<std::string, RegistryValue> values;
  if (root != RegRoot::LocalMachine) return values;
  const std::string key = Normalize(subKey);
  if (key == kComputerNameKey) {
    if (auto name = GetComputerName()) values["ComputerName"] = StringValue(*name);
  } else if (key == kCurrentVersionKey) {
    values["ProductName"] = StringValue(OsPrettyName());
  } else if (key == kBiosKey) {
    for (const auto& v : kDmiIdValues) {
      std::string text = ReadTextFile(std::string("/sys/class/dmi/id/") + v.file);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      if (text.empty()) continue;  // absent, unreadable by this user, or no string
      values[v.value] = StringValue(text);
    }
    // The enclosure type code; the kernel has dropped the lock bit.
    const std::string type = text::Trim(ReadTextFile("/sys/class/dmi/id/chassis_type"));
    if (!type.empty() && type.size() <= 3 && type.find_first_not_of("0123456789") == std::string::npos)
      values["ChassisType"] = DwordValue(static_cast<std::uint32_t>(std::stoul(type)));
  } else if (key.rfind(std::string(kCentralProcessorKey) + "\\", 0) == 0) {
    const std::string index = key.substr(std::string(kCentralProcessorKey).size() + 1);
    if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos || index.size() > 4)
      return values;
    const auto cpus = ReadCpuInfo();
    const std::size_t i = static_cast<std::size_t>(std::stoul(index));
    if (i >= cpus.size()) return values;
    const auto& c = cpus[i];
    values["VendorIdentifier"] = StringValue(c.vendor);
    values["Identifier"] = StringValue("x86 Family " + std::to_string(c.family) + " Model " +
                                       std::to_string(c.model) + " Stepping " + std::to_string(c.stepping));
    values["ProcessorNameString"] = StringValue(c.modelName);
    values["~MHz"] = DwordValue(c.mhz);
  }
  return values;
}

bool LinuxPlatform::RegKeyExists(RegRoot root, const std::string& subKey) {
  if (root != RegRoot::LocalMachine) return false;
  const std::string key = Normalize(subKey);
  if (key == kCentralProcessorKey) return !ReadCpuInfo().empty();
  return !RegistryKey(root, subKey).empty();
}

std::optional<RegistryValue> LinuxPlatform::RegQueryValue(RegRoot root, const std::string& subKey,
                                                          const std::string& valueName) {
  for (auto& [name, value] : RegistryKey(root, subKey))
    if (text::EqualsIgnoreAsciiCase(name, valueName)) return value;
  SetLastError(kErrorFileNotFound);
  return std::nullopt;
}

std::optional<std::string> LinuxPlatform::GetComputerName() {
  std::string name = text::Trim(ReadTextFile("/proc/sys/kernel/hostname"));
#ifdef __linux__
  if (name.empty() && root_ == "/") {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) == 0) name = buf;
  }
#endif
  if (name.empty()) {
    SetLastError(kErrorFileNotFound);
    return std::nullopt;
  }
  // Windows' computer name is the NetBIOS name: the host part, at most 15 characters.
  name = name.substr(0, name.find('.'));
  return name.substr(0, 15);
}

std::optional<std::string> LinuxPlatform::GetUserName() {
  if (recorded_) {
    if (!recorded_->userName.empty()) return recorded_->userName;
    SetLastError(kErrorFileNotFound);
    return std::nullopt;
  }
#ifdef __linux__
  const uid_t uid = geteuid();
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_name)
    return std::string(result->pw_name);
#endif
  SetLastError(kErrorFileNotFound);
  return std::nullopt;
}

// Linux has no per-thread impersonation tokens; the process "token" carries the groups that
// the effective user id stands for: root is in the Administrators group.
bool LinuxPlatform::OpenThreadToken(std::uint32_t, bool, Handle&) {
  SetLastError(kErrorNoToken);
  return false;
}

bool LinuxPlatform::OpenProcessToken(std::uint32_t, Handle& token) {
  token = kProcessToken;
  return true;
}

std::optional<std::vector<std::vector<std::uint8_t>>> LinuxPlatform::GetTokenGroupSids(Handle token) {
  if (token != kProcessToken) {
    SetLastError(kErrorInvalidHandle);
    return std::nullopt;
  }
  std::vector<std::vector<std::uint8_t>> sids{SidEveryone(), SidUsers()};
#ifdef __linux__
  const bool admin = recorded_ ? recorded_->admin : geteuid() == 0;
#else
  const bool admin = recorded_ && recorded_->admin;
#endif
  if (admin) sids.push_back(SidAdministrators());
  return sids;
}

bool LinuxPlatform::RecordedVMwarePort(X86Registers& regs) const {
  if (!recorded_->vmwarePort) return false;
  regs.ebx = 0x564D5868;  // 'VMXh'
  return true;
}

bool LinuxPlatform::RecordedVirtualPcCall(X86Registers& regs) const {
  if (!recorded_->virtualPcCall) return false;
  regs.ebx = 0;
  return true;
}

bool LinuxPlatform::CloseHandle(Handle h) { return h == kProcessToken; }

// A build that only replays captures has no Linux libraries: nothing loads, as on a captured
// Linux machine no Windows library does.
#ifdef __linux__
Handle LinuxPlatform::GetModuleHandle(const std::string& name) {
  void* h = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!h) return kInvalidHandle;
  dlclose(h);  // RTLD_NOLOAD still counts a reference
  return reinterpret_cast<Handle>(h);
}

Handle LinuxPlatform::LoadLibrary(const std::string& name) {
  void* h = dlopen(name.c_str(), RTLD_LAZY);
  if (!h) SetLastError(kErrorFileNotFound);
  return reinterpret_cast<Handle>(h);
}

void* LinuxPlatform::GetProcAddress(Handle module, const std::string& name) {
  if (module == kInvalidHandle) return nullptr;
  return dlsym(reinterpret_cast<void*>(module), name.c_str());
}

bool LinuxPlatform::FreeLibrary(Handle module) {
  return module != kInvalidHandle && dlclose(reinterpret_cast<void*>(module)) == 0;
}

std::string LinuxPlatform::GetModuleFileName() {
  char buf[PATH_MAX + 1] = {};
  const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
#else
Handle LinuxPlatform::GetModuleHandle(const std::string&) { return kInvalidHandle; }
Handle LinuxPlatform::LoadLibrary(const std::string&) {
  SetLastError(kErrorFileNotFound);
  return 0;
}
void* LinuxPlatform::GetProcAddress(Handle, const std::string&) { return nullptr; }
bool LinuxPlatform::FreeLibrary(Handle) { return false; }
std::string LinuxPlatform::GetModuleFileName() { return {}; }
#endif

std::uint32_t LinuxPlatform::GetFileVersionInfoSize(const std::string& path) {
  auto block = ReadElfSection(path, kElfVersionSection);
  if (!block) {
    SetLastError(kErrorFileNotFound);
    return 0;
  }
  return static_cast<std::uint32_t>(block->size());
}

bool LinuxPlatform::GetFileVersionInfo(const std::string& path, std::vector<std::uint8_t>& block) {
  auto b = ReadElfSection(path, kElfVersionSection);
  if (!b) return false;
  block = std::move(*b);
  return true;
}

bool LinuxPlatform::VerQueryRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info) {
  return QueryVersionRoot(block, info);
}

}  // namespace kyvex::platform
