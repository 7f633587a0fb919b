// The component base, the native-library binding and the main window's behaviour.
#include <gtest/gtest.h>

#include "app/Ana.h"
#include "app/Lib01.h"
#include "common/KSI_Common.h"
#include "common/Kyvex_Native.h"
#include "cpu/KSI_CPU.h"
#include "platform/fake/FakePlatform.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

using namespace kyvex;
using platform::FakePlatform;
using platform::ScopedPlatform;

namespace {

// Counts destructions, to check what an owner frees.
struct Probe : TComponent {
  Probe(TComponent* owner, std::vector<std::string>& log, std::string name)
      : TComponent(owner), log_(log), name_(std::move(name)) {}
  ~Probe() override { log_.push_back(name_); }
  std::vector<std::string>& log_;
  std::string name_;
};

TEST(TComponent, OwnerFreesItsComponentsLastCreatedFirst) {
  std::vector<std::string> log;
  {
    TComponent owner;
    new Probe(&owner, log, "a");
    auto* b = new Probe(&owner, log, "b");
    new Probe(b, log, "b.child");
    auto* c = new Probe(&owner, log, "c");
    EXPECT_EQ(owner.ComponentCount(), 3);
    delete c;  // a component freed early leaves its owner's list
    EXPECT_EQ(owner.ComponentCount(), 2);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "b.child", "a"}));
}

TEST(TKyvex_KSIC_Component, NewComponentIsLiveWithEmptyStorageInfo) {
  TKyvex_CPU cpu;
  EXPECT_TRUE(cpu.LiveData());
  EXPECT_EQ(cpu.StorageInfo(), TStorageInfoRecord{});
  EXPECT_EQ(cpu.StorageFileName(), "");
  EXPECT_EQ(cpu._Refresh(), "Double-click to get data");
  EXPECT_NE(cpu._About().find("10.2.0"), std::string::npos);
  EXPECT_FALSE(cpu.OnDebug());
}

TEST(TKyvex_KSIC_Component, CollectDataCopiesTheStartupVersionRecord) {
  struct Case {
    const char* what;
    std::uint32_t platformId, build;
    bool fails;
    std::int32_t expectedBuild;
  };
  const Case cases[] = {
      {"NT keeps the whole build number", 2, 0x12345678, false, 0x12345678},
      {"9x keeps the low 16 bits", 1, 0x040A08AE, false, 2222},
      {"failed call leaves zeros", 2, 2600, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    fake.version.dwPlatformId = c.platformId;
    fake.version.dwBuildNumber = c.build;
    fake.version.szCSDVersion = " Service Pack 3 ";
    fake.versionFails = c.fails;
    ScopedPlatform use(fake);
    TKyvex_Storage storage;
    storage.CollectData();
    const auto& info = storage.StorageInfo();
    EXPECT_TRUE(storage.LiveData());
    EXPECT_EQ(info.BuildNumber, c.expectedBuild);
    EXPECT_EQ(info.Platform, c.fails ? 0 : static_cast<std::int32_t>(c.platformId));
    EXPECT_EQ(info.MajorVersion, c.fails ? 0 : 5);
    EXPECT_EQ(info.CSDVersion, c.fails ? "" : " Service Pack 3 ") << "taken as reported, not trimmed";
  }
}

TEST(TKyvex_KSIC_Component, CollectDataAfterALoadReplacesOnlyTheVersionFields) {
  FakePlatform fake;
  ScopedPlatform use(fake);
  TKyvex_CPU cpu;
  EXPECT_FALSE(cpu.LoadFromStorageFile("/nonexistent/file.kyx"));
  EXPECT_FALSE(cpu.LiveData());
  EXPECT_EQ(cpu.StorageFileName(), "/nonexistent/file.kyx");
  cpu.CollectData();
  EXPECT_TRUE(cpu.LiveData());
  EXPECT_EQ(cpu.StorageInfo().MajorVersion, 5);
  EXPECT_EQ(cpu.StorageInfo().MachineName, "") << "not a version field";
}

TEST(NativeBinding, BindsOnNtOnlyAndReportsNtQueryObject) {
  FakePlatform fake;
  constexpr platform::Handle kNtdll = 0x7C900000;
  fake.loadableModules["NTDLL.DLL"] = kNtdll;
  fake.exports[kNtdll] = {"NtOpenSection", "NtClose", "NtQueryObject"};
  {
    ScopedPlatform use(fake);
    EXPECT_TRUE(BindNativeAPI());
    EXPECT_TRUE(NativeBinding().LoadedByUs);
    EXPECT_NE(NativeBinding().EntryPoint("NtOpenSection"), nullptr);
    EXPECT_EQ(NativeBinding().EntryPoint("NtDuplicateObject"), nullptr) << "missing export stays empty";
    // Binding again finds the module already loaded: no second load, not ours to free.
    EXPECT_TRUE(BindNativeAPI());
    EXPECT_EQ(fake.loadLibraryCalls, 1);
    EXPECT_FALSE(NativeBinding().LoadedByUs);
    UnbindNativeAPI();
    EXPECT_TRUE(fake.freedModules.empty());
  }
  fake.exports[kNtdll].erase("NtQueryObject");
  {
    ScopedPlatform use(fake);
    EXPECT_FALSE(BindNativeAPI()) << "without NtQueryObject the binding is not usable";
  }
  FakePlatform nine;
  nine.version.dwPlatformId = 1;
  nine.loadableModules = fake.loadableModules;
  ScopedPlatform use(nine);
  EXPECT_FALSE(BindNativeAPI());
  EXPECT_EQ(nine.loadLibraryCalls, 0);
}

TEST(NativeBinding, UnbindFreesWhatItLoadedAndReportsFailure) {
  FakePlatform fake;
  constexpr platform::Handle kNtdll = 0x7C900000;
  fake.loadableModules["NTDLL.DLL"] = kNtdll;
  fake.exports[kNtdll] = {"NtQueryObject"};
  fake.unfreeable.insert(kNtdll);
  ScopedPlatform use(fake);
  ASSERT_TRUE(BindNativeAPI());
  try {
    UnbindNativeAPI();
    FAIL() << "no error raised";
  } catch (const ENativeUnloadError& e) {
    EXPECT_STREQ(e.what(), "Unload Error: NTDLL.DLL - 0x7c900000");
  }
  EXPECT_EQ(NativeBinding().Module, kNtdll) << "the handle stays when the module could not be freed";
  fake.unfreeable.clear();
  UnbindNativeAPI();
  EXPECT_EQ(NativeBinding().Module, platform::kInvalidHandle);
  EXPECT_EQ(fake.freedModules, std::vector<platform::Handle>{kNtdll});
}

TEST(TurkishUpCase, ByteTable) {
  const std::pair<int, int> cases[] = {{'i', 221}, {231, 199}, {240, 208}, {246, 214}, {252, 220}, {253, 'I'},
                                       {254, 222}, {'a', 'A'}, {'z', 'Z'}, {'h', 'H'}, {'I', 'I'}, {233, 233},
                                       {'1', '1'}, {221, 221}, {0, 0}, {255, 255}};
  for (auto [typed, result] : cases)
    EXPECT_EQ(TurkishUpCase(static_cast<unsigned char>(typed)), result) << typed;
}

TEST(TurkishUpCase, TypedCharacters) {
  EXPECT_EQ(TurkishUpCaseChar(U'ı'), U'I');
  EXPECT_EQ(TurkishUpCaseChar(U'i'), U'İ');
  EXPECT_EQ(TurkishUpCaseChar(U'ş'), U'Ş');
  EXPECT_EQ(TurkishUpCaseChar(U'ğ'), U'Ğ');
  EXPECT_EQ(TurkishUpCaseChar(U'é'), U'é');
  EXPECT_EQ(TurkishUpCaseChar(U'ж'), U'ж') << "not in the Turkish code page";
  EXPECT_EQ(TurkishUpCaseChar(U'q'), U'Q');
}

class RecordingView : public TMainFormView {
 public:
  void SetCaption(const std::string& c) override { caption = c; }
  void SetActivePage(int p) override { pages.push_back(p); }
  void CloseWindow() override { ++closes; }
  void ComponentRefreshed(TKyvex_KSIC_Component& c) override {
    refreshed.push_back(c.Name() + (c.LiveData() ? ":live" : ":stale"));
  }
  void ComponentNotLoaded(TKyvex_KSIC_Component& c, const std::string&) override {
    refreshed.push_back(c.Name() + ":not loaded");
  }
  void ShowFileData(const std::string&, const TStorageInfoRecord&) override { refreshed.push_back("file data"); }
  void ShowLiveData() override { ++liveShows; }
  int liveShows = 0;
  std::string caption;
  std::vector<int> pages;
  std::vector<std::string> refreshed;
  int closes = 0;
};

TEST(TMainForm, CaptionWithAndWithoutVersion) {
  RecordingView view;
  TMainForm form(view, "2.0.0.2");
  form.FormCreate();
  EXPECT_EQ(view.caption, "Vorlan Install .:: Sürüm 2.0.0.2 ::.");
  RecordingView bare;
  TMainForm unversioned(bare, "");
  unversioned.FormCreate();
  EXPECT_EQ(bare.caption, "Vorlan Install .:: Sürüm  ::.");
}

TEST(TMainForm, ShowRefreshesStorageThenSmbiosThenProcessorEveryTime) {
  FakePlatform fake;
  ScopedPlatform use(fake);
  RecordingView view;
  TMainForm form(view, "");
  EXPECT_TRUE(form.Kyvex_SMBIOS1->ReadLocalMemory());
  EXPECT_EQ(form.ComponentCount(), 3);
  form.JvItemsPanel1ItemClick(3);
  form.FormShow();
  form.FormShow();
  EXPECT_EQ(form.ActivePage(), 0);
  const std::vector<std::string> once = {"Kyvex_Storage1:live", "Kyvex_SMBIOS1:live", "Kyvex_CPU1:live"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(view.refreshed, twice);
}

TEST(TMainForm, NavigationHelpAndClose) {
  RecordingView view;
  TMainForm form(view, "");
  for (int entry = 0; entry <= 6; ++entry) {
    form.JvItemsPanel1ItemClick(entry);
    EXPECT_EQ(form.ActivePage(), entry);
  }
  form.JvItemsPanel1ItemClick(7);
  EXPECT_EQ(form.ActivePage(), 8) << "the eighth entry shows page 8";
  form.JvFooterBtn1Click();
  EXPECT_EQ(form.ActivePage(), 7) << "help";
  for (int outside : {-1, 8, 100}) {
    form.JvItemsPanel1ItemClick(outside);
    EXPECT_EQ(form.ActivePage(), 7) << outside;
  }
  EXPECT_EQ(view.closes, 0);
  form.JvFooterBtn3Click();
  EXPECT_EQ(view.closes, 1);
  char32_t key = U'ı';
  form.FormKeyPress(key);
  EXPECT_EQ(key, U'I');
  // The file name field keeps what was typed: a path must name the file the user means.
  for (char32_t typed : {U'i', U'ı', U'a', U'/', U'ş'}) {
    char32_t into = typed;
    form.FormKeyPress(into, TMainForm::TKeyTarget::FileName);
    EXPECT_EQ(into, typed);
    form.FormKeyPress(into, TMainForm::TKeyTarget::Other);
    EXPECT_EQ(into, TurkishUpCaseChar(typed));
  }
}

}  // namespace
