// Device paths, I/O control requests and drive letters through the real Windows calls, and the
// Windows 9x family's way to the ATA ports: a call gate in the process's local descriptor
// table, which that family lets ring 3 read and write.
#include <cstring>
#include <cwchar>

#include "platform/DeviceApi.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/Win32Platform.h"

// The platform layer has a method of this name; <windows.h> makes it a macro.
#undef GetLogicalDriveStrings

namespace kyvex::platform {

#if defined(__i386__)
// The ring-0 end of the call gate. In: EDX port, ECX size (1, 2 or 4), EBX 1 to write,
// EAX the value written. Out: EAX the value read. Returns with a far return, as a gate call
// expects.
extern "C" void kyvex_ring0_port();
asm(".text\n"
    ".globl _kyvex_ring0_port\n"
    "_kyvex_ring0_port:\n"
    "  cmpl $1, %ebx\n"
    "  je 4f\n"
    "  cmpl $1, %ecx\n"
    "  jne 1f\n"
    "  xorl %eax, %eax\n"
    "  inb %dx, %al\n"
    "  lret\n"
    "1:cmpl $2, %ecx\n"
    "  jne 2f\n"
    "  xorl %eax, %eax\n"
    "  inw %dx, %ax\n"
    "  lret\n"
    "2:inl %dx, %eax\n"
    "  lret\n"
    "4:cmpl $1, %ecx\n"
    "  jne 5f\n"
    "  outb %al, %dx\n"
    "  lret\n"
    "5:cmpl $2, %ecx\n"
    "  jne 6f\n"
    "  outw %ax, %dx\n"
    "  lret\n"
    "6:outl %eax, %dx\n"
    "  lret\n");
#endif

namespace {

thread_local std::uint32_t t_lastError = 0;

// Windows 95, 98 and Me: the only systems where the local descriptor table is ours to edit.
bool IsWin9x() { return (::GetVersion() & 0x80000000u) != 0; }

class Win32Device : public DeviceApi {
 public:
  explicit Win32Device(Win32Platform& owner) : owner_(owner) {}

  // The device paths are ASCII, and the ANSI calls are the ones every family has (the 9x
  // family lacks the wide ones).
  Handle CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                    std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
    HANDLE h = ::CreateFileA(path.c_str(), desiredAccess, shareMode, nullptr, creationDisposition,
                             flagsAndAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      t_lastError = ::GetLastError();
      return kInvalidHandle;
    }
    return reinterpret_cast<Handle>(h);
  }

  bool CloseHandle(Handle h) override {
    if (::CloseHandle(reinterpret_cast<HANDLE>(h))) return true;
    t_lastError = ::GetLastError();
    return false;
  }

  bool DeviceIoControl(Handle h, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                       std::uint8_t* out, std::uint32_t outSize, std::uint32_t& bytesReturned) override {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(h), code, const_cast<std::uint8_t*>(in), inSize, out,
                                      outSize, &returned, nullptr);
    bytesReturned = returned;
    if (!ok) t_lastError = ::GetLastError();
    return ok != 0;
  }

  std::uint32_t GetLastError() override { return t_lastError; }

  std::uint32_t SetErrorMode(std::uint32_t mode) override { return ::SetErrorMode(mode); }

  std::uint32_t GetLogicalDriveStrings(std::uint32_t bufferLength, char* buffer) override {
    const DWORD n = ::GetLogicalDriveStringsA(bufferLength, buffer);
    if (n == 0) t_lastError = ::GetLastError();
    return n;
  }

  std::uint32_t GetDriveType(const std::string& rootPath) override { return ::GetDriveTypeA(rootPath.c_str()); }

  // A device path is Windows' own name of its device; a drive letter's volume is named by
  // its volume GUID path where the system has one (not on the 9x family, whose kernel lacks
  // the call: looked up at run time), and mounted at its root. Names come from the wide
  // calls, as every text taken from Windows does.
  bool QueryDeviceNames(const std::string& path, DeviceNames& names) override {
    names = {};
    names.device = path;
    const bool letter = path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':';
    if (!letter) return true;
    const std::string root = path.substr(4) + "\\";
    const std::wstring wideRoot = Widen(root);
    using VolumeNameOf = BOOL(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
    if (HMODULE kernel = ::GetModuleHandleA("kernel32.dll"))
      if (auto volumeNameOf = reinterpret_cast<VolumeNameOf>(
              reinterpret_cast<void*>(::GetProcAddress(kernel, "GetVolumeNameForVolumeMountPointW")))) {
        wchar_t volume[MAX_PATH] = {};
        if (volumeNameOf(wideRoot.c_str(), volume, MAX_PATH)) names.device = Narrow(volume, std::wcslen(volume));
      }
    names.mountPoints.push_back(root);
    // A drive without a medium must not bring up the system's "insert a disk" dialog.
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (::GetVolumeInformationW(wideRoot.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1))
      names.fileSystem = Narrow(fileSystem, std::wcslen(fileSystem));
    ::SetErrorMode(previous);
    return true;
  }

#if defined(__i386__)
  bool GetLocalDescriptorTable(std::uint32_t& entries) override {
    if (!IsWin9x()) return false;
    std::uint16_t selector = 0;
    struct __attribute__((packed)) {
      std::uint16_t limit;
      std::uint32_t base;
    } gdt{};
    asm volatile("sldt %0" : "=r"(selector));
    asm volatile("sgdt %0" : "=m"(gdt));
    if ((selector & ~7u) == 0 || (selector & ~7u) + 7u > gdt.limit) return false;
    const auto* d = reinterpret_cast<const std::uint8_t*>(gdt.base + (selector & ~7u));
    std::uint32_t limit = d[0] | (d[1] << 8) | ((d[6] & 0x0F) << 16);
    if (d[6] & 0x80) limit = (limit << 12) | 0xFFF;
    ldtBase_ = d[2] | (d[3] << 8) | (d[4] << 16) | (static_cast<std::uint32_t>(d[7]) << 24);
    entries_ = (limit + 1) / 8;
    entries = entries_;
    return entries_ != 0;
  }

  bool ReadDescriptor(std::uint32_t index, devio::Descriptor& descriptor) override {
    if (!ldtBase_ || index >= entries_) return false;
    std::memcpy(descriptor.data(), reinterpret_cast<const void*>(ldtBase_ + index * 8), 8);
    return true;
  }

  bool WriteDescriptor(std::uint32_t index, const devio::Descriptor& descriptor) override {
    if (!ldtBase_ || index >= entries_) return false;
    std::memcpy(reinterpret_cast<void*>(ldtBase_ + index * 8), descriptor.data(), 8);
    return true;
  }

  std::uint32_t PortRoutineOffset() override { return reinterpret_cast<std::uint32_t>(&kyvex_ring0_port); }

  bool CallGate(std::uint16_t selector, devio::PortTransfer& transfer) override {
    if (!IsWin9x()) return false;
    // A far pointer: the offset is ignored by a gate call, the selector picks the gate.
    struct __attribute__((packed)) {
      std::uint32_t offset;
      std::uint16_t selector;
    } target{0, selector};
    std::uint32_t eax = transfer.value;
    std::uint32_t ebx = transfer.write ? 1 : 0;
    std::uint32_t ecx = transfer.size;
    std::uint32_t edx = transfer.port;
    asm volatile("lcall *%[target]"
                 : "+a"(eax), "+b"(ebx), "+c"(ecx), "+d"(edx)
                 : [target] "m"(target)
                 : "memory", "cc");
    if (!transfer.write) transfer.value = eax;
    return true;
  }
#else
  bool GetLocalDescriptorTable(std::uint32_t&) override { return false; }
  bool ReadDescriptor(std::uint32_t, devio::Descriptor&) override { return false; }
  bool WriteDescriptor(std::uint32_t, const devio::Descriptor&) override { return false; }
  std::uint32_t PortRoutineOffset() override { return 0; }
  bool CallGate(std::uint16_t, devio::PortTransfer&) override { return false; }
#endif

  // The NT family keeps the ports for its drivers: a user-mode port instruction faults.
  bool PortIo(devio::PortTransfer&) override {
    t_lastError = kErrorNotSupported;
    return false;
  }

 private:
  Win32Platform& owner_;
  std::uintptr_t ldtBase_ = 0;
  std::uint32_t entries_ = 0;
};
}  // namespace

std::unique_ptr<DeviceApi> MakeWin32DeviceApi(Win32Platform& owner) { return std::make_unique<Win32Device>(owner); }

}  // namespace kyvex::platform
