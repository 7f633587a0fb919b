// The Linux layer on a real block device: tests/integration/storage/loop_device.sh attaches a
// disk image with an MBR partition table to a loop device, mounts its first partition and runs
// these with the device named in the environment. Run any other way, they skip.
#ifdef __linux__

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LinuxPlatform.h"
#include "storage/KSI_Storage.h"

using namespace kyvex;
using platform::LinuxPlatform;
using platform::ScopedPlatform;

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

TEST(LinuxLoopDevice, SizeGeometryLayoutAndExtents) {
  const std::string disk = Env("KYVEX_LOOP_DISK"), partition = Env("KYVEX_LOOP_PARTITION");
  if (disk.empty()) GTEST_SKIP() << "needs a loop device: run tests/integration/storage/loop_device.sh as root";

  LinuxPlatform layer("/");
  auto& dev = layer.Devices();
  platform::SetLinuxDeviceOptions(dev, {true});
  ScopedPlatform scope(layer);

  int number = -1;
  for (int n = 0; n < 256 && number < 0; ++n)
    if (platform::LinuxDeviceNode(dev, "\\\\.\\PhysicalDrive" + std::to_string(n)) == disk) number = n;
  ASSERT_GE(number, 0) << disk << " is not among the physical drives";
  const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(number);

  const Handle h = OpenDevice(path);
  ASSERT_NE(h, platform::kInvalidHandle) << "read-write open of " << disk;
  // 64 MiB without a geometry of its own: Windows' 255 heads of 63 sectors.
  TDiskGeometry g;
  ASSERT_TRUE(GetDriveGeometry(h, g));
  EXPECT_EQ(g.BytesPerSector, 512u);
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  EXPECT_EQ(g.SectorsPerTrack, 63u);
  EXPECT_EQ(g.Cylinders, (64LL << 20) / (255 * 63 * 512));
  EXPECT_EQ(g.MediaType, 12u);

  TDiskLayout layout;
  ASSERT_TRUE(GetDriveLayout(h, layout));
  std::vector<int> types;
  for (const auto& p : layout) types.push_back(p.Typ);
  EXPECT_EQ(types, (std::vector<int>{0x83, 0x0C, 0x05, 0x07, 0x05, 0x82}));
  ASSERT_EQ(layout.size(), 6u);
  EXPECT_EQ(layout[0].StartingOffset, 1LL << 20);
  EXPECT_EQ(layout[0].Length, 16LL << 20);
  EXPECT_EQ(layout[0].Number, 1u);
  EXPECT_TRUE(layout[1].BootIndicator);
  EXPECT_TRUE(layout[1].Recognized);
  EXPECT_EQ(layout[3].Number, 5u);
  EXPECT_EQ(layout[3].Length, 16LL << 20);
  dev.CloseHandle(h);

  TDeviceInfo info;
  ASSERT_TRUE(QueryStorageProperty(path, static_cast<std::uint8_t>(number), info));
  EXPECT_EQ(info.Model, "Loop device");
  EXPECT_EQ(info.BusType, platform::devio::kBusFileBackedVirtual);
  EXPECT_EQ(info.Size, g.Cylinders * 255 * 63 * 512);

  if (partition.empty()) GTEST_SKIP() << "the partition could not be mounted: volume extents not checked";
  char letter = 0;
  for (char c : GetDriveLetters())
    if (platform::LinuxDeviceNode(dev, std::string("\\\\.\\") + c + ":") == partition) letter = c;
  ASSERT_NE(letter, 0) << partition << " has no drive letter";
  const Handle v = dev.CreateFile(std::string("\\\\.\\") + letter + ":", 0, 3, 3, 0);
  TVolumeDiskExtent e;
  ASSERT_TRUE(GetVolumeDiskExtents(v, e));
  dev.CloseHandle(v);
  EXPECT_EQ(e.NumberOfDiskExtents, 1u);
  EXPECT_EQ(e.DiskNumber, static_cast<std::uint32_t>(number));
  EXPECT_EQ(e.StartingOffset, 1LL << 20);
  EXPECT_EQ(e.ExtentLength, 16LL << 20);

  // The whole refresh links the drive to the loop device through its partition.
  TKyvex_Storage storage;
  storage.CollectData();
  bool found = false;
  for (const auto& d : storage.LogicalDevices()) {
    if (d.Drive != letter) continue;
    found = true;
    ASSERT_EQ(d.Layout.size(), 1u);
    EXPECT_EQ(d.Layout[0].StartingOffset, 1LL << 20);
    ASSERT_GE(d.PHYSIndex, 0);
    EXPECT_EQ(storage.PhysicalDevices()[static_cast<std::size_t>(d.PHYSIndex)].Model, "Loop device");
  }
  EXPECT_TRUE(found);
}

}  // namespace

#endif  // __linux__
