// The display names of the storage component's coded values: device, bus, media and partition
// types and SMART attributes, each a list of (code, name) rows.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kyvex {

struct TStorageName {
  std::uint32_t Value;
  const char* Name;
};

extern const std::span<const TStorageName> StorageDeviceTypeNames;
extern const std::span<const TStorageName> StorageBusTypeNames;
extern const std::span<const TStorageName> StorageMediaTypeNames;
extern const std::span<const TStorageName> StoragePartitionTypeNames;
extern const std::span<const TStorageName> StorageSmartAttributeNames;

// The name of `value` in `table`, or none when the table does not name it.
const char* StorageNameOf(std::span<const TStorageName> table, std::uint32_t value);

// The same as text tables of the record's fields: empty for a code the table lacks.
std::string StorageDeviceTypeText(std::uint64_t code);
std::string StorageBusTypeText(std::uint64_t code);
std::string StorageMediaTypeText(std::uint64_t code);
std::string StoragePartitionTypeText(std::uint64_t code);

}  // namespace kyvex
