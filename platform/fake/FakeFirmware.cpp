#include "platform/fake/FakeFirmware.h"

#include <algorithm>
#include <cstring>

#include "platform/Text.h"

namespace kyvex::platform {

namespace {
// The dumper program with the segment's high byte at 3 and 23; the fake DOS subsystem only
// runs programs of exactly this shape.
constexpr std::uint8_t kDumperShape[46] = {0x31, 0xD2, 0xB6, 0x00, 0x8E, 0xDA, 0x31, 0xD2, 0x31, 0xC9, 0x49, 0x31,
                                           0xDB, 0x43, 0xB4, 0x40, 0xCD, 0x21, 0x72, 0x16, 0x31, 0xD2, 0xB6, 0x00,
                                           0x8E, 0xDA, 0x31, 0xD2, 0x4A, 0x31, 0xC9, 0x41, 0x89, 0xCB, 0xB4, 0x40,
                                           0xCD, 0x21, 0x72, 0x02, 0xB0, 0x00, 0xB4, 0x4C, 0xCD, 0x21};

std::string Key(const std::string& path) { return text::AsciiUpper(path); }
}  // namespace

void FakeFirmware::SetPhysical(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  physicalMemory[address] = bytes;
}

std::uint8_t FakeFirmware::PhysicalByte(std::uint64_t address) const {
  auto it = physicalMemory.upper_bound(static_cast<std::uint32_t>(std::min<std::uint64_t>(address, 0xFFFFFFFF)));
  if (address > 0xFFFFFFFF || it == physicalMemory.begin()) return 0xFF;
  --it;
  const std::uint64_t offset = address - it->first;
  return offset < it->second.size() ? it->second[offset] : 0xFF;
}

std::uint32_t FakeFirmware::EnumSystemFirmwareTables(std::uint32_t provider, std::uint8_t* buffer,
                                                     std::uint32_t size) {
  ++firmwareTableCalls;
  providersAsked.push_back(provider);
  auto it = firmwareTables.find(provider);
  if (it == firmwareTables.end()) return 0;
  std::vector<std::uint32_t> ids = enumOrder;
  if (ids.empty())
    for (const auto& [id, data] : it->second) ids.push_back(id);
  const auto needed = static_cast<std::uint32_t>(ids.size() * 4);
  if (buffer && size >= needed)
    for (std::size_t i = 0; i < ids.size(); ++i)
      for (int b = 0; b < 4; ++b) buffer[i * 4 + b] = static_cast<std::uint8_t>(ids[i] >> (8 * b));
  return needed;
}

std::uint32_t FakeFirmware::GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, std::uint8_t* buffer,
                                                   std::uint32_t size) {
  ++firmwareTableCalls;
  providersAsked.push_back(provider);
  auto it = firmwareTables.find(provider);
  if (it == firmwareTables.end()) return 0;
  auto table = it->second.find(tableId);
  if (table == it->second.end()) return 0;
  const auto needed = static_cast<std::uint32_t>(table->second.size());
  if (buffer && size >= needed) std::memcpy(buffer, table->second.data(), needed);
  return needed;
}

std::uint32_t FakeFirmware::NtOpenSection(void* entryPoint, Handle& section, std::uint32_t desiredAccess,
                                          const std::string& objectName, std::uint32_t attributes) {
  sectionEntryPoint = entryPoint;
  sectionName = objectName;
  sectionAccess = desiredAccess;
  sectionAttributes = attributes;
  if (sectionStatus != kStatusSuccess) return sectionStatus;
  section = nextHandle_++;
  handles_.insert(section);
  ++openHandles;
  return kStatusSuccess;
}

std::uint32_t FakeFirmware::NtClose(void*, Handle handle) {
  return CloseHandle(handle) ? kStatusSuccess : 0xC0000008;  // STATUS_INVALID_HANDLE
}

const std::uint8_t* FakeFirmware::MapViewOfFile(Handle section, std::uint32_t access, std::uint32_t offsetHigh,
                                                std::uint32_t offsetLow, std::uint32_t bytes) {
  mappedOffsets.push_back(offsetLow);
  if (mapFails || !handles_.count(section) || access != kFileMapRead) return nullptr;
  if (offsetLow % granularity.dwAllocationGranularity != 0) return nullptr;  // as Windows refuses it
  std::vector<std::uint8_t> view(bytes);
  const std::uint64_t base = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
  for (std::uint32_t i = 0; i < bytes; ++i) view[i] = PhysicalByte(base + i);
  if (view.empty()) view.resize(1);
  const std::uint8_t* p = view.data();
  views_[p] = std::move(view);
  ++openViews;
  return p;
}

bool FakeFirmware::UnmapViewOfFile(const std::uint8_t* view) {
  if (!views_.erase(view)) return false;
  --openViews;
  return true;
}

bool FakeFirmware::ReadLinearMemory(std::uint32_t address, std::uint8_t* destination, std::uint32_t size) {
  linearReads.push_back(address);
  if (linearReadFaults) return false;
  for (std::uint32_t i = 0; i < size; ++i) destination[i] = PhysicalByte(static_cast<std::uint64_t>(address) + i);
  return true;
}

std::string FakeFirmware::GetEnvironmentVariable(const std::string& name) {
  auto it = environment.find(Key(name));
  return it == environment.end() ? std::string() : it->second;
}

bool FakeFirmware::DirectoryExists(const std::string& path) { return directories.count(Key(path)) != 0; }

bool FakeFirmware::CreateDirectory(const std::string& path) {
  if (createDirectoryFails || directories.count(Key(path))) return false;
  directories.insert(Key(path));
  createdDirectories.push_back(path);
  return true;
}

bool FakeFirmware::RemoveDirectory(const std::string& path) {
  const std::string prefix = Key(path) + "\\";
  for (const auto& [file, data] : files)
    if (file.rfind(prefix, 0) == 0) return false;  // not empty
  return directories.erase(Key(path)) != 0;
}

std::uint32_t FakeFirmware::WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  writtenFiles.push_back(path);
  files[Key(path)] = data;
  return static_cast<std::uint32_t>(data.size());
}

bool FakeFirmware::ReadWholeFile(const std::string& path, std::uint32_t maxBytes, std::vector<std::uint8_t>& data) {
  auto it = files.find(Key(path));
  if (it == files.end()) return false;
  data.assign(it->second.begin(), it->second.begin() + std::min<std::size_t>(maxBytes, it->second.size()));
  return true;
}

bool FakeFirmware::DeleteFile(const std::string& path) { return files.erase(Key(path)) != 0; }

bool FakeFirmware::CreateProcess(const std::string& commandLine, std::uint32_t flags, ProcessInformation& info) {
  commandLines.push_back(commandLine);
  creationFlags.push_back(flags);
  if (createProcessFails) return false;
  info.hProcess = nextHandle_++;
  info.hThread = nextHandle_++;
  info.dwProcessId = 4000 + static_cast<std::uint32_t>(commandLines.size());
  handles_.insert(info.hProcess);
  handles_.insert(info.hThread);
  openHandles += 2;
  if (!childHangs) RunDumper(commandLine);
  return true;
}

// "<comspec> /C <program> > <output>", the paths quoted where they hold spaces and the
// whole then quoted once more, as cmd.exe reads it: the program is a dumper of one segment.
void FakeFirmware::RunDumper(const std::string& commandLine) {
  const auto c = commandLine.find(" /C ");
  if (c == std::string::npos) return;
  std::string rest = commandLine.substr(c + 4);
  if (std::count(rest.begin(), rest.end(), '"') > 2 && rest.front() == '"' && rest.back() == '"')
    rest = rest.substr(1, rest.size() - 2);
  const auto gt = rest.find(" > ");
  if (gt == std::string::npos) return;
  auto unquote = [](std::string s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
  };
  const std::string program = unquote(rest.substr(0, gt));
  const std::string output = unquote(rest.substr(gt + 3));
  auto it = files.find(Key(program));
  if (it == files.end()) return;
  const auto& code = it->second;
  if (code.size() != sizeof kDumperShape || code[3] != code[23]) return;
  for (std::size_t i = 0; i < code.size(); ++i)
    if (i != 3 && i != 23 && code[i] != kDumperShape[i]) return;
  std::vector<std::uint8_t> dump;
  if (!childWritesNothing) {
    dump.resize(65536);
    const std::uint32_t base = static_cast<std::uint32_t>(code[3]) << 12;
    for (std::uint32_t i = 0; i < dump.size(); ++i) dump[i] = PhysicalByte(base + i);
  }
  files[Key(output)] = dump;
}

std::uint32_t FakeFirmware::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  waitTimeouts.push_back(milliseconds);
  if (!handles_.count(handle)) return kWaitFailed;
  return childHangs ? kWaitTimeout : kWaitObject0;
}

bool FakeFirmware::TerminateProcess(Handle process, std::uint32_t) {
  if (!handles_.count(process)) return false;
  ++terminated;
  return true;
}

bool FakeFirmware::CloseHandle(Handle handle) {
  if (!handles_.erase(handle)) return false;
  --openHandles;
  return true;
}

}  // namespace kyvex::platform
