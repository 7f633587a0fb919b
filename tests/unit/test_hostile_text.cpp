// Text from outside carries bytes chosen by whoever made the input: terminal commands (ESC,
// BEL, the C1 CSI and OSC), and bytes that are not UTF-8. Each source is fed such bytes, and
// every output that shows them is checked: JSON that parses, text without a control
// character, and the bytes shown escaped or replaced, not dropped.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/KSI_Common.h"
#include "common/Kyvex_SS.h"
#include "compound/Ole.h"
#include "cpu/KSI_CPU.h"
#include "platform/Text.h"
#include "platform/fake/FakePlatform.h"
#include "report/CpuReport.h"
#include "report/HeaderReport.h"
#include "report/Report.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"
#include "unit/cpu/CpuTestSupport.h"
#include "unit/smbios/SmbiosTables.h"
#include "unit/storage/StorageTestSupport.h"

#ifdef __linux__
#include "platform/linux/LinuxPlatform.h"
#include "unit/storage/LinuxMachineSupport.h"
#endif

using namespace kyvex;
using platform::FakePlatform;
using platform::ScopedPlatform;
namespace fs = std::filesystem;

namespace {

struct Hostile {
  const char* name;
  std::string bytes;
  // What must be seen of them, in any output (ASCII case aside: a host name is upper-cased).
  std::vector<std::string> shown;
  // What a storage file shows where another program stored them as UTF-16 (bytes that are not
  // UTF-8 as unpaired surrogates, which no code page can read back); empty: as `shown`.
  std::vector<std::string> shownFromFile = {};
};

const Hostile kHostile[] = {
    {"ESC and BEL", "a\x1B]0;owned\x07" "b\x1B[2Jc", {"a\\x1B]0;owned\\x07b\\x1B[2Jc"}},
    {"C1 CSI and OSC", "a\xC2\x9B" "2J\xC2\x9D" "0;t", {"a\\u009B2J\\u009D0;t"}},
    {"not UTF-8", "a\xFF\xC3(z\x80\x81", {"a\xC3\xBF\xC3\x83(z\xE2\x82\xAC\\u0081"},
     {"a\xEF\xBF\xBD\xEF\xBF\xBD(z\xEF\xBF\xBD\xEF\xBF\xBD"}},
};

// One rendering of what a source captured.
struct Output {
  std::string format;  // "json" or "text"
  std::string what;    // the command or report it stands for
  std::string bytes;
  // Where the value is cut before it is shown: what must be seen instead of the case's own.
  std::optional<std::string> shown = std::nullopt;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// Every string value of a JSON document, one a line.
void Strings(const nlohmann::json& j, std::string& out) {
  if (j.is_string()) out += j.get<std::string>() + "\n";
  if (j.is_structured())
    for (const auto& item : j) Strings(item, out);
}

void ExpectClean(const Output& o, const Hostile& h, const std::string& source) {
  SCOPED_TRACE(source + " / " + h.name + " / " + o.what + " " + o.format);
  std::size_t pos = 0;
  while (pos < o.bytes.size()) {
    char32_t c = 0;
    ASSERT_TRUE(text::DecodeUtf8(o.bytes, pos, c)) << "not UTF-8 at byte " << pos;
    ASSERT_FALSE((c < 0x20 && c != '\n') || c == 0x7F || (c >= 0x80 && c <= 0x9F))
        << "control character U+" << std::hex << static_cast<unsigned>(c) << " at byte " << std::dec << pos;
  }
  std::string seen = o.bytes;
  if (o.format == "json") {
    nlohmann::json parsed;
    ASSERT_NO_THROW(parsed = nlohmann::json::parse(o.bytes));
    seen.clear();
    Strings(parsed, seen);
  }
  for (const std::string& s : o.shown ? std::vector<std::string>{*o.shown} : h.shown) EXPECT_NE(Lower(seen).find(Lower(s)), std::string::npos) << s << "\n" << seen;
}

// The strict dump: it throws where a text is not UTF-8, as the printed JSON must never need
// its fallback.
std::string Json(const nlohmann::ordered_json& j) { return j.dump(2); }

#ifdef __linux__
std::vector<Output> SummaryOutputs(const std::string& raw) {
  const report::SystemSummary s = report::CollectSystemSummary();
  return {{"json", "report", Json(report::ToJson(s))},
          {"text", "report", report::ToText(s)},
          // A computer name has at most 15 characters; the cut comes before the conversion.
          {"text", "the snapshot's machine", s.MachineName, text::Sanitize(raw.substr(0, 15))},
          {"text", "the snapshot's system", s.OSName}};
}
#endif

// The texts of the first physical device as the record holds them, one a line: the value is
// made fit where it is captured, not only where it is printed.
std::string DeviceValues(const TKyvex_Storage& storage) {
  if (storage.PhysicalDevices().empty()) return "(no device)";
  const TDeviceInfo& d = storage.PhysicalDevices().front();
  return d.Vendor + "\n" + d.Model + "\n" + d.Revision + "\n" + d.SerialNumber;
}

std::vector<Output> StorageOutputs(const TKyvex_Storage& storage) {
  return {{"json", "storage", Json(report::StorageJson(storage))},
          {"text", "storage", report::StorageText(storage)},
          {"text", "the records' values", DeviceValues(storage)}};
}

std::vector<Output> SmbiosOutputs(const TKyvex_SMBIOS& smbios) {
  return {{"json", "smbios", Json(report::SmbiosJson(smbios))},
          {"text", "smbios", report::FormatSections(report::SmbiosSystemSections(smbios))},
          {"text", "the record's value", smbios.BIOSVendor()}};
}

std::vector<Output> CpuOutputs(const TKyvex_CPU& cpu) {
  return {{"json", "cpu", Json(report::CpuJson(cpu))},
          {"text", "cpu", report::FormatSections(report::CpuSections(cpu))},
          {"text", "the component's value", cpu.MarketingName()}};
}

// Bytes as UTF-16, where a byte that is not UTF-8 becomes an unpaired surrogate: what a file
// made by another program may hold.
std::u16string RawUtf16(const std::string& bytes) {
  std::u16string out;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t c;
    if (text::DecodeUtf8(bytes, pos, c) && c < 0x10000)
      out += static_cast<char16_t>(c);
    else
      out += static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(bytes[pos++]));
  }
  return out;
}

void WriteRaw(const std::shared_ptr<ole::IPropertyStorage>& ps, const ole::PROPSPEC& spec, const std::string& bytes) {
  const ole::PROPVARIANT v = ole::PROPVARIANT::LPWSTR(RawUtf16(bytes));
  ASSERT_EQ(ps->WriteMultiple(1, &spec, &v, ole::PID_FIRST_USABLE), ole::S_OK);
}

void PlainMachine(FakePlatform& fake) {
  auto& p = fake.processor.cpus[0];
  p.Set(0, cputest::VendorLeaf("GenuineIntel", 1));
  p.Set(1, {0x000306A9, 0, 0, 0});
  p.Set(0x80000000, {0x80000004, 0, 0, 0});
  cputest::SetBrandString(p, "Plain processor");
}

#ifdef KYVEX_CLI_PATH
// The program's standard output for `arguments`.
std::string Run(const std::string& arguments) {
  std::string out;
  FILE* p = ::popen((std::string(KYVEX_CLI_PATH) + " " + arguments + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}
#endif

class HostileText : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("kyvex-hostile-" + std::to_string(counter_++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

 public:
  std::string File(const std::string& name, const std::string& contents) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  fs::path dir_;
  static inline int counter_ = 0;
};

using Source = std::function<std::vector<Output>(HostileText&, const std::string& bytes)>;

struct SourceCase {
  const char* name;
  Source feed;
  bool fromFile = false;  // the bytes reach the program through a storage file's UTF-16
};

std::vector<SourceCase> Sources() {
  std::vector<SourceCase> sources;
  sources.push_back({"SMBIOS string", [](HostileText& t, const std::string& bytes) {
    using namespace smbios_test;
    const Bytes table = Concat({Bios(0, bytes, "1.0", "01/01/2024", 0), EndOfTable()});
    TKyvex_SMBIOS smbios;
    Decode(smbios, table, 2, 3);
    std::vector<Output> out = SmbiosOutputs(smbios);
#ifdef KYVEX_CLI_PATH
    const Bytes image = DumpImage(EntryPoint2(2, 3, static_cast<std::uint16_t>(table.size()), 0x20, 2), table);
    const std::string dump = t.File("smbios.bin", std::string(image.begin(), image.end()));
    out.push_back({"text", "kyvex smbios --dump-bin", Run("smbios --dump-bin " + dump)});
    out.push_back({"json", "kyvex smbios --dump-bin", Run("smbios --json --dump-bin " + dump)});
#else
    (void)t;
#endif
    return out;
  }});
  sources.push_back({"CPUID brand string", [](HostileText& t, const std::string& bytes) {
    FakePlatform fake;
    PlainMachine(fake);
    cputest::SetBrandString(fake.processor.cpus[0], bytes);
    std::vector<Output> out;
    {
      ScopedPlatform use(fake);
      TKyvex_CPU cpu;
      cpu.CollectData();
      out = CpuOutputs(cpu);
    }
#ifdef KYVEX_CLI_PATH
    std::string dump = "CPU:\n";
    char line[128];
    for (std::uint32_t leaf : {0u, 1u, 0x80000000u, 0x80000002u, 0x80000003u, 0x80000004u}) {
      const auto r = fake.processor.cpus[0].Get(leaf, 0);
      std::snprintf(line, sizeof line, "   0x%08x 0x00: eax=0x%08x ebx=0x%08x ecx=0x%08x edx=0x%08x\n", leaf, r.eax,
                    r.ebx, r.ecx, r.edx);
      dump += line;
    }
    const std::string file = t.File("cpuid.txt", dump);
    out.push_back({"text", "kyvex cpu --cpuid-dump", Run("cpu --cpuid-dump " + file)});
    out.push_back({"json", "kyvex cpu --cpuid-dump", Run("cpu --json --cpuid-dump " + file)});
#else
    (void)t;
#endif
    return out;
  }});
  sources.push_back({"device texts", [](HostileText& t, const std::string& bytes) {
    using namespace storage_test;
    FakePlatform fake;
    const std::string pd0 = "\\\\.\\PhysicalDrive0";
    fake.devices.Reply(pd0, devio::kStorageQueryProperty, Property(bytes, bytes, bytes, bytes, devio::kBusScsi));
    fake.devices.Reply(pd0, devio::kDiskGetDriveGeometry, Geometry(2432));
    fake.devices.Reply(pd0, devio::kStorageGetMediaTypesEx, DiskMediaTypes());
    std::vector<Output> out;
    {
      ScopedPlatform use(fake);
      TKyvex_Storage storage;
      storage.CollectData();
      out = StorageOutputs(storage);
    }
#ifdef KYVEX_CLI_PATH
    const Block identify = IdentifyBuilder::Disk(bytes, bytes).Firmware(bytes.substr(0, 8)).b;
    const std::string file = t.File("identify.bin", std::string(identify.begin(), identify.end()));
    out.push_back({"text", "kyvex storage --identify", Run("storage --identify " + file)});
    out.push_back({"json", "kyvex storage --identify", Run("storage --json --identify " + file)});
#else
    (void)t;
#endif
    return out;
  }});
  sources.push_back({"storage-file values", [](HostileText& t, const std::string& bytes) {
    FakePlatform fake;
    PlainMachine(fake);
    const std::string file = (t.dir_ / "machine.kyx").string();
    {
      ScopedPlatform use(fake);
      TKyvex_CPU cpu;
      cpu.SaveToStorageFile(file);
    }
    {
      std::shared_ptr<ole::IStorage> root;
      EXPECT_EQ(ole::StgOpenStorage(file, nullptr, 0x12, nullptr, 0, &root), ole::S_OK);
      TStructuredSTorage wrapper(nullptr, root);
      auto header = wrapper.OpenPropertySet(FMTID_SummaryInformation, 0x12, false);
      WriteRaw(header->PropertyStorage(), ole::PROPSPEC::ById(3), bytes);  // the machine
      WriteRaw(header->PropertyStorage(), ole::PROPSPEC::ById(5), bytes);  // the system
      header.reset();
      auto processor = wrapper.OpenSubStorage("CPU\\0", 0x12, false)->OpenPropertySet(FMTID_DocSummaryInformation, 0x12, false);
      WriteRaw(processor->PropertyStorage(), ole::PROPSPEC::ByName(u"MarketingName"), bytes);
      processor.reset();
      wrapper.Commit();
    }
    TKyvex_CPU cpu;
    EXPECT_TRUE(cpu.LoadFromStorageFile(file));
    std::vector<Output> out = CpuOutputs(cpu);
    out.push_back({"json", "header", Json(report::StorageInfoJson(cpu.StorageInfo()))});
    out.push_back({"text", "header", report::FormatLines(report::StorageInfoLines(cpu.StorageInfo()))});
    out.push_back({"text", "the header's machine", cpu.StorageInfo().MachineName});
    out.push_back({"text", "the header's system", cpu.StorageInfo().OSName});
#ifdef KYVEX_CLI_PATH
    out.push_back({"text", "kyvex show", Run("show " + file)});
    out.push_back({"json", "kyvex show", Run("show --json " + file)});
#endif
    return out;
  }, true});
#ifdef __linux__
  // The Linux layer's own sources: the host name, os-release and a disk's serial in sysfs.
  sources.push_back({"host name, os-release and sysfs", [](HostileText&, const std::string& bytes) {
    linux_machine::Tree tree;
    tree.File("proc/sys/kernel/osrelease", "6.1.0\n");
    tree.File("proc/sys/kernel/hostname", bytes + "\n");
    tree.File("etc/os-release", "PRETTY_NAME=\"" + bytes + "\"\n");
    const std::string virtio = "sys/devices/pci0000:00/0000:00:02.0/virtio1";
    tree.File(virtio + "/vendor", "0x1af4\n");
    tree.File(virtio + "/device", "0x0002\n");
    linux_machine::BlockDevice(tree, virtio, "vda", "536870912", false, "../..");
    tree.File(virtio + "/block/vda/serial", bytes);
    platform::LinuxPlatform layer(tree.Root());
    ScopedPlatform use(layer);
    std::vector<Output> out = SummaryOutputs(bytes);
    TKyvex_Storage storage;
    storage.CollectData();
    EXPECT_EQ(storage.PhysicalCount(), 1u);
    for (auto& o : StorageOutputs(storage)) out.push_back(o);
    return out;
  }});
#endif
  return sources;
}

TEST_F(HostileText, EverySourceGivesValidJsonAndTextWithoutControlCharacters) {
  for (const SourceCase& source : Sources())
    for (const Hostile& h : kHostile) {
      std::vector<Output> outputs;
      ASSERT_NO_THROW(outputs = source.feed(*this, h.bytes)) << source.name << " / " << h.name;
      Hostile expected = h;
      if (source.fromFile && !h.shownFromFile.empty()) expected.shown = h.shownFromFile;
      for (const Output& o : outputs) ExpectClean(o, expected, source.name);
    }
#ifndef KYVEX_CLI_PATH
  std::printf("The program's own output is checked where the tests can run it (native Linux builds).\n");
#endif
}

TEST(Sanitize, EscapesControlsReplacesBadBytesAndChangesNothingTwice) {
  struct Case {
    std::string raw;
    text::TextLines lines;
    std::string shown;
  } cases[] = {
      {"plain Größe 日本", text::TextLines::Single, "plain Größe 日本"},
      {std::string("a\0b", 3), text::TextLines::Single, "a\\x00b"},
      {"a\tb\nc\r", text::TextLines::Single, "a\\x09b\\x0Ac\\x0D"},
      {"a\tb\nc\r", text::TextLines::Multi, "a\tb\nc\\x0D"},
      {"\x7F\xC2\x80\xC2\x9F\xC2\xA0", text::TextLines::Single, "\\x7F\\u0080\\u009F\xC2\xA0"},
      // Overlong forms, surrogates, a cut sequence and a lone continuation byte: each byte read
      // as Windows-1252.
      {"\xC0\xAF|\xED\xA0\x80|\xE2\x82|\x80", text::TextLines::Single,
       "\xC3\x80\xC2\xAF|\xC3\xAD\xC2\xA0\xE2\x82\xAC|\xC3\xA2\xE2\x80\x9A|\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    const std::string once = text::Sanitize(c.raw, c.lines);
    EXPECT_EQ(once, c.shown) << c.raw;
    EXPECT_EQ(text::Sanitize(once, c.lines), once) << c.raw;
  }
  // Blanks as the firmware pads them stay blank once sanitized.
  EXPECT_EQ(text::TrimSanitized(text::Sanitize(" \t CPU Temp \r\n")), "CPU Temp");
  EXPECT_EQ(text::TrimSanitized(text::Sanitize("\t\x1F ")), "");
  EXPECT_EQ(text::TrimSanitized(text::Sanitize("a\tb")), "a\\x09b");
  EXPECT_EQ(text::TrimSanitized(text::Sanitize("\x7F")), "\\x7F") << "DEL was never blank";
}

}  // namespace
