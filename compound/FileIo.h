// The operating-system side of a compound file: holding a file while it is open, reading it
// whole, and replacing it atomically with a new image.
#pragma once

#include <chrono>
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

// How a file is held.
// - Exclusive: nobody else may open it; a file held by anyone fails at once (ole32's sharing
//   for callers that open files themselves).
// - Saving: one save at a time, waiting a while for another one to end; readers may go on
//   reading meanwhile, since nothing is written into the file itself. The replacement waits
//   for the readers of the moment.
enum class Hold { Exclusive, Saving };

class HeldFile {
 public:
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens and locks the file. With create, a missing file is made (empty) and *created says
  // so; an existing file is never truncated here. With exclusiveCreate, an existing file
  // fails with AlreadyExists. A file held by anyone else fails with ShareViolation.
  // With Hold::Saving, a file held by others is waited for (see ShareWait), then fails with
  // ShareViolation saying how long it waited.
  static IoResult Open(const std::string& path, bool writable, bool create, bool exclusiveCreate,
                       std::unique_ptr<HeldFile>* out, bool* created, Hold hold = Hold::Exclusive);

  // Reads a whole file as a reader that only keeps writers out: other readers and a save
  // being prepared do not stop it; a file held exclusively or being replaced right now is
  // waited for (see ShareWait). Files above limit fail with TooLarge.
  static IoResult ReadShared(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* out);

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

// How long a save or a shared read waits for a file others hold (see SetShareWait).
std::chrono::milliseconds ShareWait();

// The message for a file still held by others after waiting for it as long as saves wait.
std::string InUseText(const std::string& path);

}  // namespace kyvex::ole::detail
