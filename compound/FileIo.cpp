#include "compound/FileIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "compound/Ole.h"
#include "compound/FileSharing.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace kyvex::ole::detail {
namespace {

constexpr std::size_t kChunk = 1 << 20;

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
std::function<void(int)>& Hook() {
  static std::function<void(int)> hook;
  return hook;
}

std::atomic<unsigned> g_tempCounter{0};

std::atomic<long long> g_shareWaitMs{5000};

// Waits for a file others hold: try() answers true once it has what it wanted, false while
// others hold the file; each wait is short, so that a reader's moment is soon seen to end.
// False when the time is up.
template <class Try>
bool WaitWhileHeld(std::chrono::steady_clock::time_point deadline, Try&& attempt) {
  for (;;) {
    if (attempt()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The folder part of a path, with its separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const auto cut = path.find_last_of("/\\:");
#else
  const auto cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string BaseOf(const std::string& path) { return path.substr(FolderOf(path).size()); }

// A save's temporary file is "<prefix><pid>-<n>.tmp" beside its target, the prefix being the
// target's name between a platform mark and a dot. The Linux and Windows marks differ, so a
// Windows program under Wine and a native one sharing a folder never judge each other's
// process ids.
std::string TempPrefix(const std::string& path) {
#ifdef _WIN32
  return FolderOf(path) + "~" + BaseOf(path) + ".";
#else
  return FolderOf(path) + "." + BaseOf(path) + ".";
#endif
}

// A decimal number as std::to_string writes it (no sign, no leading zero, at most 10 digits).
template <class Ch>
std::optional<std::uint64_t> CanonicalNumber(std::basic_string_view<Ch> digits) {
  if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == Ch('0'))) return std::nullopt;
  std::uint64_t v = 0;
  for (const Ch c : digits) {
    if (c < Ch('0') || c > Ch('9')) return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - Ch('0'));
  }
  return v;
}

// The process id in name when name is exactly a temporary file of the target whose temporary
// names start with prefix (the prefix without its folder), nothing otherwise. Windows compares
// the prefix as its file system does, without regard to case.
template <class Ch>
std::optional<std::uint32_t> TempFileOwner(std::basic_string_view<Ch> name, std::basic_string_view<Ch> prefix,
                                           bool ignoreCase) {
  static constexpr Ch kSuffix[] = {Ch('.'), Ch('t'), Ch('m'), Ch('p')};
  const std::basic_string_view<Ch> suffix(kSuffix, 4);
  if (name.size() <= prefix.size() + suffix.size() || name.substr(name.size() - suffix.size()) != suffix)
    return std::nullopt;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const bool same = ignoreCase ? UpperUnit(static_cast<char16_t>(name[i])) == UpperUnit(static_cast<char16_t>(prefix[i]))
                                 : name[i] == prefix[i];
    if (!same) return std::nullopt;
  }
  const auto middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const auto dash = middle.find(Ch('-'));
  if (dash == std::basic_string_view<Ch>::npos) return std::nullopt;
  const auto pid = CanonicalNumber(middle.substr(0, dash));
  const auto serial = CanonicalNumber(middle.substr(dash + 1));
  // No process that saves has id 0 (on Windows that id even answers like a vanished one).
  if (!pid || !serial || *pid == 0 || *pid > 0xFFFFFFFFu || *serial > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(*pid);
}

}  // namespace

void CommitStep(int step) {
  std::function<void(int)> hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  if (hook) hook(step);
}

std::chrono::milliseconds ShareWait() { return std::chrono::milliseconds(g_shareWaitMs.load()); }

std::string InUseText(const std::string& path) {
  const long long ms = ShareWait().count();
  const std::string how = ms % 1000 == 0 ? std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds")
                                         : std::to_string(ms) + " ms";
  return "\"" + path + "\" is in use by another program; gave up after waiting " + how + " for it";
}

}  // namespace kyvex::ole::detail

namespace kyvex::ole {
void SetCommitStepHook(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> lock(detail::HookMutex());
  detail::Hook() = std::move(hook);
}

void SetShareWait(std::chrono::milliseconds wait) { detail::g_shareWaitMs = std::max<long long>(0, wait.count()); }
}  // namespace kyvex::ole

namespace kyvex::ole::detail {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& s) {
  const std::u16string u = kyvex::text::Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

// Takes a mutex, waiting until the deadline at most; a holder killed meanwhile leaves it
// abandoned, which is as good as released.
bool TakeMutex(HANDLE m, std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  const ::DWORD r = WaitForSingleObject(m, static_cast<::DWORD>(std::max<long long>(0, left.count())));
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

IoResult FromWin32(::DWORD code, const std::string& path, const char* doing) {
  IoResult r;
  switch (code) {
    case ERROR_FILE_NOT_FOUND: r.error = IoError::NotFound; break;
    case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_BAD_PATHNAME: r.error = IoError::PathNotFound; break;
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: r.error = IoError::ShareViolation; break;
    case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: r.error = IoError::AccessDenied; break;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: r.error = IoError::AlreadyExists; break;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: r.error = IoError::DiskFull; break;
    default: r.error = IoError::Other; break;
  }
  r.text = std::string(doing) + " \"" + path + "\" failed (Windows error " + std::to_string(code) + ")";
  return r;
}

// An exclusive hold shares nothing. A save's hold lets others read (it writes nothing into the
// file itself) and keeps writers and exclusive holders out; saves keep each other out with a
// mutex, since readers and saves would otherwise need the same sharing.
HANDLE OpenHold(const std::wstring& path, bool writable, ::DWORD disposition, Hold hold) {
  if (hold == Hold::Saving)
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return CreateFileW(path.c_str(), GENERIC_READ | (writable ? GENERIC_WRITE : 0), 0, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether a failure may be a holder of the moment: a file open elsewhere answers a sharing
// violation, and a rename over a file still open elsewhere is refused as access denied.
bool HeldElsewhere(::DWORD code, const std::wstring& path) {
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return true;
  if (code != ERROR_ACCESS_DENIED) return false;
  const ::DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// A mutex of one file: named after its full path, upper-cased as the file system compares
// names (hashed: a mutex name has no room for a path). Saves of the file share the "save"
// one. The "replace" one is held by a save while it renames and by readers while they open:
// a reader's open file keeps the rename out, and readers that come one after another would
// otherwise never leave it a moment.
HANDLE FileMutex(const std::wstring& path, const wchar_t* kind) {
  std::vector<wchar_t> full(32768);
  const ::DWORD n = GetFullPathNameW(path.c_str(), static_cast<::DWORD>(full.size()), full.data(), nullptr);
  const std::wstring name = n > 0 && n < full.size() ? std::wstring(full.data(), n) : path;
  std::uint64_t hash = 14695981039346656037ull;
  for (const wchar_t c : name) {
    const char16_t u = UpperUnit(static_cast<char16_t>(c == L'/' ? L'\\' : c));
    hash = (hash ^ (u & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (u >> 8)) * 1099511628211ull;
  }
  std::wstring mutexName = std::wstring(L"Local\\kyvex-") + kind + L"-";
  for (int shift = 60; shift >= 0; shift -= 4) mutexName.push_back(L"0123456789abcdef"[(hash >> shift) & 0xF]);
  return CreateMutexW(nullptr, FALSE, mutexName.c_str());
}


// Whether no process of that id runs any more. A process that has ended but whose object
// someone still holds keeps its id from being reused, and its saves are over all the same. A
// process we may not open (another user's, a protected one) counts as running.
bool ProcessGone(::DWORD pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (h == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
}

// Removes what saves of this target left behind when their process was killed: temporary
// files whose owner no longer runs. The hold on the target does not settle it alone, since a
// save lets go of the target for its rename; a running owner may be about to rename its file.
void RemoveStaleTemps(const std::string& path) {
  const std::string prefix = TempPrefix(path);
  const std::u16string base = kyvex::text::Utf8ToUtf16(prefix.substr(FolderOf(path).size()));
  const std::wstring folder = Wide(FolderOf(path));
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(Wide(prefix + "*.tmp").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::u16string name(found.cFileName, found.cFileName + wcslen(found.cFileName));
    const auto owner = TempFileOwner<char16_t>(name, base, true);
    if (owner && ProcessGone(*owner)) DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

struct HeldFile::Impl {
  std::string path;
  bool writable = false;
  Hold hold = Hold::Exclusive;
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE saveMutex = nullptr;  // owned while a save holds the file
};

HeldFile::~HeldFile() {
  if (!impl_) return;
  if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
  if (impl_->saveMutex != nullptr) {
    ReleaseMutex(impl_->saveMutex);
    CloseHandle(impl_->saveMutex);
  }
}

IoResult HeldFile::Open(const std::string& path, bool writable, bool create, bool exclusiveCreate,
                        std::unique_ptr<HeldFile>* out, bool* created, Hold hold) {
  const std::wstring wpath = Wide(path);
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + ShareWait();
  std::unique_ptr<HeldFile> f(new HeldFile());
  f->impl_ = std::make_unique<Impl>();
  f->impl_->path = path;
  f->impl_->writable = writable;
  f->impl_->hold = hold;
  if (hold == Hold::Saving) {
    HANDLE m = FileMutex(wpath, L"save");
    if (m == nullptr) return FromWin32(GetLastError(), path, "locking");
    const ::DWORD waited = WaitForSingleObject(m, static_cast<::DWORD>(ShareWait().count()));
    // A save killed while it held the mutex leaves it abandoned: its file was never replaced.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      CloseHandle(m);
      if (waited == WAIT_TIMEOUT) return {IoError::ShareViolation, InUseText(path)};
      return FromWin32(GetLastError(), path, "locking");
    }
    f->impl_->saveMutex = m;
  }
  const ::DWORD disposition = !create ? OPEN_EXISTING : exclusiveCreate ? CREATE_NEW : OPEN_ALWAYS;
  HANDLE h = INVALID_HANDLE_VALUE;
  ::DWORD error = 0;
  WaitWhileHeld(hold == Hold::Saving ? deadline : start, [&] {
    h = OpenHold(wpath, writable, disposition, hold);
    error = GetLastError();  // on success: whether an existing file was opened
    return h != INVALID_HANDLE_VALUE || error != ERROR_SHARING_VIOLATION;
  });
  if (h == INVALID_HANDLE_VALUE) {
    if (hold == Hold::Saving && error == ERROR_SHARING_VIOLATION)
      return {IoError::ShareViolation, InUseText(path)};
    return FromWin32(error, path, "opening");
  }
  if (created) *created = create && (exclusiveCreate || error != ERROR_ALREADY_EXISTS);
  f->impl_->handle = h;
  *out = std::move(f);
  return {};
}

IoResult HeldFile::ReadAll(std::uint64_t limit, std::vector<std::uint8_t>* out) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(impl_->handle, &size)) return FromWin32(GetLastError(), impl_->path, "reading");
  if (static_cast<std::uint64_t>(size.QuadPart) > limit)
    return {IoError::TooLarge, "\"" + impl_->path + "\" is too large to open"};
  LARGE_INTEGER zero{};
  SetFilePointerEx(impl_->handle, zero, nullptr, FILE_BEGIN);
  out->resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < out->size()) {
    ::DWORD got = 0;
    const ::DWORD want = static_cast<::DWORD>(std::min<std::size_t>(out->size() - done, kChunk));
    if (!ReadFile(impl_->handle, out->data() + done, want, &got, nullptr))
      return FromWin32(GetLastError(), impl_->path, "reading");
    if (got == 0) break;
    done += got;
  }
  out->resize(done);
  return {};
}

IoResult HeldFile::Replace(std::span<const std::uint8_t> image) {
  const std::string& path = impl_->path;
  const std::wstring wpath = Wide(path);
  RemoveStaleTemps(path);
  std::string temp;
  HANDLE t = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && t == INVALID_HANDLE_VALUE; ++attempt) {
    temp = TempPrefix(path) + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(g_tempCounter++) + ".tmp";
    t = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (t == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
      return FromWin32(GetLastError(), temp, "creating");
  }
  if (t == INVALID_HANDLE_VALUE) return {IoError::Other, "no free temporary name beside \"" + path + "\""};
  const std::wstring wtemp = Wide(temp);
  auto abandon = [&](IoResult r) {
    if (t != INVALID_HANDLE_VALUE) CloseHandle(t);
    DeleteFileW(wtemp.c_str());
    return r;
  };
  int step = 0;
  CommitStep(step++);
  std::size_t done = 0;
  while (done < image.size()) {
    ::DWORD wrote = 0;
    const ::DWORD want = static_cast<::DWORD>(std::min<std::size_t>(image.size() - done, kChunk));
    if (!WriteFile(t, image.data() + done, want, &wrote, nullptr) || wrote == 0)
      return abandon(FromWin32(GetLastError(), temp, "writing"));
    done += wrote;
    CommitStep(step++);
  }
  if (!FlushFileBuffers(t)) return abandon(FromWin32(GetLastError(), temp, "flushing"));
  CloseHandle(t);
  t = INVALID_HANDLE_VALUE;
  CommitStep(step++);
  // The hold must go for the rename to succeed; it is taken again right after. A save waits
  // a while for the readers of the moment, whose open files keep the rename from happening.
  CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
  const auto start = std::chrono::steady_clock::now();
  ::DWORD error = ERROR_SUCCESS;
  HANDLE replacing = impl_->hold == Hold::Saving ? FileMutex(wpath, L"replace") : nullptr;
  const bool ownsReplacing = replacing != nullptr && TakeMutex(replacing, start + ShareWait());
  WaitWhileHeld(impl_->hold == Hold::Saving ? start + ShareWait() : start, [&] {
    if (MoveFileExW(wtemp.c_str(), wpath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = ERROR_SUCCESS;
      return true;
    }
    error = GetLastError();
    return !HeldElsewhere(error, wpath);
  });
  if (ownsReplacing) ReleaseMutex(replacing);
  if (replacing != nullptr) CloseHandle(replacing);
  if (error != ERROR_SUCCESS) {
    IoResult r = impl_->hold == Hold::Saving && HeldElsewhere(error, wpath)
                     ? IoResult{IoError::ShareViolation, InUseText(path)}
                     : FromWin32(error, path, "replacing");
    DeleteFileW(wtemp.c_str());
    impl_->handle = OpenHold(wpath, impl_->writable, OPEN_EXISTING, impl_->hold);
    return r;
  }
  CommitStep(step++);
  impl_->handle = OpenHold(wpath, impl_->writable, OPEN_EXISTING, impl_->hold);
  return {};
}

IoResult HeldFile::ReadShared(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* out) {
  const std::wstring wpath = Wide(path);
  const auto start = std::chrono::steady_clock::now();
  HANDLE h = INVALID_HANDLE_VALUE;
  ::DWORD error = ERROR_SUCCESS;
  const auto deadline = start + ShareWait();
  HANDLE replacing = FileMutex(wpath, L"replace");
  WaitWhileHeld(deadline, [&] {
    const bool owned = replacing != nullptr && TakeMutex(replacing, deadline);
    h = CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (owned) ReleaseMutex(replacing);
    return h != INVALID_HANDLE_VALUE || error != ERROR_SHARING_VIOLATION;
  });
  if (replacing != nullptr) CloseHandle(replacing);
  if (h == INVALID_HANDLE_VALUE) {
    if (error == ERROR_SHARING_VIOLATION) return {IoError::ShareViolation, InUseText(path)};
    return FromWin32(error, path, "opening");
  }
  HeldFile f;
  f.impl_ = std::make_unique<Impl>();
  f.impl_->path = path;
  f.impl_->handle = h;  // closed with f
  return f.ReadAll(limit, out);
}

IoResult HeldFile::ReadPrefix(const std::string& path, std::size_t n, std::vector<std::uint8_t>* out) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FromWin32(GetLastError(), path, "opening");
  out->resize(n);
  ::DWORD got = 0;
  const BOOL ok = ReadFile(h, out->data(), static_cast<::DWORD>(n), &got, nullptr);
  const ::DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) return FromWin32(err, path, "reading");
  out->resize(got);
  return {};
}

#else  // POSIX

namespace {

IoResult FromErrno(int e, const std::string& path, const char* doing) {
  IoResult r;
  // A missing folder is another failure than a missing file, as on Windows.
  int kind = e;
  struct stat st {};
  if (e == ENOENT && !FolderOf(path).empty() && ::stat(FolderOf(path).c_str(), &st) != 0) kind = ENOTDIR;
  switch (kind) {
    case ENOENT: r.error = IoError::NotFound; break;
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: r.error = IoError::PathNotFound; break;
    case EACCES: case EPERM: case EROFS: case EISDIR: r.error = IoError::AccessDenied; break;
    case EEXIST: r.error = IoError::AlreadyExists; break;
    case ENOSPC: case EDQUOT: case EFBIG: r.error = IoError::DiskFull; break;
    case EWOULDBLOCK: r.error = IoError::ShareViolation; break;
    default: r.error = IoError::Other; break;
  }
  r.text = std::string(doing) + " \"" + path + "\" failed: " + std::strerror(e);
  return r;
}

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) {
      errno = EIO;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Removes what saves of this target left behind when their process was killed: temporary
// files whose owner no longer runs. While we hold the target no other process of ours can be
// saving it, but a file system whose locks do not reach every process (a network share) makes
// the process check the one to rely on. A process we may not signal counts as running.
void RemoveStaleTemps(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix = TempPrefix(path).substr(folder.size());
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const auto owner = TempFileOwner<char>(entry->d_name, prefix, false);
    if (!owner || *owner > static_cast<std::uint32_t>(INT_MAX)) continue;
    if (::kill(static_cast<pid_t>(*owner), 0) != 0 && errno == ESRCH) ::unlink((folder + entry->d_name).c_str());
  }
  ::closedir(dir);
}

// Holders agree through two kinds of lock, both belonging to the open file (as the hold does)
// and vanishing with it, also when the process is killed:
// - a whole-file lock (flock): an exclusive holder takes it alone, readers and saves share it;
// - locks on two bytes (open-file-description locks; the bytes need not exist): readers share
//   the first one, a save holds the second one from its start, and the first one only for the
//   moment of its rename. These need the file open for writing to be taken exclusively, which
//   a save has and an exclusive reader may not have: hence the first kind.
constexpr off_t kReadByte = 0;
constexpr off_t kSaveByte = 1;

enum class Locked { Yes, Held, Failed };

// Takes a lock of type (F_RDLCK, F_WRLCK or F_UNLCK) on len bytes from start (0: to the end).
Locked LockRange(int fd, short type, off_t start, off_t len) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return Locked::Yes;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EACCES ? Locked::Held : Locked::Failed;
  }
}

Locked LockWhole(int fd, int operation) {
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return Locked::Yes;
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? Locked::Held : Locked::Failed;
  }
}

// Takes a lock, waiting while others hold what it needs.
template <class Take>
Locked WaitToLock(std::chrono::steady_clock::time_point deadline, Take&& take) {
  Locked got = Locked::Held;
  WaitWhileHeld(deadline, [&] {
    got = take();
    return got != Locked::Held;
  });
  return got;
}

// Whether the name still leads to the open file: a save may have put another file in its
// place between our open and our lock.
bool StillNamed(int fd, const std::string& path, struct stat* held) {
  struct stat named {};
  return ::fstat(fd, held) == 0 && ::stat(path.c_str(), &named) == 0 && named.st_dev == held->st_dev &&
         named.st_ino == held->st_ino;
}

// Takes the locks a holder of this kind needs, waiting where the kind waits. errno is set
// where the answer is Failed.
Locked TakeHold(int fd, Hold hold, std::chrono::steady_clock::time_point deadline) {
  if (hold == Hold::Exclusive) return LockWhole(fd, LOCK_EX);
  if (const Locked got = WaitToLock(deadline, [&] { return LockWhole(fd, LOCK_SH); }); got != Locked::Yes) return got;
  return WaitToLock(deadline, [&] { return LockRange(fd, F_WRLCK, kSaveByte, 1); });
}

}  // namespace

struct HeldFile::Impl {
  std::string path;  // symbolic links resolved: the rename replaces the file, not the link
  int fd = -1;
  Hold hold = Hold::Exclusive;
};

HeldFile::~HeldFile() {
  if (impl_ && impl_->fd >= 0) ::close(impl_->fd);
}

IoResult HeldFile::Open(const std::string& path, bool writable, bool create, bool exclusiveCreate,
                        std::unique_ptr<HeldFile>* out, bool* created, Hold hold) {
  if (path.empty()) return {IoError::PathNotFound, "empty file name"};
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + ShareWait();
  std::string real = path;
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    real = resolved;
    std::free(resolved);
  }
  // A save writes the new file beside the old one: say so now rather than after the work.
  if (writable) {
    const std::string folder = FolderOf(real);
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0 && errno != ENOENT)
      return {IoError::AccessDenied,
              "the folder of \"" + path + "\" is not writable: a save writes the new file beside the old one"};
  }
  const int access = writable ? O_RDWR : O_RDONLY;
  // Taking the lock and checking that the name still leads to the locked file, a few times:
  // another process may replace the file between our open and our lock.
  for (int attempt = 0; attempt < 16; ++attempt) {
    bool made = false;
    int fd = -1;
    if (create) {
      fd = ::open(real.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        made = true;
      } else if (errno != EEXIST) {
        return FromErrno(errno, path, "creating");
      } else if (exclusiveCreate) {
        return FromErrno(EEXIST, path, "creating");
      }
    }
    if (fd < 0) {
      fd = ::open(real.c_str(), access | O_CLOEXEC);
      if (fd < 0) {
        const int e = errno;
        // A symbolic link to nothing is no file being replaced: the exclusive create fails on
        // the link, the open on its missing target, every time.
        struct stat link {};
        if (e == ENOENT && create && ::lstat(real.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
          IoResult r = FromErrno(e, path, "opening");
          r.text += " (a symbolic link to a file that does not exist)";
          return r;
        }
        if (e == ENOENT && create) continue;  // removed meanwhile: make it again
        return FromErrno(e, path, "opening");
      }
    }
    if (const Locked got = TakeHold(fd, hold, deadline); got != Locked::Yes) {
      const int e = errno;
      ::close(fd);
      if (got == Locked::Failed) return FromErrno(e, path, "locking");
      if (hold == Hold::Exclusive) return {IoError::ShareViolation, "\"" + path + "\" is open elsewhere"};
      return {IoError::ShareViolation,
              InUseText(path)};
    }
    struct stat held {};
    if (!StillNamed(fd, real, &held)) {
      ::close(fd);
      // A save that waited has seen the file replaced by the one it waited for: it starts
      // again on that one, for as long as it may wait.
      if (hold == Hold::Saving && std::chrono::steady_clock::now() < deadline) --attempt;
      continue;
    }
    if (S_ISDIR(held.st_mode)) {
      ::close(fd);
      return FromErrno(EISDIR, path, "opening");
    }
    std::unique_ptr<HeldFile> f(new HeldFile());
    f->impl_ = std::make_unique<Impl>();
    f->impl_->path = real;
    f->impl_->fd = fd;
    f->impl_->hold = hold;
    if (created) *created = made;
    *out = std::move(f);
    return {};
  }
  return {IoError::ShareViolation, "\"" + path + "\" keeps being replaced by another program"};
}

IoResult HeldFile::ReadAll(std::uint64_t limit, std::vector<std::uint8_t>* out) {
  struct stat st {};
  if (::fstat(impl_->fd, &st) != 0) return FromErrno(errno, impl_->path, "reading");
  if (static_cast<std::uint64_t>(st.st_size) > limit)
    return {IoError::TooLarge, "\"" + impl_->path + "\" is too large to open"};
  out->resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < out->size()) {
    const ssize_t r = ::pread(impl_->fd, out->data() + done, std::min(out->size() - done, kChunk),
                              static_cast<off_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno, impl_->path, "reading");
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  out->resize(done);
  return {};
}

IoResult HeldFile::Replace(std::span<const std::uint8_t> image) {
  const std::string& path = impl_->path;
  const std::string folder = FolderOf(path);
  RemoveStaleTemps(path);
  std::string temp;
  int t = -1;
  for (int attempt = 0; attempt < 100 && t < 0; ++attempt) {
    temp = TempPrefix(path) + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++) + ".tmp";
    t = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (t < 0 && errno != EEXIST) return FromErrno(errno, temp, "creating");
  }
  if (t < 0) return {IoError::Other, "no free temporary name beside \"" + path + "\""};
  auto abandon = [&](IoResult r) {
    ::close(t);
    ::unlink(temp.c_str());
    return r;
  };
  int step = 0;
  CommitStep(step++);
  struct stat old {};
  if (::fstat(impl_->fd, &old) == 0) {
    // The file replaced keeps its owner (root saving over a user's file must not take it
    // from them; others may not change owners and the call then fails harmlessly), then its
    // mode: after the owner, which clears set-id bits.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)::fchown(t, old.st_uid, old.st_gid);
    (void)::fchmod(t, old.st_mode & 07777);
  }
  for (std::size_t done = 0; done < image.size();) {
    const std::size_t n = std::min(image.size() - done, kChunk);
    if (!WriteAll(t, image.data() + done, n)) return abandon(FromErrno(errno, temp, "writing"));
    done += n;
    CommitStep(step++);
  }
  if (::fsync(t) != 0) return abandon(FromErrno(errno, temp, "flushing"));
  CommitStep(step++);
  // The new file is ours alone until the rename makes it visible; locking it first keeps the
  // hold unbroken across the replacement.
  const bool exclusive = impl_->hold == Hold::Exclusive;
  if (LockWhole(t, exclusive ? LOCK_EX : LOCK_SH) != Locked::Yes ||
      (!exclusive && LockRange(t, F_WRLCK, kSaveByte, 1) != Locked::Yes))
    return abandon(FromErrno(errno, temp, "locking"));
  // A save lets the readers of the moment finish first (they read the file whole, so this is
  // short); readers that come meanwhile wait for the rename and then read the new file.
  if (!exclusive) {
    const Locked got = WaitToLock(std::chrono::steady_clock::now() + ShareWait(),
                                  [&] { return LockRange(impl_->fd, F_WRLCK, kReadByte, 1); });
    if (got == Locked::Failed) return abandon(FromErrno(errno, path, "locking"));
    if (got == Locked::Held)
      return abandon({IoError::ShareViolation,
                      InUseText(path)});
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    if (!exclusive) (void)LockRange(impl_->fd, F_UNLCK, kReadByte, 1);
    return abandon(FromErrno(errno, path, "replacing"));
  }
  CommitStep(step++);
  ::close(impl_->fd);
  impl_->fd = t;
  // The rename itself must reach the disk before the save counts as done.
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return FromErrno(errno, folder, "syncing the folder of");
  const int rc = ::fsync(dir);
  const int e = errno;
  ::close(dir);
  if (rc != 0 && e != EINVAL) return FromErrno(e, folder, "syncing the folder of");
  return {};
}

IoResult HeldFile::ReadShared(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* out) {
  if (path.empty()) return {IoError::PathNotFound, "empty file name"};
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + ShareWait();
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FromErrno(errno, path, "opening");
    Locked got = WaitToLock(deadline, [&] { return LockWhole(fd, LOCK_SH); });
    if (got == Locked::Yes) got = WaitToLock(deadline, [&] { return LockRange(fd, F_RDLCK, kReadByte, 1); });
    if (got != Locked::Yes) {
      const int e = errno;
      ::close(fd);
      if (got == Locked::Failed) return FromErrno(e, path, "locking");
      return {IoError::ShareViolation,
              InUseText(path)};
    }
    struct stat held {};
    if (!StillNamed(fd, path, &held)) {
      // Replaced while we waited: read the file that took its place.
      ::close(fd);
      if (std::chrono::steady_clock::now() < deadline) continue;
      return {IoError::ShareViolation, "\"" + path + "\" keeps being replaced by another program"};
    }
    if (S_ISDIR(held.st_mode)) {
      ::close(fd);
      return FromErrno(EISDIR, path, "opening");
    }
    HeldFile f;
    f.impl_ = std::make_unique<Impl>();
    f.impl_->path = path;
    f.impl_->fd = fd;  // closed with f
    return f.ReadAll(limit, out);
  }
}

IoResult HeldFile::ReadPrefix(const std::string& path, std::size_t n, std::vector<std::uint8_t>* out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno, path, "opening");
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return FromErrno(EISDIR, path, "opening");
  }
  out->resize(n);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::read(fd, out->data() + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      return FromErrno(e, path, "reading");
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  ::close(fd);
  out->resize(done);
  return {};
}

#endif

}  // namespace kyvex::ole::detail
