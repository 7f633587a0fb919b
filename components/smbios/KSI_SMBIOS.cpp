#include "smbios/KSI_SMBIOS.h"

#include <algorithm>
#include <optional>
#include <cstdio>
#include <cstring>

#include "common/Kyvex_Routines.h"
#include "platform/ByteOrder.h"
#include "platform/FirmwareApi.h"
#include "platform/Text.h"
#include "smbios/KSI_SMBIOS_Fields.h"

namespace kyvex {

const std::array<const char*, 25> SMBIOS_ChassisValueNames = {
    "smchOther",        "smchUnknown",     "smchDesktop",    "smchLowProfileDesktop", "smchPizzaBox",
    "smchMiniTower",    "smchTower",       "smchPortable",   "smchLapTop",            "smchNotebook",
    "smchHandHeld",     "smchDockingStation", "smchAllInOne", "smchSubNotebook",      "smchSpaceSaving",
    "smchLunchBox",     "smchMainServer",  "smchExpansion",  "smchSubChassis",        "smchBusExpansion",
    "smchPeripheral",   "smchRAID",        "smchRackMount",  "smchSealedCasePC",      "smchMultiSystem"};
const std::array<const char*, 7> SMBIOS_InterleaveValueNames = {
    "smisOther", "smisUnknown", "smisOnewWay", "smisTwoWay", "smisFourWay", "smisEightWay", "smisSixteenWay"};
const std::array<const char*, 5> SMBIOS_MemorySpeedValueNames = {"smmsOther", "smmsUnknown", "smms70ns",
                                                                 "smms60ns", "smms50ns"};
const std::array<const char*, 11> SMBIOS_MemoryTypeValueNames = {
    "smmtOther", "smmtUnknown", "smmtStandard", "smmtFastPageMode", "smmtEDO",  "smmtParity",
    "smmtECC",   "smmtSIMM",    "smmtDIMM",     "smmtBurstEDO",     "smmtSDRAM"};
const std::array<const char*, 3> SMBIOS_VoltageValueNames = {"smv5V", "smv33V", "smv29V"};

namespace {

constexpr std::uint32_t kAreaStart = 0xC0000;
constexpr std::uint32_t kAreaSize = 0x40000;
// No real structure table comes near this; a larger length from an entry point is damage,
// and the walk ends at the end-of-table structure long before it anyway.
constexpr std::uint32_t kMaxTableLength = 0x100000;
// An 'RSMB' answer larger than this is not believed either.
constexpr std::uint32_t kMaxServiceTable = 0x1000000;
constexpr std::uint32_t kMaxFirmwareRegion = 0x1000000;
// The most structures a table's own count field can name. A table of tiny structures (16 MiB
// of them hold almost three million) would otherwise cost time and memory by the count, where
// no real table comes near.
constexpr std::size_t kMaxStructures = 0xFFFF;

platform::FirmwareApi& Firmware() { return platform::Current().Firmware(); }


std::string Format2(unsigned a, unsigned b) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u", a, b);
  return buf;
}

// A revision byte in BCD: 21h reads "2.1".
std::string BcdRevision(std::uint8_t b) { return Format2(b >> 4, b & 0x0F); }

// Strings were sanitized as they were read: a tab is blank as its escape.
bool Blank(const std::string& s) { return text::TrimSanitized(s).empty(); }

std::string Numbered(const char* prefix, std::size_t index) { return prefix + std::to_string(index); }

// One structure's fields. A field that lies past the formatted area reads 0: an older,
// shorter structure in a newer table does not hand out the bytes of its string set as
// numbers.
class Fields {
 public:
  Fields(const TKyvex_DMA& w, std::uint32_t q) : w_(w), q_(q), length_(w.ReadByte(q + 1)) {}
  std::uint8_t Length() const { return length_; }
  std::uint8_t Byte(unsigned offset) const { return offset < length_ ? w_.ReadByte(q_ + offset) : 0; }
  std::uint16_t Word(unsigned offset) const { return offset + 2 <= length_ ? w_.ReadWord(q_ + offset) : 0; }
  std::uint32_t DWord(unsigned offset) const { return offset + 4 <= length_ ? w_.ReadDWord(q_ + offset) : 0; }
  // The string whose number is in the byte at `offset`; empty when the number is 0.
  std::string String(unsigned offset) const { return StringNumber(Byte(offset)); }
  std::string StringNumber(std::uint8_t number) const {
    return number ? w_.ReadSetString(q_ + length_, number) : std::string();
  }

 private:
  const TKyvex_DMA& w_;
  std::uint32_t q_;
  std::uint8_t length_;
};

}  // namespace

TKyvex_SMBIOS::TKyvex_SMBIOS(TComponent* AOwner)
    : TKyvex_KSIC_Component(AOwner), FRomWindow(new TKyvex_DMA(this)), FTableWindow(new TKyvex_DMA(this)) {
  FRomWindow->SetName("RomWindow");
  FTableWindow->SetName("TableWindow");
}

bool ReadFirmwareRange(std::uint32_t Address, std::uint32_t Size, std::uint8_t* Destination) {
  auto& fw = Firmware();
  if (!fw.BindFirmwareTableService()) return false;
  const std::uint32_t n = std::min(fw.EnumSystemFirmwareTables(platform::kProviderFIRM, nullptr, 0), kMaxFirmwareRegion);
  std::vector<std::uint8_t> ids(static_cast<std::size_t>(n) + 8, 0);
  std::memset(Destination, 0, Size);
  const std::uint32_t m =
      std::min<std::uint32_t>(fw.EnumSystemFirmwareTables(platform::kProviderFIRM, ids.data(), n + 8), n + 8);
  const std::uint64_t end = static_cast<std::uint64_t>(Address) + Size;
  bool coversStart = false, coversEnd = false;
  for (std::uint32_t i = 0; i + 4 <= m; i += 4) {
    const std::uint32_t r = bytes::Get32(&ids[i]);
    if (r >= end) continue;
    // Some slack, in case the region grows between the two calls.
    const std::uint32_t l =
        std::min(fw.GetSystemFirmwareTable(platform::kProviderFIRM, r, nullptr, 0), kMaxFirmwareRegion) + 0x20000;
    std::vector<std::uint8_t> block;
    try {
      block.assign(l, 0);
    } catch (const std::bad_alloc&) {
      continue;
    }
    const std::uint32_t g = fw.GetSystemFirmwareTable(platform::kProviderFIRM, r, block.data(), l);
    if (g == 0 || g > l || static_cast<std::uint64_t>(r) + g <= Address) continue;
    std::uint32_t source = 0, destination = 0;
    if (r <= Address) {
      coversStart = true;
      source = Address - r;
    } else {
      destination = r - Address;
    }
    const std::uint32_t count = std::min(g - source, Size - destination);
    if (static_cast<std::uint64_t>(r) + g >= end) coversEnd = true;
    std::memcpy(Destination + destination, block.data() + source, count);
  }
  return coversStart && coversEnd;
}

void TKyvex_SMBIOS::ClearDecoded() {
  // A loaded table is decoded by the version it was loaded with and keeps the entry point it
  // came with (LoadTable, LoadDumpImage); a live reading finds its own.
  const std::uint8_t major = FMajorVersion, minor = FMinorVersion;
  std::string revision = FRevision, anchor = FEntryPointAnchor;
  VisitSMBIOSFields(*this, TFieldReset{});
  if (!FReadLocalMemory) {
    FMajorVersion = major;
    FMinorVersion = minor;
    FRevision = std::move(revision);
    FEntryPointAnchor = std::move(anchor);
  }
  FProcessors.clear();
  FMemoryModules.clear();
  FMemoryDevices.clear();
  FPorts.clear();
  FSystemSlots.clear();
  FCaches.clear();
  FOnBoardDevices.clear();
  FTemperatureProbes.clear();
  FStructTables.clear();
  FWalkLimitText.clear();
  FTableAddress = 0;
  FTableLength = 0;
  FCountFromWalk = false;
  FTableSource = tsNone;
  FTablesNeedRights = false;
  FIdentityChassisType = false;
}

void TKyvex_SMBIOS::LoadTable(const std::uint8_t* Table, std::size_t Size, std::uint8_t Major, std::uint8_t Minor) {
  const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(Size, 0xFFFFFFFFu));
  FTableWindow->SetStartAddress(0);
  FTableWindow->SetEndAddress(size ? size - 1 : 0);
  FTableWindow->SetMemorySize(size);
  FTableWindow->LoadFromBuffer(Table, Size, 0, size);
  FMajorVersion = Major;
  FMinorVersion = Minor;
  FRevision.clear();
  FEntryPointAnchor.clear();
  FLoadedCount = kNoLoadedCount;
}

bool TKyvex_SMBIOS::LoadDumpImage(const std::vector<std::uint8_t>& Image, std::string& Error) {
  constexpr std::size_t kTableOffset = 0x20;
  auto at = [&](std::size_t offset, const char* anchor) {
    const std::size_t n = std::strlen(anchor);
    return Image.size() >= offset + n && std::memcmp(Image.data() + offset, anchor, n) == 0;
  };
  if (Image.size() < kTableOffset) {
    Error = "the file is too short to hold an SMBIOS entry point (" + std::to_string(Image.size()) + " bytes)";
    return false;
  }
  std::uint8_t major = 0, minor = 0, revision = 0;
  std::uint32_t length = 0;
  std::int32_t count = kCountByWalk;
  std::string anchor;
  if (at(0, "_SM3_")) {
    anchor = "_SM3_";
    major = Image[7];
    minor = Image[8];
    revision = Image[0x0A];
    length = bytes::Get32(&Image[0x0C]);
  } else if (at(0, "_SM_") && at(0x10, "_DMI_")) {
    anchor = "_SM_";
    major = Image[6];
    minor = Image[7];
    revision = Image[0x1E];
    length = bytes::Get16(&Image[0x16]);
    count = bytes::Get16(&Image[0x1C]);
  } else if (at(0, "_DMI_")) {
    anchor = "_DMI_";
    revision = Image[0x0E];
    major = revision >> 4;
    minor = revision & 0x0F;
    length = bytes::Get16(&Image[6]);
    count = bytes::Get16(&Image[0x0C]);
  } else {
    Error = "no SMBIOS entry point at the start of the file (\"_SM_\", \"_SM3_\" or \"_DMI_\" expected, "
            "as dmidecode --dump-bin writes it)";
    return false;
  }
  const std::size_t available = Image.size() - kTableOffset;
  LoadTable(Image.data() + kTableOffset, std::min<std::size_t>(length, available), major, minor);
  // A 2.x entry point gives the table's exact length; a 64-bit one gives only its maximum.
  FDumpShortfall.clear();
  if (anchor != "_SM3_" && available < length)
    FDumpShortfall = "the table is shorter than its entry point announces (" + std::to_string(available) + " of " +
                     std::to_string(length) + " bytes): what follows is cut off";
  FRevision = BcdRevision(revision);
  FEntryPointAnchor = anchor;
  FLoadedCount = count;
  FReadLocalMemory = false;
  return true;
}

void TKyvex_SMBIOS::CollectData() {
  TKyvex_KSIC_Component::CollectData();
  ClearDecoded();
  if (!FReadLocalMemory) {
    FStructStart = 0;
    // A dump keeps its entry point, and with it the count a 2.x entry point announces; a
    // 64-bit one announces none, so the walk counts, as for a live table. A bare table has
    // neither.
    FStructCount = FLoadedCount >= 0 ? static_cast<std::uint16_t>(FLoadedCount) : 0xFFFF;
    FCountFromWalk = FLoadedCount == kCountByWalk;
    FTableLength = FTableWindow->HoldsData() ? FTableWindow->MemorySize() : 0;
    FStructLength = static_cast<std::uint16_t>(std::min<std::uint32_t>(FTableLength, 0xFFFF));
    // The version the table is decoded by is known; say so.
    if (FMajorVersion || FMinorVersion) FVersion = Format2(FMajorVersion, FMinorVersion);
    FTableSource = tsLoaded;
    Decode();
    return;
  }

  // The routes in the order of their cost and side effects. The service's 'RSMB' table is
  // asked first: where it answers (Server 2003 SP1, Vista and later, every UEFI machine) the
  // table needs nothing else, and the segment dump, which writes a DOS program into the
  // temporary folder and runs it through the command interpreter, is never reached. The
  // service's 'FIRM' regions are still read, for the entry point that 'RSMB' does not carry,
  // and where 'RSMB' is missing for the table beside it on older firmware. Physical memory
  // comes last.
  std::vector<std::uint8_t> rsmb;
  const bool fromRsmb = FetchServiceTable(rsmb);
  std::vector<std::uint8_t> area;
  const bool fromService = ReadFirmwareAreaFromService(area);
  const bool entryInArea = fromService && FindEntryPoint();
  bool haveTable = fromRsmb && TableFromService(rsmb);
  if (!haveTable) haveTable = entryInArea && TableFromArea(area);
  if (!haveTable && entryInArea) haveTable = TableFromPhysicalMemory();
  if (!haveTable && !fromService) {
    ReadFirmwareAreaFromMemory();
    if (FRomWindow->HoldsData() && FindEntryPoint()) haveTable = TableFromPhysicalMemory();
  }
  if (!haveTable) {
    // Nothing decodes a table of an earlier refresh as if it were this one.
    FTableWindow->SetMemorySize(0);
    FTableWindow->LoadFromBuffer(nullptr, 0, 0, 0);
    // Windows 9x has no rights to lack.
    const std::uint32_t platformId = PlatformSnapshot().PlatformId;
    FTablesNeedRights = (platformId == platform::kPlatformWin32NT || platformId == platform::kPlatformLinux) &&
                        !IsAdmin();
    IdentityFromRegistry();
    return;
  }
  Decode();
}

// Without a table, the system's own copy of the firmware's identity still names the BIOS,
// the system, the board and the enclosure. Windows keeps it in the registry; the Linux layer
// answers the same key from the kernel's files, which, unlike the tables, every user may
// read. Serial numbers and the UUID are not among them.
void TKyvex_SMBIOS::IdentityFromRegistry() {
  static constexpr const char* kKey = "HARDWARE\\DESCRIPTION\\System\\BIOS";
  const struct {
    const char* value;
    std::string TKyvex_SMBIOS::*field;
  } rows[] = {{"BIOSVendor", &TKyvex_SMBIOS::FBIOSVendor},
              {"BIOSVersion", &TKyvex_SMBIOS::FBIOSVersion},
              {"BIOSReleaseDate", &TKyvex_SMBIOS::FBIOSDate},
              {"SystemManufacturer", &TKyvex_SMBIOS::FSystemManufacturer},
              {"SystemProductName", &TKyvex_SMBIOS::FSystemModel},
              {"SystemVersion", &TKyvex_SMBIOS::FSystemVersion},
              {"BaseBoardManufacturer", &TKyvex_SMBIOS::FMainBoardManufacturer},
              {"BaseBoardProduct", &TKyvex_SMBIOS::FMainBoardModel},
              {"BaseBoardVersion", &TKyvex_SMBIOS::FMainBoardVersion},
              {"BaseBoardAssetTag", &TKyvex_SMBIOS::FMainBoardAssetTag},
              {"ChassisManufacturer", &TKyvex_SMBIOS::FChassisManufacturer},
              {"ChassisVersion", &TKyvex_SMBIOS::FChassisVersion},
              {"ChassisAssetTag", &TKyvex_SMBIOS::FChassisAssetTag}};
  auto& os = platform::Current();
  bool any = false;
  for (const auto& r : rows) {
    const auto v = os.RegQueryValue(platform::RegRoot::LocalMachine, kKey, r.value);
    if (!v || (v->type != platform::kRegSz && v->type != platform::kRegExpandSz) || v->text.empty()) continue;
    this->*r.field = v->text;
    any = true;
  }
  const auto chassis = os.RegQueryValue(platform::RegRoot::LocalMachine, kKey, "ChassisType");
  if (chassis && chassis->type == platform::kRegDword && (chassis->dword & 0x7F) != 0) {
    FChassisModel = static_cast<TSMBIOS_Chassis>(static_cast<std::uint8_t>((chassis->dword & 0x7F) - 1));
    FIdentityChassisType = true;
    any = true;
  }
  if (any) FTableSource = tsIdentityOnly;
}

bool TKyvex_SMBIOS::ReadFirmwareAreaFromService(std::vector<std::uint8_t>& area) {
  area.assign(kAreaSize, 0);
  if (ReadFirmwareRange(kAreaStart, kAreaSize, area.data())) {
    FRomWindow->SetStartAddress(0);
    FRomWindow->SetEndAddress(kAreaSize - 1);
    FRomWindow->SetMemorySize(kAreaSize);
    FRomWindow->LoadFromBuffer(area, 0, kAreaSize);
    return true;
  }
  area.clear();
  // No firmware area from this refresh: an earlier one's must not be searched.
  FRomWindow->SetMemorySize(0);
  FRomWindow->LoadFromBuffer(nullptr, 0, 0, 0);
  return false;
}

void TKyvex_SMBIOS::ReadFirmwareAreaFromMemory() {
  const std::uint32_t platformId = PlatformSnapshot().PlatformId;
  const bool ntFamily = platformId == platform::kPlatformWin32NT || platformId == platform::kPlatformLinux;
  if (ntFamily && !IsAdmin()) {
    FRomWindow->SetStartAddress(0xF0000);
    FRomWindow->SetMemorySize(0x10000);
  } else {
    FRomWindow->SetStartAddress(kAreaStart);
    FRomWindow->SetMemorySize(kAreaSize);
  }
  FRomWindow->SetEndAddress(0xFFFFF);
  FRomWindow->CollectData();
}

bool TKyvex_SMBIOS::FindEntryPoint() {
  const TKyvex_DMA& w = *FRomWindow;
  auto matches = [&](std::uint32_t a, const char* anchor) {
    for (std::uint32_t i = 0; anchor[i]; ++i)
      if (w.ReadChar(a + i) != anchor[i]) return false;
    return true;
  };
  const std::uint32_t first = w.StartAddress();
  const std::uint32_t last = w.EndAddress();
  // One pass finds the first place of each kind of entry point (a window without any is read
  // once, not three times); they are then taken in the order of preference.
  std::optional<std::uint32_t> firstSm, firstDmi, firstSm3;
  for (std::uint64_t at = first; at <= last && !firstSm; ++at) {
    const auto next = w.FindByte(static_cast<std::uint32_t>(at), last, '_');
    if (!next) break;
    at = *next;
    const auto a = *next;
    if (matches(a, "_SM_") && matches(a + 0x10, "_DMI_"))
      firstSm = a;
    else if (!firstDmi && matches(a, "_DMI_"))
      firstDmi = a;
    else if (!firstSm3 && matches(a, "_SM3_"))
      firstSm3 = a;
  }
  auto found = [this](const std::optional<std::uint32_t>& place) {
    if (place) FSMBIOSAddress = *place;
    return place.has_value();
  };
  if (found(firstSm)) {
    const std::uint32_t e = FSMBIOSAddress;
    FEntryPointAnchor = "_SM_";
    FMajorVersion = w.ReadByte(e + 6);
    FMinorVersion = w.ReadByte(e + 7);
    FRevision = BcdRevision(w.ReadByte(e + 0x1E));
  } else if (found(firstDmi)) {
    // A legacy entry point is the "_DMI_" structure alone, whose fields lie where they lie in
    // the intermediate part of an "_SM_" entry point; its only version is its BCD revision.
    FSMBIOSAddress -= 0x10;
    const std::uint32_t e = FSMBIOSAddress;
    FEntryPointAnchor = "_DMI_";
    const std::uint8_t bcd = w.ReadByte(e + 0x1E);
    FMajorVersion = bcd >> 4;
    FMinorVersion = bcd & 0x0F;
    FRevision = BcdRevision(bcd);
  } else if (found(firstSm3)) {
    const std::uint32_t e = FSMBIOSAddress;
    FEntryPointAnchor = "_SM3_";
    FMajorVersion = w.ReadByte(e + 7);
    FMinorVersion = w.ReadByte(e + 8);
    FRevision = BcdRevision(w.ReadByte(e + 0x0A));
    FVersion = Format2(FMajorVersion, FMinorVersion);
    FTableLength = w.ReadDWord(e + 0x0C);
    FTableAddress = w.ReadQWord(e + 0x10);
    FStructStart = static_cast<std::uint32_t>(FTableAddress);
    FStructLength = static_cast<std::uint16_t>(std::min<std::uint32_t>(FTableLength, 0xFFFF));
    FCountFromWalk = true;
    return true;
  } else {
    FSMBIOSAddress = 0;
    return false;
  }
  const std::uint32_t e = FSMBIOSAddress;
  FVersion = Format2(FMajorVersion, FMinorVersion);
  FStructStart = w.ReadDWord(e + 0x18);
  FStructCount = w.ReadWord(e + 0x1C);
  FStructLength = w.ReadWord(e + 0x16);
  FTableAddress = FStructStart;
  FTableLength = FStructLength;
  return true;
}

// The table cut out of the service's copy of the firmware area, where it lies inside it.
bool TKyvex_SMBIOS::TableFromArea(const std::vector<std::uint8_t>& area) {
  if (FTableAddress == 0) return false;
  FTableLength = std::min(FTableLength, kMaxTableLength);
  if (FTableAddress < kAreaStart || FTableAddress - kAreaStart >= kAreaSize) return false;
  const std::uint32_t length = FTableLength;
  FTableWindow->SetStartAddress(0);
  FTableWindow->SetEndAddress(length ? length - 1 : 0);
  FTableWindow->SetMemorySize(length);
  FTableWindow->LoadFromBuffer(area, static_cast<std::uint32_t>(FTableAddress - kAreaStart), length);
  FStructStart = 0;
  FTableSource = tsFirmwareArea;
  return true;
}

// The table at the entry point's address in physical memory (the bytes after the entry point
// in the service's copy are not the table).
bool TKyvex_SMBIOS::TableFromPhysicalMemory() {
  if (FTableAddress == 0) return false;
  const std::uint32_t length = std::min(FTableLength, kMaxTableLength);
  FTableLength = length;
  if (FTableAddress + length > 0x100000000ull) return false;
  FTableWindow->SetStartAddress(static_cast<std::uint32_t>(FTableAddress));
  FTableWindow->SetEndAddress(static_cast<std::uint32_t>(FTableAddress + (length ? length - 1 : 0)));
  FTableWindow->SetMemorySize(length);
  FTableWindow->CollectData();
  if (!FTableWindow->SourceAnswered()) return false;
  FStructStart = static_cast<std::uint32_t>(FTableAddress);
  FTableSource = tsPhysicalMemory;
  return true;
}

bool TKyvex_SMBIOS::FetchServiceTable(std::vector<std::uint8_t>& raw) {
  raw.clear();
  auto& fw = Firmware();
  if (!fw.BindFirmwareTableService()) return false;
  const std::uint32_t needed = fw.GetSystemFirmwareTable(platform::kProviderRSMB, 0, nullptr, 0);
  if (needed < 8 || needed > kMaxServiceTable) return false;
  raw.assign(needed, 0);
  const std::uint32_t got = fw.GetSystemFirmwareTable(platform::kProviderRSMB, 0, raw.data(), needed);
  if (got < 8 || got > needed) {
    raw.clear();
    return false;
  }
  raw.resize(got);
  return true;
}

bool TKyvex_SMBIOS::TableFromService(const std::vector<std::uint8_t>& raw) {
  if (raw.size() < 8) return false;
  const auto got = static_cast<std::uint32_t>(raw.size());
  const std::uint32_t length = std::min({bytes::Get32(&raw[4]), got - 8, kMaxTableLength});
  if (FEntryPointAnchor.empty()) {
    FMajorVersion = raw[1];
    FMinorVersion = raw[2];
    FVersion = Format2(FMajorVersion, FMinorVersion);
    FRevision = BcdRevision(raw[3]);
    FSMBIOSAddress = 0;
    FCountFromWalk = true;
  }
  FTableWindow->SetStartAddress(0);
  FTableWindow->SetEndAddress(length ? length - 1 : 0);
  FTableWindow->SetMemorySize(length);
  FTableWindow->LoadFromBuffer(raw, 8, length);
  FStructStart = 0;
  FTableLength = length;
  FStructLength = static_cast<std::uint16_t>(std::min<std::uint32_t>(length, 0xFFFF));
  FTableSource = tsFirmwareService;
  return true;
}

// --- The walk ---------------------------------------------------------------------------

void TKyvex_SMBIOS::AddStructEntry(std::uint32_t Address, std::uint8_t StructType, std::uint16_t Handle,
                                   std::uint8_t Length) {
  FStructTables.push_back({Address, StructType, Length, Handle, text::CutUtf8(SMBIOS_StructName(StructType), 255)});
}

// A zero byte after a double zero is padding unless what follows reads as a BIOS structure:
// a formatted area of a BIOS structure's length and the handle after the last one.
bool TKyvex_SMBIOS::LooksLikeBiosStructure(std::uint32_t Address) const {
  const TKyvex_DMA& w = *FTableWindow;
  return !FStructTables.empty() && w.ReadByte(Address) == 0 && w.ReadByte(Address + 1) >= 0x12 &&
         w.ReadWord(Address + 2) == static_cast<std::uint16_t>(FStructTables.back().Handle + 1);
}

void TKyvex_SMBIOS::BuildStructTable() {
  const TKyvex_DMA& w = *FTableWindow;
  const std::uint64_t s = FStructStart;
  const std::uint64_t e = s + FTableLength;
  if (!w.InWindow(FStructStart)) return;
  // A formatted area shorter than its own header is not a structure: the table is damaged
  // or, as in zero-filled space a hypervisor leaves after its last structure, over. Taking it
  // would decode phantoms out of zeros, and its length gives no way to the next one.
  auto record = [&](std::uint32_t pos) {
    if (w.ReadByte(pos + 1) < 4) return false;
    AddStructEntry(pos, w.ReadByte(pos), w.ReadWord(pos + 2), w.ReadByte(pos + 1));
    return true;
  };
  std::uint64_t pos = s;
  if (!record(FStructStart)) return;
  bool seenBIOS = w.ReadByte(FStructStart) == 0;
  for (;;) {
    const std::uint64_t next = pos + w.ReadByte(static_cast<std::uint32_t>(pos + 1));
    std::uint8_t prev = w.ReadByte(static_cast<std::uint32_t>(next));
    if (FStructTables.back().StructType == 5 && prev > 5 && prev != 0x20) {
      // Some firmware ends a memory controller structure without its double zero: what
      // follows the formatted area is already the next structure.
      pos = next;
    } else {
      std::uint64_t k = next + 1;
      bool ended = false;
      while (k <= 0xFFFFFFFFu && w.InWindow(static_cast<std::uint32_t>(k))) {
        const std::uint8_t b = w.ReadByte(static_cast<std::uint32_t>(k));
        // Once the BIOS structure has been seen, zero padding between structures is
        // skipped: a double zero followed by another zero does not end the set, unless that
        // zero starts a further BIOS structure (some firmware adds one per option ROM).
        if (b == 0 && prev == 0 &&
            (!seenBIOS || w.ReadByte(static_cast<std::uint32_t>(k + 1)) != 0 ||
             LooksLikeBiosStructure(static_cast<std::uint32_t>(k + 1)))) {
          ended = true;
          break;
        }
        prev = b;
        ++k;
      }
      // A string set that runs off the end of the table ends the walk.
      if (!ended) return;
      pos = k + 1;
    }
    if (pos >= e || pos > 0xFFFFFFFFu || !w.InWindow(static_cast<std::uint32_t>(pos))) return;
    if (FStructTables.size() >= kMaxStructures) {
      FWalkLimitText = "the table holds more than 65,535 structures, the most its count field can name; only the first "
                       "65,535 are decoded";
      return;
    }
    if (!record(static_cast<std::uint32_t>(pos))) return;
    const std::uint8_t type = FStructTables.back().StructType;
    seenBIOS = seenBIOS || type == 0;
    if (type == 127) return;
  }
}

TSMBIOS_StructTable TKyvex_SMBIOS::FindStructure(std::uint8_t StructType) const {
  for (const auto& entry : FStructTables)
    if (entry.StructType == StructType) return entry;
  return {};
}

int TKyvex_SMBIOS::NextStructureIndex(std::uint8_t StructType, int From) const {
  for (std::size_t i = static_cast<std::size_t>(std::max(From, 0)); i < FStructTables.size(); ++i)
    if (FStructTables[i].StructType == StructType) return static_cast<int>(i);
  return -1;
}

bool TKyvex_SMBIOS::Version23OrLater() const { return FMajorVersion > 2 || FMinorVersion > 2; }

void TKyvex_SMBIOS::Decode() {
  BuildStructTable();
  if (FCountFromWalk) FStructCount = static_cast<std::uint16_t>(std::min<std::size_t>(FStructTables.size(), 0xFFFF));

  const TKyvex_DMA& w = *FTableWindow;
  // Only a structure that lies in the table and still holds the type it was found with is
  // decoded.
  auto passes = [&](const TSMBIOS_StructTable& e, std::uint8_t type) {
    return e.Address >= FStructStart && w.ReadByte(e.Address) == type;
  };
  const struct {
    std::uint8_t type;
    void (TKyvex_SMBIOS::*decode)(const TSMBIOS_StructTable&);
  } kFirstOnly[] = {{0, &TKyvex_SMBIOS::DecodeBIOS},
                    {1, &TKyvex_SMBIOS::DecodeSystem},
                    {2, &TKyvex_SMBIOS::DecodeBaseBoard},
                    {3, &TKyvex_SMBIOS::DecodeChassis}},
    kEvery[] = {{4, &TKyvex_SMBIOS::DecodeProcessor},     {5, &TKyvex_SMBIOS::DecodeMemoryController},
                {6, &TKyvex_SMBIOS::DecodeMemoryModule},  {7, &TKyvex_SMBIOS::DecodeCache},
                {8, &TKyvex_SMBIOS::DecodePort},          {9, &TKyvex_SMBIOS::DecodeSystemSlot},
                {10, &TKyvex_SMBIOS::DecodeOnBoardDevices}, {17, &TKyvex_SMBIOS::DecodeMemoryDevice},
                {28, &TKyvex_SMBIOS::DecodeTemperatureProbe}};
  // A type the walk did not find is not decoded: the all-zero entry FindStructure answers
  // then would pass for a BIOS structure at address 0 of an empty window.
  for (const auto& d : kFirstOnly) {
    if (NextStructureIndex(d.type, 0) < 0) continue;
    const TSMBIOS_StructTable e = FindStructure(d.type);
    if (passes(e, d.type)) (this->*d.decode)(e);
  }
  for (const auto& d : kEvery)
    for (int i = NextStructureIndex(d.type, 0); i >= 0; i = NextStructureIndex(d.type, i + 1)) {
      const TSMBIOS_StructTable e = FStructTables[static_cast<std::size_t>(i)];
      if (passes(e, d.type)) (this->*d.decode)(e);
    }
}

// --- System records ---------------------------------------------------------------------

void TKyvex_SMBIOS::DecodeBIOS(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  // Byte 09h holds n for a ROM of (n + 1) x 64 KB.
  FBIOSSize = (static_cast<std::uint32_t>(f.Byte(0x09)) + 1) * 64;
  // FFh: 16 MB or more, given by the extended size word (bits 15:14 the unit, MB or GB).
  if (f.Byte(0x09) == 0xFF && f.Length() >= 0x1A) {
    const std::uint16_t ext = f.Word(0x18);
    const std::uint32_t size = ext & 0x3FFF;
    switch (ext >> 14) {
      case 0: FBIOSExtendedSize = size; break;
      case 1: FBIOSExtendedSize = size * 1024; break;
      default: break;  // a unit the standard has not defined
    }
  }
  if (f.Byte(0x04)) FBIOSVendor = f.String(0x04);
  if (f.Byte(0x05)) FBIOSVersion = f.String(0x05);
  if (f.Byte(0x08)) FBIOSDate = f.String(0x08);
}

void TKyvex_SMBIOS::DecodeSystem(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  FSystemUUID.clear();
  if (e.Length > 8) {
    char hex[3];
    for (unsigned i = 0x08; i <= 0x17; ++i) {
      std::snprintf(hex, sizeof hex, "%2.2X", f.Byte(i));
      FSystemUUID += hex;
    }
  }
  if (f.Byte(0x04)) FSystemManufacturer = f.String(0x04);
  if (f.Byte(0x05)) FSystemModel = f.String(0x05);
  if (f.Byte(0x06)) FSystemVersion = f.String(0x06);
  if (f.Byte(0x07)) FSystemSerial = f.String(0x07);
}

void TKyvex_SMBIOS::DecodeBaseBoard(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  if (f.Byte(0x04)) FMainBoardManufacturer = f.String(0x04);
  if (f.Byte(0x05)) FMainBoardModel = f.String(0x05);
  if (f.Byte(0x06)) FMainBoardVersion = f.String(0x06);
  if (f.Byte(0x07)) FMainBoardSerial = f.String(0x07);
  if (f.Byte(0x08)) FMainBoardAssetTag = f.String(0x08);
  if (e.Length >= 0x0A && f.Byte(0x0A)) FMainBoardLocationInChassis = f.String(0x0A);
}

void TKyvex_SMBIOS::DecodeChassis(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  // Bit 7 is the lock flag; code 01h is "Other", ordinal 0.
  FChassisModel = static_cast<TSMBIOS_Chassis>(static_cast<std::uint8_t>((f.Byte(0x05) & 0x7F) - 1));
  if (f.Byte(0x04)) FChassisManufacturer = f.String(0x04);
  if (f.Byte(0x06)) FChassisVersion = f.String(0x06);
  if (f.Byte(0x07)) FChassisSerial = f.String(0x07);
  if (f.Byte(0x08)) FChassisAssetTag = f.String(0x08);
}

void TKyvex_SMBIOS::DecodeMemoryController(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  FMemCtrlSupportedInterleave = static_cast<TSMBIOS_InterleaveSupport>(static_cast<std::uint8_t>(f.Byte(0x06) - 1));
  FMemCtrlCurrentInterleave = static_cast<TSMBIOS_InterleaveSupport>(static_cast<std::uint8_t>(f.Byte(0x07) - 1));
  const std::uint8_t n = f.Byte(0x08);
  FMemCtrlMaxSize = n <= 15 ? static_cast<std::uint16_t>(1u << n) : 0;
  const std::uint16_t speeds = f.Word(0x09), types = f.Word(0x0B);
  const std::uint8_t voltages = f.Byte(0x0D);
  FMemCtrlSupportedSpeeds = FMemCtrlSupportedTypes = FMemCtrlSupportedVoltages = 0;
  for (std::uint8_t b = 0; b <= 4; ++b)
    if (IsBitSet(speeds, b)) FMemCtrlSupportedSpeeds |= static_cast<TSMBIOS_MemorySpeeds>(1u << b);
  for (std::uint8_t b = 0; b <= 10; ++b)
    if (IsBitSet(types, b)) FMemCtrlSupportedTypes |= static_cast<TSMBIOS_MemoryTypes>(1u << b);
  for (std::uint8_t b = 0; b <= 2; ++b)
    if (IsBitSet(voltages, b)) FMemCtrlSupportedVoltages |= static_cast<TSMBIOS_Voltages>(1u << b);
  FMemCtrlSlotCount = f.Byte(0x0E);
}

// --- Device records ---------------------------------------------------------------------

void TKyvex_SMBIOS::DecodeProcessor(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  TSMBIOS_Processor p;
  p.Socket = f.String(0x04);
  p.Manufacturer = f.String(0x07);
  p.Version = f.String(0x10);
  p.Upgrade = static_cast<std::uint8_t>(f.Byte(0x19) - 1);
  const std::uint8_t v = f.Byte(0x11);
  if (v & 0x80)
    p.Voltage = (v - 128) / 10.0;
  else if (v & 0x01)
    p.Voltage = 5.0;
  else if (v & 0x02)
    p.Voltage = 3.3;
  else if (v & 0x04)
    p.Voltage = 2.9;
  p.Frequency = f.Word(0x16);
  p.ExternalClock = f.Word(0x12);
  if (Version23OrLater()) {
    p.SerialNumber = f.String(0x20);
    p.AssetTag = f.String(0x21);
    p.PartNumber = f.String(0x22);
  }
  // FEh: the family is in the Processor Family 2 word.
  p.Family = f.Byte(0x06);
  if (p.Family == 0xFE && f.Length() >= 0x2A) p.Family = f.Word(0x28);
  p.CoreCount = f.Byte(0x23);
  p.CoreEnabled = f.Byte(0x24);
  p.ThreadCount = f.Byte(0x25);
  p.Characteristics = f.Word(0x26);
  p.CoreCount2 = f.Word(0x2A);
  p.CoreEnabled2 = f.Word(0x2C);
  p.ThreadCount2 = f.Word(0x2E);
  p.SocketType = f.String(0x32);
  if (Blank(p.Version)) p.Version = Numbered("Processor_", FProcessors.size());
  FProcessors.push_back(std::move(p));
}

void TKyvex_SMBIOS::DecodeMemoryModule(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  TSMBIOS_MemoryModule m;
  m.Socket = f.String(0x04);
  m.Speed = f.Byte(0x06);
  const std::uint8_t n = f.Byte(0x09) & 0x7F;
  // 7Dh not determinable, 7Eh not enabled, 7Fh not installed.
  m.Size = (n >= 0x7D || n >= 32) ? 0 : (1u << n);
  const std::uint16_t types = f.Word(0x07);
  for (std::uint8_t b = 0; b <= 10; ++b)
    if (IsBitSet(types, b)) m.Types |= static_cast<TSMBIOS_MemoryTypes>(1u << b);
  FMemoryModules.push_back(std::move(m));
}

void TKyvex_SMBIOS::DecodeCache(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  // Bit 15 selects 64 KB units.
  auto size = [](std::uint16_t w) {
    return static_cast<std::uint16_t>((w & 0x8000) ? (w & 0x7FFF) * 64u : w);
  };
  TSMBIOS_Cache c;
  c.Designation = f.String(0x04);
  c.MaxSize = size(f.Word(0x07));
  c.InstalledSize = size(f.Word(0x09));
  const std::uint16_t sram = f.Word(0x0D);
  for (std::uint8_t b = 0; b <= 6; ++b)
    if (IsBitSet(sram, b)) c.SRAMType = b;
  if (f.Length() > 15) {
    const std::uint8_t type = f.Byte(0x11), assoc = f.Byte(0x12);
    c.Typ = (type >= 1 && type <= 5) ? type - 1 : 1;
    c.Associativity = (assoc >= 1 && assoc <= 8) ? assoc - 1 : 1;
    c.Speed = f.Byte(0x0F);
  } else {
    c.Typ = 1;
    c.Associativity = 1;
    c.Speed = 0;
  }
  // The sizes in 32 bits: from the Size 2 dwords where the structure has them (bit 31
  // selects 64 KB units), else from the words without the cut at 16 bits, which turns the
  // 64 MB caches of older 3.x structures into 0.
  auto size2 = [](std::uint32_t d) -> std::uint32_t {
    const std::uint64_t kb = (d & 0x80000000u) ? static_cast<std::uint64_t>(d & 0x7FFFFFFFu) * 64u : d;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(kb, 0xFFFFFFFFu));
  };
  auto wide = [](std::uint16_t w) -> std::uint32_t { return (w & 0x8000) ? (w & 0x7FFFu) * 64u : w; };
  c.MaxSize2 = f.Length() >= 0x1B ? size2(f.DWord(0x13)) : wide(f.Word(0x07));
  c.InstalledSize2 = f.Length() >= 0x1B ? size2(f.DWord(0x17)) : wide(f.Word(0x09));
  if (Blank(c.Designation)) c.Designation = Numbered("Cache_", FCaches.size());
  FCaches.push_back(std::move(c));
}

void TKyvex_SMBIOS::DecodePort(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  auto connector = [](std::uint8_t b) -> std::uint8_t { return b == 0xFF ? 39 : b; };
  TSMBIOS_Port p;
  p.InternalDesignator = f.String(0x04);
  p.ExternalDesignator = f.String(0x06);
  p.InternalConnector = connector(f.Byte(0x05));
  p.ExternalConnector = connector(f.Byte(0x07));
  const std::uint8_t t = f.Byte(0x08);
  p.Typ = t == 0xFF ? 34 : t > 0x1F ? static_cast<std::uint8_t>(t - 0x80) : t;
  if (Blank(p.ExternalDesignator)) p.ExternalDesignator = Numbered("PortSlot_", FPorts.size());
  FPorts.push_back(std::move(p));
}

void TKyvex_SMBIOS::DecodeSystemSlot(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  TSMBIOS_SystemSlot s;
  s.Designation = f.String(0x04);
  const std::uint8_t t = f.Byte(0x05);
  s.SlotType = t;
  if (t <= 0x13)
    s.Typ = static_cast<std::uint8_t>(t - 1);
  else if (t >= 0xA0 && t <= 0xA4)
    s.Typ = static_cast<std::uint8_t>(t - 0xA0 + 19);
  s.DataBus = static_cast<std::uint8_t>(f.Byte(0x06) - 1);
  s.ID = f.Word(0x09);
  s.Usage = static_cast<std::uint8_t>(f.Byte(0x07) - 1);
  s.Length = static_cast<std::uint8_t>(f.Byte(0x08) - 1);
  if (Blank(s.Designation)) s.Designation = Numbered("Slot_", FSystemSlots.size());
  FSystemSlots.push_back(std::move(s));
}

void TKyvex_SMBIOS::DecodeOnBoardDevices(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  const unsigned entries = f.Length() >= 4 ? (f.Length() - 4u) / 2u : 0;
  for (unsigned i = 0; i < entries; ++i) {
    const std::uint8_t b = f.Byte(0x04 + 2 * i);
    const std::uint8_t t = b & 0x7F;
    TSMBIOS_OnBoardDevice d;
    d.DeviceName = f.String(0x05 + 2 * i);
    d.Typ = (t >= 1 && t <= 7) ? t - 1 : 0;
    d.Status = (b & 0x80) != 0;
    FOnBoardDevices.push_back(std::move(d));
  }
}

void TKyvex_SMBIOS::DecodeMemoryDevice(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  TSMBIOS_MemoryDevice m;
  m.TotalWidth = f.Word(0x08);
  m.DataWidth = f.Word(0x0A);
  m.Size = f.Word(0x0C);
  m.FormFactor = static_cast<std::uint8_t>(f.Byte(0x0E) - 1);
  m.DeviceLocator = f.String(0x10);
  m.BankLocator = f.String(0x11);
  m.Device = static_cast<std::uint8_t>(f.Byte(0x12) - 1);
  m.TypeDetails = f.Word(0x13) & 0x1FFF;
  if (Version23OrLater()) {
    // The structure gives MHz; the record keeps the cycle time in ns.
    const std::uint16_t mhz = f.Word(0x15);
    m.Speed = mhz ? static_cast<std::uint16_t>(1000 / mhz) : 0;
    m.Manufacturer = f.String(0x17);
    m.SerialNumber = f.String(0x18);
    m.AssetTag = f.String(0x19);
    m.PartNumber = f.String(0x1A);
  }
  // The speeds in MT/s (MHz before 3.1.1, the same number); FFFFh hands over to the
  // extended dwords, whose bit 31 is reserved.
  auto speed = [&](unsigned word, unsigned extended) -> std::uint32_t {
    const std::uint16_t w = f.Word(word);
    return w == 0xFFFF ? f.DWord(extended) & 0x7FFFFFFFu : w;
  };
  m.SpeedMTs = speed(0x15, 0x54);
  m.ConfiguredSpeedMTs = speed(0x20, 0x58);
  // 7FFFh: 32 GB less 1 MB or more, given in MB by the extended size.
  if (m.Size == 0x7FFF) m.ExtendedSize = f.DWord(0x1C) & 0x7FFFFFFFu;
  FMemoryDevices.push_back(std::move(m));
}

void TKyvex_SMBIOS::DecodeTemperatureProbe(const TSMBIOS_StructTable& e) {
  const Fields f(*FTableWindow, e.Address);
  TSMBIOS_TemperatureProbe t;
  t.Description = text::TrimSanitized(f.String(0x04));
  const std::uint8_t ls = f.Byte(0x05);
  t.Location = static_cast<std::uint8_t>((ls & 0x1F) - 1);
  t.Status = static_cast<std::uint8_t>((ls >> 5) - 1);
  t.Max = f.Word(0x06);
  t.Min = f.Word(0x08);
  t.Resolution = f.Word(0x0A);
  t.Tolerance = f.Word(0x0C);
  t.Accuracy = f.Word(0x0E);
  t.Value = f.Length() > 20 ? f.Word(0x14) : 0;
  FTemperatureProbes.push_back(std::move(t));
}

}  // namespace kyvex
