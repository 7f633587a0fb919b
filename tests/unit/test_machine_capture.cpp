// Whole-machine captures: a machine recorded with `capture` and shown again from the capture
// must give the report it gave when it was recorded, with no file of the running machine read;
// masked captures hold no serial number anywhere; hostile captures give clear errors.
#ifdef __linux__

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/linux/LinuxDeviceCapture.h"
#include "report/Capture.h"
#include "report/MachineReport.h"
#include "unit/storage/LinuxMachineSupport.h"
#include "unit/storage/StorageTestSupport.h"

using namespace kyvex;
using namespace linux_machine;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

struct Replayed {
  std::string text, json, capturedText, capturedJson;
  std::vector<std::string> problems;
};

// Shows the capture at `dir` as `kyvex --sysroot` does.
Replayed Replay(const std::string& dir) {
  std::string error;
  auto opened = capture::OpenCapture(dir, error);
  EXPECT_TRUE(opened) << error;
  if (!opened) return {};
  Replayed r;
  {
    platform::ScopedPlatform scope(opened->Platform());
    UseRecordedClocks(opened->Clocks());
    r.text = report::MachineReport(false);
    r.json = report::MachineReport(true);
    UseRecordedClocks(nullptr);
  }
  r.capturedText = opened->CapturedReport(false);
  r.capturedJson = opened->CapturedReport(true);
  r.problems = opened->Problems();
  return r;
}

std::string PairSwapped(std::string s) {
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
  return s;
}

// The value shown after "label:" on every line of a report that has it.
std::vector<std::string> ValuesOf(const std::string& report, const std::string& label) {
  std::vector<std::string> out;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find(label + ":");
    if (at == std::string::npos) continue;
    std::string v = line.substr(at + label.size() + 1);
    v.erase(0, v.find_first_not_of(' '));
    while (!v.empty() && v.back() == ' ') v.pop_back();
    // Fillers ("00000000", "None") are nobody's identity and are left as they are.
    if (v.size() >= 6 && v.find_first_not_of(v[0]) != std::string::npos) out.push_back(v);
  }
  return out;
}

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("kyvex-capture-" + std::to_string(::getpid()) + "-" + std::to_string(n_++))) {
    fs::remove_all(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string str() const { return path_.string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  static inline int n_ = 0;
};

// A small machine: one SATA disk behind libata answering INQUIRY, IDENTIFY and SMART through
// the recorder, a ThinkPad's SMBIOS table, the operating system's files.
struct FixtureMachine {
  Tree tree;
  Recorder devices;
  storage_test::Block identify{};
  std::string diskSerial;

  FixtureMachine() {
    tree.File("etc/os-release", "NAME=\"Fixture\"\nPRETTY_NAME=\"Fixture Linux 1\"\n");
    tree.File("proc/sys/kernel/hostname", "fixture.example\n");
    tree.File("proc/sys/kernel/osrelease", "6.1.0-27-amd64\n");
    tree.File("proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 142\n"
                              "model name\t: Fixture CPU\nstepping\t: 10\ncpu MHz\t\t: 1800.000\n\n");
    tree.File("sys/devices/system/cpu/online", "0\n");
    const auto smbios = ReadAll(std::string(KYVEX_SOURCE_DIR) + "/tests/data/smbios/lenovo-thinkpad-t490.bin");
    tree.File("sys/firmware/dmi/tables/smbios_entry_point", smbios.substr(0, static_cast<unsigned char>(smbios[6])));
    tree.File("sys/firmware/dmi/tables/DMI", smbios.substr(0x20));
    const std::string dev = "sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
    tree.File(dev + "/vendor", "ATA\n");
    tree.File(dev + "/model", "WDC WD5000AAKS-0\n");
    tree.File(dev + "/rev", "1C01\n");
    tree.File(dev + "/type", "0\n");
    BlockDevice(tree, dev, "sda", "976773168", false, "../..");
    Partition(tree, dev + "/block/sda", "sda1", 2048, 976771120);
    tree.File("sys/class/ata_link/link1/sata_spd", "3.0 Gbps\n");
    tree.File("proc/self/mounts", "/dev/sda1 / ext4 rw 0 0\n");

    identify = storage_test::IdentifyOf("WDC_WD5000AAKS--00TMA0-12.01C01");
    diskSerial = PairSwapped(std::string(identify.begin() + 20, identify.begin() + 40));
    diskSerial.erase(0, diskSerial.find_first_not_of(' '));
    diskSerial.erase(diskSerial.find_last_not_of(' ') + 1);

    FakeNode disk;
    disk.bytes = 976773168ull * 512;
    disk.image.assign(512, 0);
    disk.image[446 + 4] = 0x83;
    disk.image[446 + 8] = 0x00;
    disk.image[446 + 9] = 0x08;  // first sector 2048
    disk.image[446 + 12] = 0x30;
    disk.image[446 + 13] = 0xFE;
    disk.image[446 + 14] = 0x38;
    disk.image[446 + 15] = 0x3A;
    disk.image[510] = 0x55;
    disk.image[511] = 0xAA;
    const auto inquiry = storage_test::Inquiry(0, "ATA", "WDC WD5000AAKS-0", "1C01");
    const auto smart = storage_test::SmartData({{194, 100, 100, 31}, {9, 99, 99, 12}});
    const auto id = identify;
    disk.scsi = [inquiry, id, smart](const std::vector<std::uint8_t>& cdb) {
      if (cdb[0] == 0x12) return ScsiReply{0, inquiry, {}};
      if (cdb[0] == 0x85 && cdb[14] == 0xEC) return ScsiReply{0, {id.begin(), id.end()}, {}};
      if (cdb[0] == 0x85 && cdb[14] == 0xB0 && cdb[4] == 0xD0) return ScsiReply{0, {smart.begin(), smart.end()}, {}};
      return IllegalRequest();
    };
    devices.nodes["sda"] = disk;
    devices.passOthers = false;
  }

  // The disk holds a GPT instead: a protective MBR, the header at sector 1 and 128 entries
  // behind it, one of them the root partition, checksums as a partitioning tool writes them.
  void UseGpt(const std::uint8_t diskGuid[16], const std::uint8_t partGuid[16]) {
    auto& image = devices.nodes["sda"].image;
    const std::uint64_t sectors = devices.nodes["sda"].bytes / 512;
    image.assign(34 * 512, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i)); };
    auto put64 = [&](std::size_t at, std::uint64_t v) { put32(at, static_cast<std::uint32_t>(v)); put32(at + 4, static_cast<std::uint32_t>(v >> 32)); };
    image[446 + 4] = 0xEE;
    put32(446 + 8, 1);
    put32(446 + 12, 0xFFFFFFFF);
    image[510] = 0x55;
    image[511] = 0xAA;
    const std::size_t entry = 1024;
    const std::uint8_t linuxData[16] = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                        0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};
    std::memcpy(&image[entry], linuxData, 16);
    std::memcpy(&image[entry + 16], partGuid, 16);
    put64(entry + 32, 2048);
    put64(entry + 40, 2048 + 976771120 - 1);
    const std::size_t h = 512;
    std::memcpy(&image[h], "EFI PART", 8);
    put32(h + 8, 0x00010000);
    put32(h + 12, 92);
    put64(h + 24, 1);
    put64(h + 32, sectors - 1);
    put64(h + 40, 34);
    put64(h + 48, sectors - 34);
    std::memcpy(&image[h + 56], diskGuid, 16);
    put64(h + 72, 2);
    put32(h + 80, 128);
    put32(h + 84, 128);
    put32(h + 88, platform::linuxdev::Crc32(&image[entry], 128 * 128));
    put32(h + 16, platform::linuxdev::Crc32(&image[h], 92));
    // The root volume opens too, so that drive C: is given its partition from the table.
    devices.nodes["sda1"].bytes = 976771120ull * 512;
  }

  void Capture(const std::string& dir, bool mask) {
    platform::LinuxPlatform machine(tree.Root());
    capture::CaptureOptions options;
    options.maskSerials = mask;
    capture::CaptureSummary summary;
    std::string error;
    ASSERT_TRUE(capture::CaptureMachine(machine, devices, dir, options, summary, error)) << error;
    EXPECT_TRUE(summary.notes.empty()) << summary.notes.front();
  }
};

TEST(MachineCapture, FixtureMachineShownFromItsCaptureGivesTheSameReport) {
  FixtureMachine m;
  TempDir dir;
  m.Capture(dir.str(), false);
  const Replayed r = Replay(dir.str());
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.text, r.capturedText);
  EXPECT_EQ(r.json, r.capturedJson);
  // The capture did reach the devices and the firmware: what the report shows came from the
  // recorded replies, not from this machine.
  EXPECT_NE(r.text.find("Fixture Linux 1"), std::string::npos);
  EXPECT_NE(r.text.find(m.diskSerial), std::string::npos) << r.text;
  EXPECT_NE(r.text.find("ThinkPad"), std::string::npos);
  const std::string requests = ReadAll(dir.path() / "devices.txt");
  EXPECT_NE(requests.find("ioctl /dev/sda 0x2285 SG_IO"), std::string::npos);
  EXPECT_NE(requests.find("> cdb: 85"), std::string::npos);
}

// The bus and hot-plug tests look at the device's place in sysfs, not at the name of the
// folder the machine's files lie in: a machine kept below ".../usb-stick/" (or reached through
// a link) has the same disks as anywhere else.
TEST(MachineCapture, TheRootFoldersNameDoesNotChangeTheDevices) {
  FixtureMachine m;
  TempDir elsewhere;
  const fs::path copy = elsewhere.path() / "usb-stick" / "machine";
  fs::create_directories(copy.parent_path());
  fs::copy(m.tree.Root(), copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  const fs::path link = elsewhere.path() / "linked";
  fs::create_directory_symlink(m.tree.Root(), link);
  auto storageOf = [&](const std::string& root) {
    platform::LinuxPlatform machine(root);
    platform::SetLinuxSystemCalls(machine.Devices(), &m.devices);
    platform::ScopedPlatform scope(machine);
    report::FullReport r;
    report::AddStorageReport(r);
    return r.Text;
  };
  const std::string here = storageOf(m.tree.Root());
  EXPECT_NE(here.find("SATA"), std::string::npos) << here;
  EXPECT_EQ(storageOf(copy.string()), here);
  EXPECT_EQ(storageOf(link.string()), here);
}

TEST(MachineCapture, MaskedCaptureHoldsNoSerialNumberAndStillGivesItsReport) {
  FixtureMachine m;
  TempDir plain, masked;
  m.Capture(plain.str(), false);
  m.Capture(masked.str(), true);
  const std::string unmasked = ReadAll(plain.path() / "report.txt");
  auto secrets = ValuesOf(unmasked, "Serial number");
  for (const auto& u : ValuesOf(unmasked, "UUID")) secrets.push_back(u);
  ASSERT_GE(secrets.size(), 2u) << unmasked;  // the disk's and the ThinkPad's at least
  for (auto it = fs::recursive_directory_iterator(masked.path()); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file() || it->is_symlink()) continue;
    const std::string content = ReadAll(it->path());
    for (const auto& s : secrets) {
      EXPECT_EQ(content.find(s), std::string::npos) << s << " in " << it->path();
      for (std::size_t parity = 0; parity < 2; ++parity) {
        std::string shifted = content.substr(parity);
        EXPECT_EQ(PairSwapped(shifted).find(s), std::string::npos) << s << " swapped in " << it->path();
      }
    }
  }
  const Replayed r = Replay(masked.str());
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.text, r.capturedText);
  EXPECT_EQ(r.json, r.capturedJson);
  // The same value by the same placeholder, in every place it is shown.
  const auto shown = ValuesOf(r.text, "Serial number");
  ASSERT_EQ(shown.size(), ValuesOf(unmasked, "Serial number").size());
  for (const auto& v : shown) EXPECT_EQ(v.front(), 'S') << v;
  EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const std::string& v) { return v.size() == m.diskSerial.size(); }))
      << "the disk's placeholder keeps the length of its serial number";
  // A masked identify block still passes its checksum: the disk is still decoded in full.
  EXPECT_NE(r.text.find("WDC WD5000AAKS"), std::string::npos);
}

// Every byte the capture holds, its device replies as bytes rather than as their hex text.
std::string CapturedBytes(const fs::path& dir) {
  std::string all;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file() || it->is_symlink()) continue;
    all += ReadAll(it->path());
    if (it->path().filename() != "devices.txt") continue;
    std::string error;
    const auto calls = platform::linuxdev::ReadExchanges(all.substr(all.size() - fs::file_size(it->path())), error);
    EXPECT_TRUE(calls) << error;
    if (calls)
      for (const auto& c : *calls)
        for (const auto* fields : {&c.sent, &c.reply})
          for (const auto& f : *fields) all.append(f.bytes.begin(), f.bytes.end());
  }
  return all;
}

TEST(MachineCapture, MaskedCaptureHidesGptGuidsAndKeepsTheTable) {
  const std::uint8_t diskGuid[16] = {0x3b, 0x9f, 0x21, 0x7a, 0x55, 0xc1, 0x4e, 0x4b,
                                     0x9a, 0x0d, 0x61, 0x2e, 0x8c, 0x47, 0xf0, 0x13};
  const std::uint8_t partGuid[16] = {0xd4, 0x02, 0x6e, 0x91, 0x3c, 0xaa, 0x47, 0x48,
                                     0xb1, 0x5f, 0x08, 0x77, 0x2c, 0xe9, 0x6d, 0x35};
  FixtureMachine m;
  m.UseGpt(diskGuid, partGuid);
  TempDir plain, masked;
  m.Capture(plain.str(), false);
  m.Capture(masked.str(), true);
  // Each GUID as the table stores it and in the text forms tools show (first three fields
  // read little-endian), upper and lower case.
  std::vector<std::string> forms;
  for (const auto* g : {diskGuid, partGuid}) {
    forms.emplace_back(reinterpret_cast<const char*>(g), 16);
    for (const char* hex : {"%02X", "%02x"}) {
      std::string t;
      for (int i : {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15}) {
        char two[3];
        std::snprintf(two, sizeof two, hex, i < 0 ? 0 : g[i]);
        t += i < 0 ? std::string("-") : std::string(two);
      }
      forms.push_back(t);
    }
  }
  const std::string before = CapturedBytes(plain.path());
  EXPECT_NE(before.find(forms[0]), std::string::npos) << "the unmasked capture holds the disk's GUID";
  EXPECT_NE(before.find(forms[3]), std::string::npos) << "and the partition's";
  const std::string after = CapturedBytes(masked.path());
  for (const auto& f : forms) EXPECT_EQ(after.find(f), std::string::npos) << f;

  // Shown again, the masked capture gives its report, which is the unmasked one but for the
  // masked values: the table still checks out and gives the same partition.
  const Replayed r = Replay(masked.str());
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.text, r.capturedText);
  EXPECT_EQ(r.json, r.capturedJson);
  const std::string unmasked = ReadAll(plain.path() / "report.txt");
  EXPECT_NE(unmasked.find("  Partition:"), std::string::npos) << unmasked;
  auto secrets = ValuesOf(unmasked, "Serial number");
  for (const auto& u : ValuesOf(unmasked, "UUID")) secrets.push_back(u);
  std::istringstream a(unmasked), b(r.text);
  std::string la, lb;
  while (std::getline(a, la)) {
    ASSERT_TRUE(std::getline(b, lb)) << "the masked report is shorter";
    // The fixture's clock is measured anew by each capture.
    if (la == lb || la.find("(measured ") != std::string::npos) continue;
    EXPECT_TRUE(std::any_of(secrets.begin(), secrets.end(), [&](const std::string& v) { return la.find(v) != std::string::npos; }))
        << "differs beyond a masked value:\n" << la << "\n" << lb;
  }
  EXPECT_FALSE(std::getline(b, lb)) << "the masked report is longer";
}

TEST(MachineCapture, RecordedMachinesGiveTheirReports) {
  for (const char* name : {"vm", "workstation", "laptop"}) {
    SCOPED_TRACE(name);
    const std::string dir = std::string(KYVEX_SOURCE_DIR) + "/tests/data/capture/" + name;
    const Replayed r = Replay(dir);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    ASSERT_FALSE(r.capturedText.empty());
    EXPECT_EQ(r.text, r.capturedText);
    EXPECT_EQ(r.json, r.capturedJson);
  }
}

// The laptop's disks are shown from the replies its devices gave and from nothing else: with
// one kind of call taken out of its devices.txt, the replay names the call it has no reply to
// and the report loses what only that call told.
TEST(MachineCapture, RecordedLaptopAnswersOnlyFromItsReplies) {
  struct Case {
    const char* calls;   // how the dropped calls' blocks begin
    const char* missed;  // the problem named
    const char* lost;    // the report's line that goes with them
  };
  const Case cases[] = {
      {"ioctl /dev/nvme0n1 0xc0484e41", "ioctl /dev/nvme0n1 NVME_IOCTL_ADMIN_CMD", "Power-on hours:"},
      {"ioctl /dev/sr0 0x2285", "ioctl /dev/sr0 SG_IO", "Optical:"},
  };
  const std::string laptop = std::string(KYVEX_SOURCE_DIR) + "/tests/data/capture/laptop";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.calls);
    TempDir dir;
    fs::copy(laptop, dir.path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string calls = ReadAll(dir.path() / "devices.txt");
    std::string kept;
    std::size_t dropped = 0;
    for (std::size_t at = 0; at < calls.size();) {
      std::size_t end = calls.find("\n\n", at);
      end = end == std::string::npos ? calls.size() : end + 2;
      if (calls.compare(at, std::strlen(c.calls), c.calls) == 0)
        ++dropped;
      else
        kept += calls.substr(at, end - at);
      at = end;
    }
    ASSERT_GT(dropped, 0u);
    WriteAll(dir.path() / "devices.txt", kept);
    const Replayed r = Replay(dir.str());
    std::string all;
    for (const auto& p : r.problems) all += p + "\n";
    EXPECT_NE(all.find(c.missed), std::string::npos) << all;
    EXPECT_NE(r.capturedText.find(c.lost), std::string::npos);
    EXPECT_EQ(r.text.find(c.lost), std::string::npos) << r.text;
  }
}

// Each hostile change to a good capture, and what must be said about it: an error opening
// the capture, or a problem named after the report (which must not hang or read outside).
TEST(MachineCapture, HostileCapturesGiveClearErrors) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    const char* openError;  // nullptr: opens, and `problem` is named
    const char* problem;
  };
  auto sparse = [](const fs::path& p, std::uint64_t size) {
    fs::remove(p);
    std::ofstream(p, std::ios::binary) << "x";
    fs::resize_file(p, size);
  };
  auto relink = [](const fs::path& p, const std::string& target) {
    fs::remove_all(p);
    fs::create_symlink(target, p);
  };
  const Case cases[] = {
      {"missing facts", [](const fs::path& d) { fs::remove(d / "machine.txt"); }, "machine.txt is missing", nullptr},
      {"facts a link out", [&](const fs::path& d) { relink(d / "machine.txt", "/etc/hostname"); }, "is a link", nullptr},
      {"facts not text", [](const fs::path& d) { WriteAll(d / "machine.txt", std::string("format = 1\nuser = a\0b\n", 22)); },
       "not text", nullptr},
      {"unknown format", [](const fs::path& d) { WriteAll(d / "machine.txt", "format = 9\nprocessors = 2\n"); },
       "format 9", nullptr},
      {"huge CPUID file", [&](const fs::path& d) { sparse(d / "cpuid.txt", 1ull << 30); }, "more than", nullptr},
      {"CPUID of fewer processors", [](const fs::path& d) {
         const std::string c = ReadAll(d / "cpuid.txt");
         WriteAll(d / "cpuid.txt", c.substr(0, c.find("CPU 1:")));
       }, "machine.txt names 2", nullptr},
      {"device calls garbled", [](const fs::path& d) { WriteAll(d / "devices.txt", "open /dev/vda\n  = x\n"); },
       "devices.txt: line 2", nullptr},
      {"clocks garbled", [](const fs::path& d) { WriteAll(d / "clocks.txt", "processor 0: fast\n"); }, "clocks.txt: line 1",
       nullptr},
      {"file linked out", [&](const fs::path& d) { relink(d / "fs/proc/sys/kernel/osrelease", "/proc/self/status"); }, nullptr,
       "leads out of the captured machine's folder"},
      {"folder linked out", [&](const fs::path& d) { relink(d / "fs/sys/block", "../../../../../../../../sys/block"); },
       nullptr, "leads out"},
      {"huge file", [&](const fs::path& d) { sparse(d / "fs/etc/os-release", 1ull << 30); }, nullptr, "MiB); not read"},
      {"pipe for a file", [](const fs::path& d) {
         fs::remove(d / "fs/proc/sys/kernel/hostname");
         ::mkfifo((d / "fs/proc/sys/kernel/hostname").c_str(), 0600);
       }, nullptr, "not a regular file"},
  };
  const std::string good = std::string(KYVEX_SOURCE_DIR) + "/tests/data/capture/vm";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    fs::copy(good, dir.path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    c.spoil(dir.path());
    std::string error;
    auto opened = capture::OpenCapture(dir.str(), error);
    if (c.openError) {
      EXPECT_FALSE(opened);
      EXPECT_NE(error.find(c.openError), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(opened) << error;
    {
      platform::ScopedPlatform scope(opened->Platform());
      UseRecordedClocks(opened->Clocks());
      report::MachineReport(false);
      UseRecordedClocks(nullptr);
    }
    std::string all;
    for (const auto& p : opened->Problems()) all += p + "\n";
    EXPECT_NE(all.find(c.problem), std::string::npos) << all;
  }
}

TEST(MachineCapture, DeviceCallsReadBackAsWritten) {
  using platform::linuxdev::Exchange;
  Exchange e;
  e.kind = Exchange::Kind::Ioctl;
  e.node = "/dev/nvme0";
  e.request = 0xC0484E41;
  std::vector<std::uint8_t> command(68, 0);
  command[0] = 0x06;
  e.sent.push_back({"command", true, 0, command});
  e.result = 0;
  std::vector<std::uint8_t> data(4096);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  e.reply.push_back({"result", false, -5, {}});
  e.reply.push_back({"data", true, 0, data});
  Exchange failed;
  failed.kind = Exchange::Kind::Open;
  failed.node = "/dev/sg1";
  failed.result = -1;
  failed.error = 13;
  const std::string text = platform::linuxdev::WriteExchanges({e, failed});
  std::string error;
  const auto back = platform::linuxdev::ReadExchanges(text, error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[0].Key(), e.Key());
  EXPECT_EQ((*back)[0].reply[0].number, -5);
  EXPECT_EQ((*back)[0].reply[1].bytes, data);
  EXPECT_EQ((*back)[1].error, 13);
  EXPECT_EQ(platform::linuxdev::WriteExchanges(*back), text);
}

}  // namespace

#endif  // __linux__
