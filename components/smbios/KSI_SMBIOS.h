// The SMBIOS component: copies the machine's SMBIOS structure table and decodes it into
// properties (firmware, system, board, enclosure, memory controller) and record lists (one
// per kind of device).
//
// Where the table comes from, tried in this order, and how the entry-point values read:
//
//  1. the service's copy of the legacy firmware area C0000h..FFFFFh ('FIRM' regions),
//     searched for "_SM_" with "_DMI_" 16 bytes on, then for a lone "_DMI_", then for the
//     64-bit "_SM3_" entry point. SMBIOSAddress is the entry point's offset from C0000h (for a
//     lone "_DMI_", 16 bytes before it). The table is cut out of the area when it lies inside
//     it; StructStart then reads 0.
//  2. the firmware-table service's 'RSMB' table (on Linux: /sys/firmware/dmi/tables).
//     StructStart reads 0; without an entry point from step 1, SMBIOSAddress reads 0 too and
//     the version comes from the service's header.
//  3. physical memory: the table at the address of step 1's entry point, or else the firmware
//     area read from physical memory (on the NT family, as a last resort, through the
//     segment dump), searched as in step 1, and the table at its entry point's physical
//     address (StructStart). Failing that nothing is decoded.
//  - a raw table loaded by the caller (ReadLocalMemory false): LoadTable or LoadDumpImage.
//    StructStart reads 0. StructCount is FFFFh for a bare table (LoadTable); a dump keeps
//    its entry point's count as a live reading does.
//
// StructCount is the entry point's count where the entry point has one ("_SM_", "_DMI_");
// for "_SM3_" and 'RSMB' tables, which carry none, it is the number of structures the walk
// found. Revision is the entry point's own revision byte (1Eh of "_SM_" and "_DMI_", 0Ah of
// "_SM3_", the DMI revision of 'RSMB') read as two BCD digits. A lone "_DMI_" entry point
// carries its version only as that BCD byte, so it gives the version too.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/KSI_Common.h"
#include "smbios/KSI_DMA.h"
#include "smbios/KSI_SMBIOS_Text.h"

namespace kyvex {

// Ordinal = the SMBIOS code - 1. A code outside the range is stored as it decodes.
enum TSMBIOS_Chassis : std::uint8_t {
  smchOther, smchUnknown, smchDesktop, smchLowProfileDesktop, smchPizzaBox, smchMiniTower, smchTower,
  smchPortable, smchLapTop, smchNotebook, smchHandHeld, smchDockingStation, smchAllInOne, smchSubNotebook,
  smchSpaceSaving, smchLunchBox, smchMainServer, smchExpansion, smchSubChassis, smchBusExpansion,
  smchPeripheral, smchRAID, smchRackMount, smchSealedCasePC, smchMultiSystem
};
enum TSMBIOS_InterleaveSupport : std::uint8_t {
  smisOther, smisUnknown, smisOnewWay, smisTwoWay, smisFourWay, smisEightWay, smisSixteenWay
};
enum TSMBIOS_MemorySpeed : std::uint8_t { smmsOther, smmsUnknown, smms70ns, smms60ns, smms50ns };
enum TSMBIOS_MemoryType : std::uint8_t {
  smmtOther, smmtUnknown, smmtStandard, smmtFastPageMode, smmtEDO, smmtParity, smmtECC, smmtSIMM, smmtDIMM,
  smmtBurstEDO, smmtSDRAM
};
enum TSMBIOS_Voltage : std::uint8_t { smv5V, smv33V, smv29V };

// Sets: element n is bit n.
using TSMBIOS_MemorySpeeds = std::uint8_t;
using TSMBIOS_MemoryTypes = std::uint16_t;
using TSMBIOS_Voltages = std::uint8_t;
template <typename Set>
constexpr bool InSet(Set set, unsigned element) {
  return element < sizeof(Set) * 8 && ((set >> element) & 1u) != 0;
}

// Enumeration value names, as the JSON output and the storage file name them.
extern const std::array<const char*, 25> SMBIOS_ChassisValueNames;
extern const std::array<const char*, 7> SMBIOS_InterleaveValueNames;
extern const std::array<const char*, 5> SMBIOS_MemorySpeedValueNames;
extern const std::array<const char*, 11> SMBIOS_MemoryTypeValueNames;
extern const std::array<const char*, 3> SMBIOS_VoltageValueNames;

struct TSMBIOS_StructTable {
  std::uint32_t Address = 0;
  std::uint8_t StructType = 0;
  std::uint8_t Length = 0;
  std::uint16_t Handle = 0;
  std::string Name;
  bool operator==(const TSMBIOS_StructTable&) const = default;
};
using TSMBIOS_StructTables = std::vector<TSMBIOS_StructTable>;

struct TSMBIOS_Processor {
  std::string Socket;
  std::string Manufacturer;
  std::string Version;
  std::uint8_t Upgrade = 0;
  double Voltage = 0;
  std::uint16_t Frequency = 0;      // MHz
  std::uint16_t ExternalClock = 0;  // MHz
  std::string SerialNumber;
  std::string AssetTag;
  std::string PartNumber;
  // Values of newer structures that the fields above have no room for; a storage file does
  // not hold them. Each is 0 where the structure is too short to hold it.
  std::uint16_t Family = 0;           // family code; Processor Family 2 (28h) where byte 06h is FEh
  std::uint8_t CoreCount = 0;         // 23h; FFh: see CoreCount2
  std::uint8_t CoreEnabled = 0;       // 24h
  std::uint8_t ThreadCount = 0;       // 25h
  std::uint16_t Characteristics = 0;  // 26h, bit n as SMBIOS_ProcessorCharacteristicNames[n]
  std::uint16_t CoreCount2 = 0;       // 2Ah (3.0+), for more than 254 cores
  std::uint16_t CoreEnabled2 = 0;     // 2Ch
  std::uint16_t ThreadCount2 = 0;     // 2Eh
  std::string SocketType;             // string 32h (3.6+), where the upgrade code is FEh
  bool operator==(const TSMBIOS_Processor&) const = default;
};

struct TSMBIOS_MemoryModule {
  std::string Socket;
  std::uint16_t Speed = 0;  // ns
  std::uint32_t Size = 0;   // MB
  TSMBIOS_MemoryTypes Types = 0;
  bool operator==(const TSMBIOS_MemoryModule&) const = default;
};

struct TSMBIOS_Cache {
  std::string Designation;
  std::uint16_t MaxSize = 0;        // KB
  std::uint16_t InstalledSize = 0;  // KB
  std::uint8_t SRAMType = 0;
  std::uint8_t Typ = 0;
  std::uint8_t Associativity = 0;
  std::uint16_t Speed = 0;  // ns
  // The sizes in KB in 32 bits, which the 16-bit fields cannot hold from 64 MB on: Maximum
  // and Installed Cache Size 2 (3.1+) where the structure has them, else the 16-bit fields'
  // sizes uncut. Not stored.
  std::uint32_t MaxSize2 = 0;
  std::uint32_t InstalledSize2 = 0;
  bool operator==(const TSMBIOS_Cache&) const = default;
};

struct TSMBIOS_Port {
  std::string InternalDesignator;
  std::string ExternalDesignator;
  std::uint8_t InternalConnector = 0;
  std::uint8_t ExternalConnector = 0;
  std::uint8_t Typ = 0;
  bool operator==(const TSMBIOS_Port&) const = default;
};

struct TSMBIOS_SystemSlot {
  std::string Designation;
  std::uint8_t Typ = 0;
  std::uint8_t DataBus = 0;
  std::uint16_t ID = 0;
  std::uint8_t Usage = 0;
  std::uint8_t Length = 0;
  // The slot type code as the structure holds it; Typ has no room for the codes of newer
  // slots (M.2, PCI Express of each generation and width). Not stored: a load derives it
  // from Typ where Typ can hold it.
  std::uint8_t SlotType = 0;
  bool operator==(const TSMBIOS_SystemSlot&) const = default;
};

struct TSMBIOS_OnBoardDevice {
  std::string DeviceName;
  std::uint8_t Typ = 0;
  bool Status = false;  // enabled
  bool operator==(const TSMBIOS_OnBoardDevice&) const = default;
};

struct TSMBIOS_MemoryDevice {
  std::uint16_t TotalWidth = 0;  // bits
  std::uint16_t DataWidth = 0;   // bits
  std::uint16_t Size = 0;        // as stored: MB, KB when bit 15 is set, FFFFh unknown
  std::uint8_t FormFactor = 0;
  std::string DeviceLocator;
  std::string BankLocator;
  std::uint8_t Device = 0;
  std::uint16_t TypeDetails = 0;  // bits 0..12
  std::uint16_t Speed = 0;        // ns
  std::string Manufacturer;
  std::string SerialNumber;
  std::string AssetTag;
  std::string PartNumber;
  // Values Speed and Size cannot hold; not stored. 0 where the structure does not give them.
  std::uint32_t SpeedMTs = 0;            // 15h, or the extended dword 54h (3.3+) where 15h is FFFFh
  std::uint32_t ConfiguredSpeedMTs = 0;  // 20h (2.7+), or 58h where 20h is FFFFh
  std::uint32_t ExtendedSize = 0;        // MB, 1Ch (2.7+), where the size word is 7FFFh
  bool operator==(const TSMBIOS_MemoryDevice&) const = default;
};

struct TSMBIOS_TemperatureProbe {
  std::string Description;
  std::uint8_t Location = 0;
  std::uint8_t Status = 0;
  std::uint16_t Min = 0;
  std::uint16_t Max = 0;
  std::uint16_t Resolution = 0;
  std::uint16_t Tolerance = 0;
  std::uint16_t Accuracy = 0;
  std::uint16_t Value = 0;
  bool operator==(const TSMBIOS_TemperatureProbe&) const = default;
};

// Where the decoded table came from.
enum TSMBIOS_TableSource : std::uint8_t {
  tsNone,            // no table found
  tsFirmwareArea,    // cut out of the firmware area
  tsPhysicalMemory,  // read from physical memory at the entry point's address
  tsFirmwareService, // the firmware-table service's 'RSMB' table
  tsLoaded,          // loaded by the caller (ReadLocalMemory false)
  tsIdentityOnly     // no table; the BIOS, system, board and chassis values from the system's
                     // copy of them (registry; on Linux /sys/class/dmi/id)
};

// The list of the component's own values (KSI_SMBIOS_Fields.h).
template <class Component, class Visitor>
void VisitSMBIOSFields(Component& c, Visitor&& v);

class TKyvex_SMBIOS : public TKyvex_KSIC_Component {
 public:
  explicit TKyvex_SMBIOS(TComponent* AOwner = nullptr);

  // True: CollectData reads this machine's firmware. False: it decodes the raw table that
  // LoadTable or LoadDumpImage put into the table window.
  bool ReadLocalMemory() const { return FReadLocalMemory; }
  void SetReadLocalMemory(bool value) { FReadLocalMemory = value; }

  void CollectData() override;

  // Stores the decoded values and every record in the file's "SMBIOS" storage, after the
  // summary header. The raw tables, the structure table and the windows are not stored, so
  // a loaded component cannot decode again.
  void SaveToStorageFile(const std::string& FileName) override;
  // Answers whether the file held this component's data (also when its lists are empty). A
  // storage file without them resets every value to empty or 0 and empties the lists; a
  // file that is not a storage file, or one that cannot be opened or holds a part of this
  // component's data that cannot be read (both raise), changes nothing but LiveData and
  // StorageFileName. A record or a values set that is missing ends its list or reads empty.
  // The structure table, the entry point and the windows keep what the last CollectData left
  // in them.
  bool LoadFromStorageFile(const std::string& FileName) override;

  // Puts a raw structure table into the table window (from address 0) and sets the version
  // its version-dependent fields are decoded by; CollectData with ReadLocalMemory false
  // decodes it.
  void LoadTable(const std::uint8_t* Table, std::size_t Size, std::uint8_t Major, std::uint8_t Minor);
  // Reads a dump in the format of `dmidecode --dump-bin` (an "_SM_", "_SM3_" or "_DMI_" entry
  // point at offset 0, the table at offset 20h), loads its table as LoadTable does and
  // switches ReadLocalMemory off. False, with the reason in Error, when the image holds no
  // entry point.
  bool LoadDumpImage(const std::vector<std::uint8_t>& Image, std::string& Error);
  // What the last LoadDumpImage found missing from a dump it still loaded (a table cut short);
  // empty for a whole one.
  const std::string& DumpShortfall() const { return FDumpShortfall; }
  // Why the last walk stopped before the table's end, when a limit stopped it (more
  // structures than the table's count field can name); empty otherwise.
  const std::string& WalkLimitText() const { return FWalkLimitText; }

  // --- Acquisition --------------------------------------------------------------------
  std::uint32_t SMBIOSAddress() const { return FSMBIOSAddress; }
  std::uint32_t StructStart() const { return FStructStart; }
  std::uint16_t StructLength() const { return FStructLength; }
  std::uint16_t StructCount() const { return FStructCount; }
  std::uint8_t MajorVersion() const { return FMajorVersion; }
  std::uint8_t MinorVersion() const { return FMinorVersion; }
  const std::string& Version() const { return FVersion; }
  const std::string& Revision() const { return FRevision; }
  // "_SM_", "_DMI_", "_SM3_", or empty when no entry point was read.
  const std::string& EntryPointAnchor() const { return FEntryPointAnchor; }
  TSMBIOS_TableSource TableSource() const { return FTableSource; }
  // No table was found and this process lacks the rights that reading one may need (root on
  // Linux, where the kernel's copy of the tables is root's alone on most systems).
  bool TablesNeedRights() const { return FTablesNeedRights; }
  // The chassis type came from the system's identity values (tsIdentityOnly).
  bool IdentityChassisType() const { return FIdentityChassisType; }
  const TKyvex_DMA& RomWindow() const { return *FRomWindow; }
  const TKyvex_DMA& TableWindow() const { return *FTableWindow; }
  // The structures the walk found, in table order.
  const TSMBIOS_StructTables& StructTables() const { return FStructTables; }

  // --- System records -----------------------------------------------------------------
  const std::string& SystemModel() const { return FSystemModel; }
  const std::string& SystemManufacturer() const { return FSystemManufacturer; }
  const std::string& SystemVersion() const { return FSystemVersion; }
  const std::string& SystemSerial() const { return FSystemSerial; }
  const std::string& SystemUUID() const { return FSystemUUID; }
  const std::string& BIOSVendor() const { return FBIOSVendor; }
  const std::string& BIOSVersion() const { return FBIOSVersion; }
  const std::string& BIOSDate() const { return FBIOSDate; }
  std::uint32_t BIOSSize() const { return FBIOSSize; }
  // The Extended BIOS ROM Size (3.1+) in MB, where byte 09h is FFh (16 MB or more); 0
  // otherwise. Not stored.
  std::uint32_t BIOSExtendedSize() const { return FBIOSExtendedSize; }
  const std::string& MainBoardModel() const { return FMainBoardModel; }
  const std::string& MainBoardManufacturer() const { return FMainBoardManufacturer; }
  const std::string& MainBoardVersion() const { return FMainBoardVersion; }
  const std::string& MainBoardSerial() const { return FMainBoardSerial; }
  const std::string& MainBoardAssetTag() const { return FMainBoardAssetTag; }
  const std::string& MainBoardLocationInChassis() const { return FMainBoardLocationInChassis; }
  TSMBIOS_Chassis ChassisModel() const { return FChassisModel; }
  const std::string& ChassisManufacturer() const { return FChassisManufacturer; }
  const std::string& ChassisVersion() const { return FChassisVersion; }
  const std::string& ChassisSerial() const { return FChassisSerial; }
  const std::string& ChassisAssetTag() const { return FChassisAssetTag; }
  TSMBIOS_InterleaveSupport MemCtrlCurrentInterleave() const { return FMemCtrlCurrentInterleave; }
  TSMBIOS_InterleaveSupport MemCtrlSupportedInterleave() const { return FMemCtrlSupportedInterleave; }
  TSMBIOS_MemorySpeeds MemCtrlSupportedSpeeds() const { return FMemCtrlSupportedSpeeds; }
  TSMBIOS_MemoryTypes MemCtrlSupportedTypes() const { return FMemCtrlSupportedTypes; }
  TSMBIOS_Voltages MemCtrlSupportedVoltages() const { return FMemCtrlSupportedVoltages; }
  std::uint16_t MemCtrlMaxSize() const { return FMemCtrlMaxSize; }
  std::uint8_t MemCtrlSlotCount() const { return FMemCtrlSlotCount; }

  // --- Device records -----------------------------------------------------------------
  // The counts are the whole length of each list: a large server's 256th memory device is
  // still counted and reachable. An index past the list answers an empty record.
  std::uint32_t ProcessorCount() const { return Count(FProcessors); }
  std::uint32_t MemoryModuleCount() const { return Count(FMemoryModules); }
  std::uint32_t MemoryDeviceCount() const { return Count(FMemoryDevices); }
  std::uint32_t PortCount() const { return Count(FPorts); }
  std::uint32_t SystemSlotCount() const { return Count(FSystemSlots); }
  std::uint32_t CacheCount() const { return Count(FCaches); }
  std::uint32_t OnBoardDeviceCount() const { return Count(FOnBoardDevices); }
  std::uint32_t TemperatureProbeCount() const { return Count(FTemperatureProbes); }
  TSMBIOS_Processor GetProcessor(std::uint32_t Index) const { return Get(FProcessors, Index); }
  TSMBIOS_MemoryModule GetMemoryModule(std::uint32_t Index) const { return Get(FMemoryModules, Index); }
  TSMBIOS_MemoryDevice GetMemoryDevice(std::uint32_t Index) const { return Get(FMemoryDevices, Index); }
  TSMBIOS_Port GetPort(std::uint32_t Index) const { return Get(FPorts, Index); }
  TSMBIOS_SystemSlot GetSystemSlot(std::uint32_t Index) const { return Get(FSystemSlots, Index); }
  TSMBIOS_Cache GetCache(std::uint32_t Index) const { return Get(FCaches, Index); }
  TSMBIOS_OnBoardDevice GetOnBoardDevice(std::uint32_t Index) const { return Get(FOnBoardDevices, Index); }
  TSMBIOS_TemperatureProbe GetTemperatureProbe(std::uint32_t Index) const {
    return Get(FTemperatureProbes, Index);
  }

 protected:
  // The structure table's lookups.
  TSMBIOS_StructTable FindStructure(std::uint8_t StructType) const;
  int NextStructureIndex(std::uint8_t StructType, int From) const;

 private:
  // The list of the values (KSI_SMBIOS_Fields.h) and the save and load of the records
  // (KSI_SMBIOS_Persist.cpp).
  template <class Component, class Visitor>
  friend void VisitSMBIOSFields(Component& c, Visitor&& v);
  friend struct SMBIOS_StoredLayout;

  template <typename T>
  static std::uint32_t Count(const std::vector<T>& list) {
    return static_cast<std::uint32_t>(list.size());
  }
  template <typename T>
  static T Get(const std::vector<T>& list, std::uint32_t index) {
    return index < list.size() ? list[index] : T{};
  }

  void ClearDecoded();
  bool ReadFirmwareAreaFromService(std::vector<std::uint8_t>& area);
  void ReadFirmwareAreaFromMemory();
  bool FindEntryPoint();
  bool TableFromArea(const std::vector<std::uint8_t>& area);
  bool TableFromPhysicalMemory();
  void IdentityFromRegistry();
  static bool FetchServiceTable(std::vector<std::uint8_t>& raw);
  bool TableFromService(const std::vector<std::uint8_t>& raw);
  void Decode();
  void BuildStructTable();
  bool LooksLikeBiosStructure(std::uint32_t Address) const;
  void AddStructEntry(std::uint32_t Address, std::uint8_t StructType, std::uint16_t Handle, std::uint8_t Length);
  bool Version23OrLater() const;

  void DecodeBIOS(const TSMBIOS_StructTable& e);
  void DecodeSystem(const TSMBIOS_StructTable& e);
  void DecodeBaseBoard(const TSMBIOS_StructTable& e);
  void DecodeChassis(const TSMBIOS_StructTable& e);
  void DecodeProcessor(const TSMBIOS_StructTable& e);
  void DecodeMemoryController(const TSMBIOS_StructTable& e);
  void DecodeMemoryModule(const TSMBIOS_StructTable& e);
  void DecodeCache(const TSMBIOS_StructTable& e);
  void DecodePort(const TSMBIOS_StructTable& e);
  void DecodeSystemSlot(const TSMBIOS_StructTable& e);
  void DecodeOnBoardDevices(const TSMBIOS_StructTable& e);
  void DecodeMemoryDevice(const TSMBIOS_StructTable& e);
  void DecodeTemperatureProbe(const TSMBIOS_StructTable& e);

  bool FReadLocalMemory = true;
  TKyvex_DMA* FRomWindow;    // owned (as a child component)
  TKyvex_DMA* FTableWindow;  // owned (as a child component)

  std::uint32_t FSMBIOSAddress = 0;
  std::uint32_t FStructStart = 0;
  std::uint16_t FStructLength = 0;
  std::uint16_t FStructCount = 0;
  std::string FDumpShortfall;
  std::string FWalkLimitText;
  std::uint8_t FMajorVersion = 0;
  std::uint8_t FMinorVersion = 0;
  std::string FVersion;
  std::string FRevision;
  std::string FEntryPointAnchor;
  TSMBIOS_TableSource FTableSource = tsNone;
  // The entry point's table address and length in full (an "_SM3_" entry point has a 64-bit
  // address and a 32-bit length); the walk goes by the length.
  std::uint64_t FTableAddress = 0;
  std::uint32_t FTableLength = 0;
  bool FCountFromWalk = false;
  bool FTablesNeedRights = false;
  bool FIdentityChassisType = false;
  // The structure count of a loaded dump's entry point: the count, or one of these.
  static constexpr std::int32_t kNoLoadedCount = -1;
  static constexpr std::int32_t kCountByWalk = -2;
  std::int32_t FLoadedCount = kNoLoadedCount;
  TSMBIOS_StructTables FStructTables;

  std::string FSystemModel, FSystemManufacturer, FSystemVersion, FSystemSerial, FSystemUUID;
  std::string FBIOSVendor, FBIOSVersion, FBIOSDate;
  std::uint32_t FBIOSSize = 0;
  std::uint32_t FBIOSExtendedSize = 0;
  std::string FMainBoardModel, FMainBoardManufacturer, FMainBoardVersion, FMainBoardSerial, FMainBoardAssetTag,
      FMainBoardLocationInChassis;
  TSMBIOS_Chassis FChassisModel = smchUnknown;
  std::string FChassisManufacturer, FChassisVersion, FChassisSerial, FChassisAssetTag;
  TSMBIOS_InterleaveSupport FMemCtrlCurrentInterleave = smisUnknown;
  TSMBIOS_InterleaveSupport FMemCtrlSupportedInterleave = smisUnknown;
  TSMBIOS_MemorySpeeds FMemCtrlSupportedSpeeds = 0;
  TSMBIOS_MemoryTypes FMemCtrlSupportedTypes = 0;
  TSMBIOS_Voltages FMemCtrlSupportedVoltages = 0;
  std::uint16_t FMemCtrlMaxSize = 0;
  std::uint8_t FMemCtrlSlotCount = 0;

  std::vector<TSMBIOS_Processor> FProcessors;
  std::vector<TSMBIOS_MemoryModule> FMemoryModules;
  std::vector<TSMBIOS_MemoryDevice> FMemoryDevices;
  std::vector<TSMBIOS_Port> FPorts;
  std::vector<TSMBIOS_SystemSlot> FSystemSlots;
  std::vector<TSMBIOS_Cache> FCaches;
  std::vector<TSMBIOS_OnBoardDevice> FOnBoardDevices;
  std::vector<TSMBIOS_TemperatureProbe> FTemperatureProbes;
};

// The firmware regions of the firmware-table service ('FIRM') copied over Address..
// Address+Size-1; the parts no region covers stay zero. True when the regions cover both
// ends of the range.
bool ReadFirmwareRange(std::uint32_t Address, std::uint32_t Size, std::uint8_t* Destination);

}  // namespace kyvex
