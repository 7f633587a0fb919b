// A capture as one gzip'd tar: written by `capture --archive`, shown by `--sysroot FILE`. The
// archive is untrusted: whatever it holds, nothing is written or left outside the private
// folder it is unpacked into, and what is wrong with it is named. Read into memory (as the
// Windows builds read it), it is refused for the same faults, and answers as its folder does.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/Capture.h"
#include "report/CaptureArchive.h"
#include "report/MachineReport.h"

using namespace kyvex;
namespace fs = std::filesystem;

namespace {

const std::string kVm = std::string(KYVEX_SOURCE_DIR) + "/tests/data/capture/vm";

[[maybe_unused]] std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& content) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

std::string Gzip(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size())) + 32;
  std::string out(size, '\0');
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One ustar entry, written here rather than by the program so that the archives can be
// anything a hostile sender makes.
std::string TarEntry(const std::string& name, char type, const std::string& data = "", const std::string& link = "",
                     std::uint64_t announced = UINT64_MAX) {
  char h[512] = {};
  std::memcpy(h, name.data(), std::min<std::size_t>(name.size(), 100));
  std::snprintf(h + 100, 8, "%07o", 0644);
  std::snprintf(h + 108, 8, "%07o", 0);
  std::snprintf(h + 116, 8, "%07o", 0);
  std::snprintf(h + 124, 12, "%011llo", static_cast<unsigned long long>(announced == UINT64_MAX ? data.size() : announced));
  std::snprintf(h + 136, 12, "%011o", 0);
  h[156] = type;
  std::memcpy(h + 157, link.data(), std::min<std::size_t>(link.size(), 100));
  std::memcpy(h + 257, "ustar", 6);
  std::memcpy(h + 263, "00", 2);
  std::memset(h + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  std::snprintf(h + 148, 8, "%06o", sum);
  std::string out(h, 512);
  out += data;
  out.append((512 - data.size() % 512) % 512, '\0');
  return out;
}

const std::string kEnd(1024, '\0');

struct Shown {
  std::string text, json;
};

[[maybe_unused]] Shown Show(capture::OpenedCapture& opened) {
  platform::ScopedPlatform scope(opened.Platform());
  UseRecordedClocks(opened.Clocks());
  Shown s{report::MachineReport(false), report::MachineReport(true)};
  UseRecordedClocks(nullptr);
  return s;
}

struct HostileCase {
  const char* name;
  std::string bytes;
  std::string error;  // "SENT" stands for the archive's path
};

std::vector<HostileCase> HostileCases() {
  const std::string capture = TarEntry("m/", '5') + TarEntry("m/machine.txt", '0', "format = 1\nprocessors = 1\n");
  std::string big = TarEntry("m/fs/big", '0', "", "", 4ull << 30);
  const std::string goodGz = Gzip(capture + TarEntry("m/fs/etc/os-release", '0', std::string(3000, 'x')) + kEnd);
  return {
      {"absolute name", Gzip(capture + TarEntry("/tmp/evil", '0', "x") + kEnd), "absolute name"},
      {"climbing name", Gzip(capture + TarEntry("m/../../evil", '0', "x") + kEnd), "\"..\""},
      {"absolute link", Gzip(capture + TarEntry("m/fs/etc", '2', "", "/etc") + kEnd), "absolute path"},
      {"link out", Gzip(capture + TarEntry("m/fs/x", '2', "", "../../../outside") + kEnd), "leading out"},
      {"link out through a link",
       Gzip(capture + TarEntry("m/p/q/", '5') + TarEntry("m/p/q/b", '2', "", "../..") +
            TarEntry("m/p/q/l", '2', "", "b/../../../outside") + kEnd),
       "through other links"},
      {"file written through a link",
       Gzip(capture + TarEntry("m/sub/", '5') + TarEntry("m/alias", '2', "", "sub") + TarEntry("m/alias/f", '0', "x") + kEnd),
       "a link, not a folder"},
      {"hard link", Gzip(capture + TarEntry("m/h", '1', "", "m/machine.txt") + kEnd), "hard link"},
      {"device node", Gzip(capture + TarEntry("m/dev/sda", '4') + kEnd), "device node"},
      {"huge entry", Gzip(capture + big + kEnd), "more than a capture's file may hold"},
      {"twice the same file", Gzip(capture + TarEntry("m/machine.txt", '0', "x") + kEnd), "appears twice"},
      {"cut inside an entry", Gzip(capture + TarEntry("m/fs/a", '0', std::string(4096, 'a')).substr(0, 2048)), "ends early"},
      {"cut before the end", Gzip(capture), "ends early"},
      {"cut compressed data", goodGz.substr(0, goodGz.size() - 20), "ends early"},
      {"damaged compressed data", goodGz.substr(0, 10) + std::string(goodGz.size() - 10, '\x55'), "damaged"},
      {"not an archive", std::string(600, 't'), "not a tar header"},
      {"no capture in it", Gzip(TarEntry("notes.txt", '0', "hello") + kEnd), "holds no capture"},
      {"a capture without its processors", Gzip(capture + kEnd), "cpuid.txt is missing: SENT is not"},
  };
}

std::string Expected(const HostileCase& c, const std::string& sent) {
  std::string expected = c.error;
  if (const auto at = expected.find("SENT"); at != std::string::npos) expected.replace(at, 4, sent);
  return expected;
}

// Read into memory, each hostile archive is refused with the reason it is refused for when
// unpacked.
TEST(CaptureArchive, HostileArchivesAreRefusedInMemory) {
  const fs::path sent = fs::temp_directory_path() / ("kyvex-hostile-" + std::to_string(::getpid()) + ".tar.gz");
  for (const auto& c : HostileCases()) {
    SCOPED_TRACE(c.name);
    WriteAll(sent, c.bytes);
    std::string error;
    EXPECT_FALSE(capture::OpenCaptureInMemory(sent.string(), error));
    EXPECT_NE(error.find(Expected(c, sent.string())), std::string::npos) << error;
  }
  fs::remove(sent);
}

// A captured machine's links, held in memory, are followed inside its fs folder and never out
// of it, even where they would stay inside the archive; a loop ends.
TEST(CaptureArchive, InMemoryLinksStayInsideTheMachinesFiles) {
  platform::CaptureTree tree;
  std::string why;
  ASSERT_TRUE(tree.AddFile("machine.txt", "format = 1", why)) << why;
  ASSERT_TRUE(tree.AddFile("fs/sys/devices/pci0/block/vda/size", "2048\n", why)) << why;
  ASSERT_TRUE(tree.AddLink("fs/sys/block/vda", "../devices/pci0/block/vda", why)) << why;
  ASSERT_TRUE(tree.AddLink("fs/sys/class/block/vda", "../../block/vda", why)) << why;
  ASSERT_TRUE(tree.AddLink("fs/etc/os-release", "../../machine.txt", why)) << why;
  ASSERT_TRUE(tree.AddLink("fs/loop/a", "b", why)) << why;
  ASSERT_TRUE(tree.AddLink("fs/loop/b", "a", why)) << why;
  platform::LinuxPlatform machine(tree.Subtree("fs"), platform::RecordedMachineFacts{});
  EXPECT_EQ(machine.ReadTextFile("/sys/class/block/vda/size"), "2048\n");
  EXPECT_EQ(machine.RealPath("/sys/class/block/vda"), "/sys/devices/pci0/block/vda");
  EXPECT_EQ(machine.ListFolder("/sys/block/vda"), std::vector<std::string>{"size"});
  EXPECT_TRUE(machine.Exists("/sys/block/vda/size"));
  EXPECT_FALSE(machine.Exists("/sys/block/vdb"));
  EXPECT_EQ(machine.ReadTextFile("/etc/os-release"), "");
  EXPECT_EQ(machine.ReadTextFile("/../machine.txt"), "");
  EXPECT_EQ(machine.ReadTextFile("/loop/a"), "");
  EXPECT_EQ(machine.Problems(),
            (std::vector<std::string>{"/etc/os-release: leads out of the captured machine's folder; not read",
                                      "/../machine.txt: leads out of the captured machine's folder; not read",
                                      "/loop/a: cannot be resolved (a loop of links)"}));
}

#ifdef __linux__

// A folder of its own as the temporary folder, so that what is left in it can be seen.
class OwnTempFolder {
 public:
  OwnTempFolder() {
    char pattern[] = "/tmp/kyvex-archive-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
    const char* old = std::getenv("TMPDIR");
    if (old) previous_ = old;
    had_ = old != nullptr;
    ::setenv("TMPDIR", path_.c_str(), 1);
  }
  ~OwnTempFolder() {
    if (had_)
      ::setenv("TMPDIR", previous_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    fs::remove_all(path_);
  }
  const fs::path& path() const { return path_; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename().string());
    return out;
  }

 private:
  fs::path path_;
  std::string previous_;
  bool had_ = false;
};

TEST(CaptureArchive, ArchivedMachineGivesItsReportAndLeavesNothingBehind) {
  OwnTempFolder tmp;
  const fs::path out = tmp.path() / "out";
  fs::create_directory(out);
  const std::string file = (out / "vm.tar.gz").string();
  std::string error;
  ASSERT_TRUE(capture::WriteCaptureArchive(kVm, file, error)) << error;
  EXPECT_EQ(ReadAll(file).substr(0, 2), "\x1f\x8b");
  // A second write does not replace the first.
  EXPECT_FALSE(capture::WriteCaptureArchive(kVm, file, error));
  EXPECT_NE(error.find("exists"), std::string::npos) << error;

  // Both the archive and the same capture packed by hand (plain tar, the capture at the top)
  // are shown as the folder is.
  const std::string plainTar = (out / "plain.tar").string();
  const std::string cmd = "tar -C '" + kVm + "' -cf '" + plainTar + "' .";
  const bool haveTar = std::system(cmd.c_str()) == 0;
  for (const std::string& archive : {file, plainTar}) {
    if (archive == plainTar && !haveTar) continue;
    SCOPED_TRACE(archive);
    std::string root;
    {
      auto opened = capture::OpenCapture(archive, error);
      ASSERT_TRUE(opened) << error;
      const Shown s = Show(*opened);
      EXPECT_EQ(s.text, opened->CapturedReport(false));
      EXPECT_EQ(s.json, opened->CapturedReport(true));
      EXPECT_EQ(s.text, ReadAll(kVm + "/report.txt"));
      EXPECT_TRUE(opened->Problems().empty()) << opened->Problems().front();
      root = opened->Platform().Root();
      EXPECT_TRUE(fs::is_directory(root));
    }
    EXPECT_FALSE(fs::exists(root)) << "the unpacked folder is removed with the capture";
    EXPECT_EQ(tmp.Entries(), std::vector<std::string>{"out"});
  }
}

// Each hostile archive and the error it gives. After each, the temporary folder holds only
// what the test put there: nothing was written through a link or left behind.
TEST(CaptureArchive, HostileArchivesAreRefusedWithoutWritingOutside) {
  for (const auto& c : HostileCases()) {
    SCOPED_TRACE(c.name);
    OwnTempFolder tmp;
    const fs::path sent = tmp.path() / "sent.tar.gz";
    WriteAll(sent, c.bytes);
    std::string error;
    auto opened = capture::OpenCapture(sent.string(), error);
    EXPECT_FALSE(opened);
    EXPECT_NE(error.find(Expected(c, sent.string())), std::string::npos) << error;
    EXPECT_EQ(tmp.Entries(), std::vector<std::string>{"sent.tar.gz"});
  }
}

// Each recorded machine, its archive read into memory as the Windows builds read it, gives
// the reports it gave when captured: its links are found in memory as in its folder.
TEST(CaptureArchive, InMemoryArchiveAnswersAsItsFolder) {
  OwnTempFolder tmp;
  for (const char* name : {"vm", "workstation", "laptop"}) {
    SCOPED_TRACE(name);
    const std::string folder = std::string(KYVEX_SOURCE_DIR) + "/tests/data/capture/" + name;
    const std::string file = (tmp.path() / (std::string(name) + ".tar.gz")).string();
    std::string error;
    ASSERT_TRUE(capture::WriteCaptureArchive(folder, file, error)) << error;
    auto opened = capture::OpenCaptureInMemory(file, error);
    ASSERT_TRUE(opened) << error;
    EXPECT_TRUE(opened->Platform().InMemory());
    const Shown s = Show(*opened);
    EXPECT_EQ(s.text, ReadAll(folder + "/report.txt"));
    EXPECT_EQ(s.json, ReadAll(folder + "/report.json"));
    EXPECT_EQ(opened->CapturedReport(false), ReadAll(folder + "/report.txt"));
    EXPECT_EQ(opened->Problems(), std::vector<std::string>{});
  }
}

#endif  // __linux__

}  // namespace
