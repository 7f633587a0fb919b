// Readers and saves of one file at the same time. Holders here are threads: the holds belong to
// open files (file descriptions, handles) and the save mutex to threads, so threads meet each
// other exactly as processes do.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "CompoundTestSupport.h"
#include "compound/Ole.h"
#include "compound/FileSharing.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kyvex::ole {
namespace {

using namespace std::chrono_literals;
using kyvex::testing::ReadBytes;
using kyvex::testing::TempDir;
using kyvex::testing::U;

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// The wait shortened for a test, restored after it.
struct ShortWait {
  explicit ShortWait(std::chrono::milliseconds wait) { SetShareWait(wait); }
  ~ShortWait() { SetShareWait(5000ms); }
};

// A file whose root holds one storage named `name`.
void SaveNamed(const std::string& path, const std::string& name) {
  std::shared_ptr<IStorage> root, child;
  ASSERT_EQ(StgOpenStorageForSave(path, &root), S_OK) << LastErrorText();
  ASSERT_EQ(root->CreateStorage(U(name), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &child), S_OK);
  ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
}

bool Holds(const std::vector<std::uint8_t>& image, const std::string& name) {
  std::shared_ptr<IStorage> root;
  STATSTG st{};
  return StgOpenStorageOnMemory(image, &root) == S_OK && root->StatElement(U(name), &st) == S_OK;
}

// What another copy of this program does while it reads the file: the reader's hold, kept
// for as long as the test likes.
class ReaderHold {
 public:
  explicit ReaderHold(const std::string& path) {
#ifdef _WIN32
    handle_ = CreateFileW(std::filesystem::path(std::u8string(path.begin(), path.end())).wstring().c_str(),
                          GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
#else
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &fl), 0) << std::strerror(errno);
#endif
  }
  ~ReaderHold() {
#ifdef _WIN32
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
  }

 private:
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
};

// Runs body while another thread keeps `hold` for `held` (at most until body ends).
void WhileHeldFor(std::chrono::milliseconds held, const std::function<std::shared_ptr<void>()>& hold,
                  const std::function<void()>& body) {
  std::promise<void> taken, done;
  std::thread holder([&] {
    auto h = hold();
    taken.set_value();
    done.get_future().wait_for(held);
  });
  taken.get_future().wait();
  body();
  done.set_value();
  holder.join();
}

TEST(CompoundSharing, ReadersGoOnWhileASaveIsPreparedAndSeeTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.File("shared.cfb");
  SaveNamed(path, "Old");
  std::shared_ptr<IStorage> save, child;
  ASSERT_EQ(StgOpenStorageForSave(path, &save), S_OK) << LastErrorText();
  ASSERT_EQ(save->CreateStorage(u"New", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &child), S_OK);
  {
    ReaderHold other(path);  // a second reader at the same time
    std::vector<std::uint8_t> image;
    ASSERT_EQ(StgReadFileShared(path, 1 << 20, &image), S_OK) << LastErrorText();
    EXPECT_TRUE(Holds(image, "Old"));
    EXPECT_FALSE(Holds(image, "New"));
  }
  // Callers that ask ole32's exclusive sharing are still refused at once.
  std::shared_ptr<IStorage> exclusive;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(StgOpenStorage(path, nullptr, kRead, nullptr, 0, &exclusive), STG_E_SHAREVIOLATION);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);

  ASSERT_EQ(save->Commit(STGC_DEFAULT), S_OK) << LastErrorText();
  std::vector<std::uint8_t> image;
  ASSERT_EQ(StgReadFileShared(path, 1 << 20, &image), S_OK) << LastErrorText();
  EXPECT_TRUE(Holds(image, "Old"));
  EXPECT_TRUE(Holds(image, "New"));
}

// Whoever holds the file, a save waits for it: it goes on when the holder lets go in time and
// otherwise gives up, saying so, with the file as it was.
TEST(CompoundSharing, ASaveWaitsForHoldersAndGivesUpSayingHowLong) {
  struct Case {
    const char* holder;
    std::function<std::shared_ptr<void>(const std::string&)> hold;
  };
  const Case cases[] = {
      {"another save", [](const std::string& p) -> std::shared_ptr<void> {
         std::shared_ptr<IStorage> s;
         EXPECT_EQ(StgOpenStorageForSave(p, &s), S_OK) << LastErrorText();
         return s;
       }},
      {"an exclusive reader", [](const std::string& p) -> std::shared_ptr<void> {
         std::shared_ptr<IStorage> s;
         EXPECT_EQ(StgOpenStorage(p, nullptr, kRead, nullptr, 0, &s), S_OK) << LastErrorText();
         return s;
       }},
      {"an exclusive writer", [](const std::string& p) -> std::shared_ptr<void> {
         std::shared_ptr<IStorage> s;
         EXPECT_EQ(StgOpenStorage(p, nullptr, kWrite, nullptr, 0, &s), S_OK) << LastErrorText();
         return s;
       }},
      // A reader keeps only the replacement out: the save opens, and its commit waits.
      {"a reader", [](const std::string& p) -> std::shared_ptr<void> { return std::make_shared<ReaderHold>(p); }},
  };
  const ShortWait wait(400ms);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.holder);
    TempDir dir;
    const std::string path = dir.File("held.cfb");
    SaveNamed(path, "Old");
    const auto before = ReadBytes(path);
    auto saveAll = [&]() -> HRESULT {
      std::shared_ptr<IStorage> root, child;
      if (HRESULT hr = StgOpenStorageForSave(path, &root); Failed(hr)) return hr;
      if (HRESULT hr = root->CreateStorage(u"New", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &child); Failed(hr))
        return hr;
      return root->Commit(STGC_DEFAULT);
    };
    // Held longer than the save waits.
    WhileHeldFor(60s, [&] { return c.hold(path); }, [&] {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(saveAll(), STG_E_SHAREVIOLATION);
      const auto waited = std::chrono::steady_clock::now() - start;
      EXPECT_GE(waited, 390ms);
      EXPECT_LT(waited, 3s);
      const std::string why = LastErrorText();
      EXPECT_NE(why.find("in use by another program"), std::string::npos) << why;
      EXPECT_NE(why.find("waiting 4"), std::string::npos) << why;  // 400 ms or a little more
    });
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "a temporary file was left";
    // Let go in time.
    WhileHeldFor(100ms, [&] { return c.hold(path); }, [&] { EXPECT_EQ(saveAll(), S_OK) << LastErrorText(); });
    EXPECT_TRUE(Holds(ReadBytes(path), "New"));
  }
}

TEST(CompoundSharing, AReadWaitsForAnExclusiveHolderAndGivesUpSayingSo) {
  TempDir dir;
  const std::string path = dir.File("held.cfb");
  SaveNamed(path, "Old");
  const ShortWait wait(300ms);
  auto exclusive = [&]() -> std::shared_ptr<void> {
    std::shared_ptr<IStorage> s;
    EXPECT_EQ(StgOpenStorage(path, nullptr, kWrite, nullptr, 0, &s), S_OK) << LastErrorText();
    return s;
  };
  std::vector<std::uint8_t> image;
  WhileHeldFor(60s, exclusive, [&] {
    EXPECT_EQ(StgReadFileShared(path, 1 << 20, &image), STG_E_SHAREVIOLATION);
    EXPECT_NE(LastErrorText().find("in use by another program"), std::string::npos) << LastErrorText();
  });
  WhileHeldFor(50ms, exclusive, [&] { EXPECT_EQ(StgReadFileShared(path, 1 << 20, &image), S_OK) << LastErrorText(); });
  EXPECT_TRUE(Holds(image, "Old"));
}

// Saves and reads of one file from several threads at once: no read fails or sees anything
// but one whole save, and every save succeeds, the last one's file remaining.
TEST(CompoundSharing, ConcurrentSavesAndReadsNeverFailOrMix) {
  TempDir dir;
  const std::string path = dir.File("busy.cfb");
  SaveNamed(path, "S0");
  std::atomic<bool> saving{true};
  std::atomic<int> readFailures{0}, mixed{0}, reads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r)
    readers.emplace_back([&] {
      while (saving) {
        std::vector<std::uint8_t> image;
        std::shared_ptr<IStorage> root;
        if (StgReadFileShared(path, 1 << 20, &image) != S_OK || StgOpenStorageOnMemory(image, &root) != S_OK) {
          ++readFailures;
          continue;
        }
        // Each save holds exactly one storage, named after it.
        std::shared_ptr<IEnumSTATSTG> items;
        int count = 0;
        if (root->EnumElements(0, nullptr, 0, &items) == S_OK) {
          STATSTG st{};
          while (items->Next(1, &st, nullptr) == S_OK) ++count;
        }
        if (count != 1) ++mixed;
        ++reads;
      }
    });
  std::vector<std::thread> savers;
  std::atomic<int> saveFailures{0};
  for (int s = 0; s < 2; ++s)
    savers.emplace_back([&, s] {
      for (int i = 0; i < 15; ++i) {
        std::shared_ptr<IStorage> root, child;
        const std::string name = "S" + std::to_string(s) + "-" + std::to_string(i);
        if (StgOpenStorageForSave(path, &root) != S_OK) {
          ++saveFailures;
          continue;
        }
        // Each save replaces the whole tree with its own storage.
        std::shared_ptr<IEnumSTATSTG> items;
        std::vector<std::u16string> old;
        if (root->EnumElements(0, nullptr, 0, &items) == S_OK) {
          STATSTG st{};
          while (items->Next(1, &st, nullptr) == S_OK) old.push_back(st.pwcsName);
        }
        for (const auto& n : old) root->DestroyElement(n);
        if (root->CreateStorage(U(name), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &child) != S_OK ||
            root->Commit(STGC_DEFAULT) != S_OK)
          ++saveFailures;
      }
    });
  for (auto& t : savers) t.join();
  saving = false;
  for (auto& t : readers) t.join();
  EXPECT_EQ(saveFailures, 0) << LastErrorText();
  EXPECT_EQ(readFailures, 0);
  EXPECT_EQ(mixed, 0);
  EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace kyvex::ole
