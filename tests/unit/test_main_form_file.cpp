// The main window's file page, apart from any toolkit: what "Kaydet" writes, what "Yükle"
// shows and tells, and that a file which offers nothing leaves the window as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/Ana.h"
#include "report/HeaderReport.h"
#include "common/Kyvex_SS.h"
#include "cpu/KSI_CPU.h"
#include "platform/fake/FakePlatform.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "unit/StorageFileDump.h"
#include "unit/compound/CompoundTestSupport.h"
#include "unit/cpu/CpuTestSupport.h"
#include "unit/smbios/SmbiosTables.h"
#ifdef __linux__
#include <filesystem>

#include "report/CaptureArchive.h"
#endif

using namespace kyvex;
using kyvex::testing::TempDir;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

// Everything the window was asked to show, in order, one line each.
class RecordingView : public TMainFormView {
 public:
  void SetCaption(const std::string&) override {}
  void SetActivePage(int) override {}
  void CloseWindow() override {}
  void ComponentRefreshed(TKyvex_KSIC_Component& c) override { events.push_back("refreshed " + c.Name()); }
  void ComponentNotLoaded(TKyvex_KSIC_Component& c, const std::string& reason) override {
    events.push_back("not loaded " + c.Name() + ": " + reason);
  }
  void ShowFileData(const std::string& marker, const TStorageInfoRecord& info) override {
    events.push_back("file data " + marker);
    fileMachine = info.MachineName;
  }
  void ShowLiveData() override { events.push_back("live"); }

  std::vector<std::string> events;
  std::string fileMachine;
};

class TestStorage : public TKyvex_Storage {
 public:
  using TKyvex_Storage::FPhysicalDevices;
};

constexpr const char* kOtherDisk = "KYVEX OTHER DISK";
constexpr const char* kThisProcessor = "Kyvex Test Processor 2.00GHz";

// A file written on another machine: a desktop's SMBIOS data and one disk, no processor.
void WriteOtherMachinesFile(const std::string& file) {
  FakePlatform other;
  other.computerName = "otherbox";
  ScopedPlatform use(other);
  TKyvex_SMBIOS smbios;
  smbios_test::Decode(smbios, smbios_test::DesktopTable(), 2, 3);
  smbios.SaveToStorageFile(file);
  TestStorage storage;
  TDeviceInfo disk;
  disk.Model = kOtherDisk;
  disk.DeviceType = kDeviceTypeDisk;
  disk.Size = 80026361856;
  storage.FPhysicalDevices = {disk};
  storage.SaveToStorageFile(file);
}

void WriteBytes(const std::string& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

bool Exists(const std::string& file) { return std::ifstream(file).good(); }

class MainFormFile : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::FakeCpu& cpu = fake_.processor.cpus.at(0);
    cpu.Set(0, cputest::VendorLeaf("GenuineIntel", 1));
    cpu.Set(0x80000000, {0x80000004, 0, 0, 0});
    cputest::SetBrandString(cpu, kThisProcessor);
    form_.FormShow();
    view_.events.clear();
  }

  // The window showing the other machine's file, as a user would have it before a bad load.
  void ShowOtherMachinesFile() {
    WriteOtherMachinesFile(other_);
    ASSERT_TRUE(form_.LoadDataFromFile(other_).Succeeded);
    ASSERT_EQ(form_.Kyvex_SMBIOS1->BIOSVendor(), "Award Software");
    view_.events.clear();
  }

  std::vector<bool> LiveFlags() const {
    return {form_.Kyvex_Storage1->LiveData(), form_.Kyvex_SMBIOS1->LiveData(), form_.Kyvex_CPU1->LiveData()};
  }

  FakePlatform fake_;
  ScopedPlatform use_{fake_};
  TempDir dir_;
  RecordingView view_;
  TMainForm form_{view_, "2.0.0.2"};
  std::string file_ = dir_.File("machine.kyx");
  std::string other_ = dir_.File("other.kyx");
};

TEST_F(MainFormFile, BlankNameAsksForOneAndTouchesNothing) {
  for (const std::string name : {"", "   "}) {
    for (const auto& result : {form_.SaveDataToFile(name), form_.LoadDataFromFile(name)}) {
      EXPECT_FALSE(result.Succeeded) << "[" << name << "]";
      EXPECT_NE(result.Message.find("dosya adı"), std::string::npos) << result.Message;
    }
  }
  EXPECT_TRUE(view_.events.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
  EXPECT_EQ(LiveFlags(), std::vector<bool>({true, true, true}));
}

TEST_F(MainFormFile, SaveWritesAllThreePartsBesideOneHeader) {
  const auto result = form_.SaveDataToFile(file_);
  EXPECT_TRUE(result.Succeeded);
  EXPECT_EQ(result.Message, "Kaydedildi: " + file_);
  const std::vector<std::string> parts = {"\005SummaryInformation", "CPU", "SMBIOS", "Storage"};
  EXPECT_EQ(filedump::Elements(file_, {}), parts);
  // Saving again over the same file replaces the parts instead of adding to them.
  EXPECT_TRUE(form_.SaveDataToFile(file_).Succeeded);
  EXPECT_EQ(filedump::Elements(file_, {}), parts);
  TKyvex_KSIC_Component header;
  ASSERT_TRUE(header.LoadFromStorageFile(file_));
  EXPECT_EQ(header.StorageInfo().MachineName, "FAKEHOST");
  EXPECT_TRUE(view_.events.empty()) << "a save of live data changes nothing on the pages";
  EXPECT_FALSE(form_.ShowingFileData());
}

TEST_F(MainFormFile, SaveLeavesTheProcessorComponentOnTheProcessorThePagesShow) {
  platform::FakeCpu second = fake_.processor.cpus.at(0);
  cputest::SetBrandString(second, "Kyvex Second Processor");
  fake_.processor.cpus.push_back(second);
  form_.FormShow();
  ASSERT_EQ(form_.Kyvex_CPU1->CPUIndex(), 0);
  view_.events.clear();

  ASSERT_TRUE(form_.SaveDataToFile(file_).Succeeded);
  EXPECT_EQ(form_.Kyvex_CPU1->CPUIndex(), 0);
  EXPECT_EQ(form_.Kyvex_CPU1->MarketingName(), kThisProcessor) << "the data of the shown processor, too";
  EXPECT_TRUE(form_.Kyvex_CPU1->LiveData());
  EXPECT_TRUE(view_.events.empty());
  // Both processors went into the file.
  TKyvex_CPU reader(nullptr);
  reader.SetCPUIndex(1);
  ASSERT_TRUE(reader.LoadFromStorageFile(file_));
  EXPECT_EQ(reader.MarketingName(), "Kyvex Second Processor");
}

TEST_F(MainFormFile, SavedFileLoadsBackWithEveryPart) {
  ASSERT_TRUE(form_.SaveDataToFile(file_).Succeeded);
  RecordingView view;
  TMainForm loader(view, "2.0.0.2");
  const auto result = loader.LoadDataFromFile(file_);
  EXPECT_TRUE(result.Succeeded);
  EXPECT_EQ(result.Message, "Yüklendi: " + file_);
  const std::vector<std::string> expected = {"refreshed Kyvex_Storage1", "refreshed Kyvex_SMBIOS1",
                                             "refreshed Kyvex_CPU1",
                                             "file data " + FileDataMarkerText(loader.Kyvex_CPU1->StorageInfo())};
  EXPECT_EQ(view.events, expected);
  EXPECT_EQ(view.fileMachine, "FAKEHOST");
  EXPECT_EQ(loader.Kyvex_CPU1->Vendor(), cvIntel);
  EXPECT_EQ(loader.Kyvex_CPU1->MarketingName(), kThisProcessor);
}

TEST_F(MainFormFile, LoadShowsTheFilesDataMarkedUntilTheWindowIsShownAgain) {
  WriteOtherMachinesFile(other_);
  const auto result = form_.LoadDataFromFile(other_);
  EXPECT_TRUE(result.Succeeded);
  EXPECT_EQ(result.Message, "Yüklendi: " + other_ + " — dosyada yok: İşlemci");
  EXPECT_EQ(form_.Kyvex_SMBIOS1->BIOSVendor(), "Award Software");
  ASSERT_EQ(form_.Kyvex_Storage1->PhysicalCount(), 1);
  TDeviceInfo disk;
  form_.Kyvex_Storage1->GetPhysicalDevice(0, disk);
  EXPECT_EQ(disk.Model, kOtherDisk);
  EXPECT_EQ(LiveFlags(), std::vector<bool>({false, false, false})) << "the processor too: nothing is live";
  // The processor page must not go on showing this machine's processor as the file's.
  const std::vector<std::string> expected = {
      "refreshed Kyvex_Storage1", "refreshed Kyvex_SMBIOS1",
      "not loaded Kyvex_CPU1: Yüklenen dosyada bu bölümün bilgisi yok.",
      "file data Dosyadan: OTHERBOX, " + FormatDateTime(form_.Kyvex_SMBIOS1->StorageInfo().CreationTime) +
          " — canlı veri değil"};
  EXPECT_EQ(view_.events, expected);
  EXPECT_TRUE(form_.ShowingFileData());
  EXPECT_EQ(form_.FileDataMarker(), expected.back().substr(10));

  view_.events.clear();
  form_.FormShow();
  EXPECT_FALSE(form_.ShowingFileData());
  ASSERT_FALSE(view_.events.empty());
  EXPECT_EQ(view_.events.back(), "live");
  EXPECT_EQ(LiveFlags(), std::vector<bool>({true, true, true}));
  EXPECT_EQ(form_.Kyvex_SMBIOS1->BIOSVendor(), "") << "this fake machine has no firmware tables";
  EXPECT_EQ(form_.Kyvex_Storage1->PhysicalCount(), 0);
}

TEST_F(MainFormFile, FilesThatOfferNothingLeaveTheWindowAsItWas) {
  ShowOtherMachinesFile();
  const std::string marker = form_.FileDataMarker();

  const std::string garbage = dir_.File("garbage.kyx");
  WriteBytes(garbage, std::string("\x13\x37 not a compound file \xD0\xCF", 25) + std::string(600, 'x'));
  const std::string empty = dir_.File("empty.kyx");
  WriteBytes(empty, "");
  const std::string headerOnly = dir_.File("header.kyx");
  TKyvex_KSIC_Component().SaveToStorageFile(headerOnly);
  // A compound file whose sectors are missing: it looks like one until it is opened.
  const std::string truncated = dir_.File("truncated.kyx");
  {
    std::ifstream in(other_, std::ios::binary);
    std::string head(512, '\0');
    in.read(head.data(), 512);
    WriteBytes(truncated, head);
  }
  const std::string inUse = dir_.File("in-use.kyx");
  WriteOtherMachinesFile(inUse);
  std::shared_ptr<ole::IStorage> holder;
  ASSERT_EQ(ole::StgOpenStorage(inUse, nullptr, 0x12, nullptr, 0, &holder), ole::S_OK);

  struct Case {
    std::string file;
    std::string message;  // what the status starts with
  };
  for (const Case& c : {Case{dir_.File("absent.kyx"), "Dosya bulunamadı: "},
                        Case{dir_.File("no-such-folder/x.kyx"), "Dosya bulunamadı: "},
                        Case{garbage, "Bu bir depolama dosyası değil: "},
                        Case{empty, "Bu bir depolama dosyası değil: "},
                        Case{headerOnly, "Dosyada yüklenecek bilgi yok: "},
                        Case{truncated, "Yüklenemedi: "},
                        Case{inUse, "Yüklenemedi: "}}) {
    const auto result = form_.LoadDataFromFile(c.file);
    EXPECT_FALSE(result.Succeeded) << c.file;
    EXPECT_EQ(result.Message.rfind(c.message + c.file, 0), 0u) << result.Message;
    EXPECT_TRUE(view_.events.empty()) << c.file;
    EXPECT_EQ(form_.FileDataMarker(), marker) << c.file;
    EXPECT_EQ(form_.Kyvex_SMBIOS1->BIOSVendor(), "Award Software") << c.file;
    EXPECT_EQ(form_.Kyvex_Storage1->PhysicalCount(), 1) << c.file;
    EXPECT_EQ(form_.Kyvex_Storage1->StorageFileName(), other_) << "not even asked to load " << c.file;
  }
  // The container's own words reach the status: the file is in use.
  const auto result = form_.LoadDataFromFile(inUse);
  EXPECT_NE(result.Message.find("0x80030020"), std::string::npos) << result.Message;
}

TEST_F(MainFormFile, SaveWhileShowingAFileCollectsThisMachineFirst) {
  ShowOtherMachinesFile();
  const auto result = form_.SaveDataToFile(file_);
  EXPECT_TRUE(result.Succeeded);
  EXPECT_EQ(result.Message, "Kaydedildi: " + file_ + " (canlı veriler yeniden toplandı)");
  EXPECT_FALSE(form_.ShowingFileData());
  ASSERT_FALSE(view_.events.empty());
  EXPECT_EQ(view_.events.back(), "live");
  // The file pairs this machine's header with this machine's data, not the other one's.
  TestStorage storage;
  ASSERT_TRUE(storage.LoadFromStorageFile(file_));
  EXPECT_EQ(storage.PhysicalCount(), 0);
  EXPECT_EQ(storage.StorageInfo().MachineName, "FAKEHOST");
  TKyvex_SMBIOS smbios;
  ASSERT_TRUE(smbios.LoadFromStorageFile(file_));
  EXPECT_EQ(smbios.BIOSVendor(), "");
}

TEST_F(MainFormFile, SaveThatCannotWriteSaysWhy) {
  WriteOtherMachinesFile(other_);
  std::shared_ptr<ole::IStorage> holder;
  ASSERT_EQ(ole::StgOpenStorage(other_, nullptr, 0x12, nullptr, 0, &holder), ole::S_OK);
  for (const std::string& file : {other_, dir_.File("no-such-folder/x.kyx")}) {
    const auto result = form_.SaveDataToFile(file);
    EXPECT_FALSE(result.Succeeded) << file;
    EXPECT_EQ(result.Message.rfind("Kaydedilemedi: " + file + " — ", 0), 0u) << result.Message;
    EXPECT_GT(result.Message.size(), ("Kaydedilemedi: " + file + " — ").size()) << "with the container's reason";
  }
  EXPECT_FALSE(Exists(dir_.File("no-such-folder/x.kyx")));
  EXPECT_EQ(LiveFlags(), std::vector<bool>({true, true, true}));
}

TEST_F(MainFormFile, SaveNeverReplacesAFileThatIsNoStorageFile) {
  const std::string notes = dir_.File("notes.txt");
  std::ofstream(notes, std::ios::binary) << "my notes\n";
  const auto result = form_.SaveDataToFile(notes);
  EXPECT_FALSE(result.Succeeded);
  EXPECT_EQ(result.Message, "Kaydedilmedi: " + notes + " bir depolama dosyası değil; üzerine yazılmaz.");
  std::ifstream in(notes, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "my notes\n");
}

#ifdef __linux__
// A machine recorded by `kyvex capture` opens as a storage file does, from its folder or its
// archive: every page shows the recorded machine, marked as such, and nothing of this one.
TEST_F(MainFormFile, CaptureShowsTheRecordedMachineMarkedAsNotLive) {
  const std::string vm = std::string(KYVEX_SOURCE_DIR) + "/tests/data/capture/vm";
  const std::string archive = dir_.File("vm.tar.gz");
  std::string error;
  ASSERT_TRUE(capture::WriteCaptureArchive(vm, archive, error)) << error;
  const std::string liveVendor = form_.Kyvex_CPU1->VendorID();
  ASSERT_NE(liveVendor, "AuthenticAMD");
  for (const std::string& path : {vm, archive}) {
    SCOPED_TRACE(path);
    view_.events.clear();
    const auto result = form_.LoadDataFromFile(path);
    EXPECT_TRUE(result.Succeeded) << result.Message;
    EXPECT_EQ(result.Message, "Yüklendi: " + path + " (kayıtlı makine)");
    EXPECT_EQ(form_.Kyvex_CPU1->CPUName(), "EPYC");
    EXPECT_EQ(form_.Kyvex_CPU1->VendorID(), "AuthenticAMD");
    ASSERT_EQ(form_.Kyvex_Storage1->PhysicalCount(), 1);
    TDeviceInfo disk;
    form_.Kyvex_Storage1->GetPhysicalDevice(0, disk);
    EXPECT_EQ(disk.Model, "Virtio block device");
    const std::vector<std::string> expected = {"refreshed Kyvex_Storage1", "refreshed Kyvex_SMBIOS1", "refreshed Kyvex_CPU1",
                                               "file data Kayıtlı makine: VM (" + path + ") — canlı veri değil"};
    EXPECT_EQ(view_.events, expected);
    EXPECT_EQ(view_.fileMachine, "VM");
    EXPECT_TRUE(form_.ShowingFileData());
  }
  // Shown again, the window is this machine's once more.
  form_.FormShow();
  EXPECT_FALSE(form_.ShowingFileData());
  EXPECT_EQ(form_.Kyvex_CPU1->VendorID(), liveVendor);
  EXPECT_EQ(form_.Kyvex_Storage1->PhysicalCount(), 0);
}

TEST_F(MainFormFile, CaptureThatCannotBeOpenedLeavesTheWindowAsItWas) {
  ShowOtherMachinesFile();
  const std::string marker = form_.FileDataMarker();
  const std::string notCapture = dir_.File("empty");
  std::filesystem::create_directory(notCapture);
  const std::string cut = dir_.File("cut.tar.gz");
  WriteBytes(cut, std::string("\x1f\x8b\x08\x00", 4));
  for (const std::string& path : {notCapture, cut}) {
    const auto result = form_.LoadDataFromFile(path);
    EXPECT_FALSE(result.Succeeded);
    EXPECT_EQ(result.Message.rfind("Yüklenemedi: " + path + " — ", 0), 0u) << result.Message;
  }
  EXPECT_TRUE(view_.events.empty());
  EXPECT_EQ(form_.FileDataMarker(), marker);
  EXPECT_EQ(form_.Kyvex_SMBIOS1->BIOSVendor(), "Award Software");
}
#endif

TEST(FileDataMarker, NamesTheMachineAndTimeThatAreKnown) {
  const TDateTime written = 46366 + (14 * 3600 + 30 * 60 + 15) / 86400.0;  // 2026-12-10 14:30:15
  struct Case {
    std::string machine;
    TDateTime time;
    std::string marker;
  };
  for (const Case& c : {Case{"BILGISAYAR-7", written, "Dosyadan: BILGISAYAR-7, 2026-12-10 14:30:15 — canlı veri değil"},
                        Case{"", written, "Dosyadan: 2026-12-10 14:30:15 — canlı veri değil"},
                        Case{"BILGISAYAR-7", 0, "Dosyadan: BILGISAYAR-7 — canlı veri değil"},
                        Case{"", 0, "Dosyadan — canlı veri değil"}}) {
    TStorageInfoRecord info;
    info.MachineName = c.machine;
    info.CreationTime = c.time;
    EXPECT_EQ(FileDataMarkerText(info), c.marker);
  }
}

}  // namespace
