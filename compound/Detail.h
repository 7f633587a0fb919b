// Internals shared by the engine's parts: the in-memory tree of a compound file and the
// reporting of failures. Not part of the public interface.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compound/Ole.h"
#include "platform/ByteOrder.h"

namespace kyvex::ole::detail {

// Records why the current call fails and returns its status.
HRESULT Fail(HRESULT hr, std::string text);
void ClearError();

// Sibling order of the directory: shorter names first, then upper-cased code unit by code
// unit. ole32 finds elements by this order, so the file must keep it.
struct NameOrder {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
  }
};

std::u16string UpperName(std::u16string_view name);

struct PropertySetData;

// One element of a compound file: the root, a storage or a stream.
struct Node {
  Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  // Releases a deep tree without recursing once per level.
  ~Node();

  std::u16string name;
  bool isStorage = false;
  CLSID clsid;
  std::uint32_t stateBits = 0;
  std::uint64_t ctime = 0;
  std::uint64_t mtime = 0;
  // A stream's bytes. When propertySet is set, it is the authority and data is brought up
  // to date from it before the file is written.
  std::vector<std::uint8_t> data;
  std::shared_ptr<PropertySetData> propertySet;
  // Property-set interfaces open on this stream. When the last one closes, the set is written
  // to the bytes (in a file open for writing) and the parsed set dropped: a reader walking a
  // large file, or a writer filling one, would otherwise keep every set it ever touched.
  std::uint32_t propertyUsers = 0;
  // Children keyed by their upper-cased names.
  std::map<std::u16string, std::shared_ptr<Node>, NameOrder> children;
  // Set when the element was destroyed or the file closed or reverted: interfaces still
  // holding it answer STG_E_REVERTED.
  bool removed = false;
};

// Marks a subtree removed, without recursion.
void MarkRemoved(Node& node);

// Structure of the container: bytes <-> tree. Parsing checks every count, sector number,
// chain and entry of the file and fails with STG_E_INVALIDHEADER or STG_E_DOCFILECORRUPT
// (with LastErrorText telling what was found) on anything it cannot trust.
HRESULT ParseCompound(const std::uint8_t* bytes, std::size_t size, std::shared_ptr<Node>* root);
HRESULT SerializeCompound(const Node& root, std::vector<std::uint8_t>* out);

inline constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Little-endian access at byte offsets; callers check the bounds.
using namespace bytes;  // Get16/32/64 and Put16/32/64
GUID GetGuid(const std::uint8_t* p);
void PutGuid(std::uint8_t* p, const GUID& g);

std::string Hex32(std::uint32_t v);
std::string NameForMessage(std::u16string_view name);

}  // namespace kyvex::ole::detail
