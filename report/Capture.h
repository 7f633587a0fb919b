// Whole-machine captures: everything the Linux layer reads on a machine (its files, its
// devices' replies, every processor's CPUID leaves and clock, the facts of the running
// system), written into a folder of plain files, and a platform that answers from such a
// folder on any machine. The layout is described by the README written into every capture
// (kCaptureReadme).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cpu/KSI_CPUProcessors.h"
#include "report/CaptureArchive.h"
#include "platform/linux/LinuxDeviceCapture.h"
#include "platform/linux/LinuxPlatform.h"

namespace kyvex::capture {

extern const char* const kCaptureReadme;

struct CaptureOptions {
  // Serial numbers and UUIDs are replaced by placeholders of the same length, the same
  // placeholder for the same value in every file of the capture.
  bool maskSerials = false;
};

struct CaptureSummary {
  std::size_t files = 0, requests = 0, processors = 0, masked = 0;
  std::vector<std::string> notes;  // what could not be recorded
};

#ifdef __linux__
// Records `machine` (LinuxPlatform("/") for the running machine; a fixture tree in tests),
// whose devices answer through `devices`, into `dir`, which must not exist or be empty.
// False, with the reason in `error`, when the folder cannot be written.
bool CaptureMachine(platform::LinuxPlatform& machine, platform::linuxdev::SystemCalls& devices,
                    const std::string& dir, const CaptureOptions& options, CaptureSummary& summary,
                    std::string& error);
#endif

// A capture opened for answering: its platform (make it current with ScopedPlatform), the
// device replies behind it and its processors' clocks (UseRecordedClocks).
class OpenedCapture {
 public:
  platform::LinuxPlatform& Platform() { return *platform_; }
  std::shared_ptr<const TRecordedClocks> Clocks() const { return clocks_; }
  // Everything that did not go as captured: files refused, calls with no recorded reply.
  std::vector<std::string> Problems() const;
  // The report the machine gave when it was captured (text or JSON), empty when missing.
  std::string CapturedReport(bool json) const;

 private:
  friend std::unique_ptr<OpenedCapture> OpenCapture(const std::string& dir, std::string& error);
  friend std::unique_ptr<OpenedCapture> OpenCaptureFolder(const std::string& dir, std::string& error);
  friend std::unique_ptr<OpenedCapture> OpenCaptureInMemory(const std::string& file, std::string& error);
  using FileReader = std::function<std::optional<std::string>(const char* name, std::uint64_t limit, bool optional,
                                                              std::string& error)>;
  static std::unique_ptr<OpenedCapture> Open(const FileReader& read, std::string& error);
#ifdef __linux__
  std::unique_ptr<UnpackedArchive> unpacked_;  // first: removed after everything that reads it
#endif
  FileReader read_;  // the capture's own files (report.txt, ...)
  // Read, and waiting for the platform that answers from them.
  platform::RecordedMachineFacts pendingFacts_;
  std::vector<platform::linuxdev::Exchange> pendingExchanges_;
  std::string dir_;
  std::unique_ptr<platform::linuxdev::ReplaySystemCalls> calls_;
  std::unique_ptr<platform::LinuxPlatform> platform_;
  std::shared_ptr<const TRecordedClocks> clocks_;
};

// Nothing, with the reason in `error`, for a folder that is not a readable capture. An
// archive (WriteCaptureArchive) is unpacked into a private folder, removed with the result,
// on Linux; on Windows it is read into memory, and a folder is refused: a capture's folder
// copied there has lost the links its files are found by.
std::unique_ptr<OpenedCapture> OpenCapture(const std::string& dir, std::string& error);
// An archive read into memory (ReadCaptureArchive) and answered from there, on every system.
std::unique_ptr<OpenedCapture> OpenCaptureInMemory(const std::string& file, std::string& error);

// Replaces every serial number and UUID of the blobs given (files, replies, reports) by its
// placeholder; answers how many distinct values were replaced. Exposed for tests.
struct Masker {
  void AddSerial(const std::string& value);
  void AddUuid(const std::uint8_t bytes[16]);
  // Text UUIDs ("8-4-4-4-12" hex) found in `text` are added.
  void FindUuids(const std::string& text);
  void Apply(std::string& blob) const;
  void Apply(std::vector<std::uint8_t>& blob) const;
  std::size_t Count() const { return count_; }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;  // value -> placeholder, each form
  std::size_t count_ = 0;
  std::vector<std::pair<std::string, std::string>> serialPairs_;
  std::vector<std::string> serials_;
  std::vector<std::string> uuids_;
};

}  // namespace kyvex::capture
