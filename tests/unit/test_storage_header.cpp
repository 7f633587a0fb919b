// The summary header every storage file carries, and the steps each component's own storage
// goes through.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "common/KSI_Common.h"
#include "common/Kyvex_SS.h"
#include "platform/Text.h"
#include "platform/fake/FakePlatform.h"
#include "unit/TestFolders.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::RegRoot;
using platform::ScopedPlatform;
namespace fs = std::filesystem;

namespace {

// A component with one value in a storage of its own, to exercise the contract.
class TNoteComponent : public TKyvex_KSIC_Component {
 public:
  TNoteComponent(std::string storageName, std::string note) : storageName_(std::move(storageName)), note_(std::move(note)) {}
  void SaveToStorageFile(const std::string& FileName) override {
    TKyvex_KSIC_Component::SaveToStorageFile(FileName);
    SaveComponentStorage(FileName, storageName_, [&](TStructuredSTorage& s) {
      auto set = s.OpenPropertySet(FMTID_DocSummaryInformation, 0x12, true);
      WriteStringProperty(set->PropertyStorage(), "Note", note_);
    });
  }
  bool LoadFromStorageFile(const std::string& FileName) override {
    const bool isFile = TKyvex_KSIC_Component::LoadFromStorageFile(FileName);
    note_.clear();
    const bool held = LoadComponentStorage(FileName, storageName_, [&](TStructuredSTorage& s) {
      auto set = s.OpenPropertySet(FMTID_DocSummaryInformation, 0x10, false);
      note_ = ReadStringProperty(set ? set->PropertyStorage() : nullptr, "Note");
    });
    return isFile && held;
  }
  std::string storageName_, note_;
};

class StorageHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kyvex::testing::TestFolder("kyvex-header-");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "machine.kyx").string();
    fake_.computerName = "Bilgisayar-7";
    fake_.userName = "ayşe";
    fake_.version.dwBuildNumber = 0x0A280A28;  // more than 16 bits
    fake_.version.szCSDVersion = " Service Pack 3 ";
    fake_.groupSids = std::vector<std::vector<std::uint8_t>>{platform::SidAdministrators()};
    fake_.vmwareReply = platform::X86Registers{6, 0x564D5868, 0, 0};
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Every value of the summary set, by id, with the names of the named ones.
  std::map<std::uint32_t, std::pair<std::string, ole::PROPVARIANT>> Dump() {
    std::shared_ptr<ole::IStorage> root;
    EXPECT_EQ(ole::StgOpenStorage(file_, nullptr, 0x10, nullptr, 0, &root), ole::S_OK);
    std::shared_ptr<ole::IPropertySetStorage> sets;
    EXPECT_EQ(root->QueryPropertySetStorage(&sets), ole::S_OK);
    std::shared_ptr<ole::IPropertyStorage> set;
    EXPECT_EQ(sets->Open(ole::FMTID_SummaryInformation, 0x10, &set), ole::S_OK);
    std::vector<ole::STATPROPSTG> props;
    EXPECT_EQ(set->Enum(&props), ole::S_OK);
    std::map<std::uint32_t, std::pair<std::string, ole::PROPVARIANT>> out;
    for (const auto& prop : props) {
      ole::PROPSPEC spec;
      spec.ulKind = ole::PRSPEC_PROPID;
      spec.propid = prop.propid;
      ole::PROPVARIANT value;
      set->ReadMultiple(1, &spec, &value);
      out[prop.propid] = {text::Utf16ToUtf8(prop.lpwstrName), value};
    }
    return out;
  }

  fs::path dir_;
  std::string file_;
  FakePlatform fake_;
};

TEST_F(StorageHeader, AllSixteenValuesSurviveWithTheirIdsAndKinds) {
  ScopedPlatform use(fake_);
  TKyvex_KSIC_Component component;
  component.SaveToStorageFile(file_);
  const auto values = Dump();
  ASSERT_EQ(values.size(), 16u);
  // The standard ids carry the strings of the header; the named values get ids from 2 up,
  // the lowest free one, so none of them takes 19 before the security text is written.
  const std::map<std::uint32_t, std::string> standard = {
      {2, "Kyvex System Information Storage File"},
      {18, "Kyvex System Information Component Suite 10.2.0"},
      {4, StorageFileAuthor()},
      {5, "Windows XP Professional"},
      {3, "BILGISAYAR-7"},
      {19, "Admin"}};
  for (const auto& [id, expected] : standard) {
    ASSERT_TRUE(values.count(id)) << id;
    EXPECT_EQ(values.at(id).second.vt, ole::VT_LPWSTR) << id;
    EXPECT_EQ(text::Utf16ToUtf8(values.at(id).second.pwszVal), expected) << id;
  }
  EXPECT_EQ(values.at(12).second.vt, ole::VT_FILETIME);
  std::map<std::string, std::uint32_t> named;
  for (const auto& [id, entry] : values)
    if (!entry.first.empty()) named[entry.first] = id;
  const std::map<std::string, std::uint32_t> expectedIds = {
      {"OS.LoggedUser", 6}, {"OS.Account", 7},  {"OS.Platform", 8}, {"OS.MajorVersion", 9}, {"OS.MinorVersion", 10},
      {"OS.BuildNumber", 11}, {"OS.CSD", 13}, {"VMWare", 14}, {"VPC", 15}};
  EXPECT_EQ(named, expectedIds);
  EXPECT_EQ(values.at(11).second.vt, ole::VT_I8);
  EXPECT_EQ(values.at(11).second.hVal, 0x0A28) << "at most 16 bits";
  EXPECT_EQ(text::Utf16ToUtf8(values.at(13).second.pwszVal), "Service Pack 3") << "trimmed";
}

TEST_F(StorageHeader, LoadReadsBackWhatTheMachineSaved) {
  fake_.SetRegistryString(RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                          "AltDefaultUserName", "mehmet");
  {
    ScopedPlatform use(fake_);
    TKyvex_KSIC_Component saver;
    saver.SaveToStorageFile(file_);
  }
  FakePlatform other;  // the loading machine does not matter
  ScopedPlatform use(other);
  TKyvex_KSIC_Component loader;
  ASSERT_TRUE(loader.LoadFromStorageFile(file_));
  EXPECT_FALSE(loader.LiveData());
  EXPECT_EQ(loader.StorageFileName(), file_);
  const TStorageInfoRecord& info = loader.StorageInfo();
  EXPECT_EQ(info.MachineName, "BILGISAYAR-7");
  EXPECT_EQ(info.Application, "Kyvex System Information Component Suite 10.2.0");
  EXPECT_EQ(info.OSName, "Windows XP Professional");
  EXPECT_EQ(info.Platform, 2);
  EXPECT_EQ(info.MajorVersion, 5);
  EXPECT_EQ(info.MinorVersion, 1);
  EXPECT_EQ(info.BuildNumber, 0x0A28);
  EXPECT_EQ(info.CSDVersion, "Service Pack 3");
  EXPECT_EQ(info.AccountType, "Admin");
  EXPECT_EQ(info.LoggedUser, "mehmet") << "the default logon user comes first";
  EXPECT_EQ(info.Account, "ayşe");
  EXPECT_TRUE(info.VMWare);
  EXPECT_FALSE(info.VPC);
  // 2026-12-10 14:30:15.250 local time, stored without a time-zone step.
  EXPECT_NEAR(info.CreationTime, 46366 + (14 * 3600 + 30 * 60 + 15.25) / 86400.0, 1e-9);
}

TEST_F(StorageHeader, OnlyTheValueOneCountsAsTrue) {
  {
    ScopedPlatform use(fake_);
    TKyvex_KSIC_Component saver;
    saver.SaveToStorageFile(file_);
  }
  {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgOpenStorage(file_, nullptr, 0x12, nullptr, 0, &root), ole::S_OK);
    TStructuredSTorage wrapper(nullptr, root);
    auto set = wrapper.OpenPropertySet(FMTID_SummaryInformation, 0x12, false);
    WriteIntegerProperty(set->PropertyStorage(), "VMWare", 2);
    WriteIntegerProperty(set->PropertyStorage(), "VPC", 1);
    set.reset();
    wrapper.Commit();
  }
  TKyvex_KSIC_Component loader;
  ASSERT_TRUE(loader.LoadFromStorageFile(file_));
  EXPECT_FALSE(loader.StorageInfo().VMWare);
  EXPECT_TRUE(loader.StorageInfo().VPC);
}

TEST_F(StorageHeader, NotAStorageFile) {
  {
    std::ofstream(file_) << "plain text\n";
  }
  ScopedPlatform use(fake_);
  TKyvex_KSIC_Component component;
  component.CollectData();
  const TStorageInfoRecord before = component.StorageInfo();
  EXPECT_FALSE(component.LoadFromStorageFile(file_));
  EXPECT_FALSE(component.LiveData());
  EXPECT_EQ(component.StorageFileName(), file_);
  EXPECT_EQ(component.StorageInfo(), before);
  EXPECT_FALSE(component.LoadFromStorageFile((dir_ / "absent.kyx").string()));

  // Saving over it replaces it with a storage file.
  component.SaveToStorageFile(file_);
  EXPECT_EQ(ole::StgIsStorageFile(file_), ole::S_OK);
}

TEST_F(StorageHeader, StorageFileWithoutTheSummarySetLoadsEmptyValues) {
  {
    std::shared_ptr<ole::IStorage> root;
    ASSERT_EQ(ole::StgCreateDocfile(file_, 0x1012, 0, &root), ole::S_OK);
    std::shared_ptr<ole::IStorage> child;
    ASSERT_EQ(root->CreateStorage(u"Other", 0x1012, 0, 0, &child), ole::S_OK);
    child.reset();
    ASSERT_EQ(root->Commit(0), ole::S_OK);
  }
  TKyvex_KSIC_Component component;
  ASSERT_TRUE(component.LoadFromStorageFile(file_));
  EXPECT_EQ(component.StorageInfo(), TStorageInfoRecord{});
}

TEST_F(StorageHeader, ComponentsShareOneFileAndReplaceOnlyTheirOwnStorage) {
  ScopedPlatform use(fake_);
  TNoteComponent cpu("CPU", "first");
  TNoteComponent storage("Storage", "disks");
  cpu.SaveToStorageFile(file_);
  storage.SaveToStorageFile(file_);
  cpu.note_ = "second";
  fake_.localTime.wYear = 2027;
  cpu.SaveToStorageFile(file_);

  TNoteComponent cpuBack("CPU", "");
  TNoteComponent storageBack("Storage", "");
  TNoteComponent absent("SMBIOS", "");
  EXPECT_TRUE(cpuBack.LoadFromStorageFile(file_));
  EXPECT_TRUE(storageBack.LoadFromStorageFile(file_));
  EXPECT_FALSE(absent.LoadFromStorageFile(file_)) << "nothing of it in the file";
  EXPECT_FALSE(absent.LiveData());
  EXPECT_EQ(cpuBack.note_, "second");
  EXPECT_EQ(storageBack.note_, "disks");
  EXPECT_GT(cpuBack.StorageInfo().CreationTime, 46700) << "the header was refreshed by the last save";

  // One header and the two storages, nothing else.
  std::shared_ptr<ole::IStorage> root;
  ASSERT_EQ(ole::StgOpenStorage(file_, nullptr, 0x10, nullptr, 0, &root), ole::S_OK);
  std::shared_ptr<ole::IEnumSTATSTG> e;
  ASSERT_EQ(root->EnumElements(0, nullptr, 0, &e), ole::S_OK);
  std::vector<std::string> names;
  ole::STATSTG entry;
  ole::ULONG fetched = 0;
  while (e->Next(1, &entry, &fetched) == ole::S_OK && fetched == 1) names.push_back(text::Utf16ToUtf8(entry.pwcsName));
  EXPECT_EQ(names, (std::vector<std::string>{"CPU", "Storage", "\x05SummaryInformation"}));
}

TEST_F(StorageHeader, SavingLoadedDataWritesTheSavingMachine) {
  ScopedPlatform use(fake_);
  TNoteComponent component("CPU", "x");
  component.SaveToStorageFile(file_);
  ASSERT_TRUE(component.LoadFromStorageFile(file_));
  fake_.computerName = "another-pc";
  ScopedPlatform other(fake_);  // the snapshot is taken anew
  const std::string second = (dir_ / "second.kyx").string();
  component.SaveToStorageFile(second);
  TKyvex_KSIC_Component reader;
  ASSERT_TRUE(reader.LoadFromStorageFile(second));
  EXPECT_EQ(reader.StorageInfo().MachineName, "ANOTHER-PC");
}

TEST(SystemTimeToDateTime, Cases) {
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime({1899, 12, 0, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime({1900, 1, 0, 1, 12, 0, 0, 0}), 2.5);
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime({2000, 2, 0, 29, 0, 0, 0, 0}), 36585.0);
  EXPECT_DOUBLE_EQ(SystemTimeToDateTime({1899, 12, 0, 29, 6, 0, 0, 0}), -1.0 + 0.25);
}

TEST(FormatDateTime, Cases) {
  using kyvex::FormatDateTime;
  EXPECT_EQ(FormatDateTime(0), "");
  EXPECT_EQ(FormatDateTime(2.5), "1900-01-01 12:00:00");
  EXPECT_EQ(FormatDateTime(36585.75), "2000-02-29 18:00:00");
  EXPECT_EQ(FormatDateTime(46366 + (14 * 3600 + 30 * 60 + 15.25) / 86400.0), "2026-12-10 14:30:15");
  EXPECT_EQ(FormatDateTime(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(FormatDateTime(1.0 / 0.0), "");
}
}  // namespace
