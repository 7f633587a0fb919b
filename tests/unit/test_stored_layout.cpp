// The stored layout, byte for byte: one machine (two recorded processors, a recorded SMBIOS
// table, disks with partitions, SMART data and drive letters) saved by all three components
// must give exactly the bytes of tests/data/layout/machine.kyx, which an earlier build wrote.
// Property names, ids, types, order and the container around them cannot change unnoticed.
// The file is re-recorded only when a decoder learns a value it used to leave empty (the
// processors' names, once the table of current processors named them), after checking with
// engine_dump that those values are all that differ.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpu/KSI_CPU.h"
#include "platform/fake/FakePlatform.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "unit/compound/CompoundTestSupport.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

std::string Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Data(const std::string& relative) { return std::string(KYVEX_SOURCE_DIR) + "/tests/data/" + relative; }

class Disks : public TKyvex_Storage {
 public:
  Disks() {
    TDeviceInfo disk;
    disk.Model = "WDC WD5000AAKS-00TMA0";
    disk.Vendor = "WDC";
    disk.Revision = "12.01C01";
    disk.SerialNumber = "WD-WCAPW0493929";
    disk.DeviceType = kDeviceTypeDisk;
    disk.MediaType = 12;
    disk.BusType = 11;
    disk.Size = 500107862016;
    disk.Cylinders = 60801;
    disk.Heads = 255;
    disk.SectorsPerTrack = 63;
    disk.BytesPerSector = 512;
    disk.LocationAvailable = true;
    disk.HaId = 2;
    disk.Target = 1;
    disk.ExtraInfoAvailable = true;
    disk.ATAVersion = 8;
    disk.SMARTSupport = disk.SMARTActive = true;
    disk.Temperature = 38;
    disk.PHYSIndex = -1;
    disk.Geometry = {60801, 12, 255, 63, 512};
    disk.Layout = {{32256, 104857600, 63, 1, 0x07, true, true, false}, {104890368, 499999999488, 204863, 2, 0x83}};
    TSMARTAttribute temperature;
    temperature.Bytes = {194, 0x22, 0, 100, 95, 38, 0, 0, 0, 0, 0, 0};
    disk.SMARTAttributes = {temperature};
    TDeviceInfo dvd;
    dvd.Model = "DVD-RW  DVR-115D";
    dvd.Vendor = "PIONEER";
    dvd.VendorStr = "07/10/23  PIONEER";
    dvd.DeviceType = kDeviceTypeCdRom;
    dvd.Removable = true;
    dvd.Read_CDR = dvd.Read_DVDROM = dvd.Write_CDR = dvd.Write_DVDR = true;
    dvd.PHYSIndex = -1;
    FPhysicalDevices = {disk, dvd};
    TDeviceInfo c = disk;
    c.Drive = 'C';
    c.Device = 'C';
    c.PHYSIndex = 0;
    c.Layout = {disk.Layout[0]};
    TDeviceInfo e = dvd;
    e.Drive = '\xC7';  // a code-page letter
    e.Device = 0xC7;
    e.PHYSIndex = 1;
    // The system's own names are shown, never saved: the file stays the recorded one.
    FPhysicalDevices[0].DevicePath = "/dev/sda";
    c.DevicePath = "/dev/sda1";
    c.MountPoints = {"/", "/mnt/again"};
    c.FileSystem = "ext4";
    FLogicalDevices = {c, e};
  }
};

TEST(StoredLayout, AWholeMachineIsSavedToTheBytesOfTheRecordedFile) {
  FakePlatform fake;
  fake.computerName = "layoutbox";
  std::string error;
  ASSERT_TRUE(fake.processor.LoadCpuidDump(Bytes(Data("cpu/AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt")), error))
      << error;
  fake.processor.tscMHz = 2400;
  ScopedPlatform use(fake);

  kyvex::testing::TempDir dir;
  const std::string file = dir.File("machine.kyx");
  Disks storage;
  storage.SaveToStorageFile(file);
  TKyvex_SMBIOS smbios;
  const std::string table = Bytes(Data("smbios/lenovo-thinkpad-t430.bin"));
  ASSERT_TRUE(smbios.LoadDumpImage(std::vector<std::uint8_t>(table.begin(), table.end()), error)) << error;
  smbios.CollectData();
  smbios.SaveToStorageFile(file);
  TKyvex_CPU cpu;
  cpu.SaveToStorageFile(file);

  const std::string expected = Bytes(Data("layout/machine.kyx"));
  const std::string actual = Bytes(file);
  ASSERT_FALSE(actual.empty());
  if (actual != expected) {
    const auto saved = std::filesystem::temp_directory_path() / "kyvex-layout-actual.kyx";
    std::ofstream(saved, std::ios::binary) << actual;
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    FAIL() << "the saved file differs from the recorded one from byte " << at << " (" << actual.size() << " bytes, "
           << expected.size() << " expected); it is kept as " << saved.string()
           << " - compare the two with tests/interop/engine_dump";
  }
}

}  // namespace
