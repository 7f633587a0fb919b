// The operating-system side of a compound file: holding a file exclusively while it is open,
// reading it whole, and replacing it atomically with a new image.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kyvex::ole::detail {

enum class IoError {
  None,
  NotFound,
  PathNotFound,
  ShareViolation,
  AccessDenied,
  AlreadyExists,
  DiskFull,
  TooLarge,
  Other,
};

struct IoResult {
  IoError error = IoError::None;
  std::string text;  // the system's explanation, with the file name
  bool ok() const { return error == IoError::None; }
};

class HeldFile {
 public:
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens and locks the file. With create, a missing file is made (empty) and *created says
  // so; an existing file is never truncated here. With exclusiveCreate, an existing file
  // fails with AlreadyExists. A file held by anyone else fails with ShareViolation.
  static IoResult Open(const std::string& path, bool writable, bool create, bool exclusiveCreate,
                       std::unique_ptr<HeldFile>* out, bool* created);

  // The file's bytes; files above limit fail with TooLarge before anything is allocated.
  IoResult ReadAll(std::uint64_t limit, std::vector<std::uint8_t>* out);

  // Writes image to a new file in the same folder, flushes it to the disk, and renames it over
  // this one; the hold moves to the new file. On failure the old file is untouched and the
  // temporary file removed.
  IoResult Replace(std::span<const std::uint8_t> image);

  // The first bytes of a file that nobody needs to hold (for the file-type test).
  static IoResult ReadPrefix(const std::string& path, std::size_t n, std::vector<std::uint8_t>* out);

 private:
  HeldFile() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Called at numbered steps of Replace (test support: see SetCommitStepHook).
void CommitStep(int step);

}  // namespace kyvex::ole::detail
