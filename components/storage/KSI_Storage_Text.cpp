#include "storage/KSI_Storage_Text.h"

#include <string>

namespace kyvex {

namespace {

constexpr TStorageName kDeviceType[] = {
    {2, "CD-ROM"}, {7, "Disk"}, {31, "Tape"}, {34, "Unknown"}, {51, "DVD"},
};

constexpr TStorageName kBusType[] = {
    {0, "Unknown"}, {1, "SCSI"},  {2, "ATAPI"}, {3, "ATA"},  {4, "IEEE 1394"}, {5, "SSA"},
    {6, "Fibre Channel"}, {7, "USB"}, {8, "RAID"}, {9, "iSCSI"}, {10, "SAS"}, {11, "SATA"},
    {12, "SD"}, {13, "MMC"}, {14, "Virtual"}, {15, "File-backed virtual"}, {16, "Storage Spaces"},
    {17, "NVMe"},
};

constexpr TStorageName kMediaType[] = {
    {11, "Removable media"}, {12, "Fixed media"}, {0x20, "DDS 4mm tape"}, {0x27, "DLT tape"},
    {0x33, "CD-ROM"}, {0x34, "CD-R"}, {0x35, "CD-RW"}, {0x36, "DVD-ROM"}, {0x37, "DVD-R"},
    {0x38, "DVD-RW"},
};

constexpr TStorageName kPartitionType[] = {
    {0x01, "FAT12"}, {0x04, "FAT16 (small)"}, {0x05, "Extended"}, {0x06, "FAT16"},
    {0x07, "NTFS / exFAT"}, {0x0B, "FAT32"}, {0x0C, "FAT32 (LBA)"}, {0x0E, "FAT16 (LBA)"},
    {0x0F, "Extended (LBA)"}, {0x27, "Windows recovery"}, {0x82, "Linux swap"}, {0x83, "Linux"},
    {0x85, "Linux extended"}, {0x8E, "Linux LVM"}, {0xA5, "FreeBSD"}, {0xAF, "HFS+"},
    {0xEE, "GPT"}, {0xEF, "EFI system"}, {0xFD, "Linux RAID"},
};

constexpr TStorageName kSmartAttribute[] = {
    {1, "Raw read error rate"}, {3, "Spin-up time"}, {4, "Start/stop count"},
    {5, "Reallocated sectors"}, {7, "Seek error rate"}, {9, "Power-on hours"},
    {10, "Spin retry count"}, {12, "Power cycle count"}, {190, "Airflow temperature"},
    {194, "Temperature"}, {196, "Reallocation events"}, {197, "Pending sectors"},
    {198, "Offline uncorrectable"}, {199, "UDMA CRC errors"},
};

}  // namespace

const std::span<const TStorageName> StorageDeviceTypeNames = kDeviceType;
const std::span<const TStorageName> StorageBusTypeNames = kBusType;
const std::span<const TStorageName> StorageMediaTypeNames = kMediaType;
const std::span<const TStorageName> StoragePartitionTypeNames = kPartitionType;
const std::span<const TStorageName> StorageSmartAttributeNames = kSmartAttribute;

const char* StorageNameOf(std::span<const TStorageName> table, std::uint32_t value) {
  for (const auto& row : table)
    if (row.Value == value) return row.Name;
  return nullptr;
}

namespace {
std::string TextOf(std::span<const TStorageName> table, std::uint64_t code) {
  const char* name = code <= 0xFFFFFFFFu ? StorageNameOf(table, static_cast<std::uint32_t>(code)) : nullptr;
  return name ? name : "";
}
}  // namespace

std::string StorageDeviceTypeText(std::uint64_t code) { return TextOf(StorageDeviceTypeNames, code); }
std::string StorageBusTypeText(std::uint64_t code) { return TextOf(StorageBusTypeNames, code); }
std::string StorageMediaTypeText(std::uint64_t code) { return TextOf(StorageMediaTypeNames, code); }
std::string StoragePartitionTypeText(std::uint64_t code) { return TextOf(StoragePartitionTypeNames, code); }

}  // namespace kyvex
