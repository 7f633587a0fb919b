// What the command and the window show of a processor, live and loaded from a storage file:
// JSON keys are the component's value names, and what a file does not hold is null for loaded
// data rather than a zero that looks measured.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "report/CpuReport.h"
#include "unit/cpu/CpuTestSupport.h"
#include "unit/TestFolders.h"

using namespace kyvex;
using namespace kyvex::cputest;
using platform::FakePlatform;
using platform::ScopedPlatform;
using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

namespace {

std::set<std::string> KeysOf(const Json& j) {
  std::set<std::string> keys;
  for (const auto& [key, value] : j.items()) keys.insert(key);
  return keys;
}

std::map<std::string, std::string> RowsOf(const report::Section& s) {
  std::map<std::string, std::string> rows;
  for (const auto& [label, value] : s.Items) EXPECT_TRUE(rows.emplace(label, value).second) << "row twice: " << label;
  return rows;
}

class CpuReport : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kyvex::testing::TestFolder("kyvex-cpu-report-");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "machine.kyx").string();
    LoadDump(fake_, "GenuineIntel0000F29_P4_Northwood_CPUID.txt");
    fake_.processor.tscMHz = 2793.5;  // measured 2793 or 2794, shown as 2790
    use_ = std::make_unique<ScopedPlatform>(fake_);
    live_.SaveToStorageFile(file_);  // ends describing processor 0, live
    ASSERT_TRUE(loaded_.LoadFromStorageFile(file_));
  }
  void TearDown() override {
    use_.reset();
    fs::remove_all(dir_);
  }

  fs::path dir_;
  std::string file_;
  FakePlatform fake_;
  std::unique_ptr<ScopedPlatform> use_;
  TKyvex_CPU live_, loaded_;
};

TEST_F(CpuReport, JsonNamesEveryValueAndLeavesWhatAFileDoesNotHoldNull) {
  const Json live = report::CpuJson(live_);
  EXPECT_EQ(live["Vendor"], Json({{"Value", 2}, {"Name", "cvIntel"}, {"Text", "Intel"}}));
  EXPECT_EQ(live["VendorID"], "GenuineIntel");
  EXPECT_EQ(live["Frequency"], 2790);
  EXPECT_EQ(live["FrequencyMeasurement"]["NormalizedFrequency"], 2790);
  EXPECT_NE(live["FrequencyMeasurement"]["RawFrequency"], 2790);
  EXPECT_EQ(live["ExtendedFamily"], 0);
  EXPECT_EQ(live["DisplayFamily"], 15);
  EXPECT_EQ(live["IntelBrand"], Json({{"Value", 2}, {"Names", {"ibPentium"}}}));
  EXPECT_EQ(live["Cache"]["Level2"], Json({{"Size", 512},
                                           {"LineSize", 64},
                                           {"Associativity", {{"Value", 4}, {"Name", "ca8Way"}, {"Text", "8-Way"}}}}));
  EXPECT_EQ(live["Cache"]["Level1"]["Code"]["Associativity"],
            Json({{"Value", 0}, {"Name", "caNone"}, {"Text", "None"}}));
  EXPECT_EQ(live["Cache"]["Trace"]["Size"], 12);
  ASSERT_FALSE(live["Features"]["Standard1"].empty());
  EXPECT_EQ(live["Features"]["Standard1"][0]["Name"], "FPU");
  EXPECT_EQ(live["LiveData"], true);

  // The loaded processor has every key; what the file holds is equal, the rest null.
  const std::set<std::string> notInFile = {"VendorID",      "ExtendedFamily",      "ExtendedModel",
                                           "DisplayFamily", "DisplayModel",        "FrequencyMeasurement",
                                           "CacheList",     "HypervisorPresent",   "HypervisorSignature",
                                           "Hypervisor",    "HypervisorLeaf",      "LogicalProcessorCount",
                                           "ProcessorAvailable", "Topology",       "CoreType"};
  const Json loaded = report::CpuJson(loaded_);
  EXPECT_EQ(KeysOf(loaded), KeysOf(live));
  for (const auto& [key, value] : live.items()) {
    if (key == "LiveData")
      EXPECT_EQ(loaded[key], false);
    else if (notInFile.count(key))
      EXPECT_TRUE(loaded[key].is_null()) << key << " = " << loaded[key];
    else if (key == "Features")
      for (const auto& [group, entries] : value.items()) {
        // A file does not say that the processor lacked a group's leaf (Northwood has no
        // power management leaf): the vendor's entries are then there, none available.
        if (!entries.empty()) EXPECT_EQ(loaded[key][group], entries) << group;
        else
          for (const auto& f : loaded[key][group]) EXPECT_EQ(f["Available"], false) << group << f;
      }
    else
      EXPECT_EQ(loaded[key], value) << key;
  }
}

TEST_F(CpuReport, LoadedProcessorShowsTheLiveRowsButWhatOnlyThisMachineTold) {
  const auto live = report::CpuSections(live_);
  const auto loaded = report::CpuSections(loaded_);
  ASSERT_GE(live.size(), 2u);
  ASSERT_GE(loaded.size(), 2u);
  EXPECT_EQ(loaded[1].Title, "Caches");
  EXPECT_EQ(loaded[1].Items, live[1].Items);
  auto liveRows = RowsOf(live[0]);
  auto loadedRows = RowsOf(loaded[0]);
  EXPECT_EQ(liveRows["Code name"], "Northwood");
  EXPECT_EQ(liveRows["Identifier"], "x86 Family 15 Model 2 Stepping 9");
  EXPECT_EQ(liveRows["Technology"], "0.13 µm");
  EXPECT_EQ(liveRows["Vendor"], "Intel Corporation (GenuineIntel)");
  EXPECT_EQ(loadedRows["Vendor"], "Intel Corporation");
  EXPECT_EQ(loadedRows["Clock"], "2790 MHz");
  EXPECT_EQ(loadedRows["Data"], "loaded from " + file_);
  EXPECT_EQ(liveRows["Topology"], "1 package, 1 core, 1 thread per core; this one: package 0, core 0, thread 0 (from leaf 1)")
      << "one processor running: hyper-threading announced but not enabled";
  EXPECT_EQ(liveRows["Hypervisor"], "none reported");
  EXPECT_EQ(loadedRows.count("Hypervisor"), 0u) << "the file's machine may have had one";
  for (const char* onlyLive : {"Vendor", "Clock", "Topology", "Hypervisor"}) {
    liveRows.erase(onlyLive);
    loadedRows.erase(onlyLive);
  }
  loadedRows.erase("Data");
  EXPECT_EQ(loadedRows, liveRows);
}

}  // namespace
