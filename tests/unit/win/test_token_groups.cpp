// The token's group list, read with a buffer as large as the system asks for: an
// administrator who is a member of many domain groups is still seen as one.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/win32/Win32Platform.h"

#include <windows.h>

using kyvex::platform::ReadTokenGroupSids;

namespace {

// S-1-5-21-1000-2000-3000-<rid>: a domain group, 28 bytes.
std::vector<std::uint8_t> DomainSid(std::uint32_t rid) {
  std::vector<std::uint8_t> sid = {1, 5, 0, 0, 0, 0, 0, 5};
  for (std::uint32_t sub : {21u, 1000u, 2000u, 3000u, rid})
    for (int b = 0; b < 4; ++b) sid.push_back(static_cast<std::uint8_t>(sub >> (8 * b)));
  return sid;
}

const std::vector<std::uint8_t> kAdministrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

// What GetTokenInformation writes for `sids`: TOKEN_GROUPS, then the SIDs it points at.
struct FakeTokenQuery {
  std::vector<std::vector<std::uint8_t>> sids;
  int calls = 0;
  std::uint32_t Required() const {
    std::size_t n = offsetof(TOKEN_GROUPS, Groups) + sids.size() * sizeof(SID_AND_ATTRIBUTES);
    for (const auto& s : sids) n += s.size();
    return static_cast<std::uint32_t>(n);
  }
  bool operator()(void* buffer, std::uint32_t size, std::uint32_t& needed) {
    ++calls;
    needed = Required();
    if (size < needed) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    auto* groups = static_cast<TOKEN_GROUPS*>(buffer);
    groups->GroupCount = static_cast<DWORD>(sids.size());
    auto* at = reinterpret_cast<std::uint8_t*>(&groups->Groups[sids.size()]);
    for (std::size_t i = 0; i < sids.size(); ++i) {
      std::memcpy(at, sids[i].data(), sids[i].size());
      groups->Groups[i].Sid = at;
      groups->Groups[i].Attributes = SE_GROUP_ENABLED;
      at += sids[i].size();
    }
    return true;
  }
};

TEST(TokenGroups, AListLargerThanTheFirstBufferIsAskedForAgainWhole) {
  FakeTokenQuery query;
  for (std::uint32_t rid = 1100; rid < 1160; ++rid) query.sids.push_back(DomainSid(rid));
  query.sids.push_back(kAdministrators);  // last, beyond the first kilobyte
  ASSERT_GT(query.Required(), 1024u);
  const auto sids = ReadTokenGroupSids(std::ref(query));
  ASSERT_TRUE(sids.has_value());
  EXPECT_EQ(query.calls, 2);
  ASSERT_EQ(sids->size(), query.sids.size());
  EXPECT_EQ(sids->back(), kAdministrators);
  EXPECT_EQ((*sids)[7], DomainSid(1107));
}

TEST(TokenGroups, OtherFailuresAndEndlessGrowthGiveNoList) {
  int calls = 0;
  auto denied = [&calls](void*, std::uint32_t, std::uint32_t& needed) {
    ++calls;
    needed = 0;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  };
  EXPECT_FALSE(ReadTokenGroupSids(denied).has_value());
  EXPECT_EQ(calls, 1);

  calls = 0;
  auto growing = [&calls](void*, std::uint32_t size, std::uint32_t& needed) {
    ++calls;
    needed = size + 64;  // never satisfied
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  };
  EXPECT_FALSE(ReadTokenGroupSids(growing).has_value());
  EXPECT_EQ(calls, 5);
}

}  // namespace
#endif
