// The memory window: a private copy of a range of physical memory whose readers never reach
// outside it. The SMBIOS component keeps two of them (the firmware area and the structure
// table); a window can also be placed and used on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/KSI_Common.h"

namespace kyvex {

class TKyvex_DMA : public TKyvex_KSIC_Component {
 public:
  explicit TKyvex_DMA(TComponent* AOwner = nullptr);

  std::uint32_t StartAddress() const { return FStartAddress; }
  void SetStartAddress(std::uint32_t value) { FStartAddress = value; }
  std::uint32_t MemorySize() const { return FMemorySize; }
  void SetMemorySize(std::uint32_t value) { FMemorySize = value; }
  // The last address a search over the window visits; the window itself never uses it.
  std::uint32_t EndAddress() const { return FEndAddress; }
  void SetEndAddress(std::uint32_t value) { FEndAddress = value; }
  std::uint32_t PageSize() const { return FPageSize; }

  // Copies MemorySize bytes from StartAddress. Set the bounds first: changing them later
  // leaves the copy as it is and only moves the readers' bounds over it.
  void CollectData() override;

  // Whether the window holds a copy at all.
  bool HoldsData() const { return FHoldsData; }
  // Whether every byte of the copy came from a source. False when the window stands in zeros
  // for a range nothing could read (a failed segment dump, an address above the first
  // megabyte that only the section reaches): such a window holds data, but not the machine's.
  bool SourceAnswered() const { return FHoldsData && FSourceAnswered; }

  bool InWindow(std::uint32_t Address) const { return Inside(Address, 1); }
  std::uint8_t ReadByte(std::uint32_t Address) const;
  // The first address from From through Last whose byte is Value (a nonzero Value: ReadByte
  // answers 0 outside the window); none where there is none.
  std::optional<std::uint32_t> FindByte(std::uint32_t From, std::uint32_t Last, std::uint8_t Value) const;
  char ReadChar(std::uint32_t Address) const { return static_cast<char>(ReadByte(Address)); }
  std::uint16_t ReadWord(std::uint32_t Address) const;
  std::uint32_t ReadDWord(std::uint32_t Address) const;
  std::uint64_t ReadQWord(std::uint32_t Address) const;
  // Copies min(Count, bytes left in the window) bytes to Destination (at least 255 bytes)
  // and zeroes the rest of the Count bytes; all 255 bytes are zeroed when Address is outside.
  void ReadBytes(std::uint32_t Address, std::uint8_t Count, std::uint8_t* Destination) const;
  // The Index-th (from 1) string of the string set that starts at Address; empty for 0 and
  // for an index past the set. At most 255 bytes, cut at a character boundary.
  std::string ReadSetString(std::uint32_t Address, std::uint8_t Index) const;

  // The copy becomes Size bytes of Source from Offset; bytes the source does not hold are 0.
  // The bounds are the caller's to set.
  void LoadFromBuffer(const std::uint8_t* Source, std::size_t SourceSize, std::uint32_t Offset, std::uint32_t Size);
  void LoadFromBuffer(const std::vector<std::uint8_t>& Source, std::uint32_t Offset, std::uint32_t Size) {
    LoadFromBuffer(Source.data(), Source.size(), Offset, Size);
  }

 private:
  bool Inside(std::uint64_t Address, std::uint64_t Count) const;
  void Release();
  bool CopyFromSection();
  bool CopyFromSegmentDumps();

  std::uint32_t FStartAddress = 0;
  std::uint32_t FMemorySize = 0;
  std::uint32_t FEndAddress = 0;
  std::uint32_t FPageSize = 0;
  std::vector<std::uint8_t> FBuffer;
  bool FHoldsData = false;
  bool FSourceAnswered = false;
};

// How long the segment dump waits for its child. The child runs a 46-byte program in the
// DOS subsystem and ends in well under a second; a child that never ends (a DOS subsystem
// that hangs, a console that waits for a key) must not hang the caller with it.
constexpr std::uint32_t kSegmentDumpTimeout = 30000;

// Has the dumper program copy the real-mode segment SegmentHigh shl 8 (00h, 10h, .. F0h) into
// Destination (65,536 bytes); Destination is all zero when the dump failed.
bool DumpRomSegment(std::uint8_t SegmentHigh, std::uint8_t* Destination, std::uint32_t Timeout);
// Writes the dumper program for SegmentHigh; false (and no file) when there is none.
bool WriteSegmentDumper(std::uint8_t SegmentHigh, const std::string& FileName);
// Runs Program through the command interpreter with its output redirected to OutputFile and
// waits at most Timeout milliseconds; a child still running then is ended.
bool RunConsoleCommand(const std::string& Program, const std::string& OutputFile, std::uint32_t Timeout);
// The dumper program for SegmentHigh (46 bytes), empty when there is none.
std::vector<std::uint8_t> SegmentDumper(std::uint8_t SegmentHigh);

}  // namespace kyvex
