// The three components in one storage file: saved in any order, each one's storage stays as it
// was when another is saved again, every component loads its own, and the header follows the
// latest save.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cpu/KSI_CPU.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "unit/StorageFileDump.h"
#include "unit/cpu/CpuTestSupport.h"
#include "unit/smbios/SmbiosTables.h"
#include "unit/storage/StorageTestSupport.h"
#include "unit/TestFolders.h"

using namespace kyvex;
using namespace kyvex::filedump;
namespace devio = kyvex::platform::devio;
using platform::FakePlatform;
using platform::ScopedPlatform;
namespace fs = std::filesystem;

namespace {

// Every element and every value below `path`, depth first.
void Collect(const std::string& file, const Path& path, std::vector<std::string>& out) {
  for (const auto& name : Elements(file, path)) {
    Path child = path;
    child.push_back(name);
    std::string shown;
    for (const auto& part : child) shown += "/" + part;
    out.push_back(shown);
    if (name == "\x05" "DocumentSummaryInformation") {
      for (const auto& p : Properties(file, path)) out.push_back(shown + " " + p);
    } else if (name.front() != '\x05') {
      Collect(file, child, out);
    }
  }
}

std::vector<std::string> Subtree(const std::string& file, const std::string& name) {
  std::vector<std::string> out;
  Collect(file, {name}, out);
  return out;
}

class SharedStorageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kyvex::testing::TestFolder("kyvex-shared-");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "machine.kyx").string();
    fake_.computerName = "werkbank";
    fake_.processor.tscMHz = 2994;
    cputest::LoadDump(fake_, "AuthenticAMD0A10F11_EPYC_2cpus_CPUID.txt");
    // One SATA disk.
    auto& dev = fake_.devices;
    const std::string pd0 = "\\\\.\\PhysicalDrive0";
    dev.PassThroughReply(pd0, 0x12, std::nullopt, storage_test::Inquiry(0, "ATA", "WDC WD5000AAKS-0", "1C01"));
    dev.Reply(pd0, devio::kStorageQueryProperty,
              storage_test::Property("ATA", "WDC WD5000AAKS-00TMA0", "12.01C01", "WD-WCAPW1234567", devio::kBusSata));
    dev.Reply(pd0, devio::kDiskGetDriveGeometry, storage_test::Geometry(60801));
    dev.Reply(pd0, devio::kStorageGetMediaTypesEx, storage_test::DiskMediaTypes());
    Use();
  }
  void TearDown() override {
    use_.reset();
    fs::remove_all(dir_);
  }
  // The platform's snapshot (the machine name in the header) is taken when it is set.
  void Use() {
    use_.reset();
    use_ = std::make_unique<ScopedPlatform>(fake_);
  }
  static void FromDump(TKyvex_SMBIOS& s, const std::string& name) {
    std::string error;
    ASSERT_TRUE(s.LoadDumpImage(smbios_test::ReadFile(smbios_test::DataFile(name)), error)) << error;
    s.CollectData();
  }

  fs::path dir_;
  std::string file_;
  FakePlatform fake_;
  std::unique_ptr<ScopedPlatform> use_;
};

TEST_F(SharedStorageFile, ComponentsShareOneFileInAnyOrderAndEachSaveReplacesOnlyItsOwn) {
  TKyvex_CPU cpu;
  TKyvex_SMBIOS smbios;
  TKyvex_Storage storage;
  FromDump(smbios, "dell-poweredge-8450.bin");
  storage.CollectData();
  ASSERT_EQ(storage.PhysicalCount(), 1u);
  const std::vector<std::function<void()>> saves = {[&] { cpu.SaveToStorageFile(file_); },
                                                    [&] { smbios.SaveToStorageFile(file_); },
                                                    [&] { storage.SaveToStorageFile(file_); }};
  std::vector<std::string> reference[3];
  for (const std::vector<int>& order : {std::vector<int>{0, 1, 2}, {2, 1, 0}, {1, 0, 2}}) {
    SCOPED_TRACE(std::to_string(order[0]) + std::to_string(order[1]) + std::to_string(order[2]));
    fs::remove(file_);
    for (int i : order) saves[static_cast<std::size_t>(i)]();
    EXPECT_EQ(Elements(file_, {}), (std::vector<std::string>{"\x05SummaryInformation", "CPU", "SMBIOS", "Storage"}));
    const char* names[] = {"CPU", "SMBIOS", "Storage"};
    for (int i = 0; i < 3; ++i) {
      const auto tree = Subtree(file_, names[i]);
      EXPECT_GT(tree.size(), 20u) << names[i];
      if (reference[i].empty()) reference[i] = tree;
      EXPECT_EQ(tree, reference[i]) << names[i] << ": the order of the saves changes nothing";
    }
  }

  // SMBIOS again, of another machine, from another computer name: the other two storages are
  // untouched, the header names the latest save's machine.
  fake_.computerName = "laptop";
  Use();
  TKyvex_SMBIOS other;
  FromDump(other, "qemu-kvm-vm.bin");
  other.SaveToStorageFile(file_);
  EXPECT_EQ(Subtree(file_, "CPU"), reference[0]);
  EXPECT_EQ(Subtree(file_, "Storage"), reference[2]);
  EXPECT_NE(Subtree(file_, "SMBIOS"), reference[1]);

  TKyvex_CPU loadedCpu;
  TKyvex_SMBIOS loadedSmbios;
  TKyvex_Storage loadedStorage;
  loadedCpu.SetCPUIndex(1);
  ASSERT_TRUE(loadedCpu.LoadFromStorageFile(file_));
  ASSERT_TRUE(loadedSmbios.LoadFromStorageFile(file_));
  ASSERT_TRUE(loadedStorage.LoadFromStorageFile(file_));
  EXPECT_EQ(loadedCpu.APICID(), cpu.APICID()) << "the processor the first save ended on";
  EXPECT_EQ(loadedSmbios.SystemModel(), other.SystemModel());
  EXPECT_NE(loadedSmbios.SystemModel(), smbios.SystemModel());
  EXPECT_EQ(loadedStorage.PhysicalDevices().at(0).SerialNumber, "WD-WCAPW1234567");
  for (const TKyvex_KSIC_Component* c : {static_cast<TKyvex_KSIC_Component*>(&loadedCpu),
                                         static_cast<TKyvex_KSIC_Component*>(&loadedSmbios),
                                         static_cast<TKyvex_KSIC_Component*>(&loadedStorage)}) {
    EXPECT_EQ(c->StorageInfo().MachineName, "LAPTOP");
    EXPECT_FALSE(c->LiveData());
  }
}

}  // namespace
