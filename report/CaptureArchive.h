// A capture as one file: the capture's folder in a gzip'd tar, the way such recordings are
// usually sent. Reading one is unpacking untrusted input: every entry's name, kind, link and
// size is checked before anything is written, and everything is written into a private
// folder that goes away with the unpacked archive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kyvex::platform {
class CaptureTree;
}

namespace kyvex::capture {

// Limits of what an archive may hold; a capture comes nowhere near them.
constexpr std::uint64_t kMaxArchiveEntry = 64u << 20;        // one file
constexpr std::uint64_t kMaxArchiveTotal = 1024ull << 20;    // all files together
constexpr std::uint64_t kMaxArchiveEntries = 500000;

#ifdef __linux__
// Writes the folder `dir` into the new file `file` (gzip'd tar), its entries below one folder
// named after the file ("host.tar.gz" holds "host/..."). The file is written beside and
// renamed into place, so that a failed write leaves nothing behind. False, with the reason in
// `error`, when `file` exists or cannot be written.
bool WriteCaptureArchive(const std::string& dir, const std::string& file, std::string& error);

// A new folder of the temporary folder that only this user can enter, removed (with what it
// holds, never what its links name) with this object. Path() is empty, with the reason in
// `error`, when none could be made.
class PrivateFolder {
 public:
  explicit PrivateFolder(std::string& error);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// An archive unpacked into a private temporary folder, removed with this object.
class UnpackedArchive {
 public:
  // The folder the capture is in: the archive's top, or its one folder.
  const std::string& CaptureDir() const { return captureDir_; }

 private:
  friend std::unique_ptr<UnpackedArchive> UnpackCaptureArchive(const std::string& file, std::string& error);
  explicit UnpackedArchive(std::string& error) : folder_(error) {}
  PrivateFolder folder_;
  std::string captureDir_;
};

// Nothing, with the reason in `error`, for a file that is not a gzip'd (or plain) tar of a
// capture, or that holds an entry that could write or point outside the folder it is
// unpacked into (absolute names, "..", links leading out, hard links, device nodes), an
// entry larger than the limits above, or data that ends early.
std::unique_ptr<UnpackedArchive> UnpackCaptureArchive(const std::string& file, std::string& error);
#endif  // __linux__

// The archive read into memory, links kept as links, with the same checks as
// UnpackCaptureArchive makes: the capture's folder (the archive's top, or its one folder) as a
// tree of its own. Nothing, with the reason in `error`, where unpacking it would be refused.
std::shared_ptr<const platform::CaptureTree> ReadCaptureArchive(const std::string& file, std::string& error);

// Whether `path` names an archive rather than a capture's folder: an existing file that is
// not a folder, or a name ending as such archives do.
bool LooksLikeArchive(const std::string& path);

}  // namespace kyvex::capture
