#include "smbios/KSI_DMA.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/Kyvex_Native.h"
#include "common/Kyvex_Routines.h"
#include "platform/ByteOrder.h"
#include "platform/FirmwareApi.h"
#include "platform/Text.h"

namespace kyvex {

namespace {

platform::FirmwareApi& Firmware() { return platform::Current().Firmware(); }

// A real-mode program (loaded at 100h) that writes the segment S:0000..S:FFFF to standard
// output in two DOS writes (65,535 bytes, then the last byte) and exits with 0, or with the
// DOS error code when a write fails. S stands at bytes 3 and 23.
constexpr std::uint8_t kSegmentDumper[46] = {
    0x31, 0xD2, 0xB6, 0x00, 0x8E, 0xDA,              // xor dx,dx; mov dh,S; mov ds,dx
    0x31, 0xD2, 0x31, 0xC9, 0x49, 0x31, 0xDB, 0x43,  // xor dx,dx; xor cx,cx; dec cx; xor bx,bx; inc bx
    0xB4, 0x40, 0xCD, 0x21, 0x72, 0x16,              // mov ah,40h; int 21h; jc exit
    0x31, 0xD2, 0xB6, 0x00, 0x8E, 0xDA,              // xor dx,dx; mov dh,S; mov ds,dx
    0x31, 0xD2, 0x4A, 0x31, 0xC9, 0x41, 0x89, 0xCB,  // xor dx,dx; dec dx; xor cx,cx; inc cx; mov bx,cx
    0xB4, 0x40, 0xCD, 0x21, 0x72, 0x02,              // mov ah,40h; int 21h; jc exit
    0xB0, 0x00,                                      // mov al,0
    0xB4, 0x4C, 0xCD, 0x21};                         // exit: mov ah,4Ch; int 21h

constexpr std::uint32_t kSegmentSize = 0x10000;
constexpr std::uint32_t kFirstMegabyte = 0x100000;

bool IsNTFamily(std::uint32_t platformId) {
  // Linux answers the NT family's services, with its own physical-memory source.
  return platformId == platform::kPlatformWin32NT || platformId == platform::kPlatformLinux;
}

// cmd.exe drops the outermost quotes of a /C command that starts with one, so a quoted
// command is wrapped in one more pair.
std::string Quoted(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

}  // namespace

TKyvex_DMA::TKyvex_DMA(TComponent* AOwner) : TKyvex_KSIC_Component(AOwner) {
  FPageSize = Firmware().GetSystemInfo().dwPageSize;
}

bool TKyvex_DMA::Inside(std::uint64_t Address, std::uint64_t Count) const {
  if (!FHoldsData || Address < FStartAddress) return false;
  const std::uint64_t offset = Address - FStartAddress;
  const std::uint64_t limit = std::min<std::uint64_t>(FMemorySize, FBuffer.size());
  return offset + Count <= limit;
}

std::uint8_t TKyvex_DMA::ReadByte(std::uint32_t Address) const {
  return Inside(Address, 1) ? FBuffer[Address - FStartAddress] : 0;
}

std::optional<std::uint32_t> TKyvex_DMA::FindByte(std::uint32_t From, std::uint32_t Last, std::uint8_t Value) const {
  if (!FHoldsData || Value == 0 || Last < From || Last < FStartAddress) return std::nullopt;
  const std::uint64_t limit = std::min<std::uint64_t>(FMemorySize, FBuffer.size());
  const std::uint64_t begin = std::max<std::uint64_t>(From, FStartAddress) - FStartAddress;
  const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{Last} + 1 - FStartAddress, limit);
  if (begin >= end) return std::nullopt;
  const void* hit = std::memchr(FBuffer.data() + begin, Value, static_cast<std::size_t>(end - begin));
  if (!hit) return std::nullopt;
  return static_cast<std::uint32_t>(FStartAddress + (static_cast<const std::uint8_t*>(hit) - FBuffer.data()));
}

std::uint16_t TKyvex_DMA::ReadWord(std::uint32_t Address) const {
  if (!Inside(Address, 2)) return 0;
  const std::uint8_t* p = &FBuffer[Address - FStartAddress];
  return bytes::Get16(p);
}

std::uint32_t TKyvex_DMA::ReadDWord(std::uint32_t Address) const {
  if (!Inside(Address, 4)) return 0;
  const std::uint8_t* p = &FBuffer[Address - FStartAddress];
  return bytes::Get32(p);
}

std::uint64_t TKyvex_DMA::ReadQWord(std::uint32_t Address) const {
  if (!Inside(Address, 8)) return 0;
  return ReadDWord(Address) | (static_cast<std::uint64_t>(ReadDWord(Address + 4)) << 32);
}

void TKyvex_DMA::ReadBytes(std::uint32_t Address, std::uint8_t Count, std::uint8_t* Destination) const {
  if (!Inside(Address, 1)) {
    std::memset(Destination, 0, 255);
    return;
  }
  const std::uint64_t offset = Address - FStartAddress;
  const std::uint64_t left = std::min<std::uint64_t>(FMemorySize, FBuffer.size()) - offset;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(Count, left));
  std::memcpy(Destination, FBuffer.data() + offset, n);
  std::memset(Destination + n, 0, Count - n);
}

std::string TKyvex_DMA::ReadSetString(std::uint32_t Address, std::uint8_t Index) const {
  // Each string is skipped up to its own terminating zero, however long it is, so that a
  // string longer than the 255 bytes kept does not shift the strings after it.
  constexpr std::size_t kKeep = 255 + 3;  // enough to cut at a character boundary
  if (!FHoldsData || Address < FStartAddress) return {};
  // The bytes held, and no address past 4 GiB.
  const std::uint64_t end = std::min<std::uint64_t>(std::min<std::uint64_t>(FMemorySize, FBuffer.size()),
                                                    (std::uint64_t{1} << 32) - FStartAddress);
  const std::uint8_t* const data = FBuffer.data();
  std::uint64_t at = Address - FStartAddress;
  std::string_view s;
  for (unsigned i = 0; i < Index; ++i) {
    if (at >= end) return {};
    const void* zero = std::memchr(data + at, 0, static_cast<std::size_t>(end - at));
    const std::uint64_t stop = zero ? static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(zero) - data) : end;
    if (stop == at) return {};
    s = std::string_view(reinterpret_cast<const char*>(data + at), static_cast<std::size_t>(std::min<std::uint64_t>(stop - at, kKeep)));
    at = stop + 1;
  }
  return text::CutUtf8(text::Sanitize(s), 255);
}

void TKyvex_DMA::LoadFromBuffer(const std::uint8_t* Source, std::size_t SourceSize, std::uint32_t Offset,
                                std::uint32_t Size) {
  try {
    FBuffer.assign(Size, 0);
  } catch (const std::bad_alloc&) {
    Release();
    return;
  }
  if (Source && Offset < SourceSize) {
    const std::size_t n = std::min<std::size_t>(Size, SourceSize - Offset);
    std::memcpy(FBuffer.data(), Source + Offset, n);
  }
  FHoldsData = true;
  FSourceAnswered = true;
}

void TKyvex_DMA::Release() {
  FBuffer.clear();
  FBuffer.shrink_to_fit();
  FHoldsData = false;
  FSourceAnswered = false;
}

// Deliberately does not run the base class's CollectData: a window is a helper of the
// component that owns it and keeps no live-data state of its own.
void TKyvex_DMA::CollectData() {
  try {
    FBuffer.assign(FMemorySize, 0);
  } catch (const std::bad_alloc&) {
    Release();
    return;
  }
  FHoldsData = true;
  FSourceAnswered = false;
  bool done = false;
  const std::uint32_t platformId = PlatformSnapshot().PlatformId;
  if (IsNTFamily(platformId)) {
    done = FSourceAnswered = CopyFromSection();
    if (!done) {
      FSourceAnswered = CopyFromSegmentDumps();
      done = true;
    }
  } else {
    done = FSourceAnswered = FMemorySize == 0 || Firmware().ReadLinearMemory(FStartAddress, FBuffer.data(), FMemorySize);
  }
  if (!done) Release();
}

bool TKyvex_DMA::CopyFromSection() {
  auto& fw = Firmware();
  BindNativeAPI();
  const TNativeBinding& native = NativeBinding();
  platform::Handle section = platform::kInvalidHandle;
  if (fw.NtOpenSection(native.EntryPoint("NtOpenSection"), section, platform::kSectionMapRead,
                       "\\Device\\PhysicalMemory", platform::kObjCaseInsensitive) != platform::kStatusSuccess)
    return false;
  // A view's offset must be a multiple of the allocation granularity, which is coarser than
  // the page size on Windows: aligning to pages alone has every view off a 64 KB boundary
  // refused.
  const auto granularity = fw.GetSystemInfo();
  const std::uint32_t align = std::max<std::uint32_t>({FPageSize, granularity.dwAllocationGranularity, 1});
  const std::uint32_t base = FStartAddress - FStartAddress % align;
  const std::uint64_t length = static_cast<std::uint64_t>(FMemorySize) + (FStartAddress - base);
  bool copied = false;
  if (length <= 0xFFFFFFFFu) {
    const std::uint8_t* view =
        fw.MapViewOfFile(section, platform::kFileMapRead, 0, base, static_cast<std::uint32_t>(length));
    if (view) {
      std::memcpy(FBuffer.data(), view + (FStartAddress - base), FMemorySize);
      fw.UnmapViewOfFile(view);
      copied = true;
    }
  }
  fw.NtClose(native.EntryPoint("NtClose"), section);
  return copied;
}

// Each dump brings one 64 KB segment of the first megabyte; every segment the window covers
// is dumped, so that a window over C0000h..FFFFFh gets its F0000h segment (where the entry
// point usually lies) and not only its first one. Answers whether the whole window came
// from dumps.
bool TKyvex_DMA::CopyFromSegmentDumps() {
  if (FStartAddress >= kFirstMegabyte) return false;
  const std::uint64_t end = static_cast<std::uint64_t>(FStartAddress) + FMemorySize;
  std::vector<std::uint8_t> dump(kSegmentSize);
  bool all = end <= kFirstMegabyte;
  for (std::uint32_t segment = FStartAddress & 0xF0000; segment < end && segment < kFirstMegabyte;
       segment += kSegmentSize) {
    const auto high = static_cast<std::uint8_t>((segment >> 12) & 0xF0);
    if (!DumpRomSegment(high, dump.data(), kSegmentDumpTimeout)) {
      // The same cause would fail every later dump; what is left stays zero.
      all = false;
      break;
    }
    const std::uint32_t from = std::max(FStartAddress, segment);
    const auto to = static_cast<std::uint32_t>(std::min<std::uint64_t>(end, segment + kSegmentSize));
    std::memcpy(FBuffer.data() + (from - FStartAddress), dump.data() + (from - segment), to - from);
  }
  return all;
}

std::vector<std::uint8_t> SegmentDumper(std::uint8_t SegmentHigh) {
  if (SegmentHigh & 0x0F) return {};
  std::vector<std::uint8_t> program(std::begin(kSegmentDumper), std::end(kSegmentDumper));
  program[3] = program[23] = SegmentHigh;
  return program;
}

bool WriteSegmentDumper(std::uint8_t SegmentHigh, const std::string& FileName) {
  const auto program = SegmentDumper(SegmentHigh);
  if (program.empty()) return false;
  auto& fw = Firmware();
  if (fw.WriteNewFile(FileName, program) < program.size()) {
    fw.DeleteFile(FileName);
    return false;
  }
  return true;
}

bool RunConsoleCommand(const std::string& Program, const std::string& OutputFile, std::uint32_t Timeout) {
  auto& fw = Firmware();
  const std::string comSpec = fw.GetEnvironmentVariable("ComSpec").substr(0, 260);
  if (comSpec.empty()) return false;
  std::string command = Quoted(Program) + " > " + Quoted(OutputFile);
  if (command.front() == '"') command = "\"" + command + "\"";
  platform::ProcessInformation info;
  if (!fw.CreateProcess(comSpec + " /C " + command,
                        platform::kCreateNewConsole | platform::kCreateNewProcessGroup, info))
    return false;
  const std::uint32_t wait = fw.WaitForSingleObject(info.hProcess, Timeout);
  if (wait == platform::kWaitTimeout) {
    // Ended, and briefly waited for, so that it lets go of the files before they are deleted.
    fw.TerminateProcess(info.hProcess, 1);
    fw.WaitForSingleObject(info.hProcess, 5000);
  }
  fw.CloseHandle(info.hThread);
  fw.CloseHandle(info.hProcess);
  return wait == platform::kWaitObject0;
}

bool DumpRomSegment(std::uint8_t SegmentHigh, std::uint8_t* Destination, std::uint32_t Timeout) {
  std::memset(Destination, 0, kSegmentSize);
  auto& fw = Firmware();
  // Without a command interpreter, or where DOS programs cannot run (64-bit Windows), the
  // dump cannot work: write nothing and start nothing.
  if (!fw.RunsDosPrograms() || fw.GetEnvironmentVariable("ComSpec").empty()) return false;
  std::string temp = fw.GetTempPath().substr(0, 260);
  if (temp.empty()) return false;
  // The separator the temporary folder is written with (the Linux layer answers "/tmp/").
  const char sep = temp.back() == '/' ? '/' : '\\';
  if (temp.back() != sep) temp += sep;

  std::string folder;
  for (unsigned n = 1; n <= 65535 && folder.empty(); ++n) {
    const std::string candidate = temp + "~RomDmp" + std::to_string(n);
    if (!fw.DirectoryExists(candidate)) folder = candidate;
  }
  if (folder.empty() || !fw.CreateDirectory(folder)) return false;

  const std::string program = folder + sep + "RomDump.com";
  const std::string dumpFile = folder + sep + "Rom.dmp";
  bool ok = false;
  if (WriteSegmentDumper(SegmentHigh, program)) {
    if (RunConsoleCommand(program, dumpFile, Timeout)) {
      std::vector<std::uint8_t> data;
      if (fw.ReadWholeFile(dumpFile, kSegmentSize, data) && data.size() == kSegmentSize) {
        std::memcpy(Destination, data.data(), kSegmentSize);
        ok = true;
      }
    }
  }
  fw.DeleteFile(program);
  fw.DeleteFile(dumpFile);
  fw.RemoveDirectory(folder);
  return ok;
}

}  // namespace kyvex
