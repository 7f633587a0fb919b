// What the command and the window show of the storage component: JSON under the record's
// field names, and the sections of the two window pages.
#include <gtest/gtest.h>

#include <map>

#include "report/StorageReport.h"
#include "platform/fake/FakePlatform.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace storage_test;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

// One disk with SMART data and a partition, and a drive letter on it.
struct SmallMachine {
  FakePlatform fake;
  SmallMachine() {
    auto& dev = fake.devices;
    const std::string pd0 = "\\\\.\\PhysicalDrive0";
    const auto part = Partition(1, 100, 0x07, 1);
    for (const std::string& path : {pd0, std::string("\\\\.\\C:")}) {
      dev.Reply(path, devio::kStorageQueryProperty, Property("ATA", "ST320410A", "3.39", "5FB3QF34", devio::kBusAta));
      dev.Reply(path, devio::kScsiGetAddress, devio::ScsiAddress{0, 0, 1, 0}.Encode());
      dev.Reply(path, devio::kDiskGetDriveGeometry, Geometry(2432));
      dev.Reply(path, devio::kStorageGetMediaTypesEx, DiskMediaTypes());
      dev.Reply(path, devio::kDiskGetDriveLayout, devio::DriveLayout{0, {part}}.Encode());
    }
    dev.Reply("\\\\.\\C:", devio::kVolumeGetVolumeDiskExtents,
              devio::VolumeDiskExtents{{{0, part.StartingOffset, part.Length}}}.Encode());
    dev.Reply(pd0, devio::kSmartGetVersion, devio::SmartVersion{1, 1, 1, 7}.Encode());
    dev.SmartReply(pd0, 0xEC, std::nullopt, IdentifyOf("ST320410A--3.39"));
    dev.SmartReply(pd0, 0xB0, 0xD0, SmartDataOf("ST320410A--3.39"));
    dev.driveLetters = "C";
    dev.names[pd0] = {pd0, {}, ""};
    dev.names["\\\\.\\C:"] = {"\\\\?\\Volume{6f1a0c2e-0000-0000-0000-100000000000}\\", {"C:\\", "D:\\Data\\"}, "NTFS"};
  }
};

TEST(StorageReport, JsonUsesTheFieldNames) {
  SmallMachine m;
  ScopedPlatform scope(m.fake);
  TKyvex_Storage storage;
  storage.CollectData();
  const auto j = report::StorageJson(storage);
  ASSERT_EQ(j["PhysicalCount"], 1);  // SMART identify found the same disk and merged into it
  ASSERT_EQ(j["LogicalCount"], 1);
  ASSERT_EQ(j["PhysicalDevices"].size(), 1u);
  const auto& disk = j["PhysicalDevices"][0];
  EXPECT_EQ(disk["Drive"], "");
  EXPECT_EQ(disk["PHYSIndex"], -1);
  EXPECT_EQ(disk["Model"], "ST320410A");
  EXPECT_EQ(disk["BusType"], devio::kBusAta);
  EXPECT_EQ(disk["BusTypeName"], "ATA");
  EXPECT_EQ(disk["DeviceTypeName"], "Disk");
  EXPECT_EQ(disk["Geometry"]["TracksPerCylinder"], 255);
  EXPECT_EQ(disk["Size"], 2432LL * 255 * 63 * 512);
  EXPECT_TRUE(disk["ExtraInfoAvailable"].get<bool>());
  const auto& attributes = disk["SMARTAttributes"];
  ASSERT_FALSE(attributes.empty());
  EXPECT_EQ(attributes[0]["Id"], 1);
  EXPECT_EQ(attributes[0]["Raw"], 0x019C5999u);
  const auto& c = j["LogicalDevices"][0];
  EXPECT_EQ(c["Drive"], "C");
  EXPECT_EQ(c["Device"], 'C');
  EXPECT_EQ(c["PHYSIndex"], 0);
  ASSERT_EQ(c["Layout"].size(), 1u);
  EXPECT_EQ(c["Layout"][0]["Typ"], 7);
  EXPECT_EQ(c["Layout"][0]["TypName"], "NTFS / exFAT");
  // The system's own names: the device path, and for the drive its mount points and file system.
  EXPECT_EQ(disk["DevicePath"], "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(disk["MountPoints"], nlohmann::ordered_json::array());
  EXPECT_EQ(c["DevicePath"], "\\\\?\\Volume{6f1a0c2e-0000-0000-0000-100000000000}\\");
  EXPECT_EQ(c["MountPoints"], nlohmann::ordered_json::array({"C:\\", "D:\\Data\\"}));
  EXPECT_EQ(c["FileSystem"], "NTFS");
  // Every field of the record is there; names stand beside the codes that have one.
  EXPECT_EQ(disk.size(), report::DeviceJson(TDeviceInfo{}).size() + 2);
}

TEST(StorageReport, PagesShowEachDeviceAndWhereEachDriveLies) {
  SmallMachine m;
  ScopedPlatform scope(m.fake);
  TKyvex_Storage storage;
  storage.CollectData();
  const auto physical = report::StoragePhysicalSections(storage);
  ASSERT_EQ(physical.size(), 1u);
  EXPECT_EQ(physical[0].Title, "Physical device 0: ATA ST320410A");
  auto value = [](const report::Section& s, const std::string& label) {
    for (const auto& [l, v] : s.Items)
      if (l == label) return v;
    return std::string("(missing)");
  };
  EXPECT_EQ(value(physical[0], "Serial number"), "5FB3QF34");
  EXPECT_EQ(value(physical[0], "Location"), "port 0, path 0, target 1, lun 0");
  EXPECT_EQ(value(physical[0], "SMART"), "supported, enabled");
  EXPECT_EQ(value(physical[0], "Size"), "20,003,880,960 bytes (18.6 GiB)");
  const auto logical = report::StorageLogicalSections(storage);
  ASSERT_EQ(logical.size(), 1u);
  EXPECT_EQ(logical[0].Title, "Drive C: ATA ST320410A");
  EXPECT_EQ(value(logical[0], "Physical device"), "0: ATA ST320410A");
  EXPECT_EQ(value(logical[0], "Partition").substr(0, 26), "type 0x07 NTFS / exFAT, of");
  EXPECT_EQ(value(physical[0], "Device path"), "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(value(physical[0], "Mounted on"), "(missing)");
  EXPECT_EQ(value(logical[0], "File system"), "NTFS");
  // One row per mount point.
  std::vector<std::string> mounted;
  for (const auto& [l, v] : logical[0].Items)
    if (l == "Mounted on") mounted.push_back(v);
  EXPECT_EQ(mounted, (std::vector<std::string>{"C:\\", "D:\\Data\\"}));

  TKyvex_Storage empty;
  EXPECT_TRUE(report::StoragePhysicalSections(empty).empty());
  EXPECT_EQ(report::StorageText(empty), "Storage devices: 0 physical, 0 logical\n");
}

// An NVMe disk's health: rows and a JSON object only for a record whose health log was read
// (a SATA disk's zeros would read as a disk with no spare left); the ATA-only rows left out.
TEST(StorageReport, NvmeHealthOnlyWhereItWasRead) {
  struct Records : TKyvex_Storage {
    void Add(const TDeviceInfo& d) { FPhysicalDevices.push_back(d); }
  } storage;
  TDeviceInfo nvme;
  nvme.Model = "SAMSUNG MZVLB512HBJQ-000L7";
  nvme.ExtraInfoAvailable = nvme.SMARTSupport = nvme.SMARTActive = true;
  nvme.Temperature = 37;
  nvme.Health = {true, 0x05, 4, 10, 104, 5123, 47, UINT64_MAX};
  storage.Add(nvme);
  TDeviceInfo sata;
  sata.Model = "ST320410A";
  storage.Add(sata);

  const auto sections = report::StoragePhysicalSections(storage);
  ASSERT_EQ(sections.size(), 2u);
  std::map<std::string, std::string> rows(sections[0].Items.begin(), sections[0].Items.end());
  EXPECT_EQ(rows["Critical warning"], "0x05 (available spare below threshold, reliability degraded)");
  EXPECT_EQ(rows["Available spare"], "4% (threshold 10%)");
  EXPECT_EQ(rows["Percentage used"], "104%");
  EXPECT_EQ(rows["Power-on hours"], "5123");
  EXPECT_EQ(rows["Unsafe shutdowns"], "47");
  EXPECT_EQ(rows["Media errors"], "18446744073709551615");
  EXPECT_EQ(rows["Temperature"], "37 °C");
  EXPECT_EQ(rows["SMART"], "supported, enabled");
  EXPECT_FALSE(rows.count("ATA version"));
  for (const auto& [label, value] : sections[1].Items) EXPECT_NE(label, "Percentage used");

  const auto j = report::StorageJson(storage);
  const auto& health = j["PhysicalDevices"][0]["Health"];
  EXPECT_EQ(health["CriticalWarning"], 5);
  EXPECT_EQ(health["CriticalWarningText"], "available spare below threshold, reliability degraded");
  EXPECT_EQ(health["AvailableSpare"], 4);
  EXPECT_EQ(health["AvailableSpareThreshold"], 10);
  EXPECT_EQ(health["PercentageUsed"], 104);
  EXPECT_EQ(health["PowerOnHours"], 5123u);
  EXPECT_EQ(health["UnsafeShutdowns"], 47u);
  EXPECT_EQ(health["MediaErrors"], UINT64_MAX);
  EXPECT_FALSE(j["PhysicalDevices"][1].contains("Health"));
}

// An NVMe disk's power state, where it was read: the state, how many there are, whether it
// serves I/O and its most power, in a row and in the JSON.
TEST(StorageReport, NvmePowerStateWhereItWasRead) {
  struct Records : TKyvex_Storage {
    void Add(const TDeviceInfo& d) { FPhysicalDevices.push_back(d); }
  } storage;
  struct Case {
    TNvmePowerState power;
    const char* row;
  } cases[] = {
      {{true, 0, 5, false, 7600000}, "PS0 of 5, at most 7.6000 W"},
      {{true, 4, 5, true, 7500}, "PS4 of 5, non-operational, at most 0.0075 W"},
      {{true, 2, 3, false, 0}, "PS2 of 3"},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    TDeviceInfo d;
    d.Model = "NVMe disk";
    d.Power = c.power;
    storage.Add(d);
  }
  const auto sections = report::StoragePhysicalSections(storage);
  const auto j = report::StorageJson(storage);
  ASSERT_EQ(sections.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    std::map<std::string, std::string> rows(sections[i].Items.begin(), sections[i].Items.end());
    const auto& device = j["PhysicalDevices"][i];
    if (!cases[i].row) {
      EXPECT_FALSE(rows.count("Power state"));
      EXPECT_FALSE(device.contains("PowerState"));
      continue;
    }
    EXPECT_EQ(rows["Power state"], cases[i].row);
    EXPECT_EQ(device["PowerState"]["State"], cases[i].power.State);
    EXPECT_EQ(device["PowerState"]["States"], cases[i].power.StateCount);
    EXPECT_EQ(device["PowerState"]["NonOperational"], cases[i].power.NonOperational);
    EXPECT_EQ(device["PowerState"]["MaxPowerMicrowatts"], cases[i].power.MaxPowerMicrowatts);
  }
}

}  // namespace
