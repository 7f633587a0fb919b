// The compound-file container: reading a file into the element tree and writing the tree
// as a version-3 file (512-byte sectors, 64-byte mini sectors, streams shorter than 4096
// bytes in the mini stream, DIFAT sectors once 109 FAT sectors no longer suffice).
//
// The reader takes every number in the file as hostile: sector numbers are checked against
// the file, every sector may belong to one chain only (so loops and cross-linked chains are
// found, and the total of all allocations stays below the size of the file), directory
// entries are visited once each with explicit stacks (a degenerate sibling chain thousands
// deep loads like any other tree).
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "compound/Detail.h"
#include "platform/Text.h"

namespace kyvex::ole::detail {
namespace {

constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kEntrySize = 128;
constexpr std::uint32_t kHeaderDifatEntries = 109;

constexpr std::uint8_t kTypeUnused = 0;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;

std::string SectorText(std::uint32_t s) {
  switch (s) {
    case kFreeSect: return "FREESECT";
    case kEndOfChain: return "ENDOFCHAIN";
    case kFatSect: return "FATSECT";
    case kDifSect: return "DIFSECT";
    default: return std::to_string(s);
  }
}

HRESULT Corrupt(std::string text) { return Fail(STG_E_DOCFILECORRUPT, std::move(text)); }
HRESULT BadHeader(std::string text) { return Fail(STG_E_INVALIDHEADER, std::move(text)); }

class Reader {
 public:
  Reader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

  HRESULT Parse(std::shared_ptr<Node>* out);

 private:
  // Owners of a sector; each sector may be claimed once.
  enum : std::uint8_t { kUnowned = 0, kOwned = 1 };

  HRESULT ReadHeader();
  HRESULT ReadFat();
  HRESULT ClaimSector(std::uint32_t s, const char* what);
  // Follows a chain from start. With need set, stops after that many sectors and fails when
  // the chain is shorter; otherwise follows it to ENDOFCHAIN.
  HRESULT Chain(std::uint32_t start, bool bounded, std::uint64_t need, const char* what,
                std::vector<std::uint32_t>* chain);
  void CopySectors(const std::vector<std::uint32_t>& chain, std::uint64_t size, std::uint8_t* dst) const;
  HRESULT LoadMiniStream();
  HRESULT ReadStream(std::uint32_t entry, std::uint32_t start, std::uint64_t size, std::vector<std::uint8_t>* data);
  HRESULT ReadEntryName(std::uint32_t id, std::u16string* name) const;
  const std::uint8_t* Entry(std::uint32_t id) const { return directory_.data() + std::size_t{id} * kEntrySize; }

  const std::uint8_t* bytes_;
  std::size_t size_;
  std::uint16_t major_ = 0;
  std::uint32_t sectorSize_ = 512;
  std::uint64_t sectorCount_ = 0;  // sectors after the header, a partial last one included
  std::uint32_t fatSectors_ = 0;
  std::uint32_t firstDir_ = 0;
  std::uint32_t firstMiniFat_ = 0;
  std::uint32_t miniFatSectors_ = 0;
  std::uint32_t firstDifat_ = 0;
  std::uint32_t difatSectors_ = 0;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint8_t> owner_;
  std::vector<std::uint8_t> directory_;
  std::uint32_t entryCount_ = 0;
  bool miniLoaded_ = false;
  std::vector<std::uint32_t> miniFat_;
  std::vector<std::uint8_t> miniStream_;
  std::vector<std::uint8_t> miniOwner_;
};

HRESULT Reader::ReadHeader() {
  if (size_ < 8 || std::memcmp(bytes_, kSignature, 8) != 0)
    return Fail(STG_E_FILEALREADYEXISTS, "the file is not a compound file (no compound-file signature)");
  if (size_ < 512)
    return BadHeader("the file is " + std::to_string(size_) + " bytes long, shorter than the 512-byte header");
  const std::uint8_t* h = bytes_;
  major_ = Get16(h + 0x1A);
  const std::uint16_t byteOrder = Get16(h + 0x1C);
  const std::uint16_t sectorShift = Get16(h + 0x1E);
  const std::uint16_t miniShift = Get16(h + 0x20);
  if (byteOrder != 0xFFFE) return BadHeader("byte-order mark " + Hex32(byteOrder) + " instead of 0xFFFE");
  if (!((major_ == 3 && sectorShift == 9) || (major_ == 4 && sectorShift == 12)))
    return BadHeader("major version " + std::to_string(major_) + " with sector shift " +
                     std::to_string(sectorShift) + " (expected 3 with 9, or 4 with 12)");
  if (miniShift != 6) return BadHeader("mini sector shift " + std::to_string(miniShift) + " instead of 6");
  const std::uint32_t cutoff = Get32(h + 0x38);
  if (cutoff != kMiniStreamCutoff)
    return BadHeader("mini-stream cutoff " + std::to_string(cutoff) + " instead of 4096");
  sectorSize_ = 1u << sectorShift;
  if (size_ < sectorSize_)
    return BadHeader("the file is " + std::to_string(size_) + " bytes long, shorter than its " +
                     std::to_string(sectorSize_) + "-byte header sector");
  sectorCount_ = (size_ - sectorSize_ + sectorSize_ - 1) / sectorSize_;
  if (sectorCount_ > kMaxRegSect) sectorCount_ = kMaxRegSect;
  fatSectors_ = Get32(h + 0x2C);
  firstDir_ = Get32(h + 0x30);
  firstMiniFat_ = Get32(h + 0x3C);
  miniFatSectors_ = Get32(h + 0x40);
  firstDifat_ = Get32(h + 0x44);
  difatSectors_ = Get32(h + 0x48);
  if (fatSectors_ == 0) return Corrupt("the header names no FAT sector");
  if (fatSectors_ > sectorCount_)
    return Corrupt("the header claims " + std::to_string(fatSectors_) + " FAT sectors, but the file holds only " +
                   std::to_string(sectorCount_) + " sectors");
  if (difatSectors_ > sectorCount_)
    return Corrupt("the header claims " + std::to_string(difatSectors_) + " DIFAT sectors, but the file holds only " +
                   std::to_string(sectorCount_) + " sectors");
  if (miniFatSectors_ > sectorCount_)
    return Corrupt("the header claims " + std::to_string(miniFatSectors_) +
                   " mini FAT sectors, but the file holds only " + std::to_string(sectorCount_) + " sectors");
  owner_.assign(static_cast<std::size_t>(sectorCount_), kUnowned);
  return S_OK;
}

HRESULT Reader::ClaimSector(std::uint32_t s, const char* what) {
  if (s > kMaxRegSect || s >= sectorCount_)
    return Corrupt(std::string(what) + " refers to sector " + SectorText(s) + ", outside the file's " +
                   std::to_string(sectorCount_) + " sectors");
  if (owner_[s] != kUnowned)
    return Corrupt(std::string(what) + " reaches sector " + std::to_string(s) +
                   " a second time (a loop, or a sector shared with another chain)");
  owner_[s] = kOwned;
  return S_OK;
}

HRESULT Reader::ReadFat() {
  std::vector<std::uint32_t> fatSectorList;
  fatSectorList.reserve(fatSectors_);
  for (std::uint32_t i = 0; i < kHeaderDifatEntries && fatSectorList.size() < fatSectors_; ++i)
    fatSectorList.push_back(Get32(bytes_ + 0x4C + 4 * i));
  const std::uint32_t perDifat = sectorSize_ / 4 - 1;
  std::uint32_t s = firstDifat_;
  std::uint32_t difatRead = 0;
  std::vector<std::uint8_t> sector(sectorSize_);
  while (fatSectorList.size() < fatSectors_) {
    if (s == kEndOfChain || s == kFreeSect || difatRead >= difatSectors_)
      return Corrupt("the DIFAT lists " + std::to_string(fatSectorList.size()) + " FAT sectors of the " +
                     std::to_string(fatSectors_) + " the header claims");
    if (HRESULT hr = ClaimSector(s, "the DIFAT chain"); Failed(hr)) return hr;
    CopySectors({s}, sectorSize_, sector.data());
    for (std::uint32_t i = 0; i < perDifat && fatSectorList.size() < fatSectors_; ++i)
      fatSectorList.push_back(Get32(sector.data() + 4 * i));
    s = Get32(sector.data() + 4 * perDifat);
    ++difatRead;
  }
  const std::size_t perSector = sectorSize_ / 4;
  fat_.resize(std::size_t{fatSectors_} * perSector);
  for (std::size_t i = 0; i < fatSectorList.size(); ++i) {
    const std::uint32_t fs = fatSectorList[i];
    if (HRESULT hr = ClaimSector(fs, ("FAT sector " + std::to_string(i)).c_str()); Failed(hr)) return hr;
    CopySectors({fs}, sectorSize_, sector.data());
    for (std::size_t k = 0; k < perSector; ++k) fat_[i * perSector + k] = Get32(sector.data() + 4 * k);
  }
  return S_OK;
}

HRESULT Reader::Chain(std::uint32_t start, bool bounded, std::uint64_t need, const char* what,
                      std::vector<std::uint32_t>* chain) {
  chain->clear();
  if (bounded) {
    if (need > sectorCount_)
      return Corrupt(std::string(what) + " needs " + std::to_string(need) + " sectors, more than the file's " +
                     std::to_string(sectorCount_));
    chain->reserve(static_cast<std::size_t>(need));
  }
  std::uint32_t s = start;
  while (!bounded || chain->size() < need) {
    if (s == kEndOfChain) {
      if (bounded)
        return Corrupt(std::string(what) + " ends after " + std::to_string(chain->size()) + " of its " +
                       std::to_string(need) + " sectors");
      break;
    }
    if (HRESULT hr = ClaimSector(s, what); Failed(hr)) return hr;
    chain->push_back(s);
    if (s >= fat_.size())
      return Corrupt(std::string(what) + " reaches sector " + std::to_string(s) + ", which no FAT sector covers");
    s = fat_[s];
  }
  return S_OK;
}

void Reader::CopySectors(const std::vector<std::uint32_t>& chain, std::uint64_t size, std::uint8_t* dst) const {
  std::uint64_t done = 0;
  for (std::uint32_t s : chain) {
    if (done >= size) break;
    const std::uint64_t want = std::min<std::uint64_t>(sectorSize_, size - done);
    const std::uint64_t offset = (std::uint64_t{s} + 1) * sectorSize_;
    // The last sector of a file may be cut short; what is missing reads as zeros.
    const std::uint64_t have = offset >= size_ ? 0 : std::min<std::uint64_t>(want, size_ - offset);
    if (have > 0) std::memcpy(dst + done, bytes_ + offset, static_cast<std::size_t>(have));
    if (have < want) std::memset(dst + done + have, 0, static_cast<std::size_t>(want - have));
    done += want;
  }
}

HRESULT Reader::LoadMiniStream() {
  if (miniLoaded_) return S_OK;
  miniLoaded_ = true;
  const std::uint8_t* root = Entry(0);
  std::uint64_t rootSize = Get64(root + 120);
  if (major_ == 3) rootSize &= 0xFFFFFFFF;
  const std::uint32_t rootStart = Get32(root + 116);
  std::vector<std::uint32_t> chain;
  const std::uint64_t need = (rootSize + sectorSize_ - 1) / sectorSize_;
  if (HRESULT hr = Chain(rootStart, true, need, "the mini stream", &chain); Failed(hr)) return hr;
  miniStream_.resize(static_cast<std::size_t>(rootSize));
  CopySectors(chain, rootSize, miniStream_.data());
  miniOwner_.assign(static_cast<std::size_t>(rootSize / kMiniSectorSize), kUnowned);

  std::vector<std::uint32_t> fatChain;
  if (HRESULT hr = Chain(firstMiniFat_, false, 0, "the mini FAT", &fatChain); Failed(hr)) return hr;
  std::vector<std::uint8_t> raw(fatChain.size() * std::size_t{sectorSize_});
  CopySectors(fatChain, raw.size(), raw.data());
  miniFat_.resize(raw.size() / 4);
  for (std::size_t i = 0; i < miniFat_.size(); ++i) miniFat_[i] = Get32(raw.data() + 4 * i);
  return S_OK;
}

HRESULT Reader::ReadStream(std::uint32_t entry, std::uint32_t start, std::uint64_t size,
                           std::vector<std::uint8_t>* data) {
  const std::string what = "the chain of stream entry " + std::to_string(entry);
  if (size == 0) return S_OK;
  if (size < kMiniStreamCutoff) {
    if (HRESULT hr = LoadMiniStream(); Failed(hr)) return hr;
    const std::uint64_t need = (size + kMiniSectorSize - 1) / kMiniSectorSize;
    if (need > miniOwner_.size())
      return Corrupt(what + " needs " + std::to_string(need) + " mini sectors, more than the mini stream holds");
    data->resize(static_cast<std::size_t>(size));
    std::uint32_t s = start;
    for (std::uint64_t i = 0; i < need; ++i) {
      if (s >= miniOwner_.size())
        return Corrupt(what + " refers to mini sector " + SectorText(s) + ", outside the mini stream's " +
                       std::to_string(miniOwner_.size()) + " mini sectors");
      if (miniOwner_[s] != kUnowned)
        return Corrupt(what + " reaches mini sector " + std::to_string(s) +
                       " a second time (a loop, or a mini sector shared with another stream)");
      miniOwner_[s] = kOwned;
      const std::uint64_t done = i * kMiniSectorSize;
      const std::uint64_t n = std::min<std::uint64_t>(kMiniSectorSize, size - done);
      std::memcpy(data->data() + done, miniStream_.data() + std::size_t{s} * kMiniSectorSize,
                  static_cast<std::size_t>(n));
      if (i + 1 < need) {
        if (s >= miniFat_.size())
          return Corrupt(what + " reaches mini sector " + std::to_string(s) + ", which the mini FAT does not cover");
        s = miniFat_[s];
      }
    }
    return S_OK;
  }
  std::vector<std::uint32_t> chain;
  const std::uint64_t need = (size + sectorSize_ - 1) / sectorSize_;
  if (HRESULT hr = Chain(start, true, need, what.c_str(), &chain); Failed(hr)) return hr;
  data->resize(static_cast<std::size_t>(size));
  CopySectors(chain, size, data->data());
  return S_OK;
}

HRESULT Reader::ReadEntryName(std::uint32_t id, std::u16string* name) const {
  const std::uint8_t* e = Entry(id);
  const std::uint16_t bytes = Get16(e + 64);
  if (bytes < 2 || bytes > 64 || bytes % 2 != 0)
    return Corrupt("directory entry " + std::to_string(id) + " has a name length of " + std::to_string(bytes) +
                   " bytes (2 to 64, even, expected)");
  name->clear();
  for (std::uint16_t i = 0; i + 1 < bytes / 2; ++i) {
    const char16_t c = Get16(e + 2 * i);
    if (c == 0) break;
    name->push_back(c);
  }
  if (name->empty()) return Corrupt("directory entry " + std::to_string(id) + " has an empty name");
  return S_OK;
}

HRESULT Reader::Parse(std::shared_ptr<Node>* out) {
  if (HRESULT hr = ReadHeader(); Failed(hr)) return hr;
  if (HRESULT hr = ReadFat(); Failed(hr)) return hr;

  std::vector<std::uint32_t> dirChain;
  if (HRESULT hr = Chain(firstDir_, false, 0, "the directory chain", &dirChain); Failed(hr)) return hr;
  if (dirChain.empty()) return Corrupt("the directory is empty (no root entry)");
  directory_.resize(dirChain.size() * std::size_t{sectorSize_});
  CopySectors(dirChain, directory_.size(), directory_.data());
  const std::uint64_t entries = directory_.size() / kEntrySize;
  entryCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, kNoStream - 1));

  if (Entry(0)[66] != kTypeRoot)
    return Corrupt("directory entry 0 is of type " + std::to_string(Entry(0)[66]) + ", not the root entry");

  auto root = std::make_shared<Node>();
  root->name = u"Root Entry";
  root->isStorage = true;
  root->clsid = GetGuid(Entry(0) + 80);
  root->stateBits = Get32(Entry(0) + 96);
  root->ctime = Get64(Entry(0) + 100);
  root->mtime = Get64(Entry(0) + 108);

  std::vector<std::uint8_t> visited(entryCount_, 0);
  visited[0] = 1;
  // Storages whose children remain to be read, and, per storage, the sibling tree's
  // entries still to visit: explicit stacks, so no depth of nesting or of a sibling chain
  // can exhaust the call stack.
  std::vector<std::pair<std::uint32_t, Node*>> storages{{0, root.get()}};
  std::vector<std::uint32_t> siblings;
  while (!storages.empty()) {
    auto [parentId, parent] = storages.back();
    storages.pop_back();
    siblings.assign(1, Get32(Entry(parentId) + 76));
    while (!siblings.empty()) {
      const std::uint32_t id = siblings.back();
      siblings.pop_back();
      if (id == kNoStream) continue;
      if (id >= entryCount_)
        return Corrupt("directory entry " + std::to_string(parentId) + "'s tree refers to entry " + std::to_string(id) +
                       ", beyond the directory's " + std::to_string(entryCount_) + " entries");
      if (visited[id])
        return Corrupt("directory entry " + std::to_string(id) +
                       " is reached a second time (the directory tree loops or shares entries)");
      visited[id] = 1;
      const std::uint8_t* e = Entry(id);
      const std::uint8_t type = e[66];
      if (type != kTypeStorage && type != kTypeStream)
        return Corrupt("directory entry " + std::to_string(id) + " is in the tree but has type " +
                       std::to_string(type) + (type == kTypeUnused ? " (unused)" : ""));
      auto node = std::make_shared<Node>();
      if (HRESULT hr = ReadEntryName(id, &node->name); Failed(hr)) return hr;
      node->isStorage = type == kTypeStorage;
      node->clsid = GetGuid(e + 80);
      node->stateBits = Get32(e + 96);
      node->ctime = Get64(e + 100);
      node->mtime = Get64(e + 108);
      if (!node->isStorage) {
        std::uint64_t size = Get64(e + 120);
        // Version-3 files keep the size in 32 bits; old writers left garbage above them.
        if (major_ == 3) size &= 0xFFFFFFFF;
        if (HRESULT hr = ReadStream(id, Get32(e + 116), size, &node->data); Failed(hr)) return hr;
      }
      auto [it, inserted] = parent->children.emplace(UpperName(node->name), node);
      if (!inserted)
        return Corrupt("the name \"" + NameForMessage(node->name) + "\" occurs twice in one storage");
      if (node->isStorage) storages.emplace_back(id, node.get());
      siblings.push_back(Get32(e + 68));
      siblings.push_back(Get32(e + 72));
    }
  }
  *out = std::move(root);
  return S_OK;
}

// Writing.

struct Layout {
  const Node* node;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
};

// A balanced binary tree over the sorted entries [lo, hi): the middle one is the root of each
// subtree. Depth is log2 of the number of siblings.
std::uint32_t BuildBalanced(std::vector<Layout>& entries, std::uint32_t lo, std::uint32_t hi) {
  if (lo >= hi) return kNoStream;
  const std::uint32_t mid = lo + (hi - lo) / 2;
  entries[mid].left = BuildBalanced(entries, lo, mid);
  entries[mid].right = BuildBalanced(entries, mid + 1, hi);
  return mid;
}

void PutEntry(std::uint8_t* p, const Layout& l, std::uint8_t type, std::u16string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) Put16(p + 2 * i, name[i]);
  Put16(p + 64, static_cast<std::uint16_t>((name.size() + 1) * 2));
  p[66] = type;
  p[67] = 1;  // black: ole32 checks the order of siblings, not colours
  Put32(p + 68, l.left);
  Put32(p + 72, l.right);
  Put32(p + 76, l.child);
  PutGuid(p + 80, l.node->clsid);
  Put32(p + 96, l.node->stateBits);
  Put64(p + 100, l.node->ctime);
  Put64(p + 108, l.node->mtime);
  Put32(p + 116, l.start);
  Put64(p + 120, l.size);
}

}  // namespace

Node::~Node() {
  std::vector<std::shared_ptr<Node>> pending;
  for (auto& entry : children) pending.push_back(std::move(entry.second));
  children.clear();
  while (!pending.empty()) {
    std::shared_ptr<Node> n = std::move(pending.back());
    pending.pop_back();
    if (n.use_count() == 1) {
      for (auto& entry : n->children) pending.push_back(std::move(entry.second));
      n->children.clear();
    }
  }
}

void MarkRemoved(Node& node) {
  std::vector<Node*> pending{&node};
  while (!pending.empty()) {
    Node* n = pending.back();
    pending.pop_back();
    n->removed = true;
    for (auto& entry : n->children) pending.push_back(entry.second.get());
  }
}

HRESULT ParseCompound(const std::uint8_t* bytes, std::size_t size, std::shared_ptr<Node>* root) {
  Reader reader(bytes, size);
  return reader.Parse(root);
}

HRESULT SerializeCompound(const Node& root, std::vector<std::uint8_t>* out) {
  constexpr std::uint32_t kSector = 512;
  constexpr std::uint32_t kFatPerSector = kSector / 4;
  constexpr std::uint32_t kDifatPerSector = kFatPerSector - 1;

  // Directory entries: the root first, then each storage's children as a consecutive run in
  // directory order, storages taken breadth first.
  std::vector<Layout> entries;
  entries.push_back({&root});
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Node* n = entries[i].node;
    if (!n->isStorage || n->children.empty()) continue;
    if (entries.size() + n->children.size() >= kNoStream)
      return Fail(STG_E_DOCFILETOOLARGE, "too many elements for one compound file");
    const auto first = static_cast<std::uint32_t>(entries.size());
    for (const auto& entry : n->children) entries.push_back({entry.second.get()});
    entries[i].child = BuildBalanced(entries, first, static_cast<std::uint32_t>(entries.size()));
  }

  // Streams: short ones into the mini stream, the others into sectors of their own.
  std::uint64_t miniSectors = 0;
  std::uint64_t bigSectors = 0;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const Node* n = entries[i].node;
    if (n->isStorage) {
      entries[i].start = 0;
      continue;
    }
    const std::uint64_t size = n->data.size();
    if (size > 0xFFFFFFFFu) return Fail(STG_E_DOCFILETOOLARGE, "a stream exceeds 4 GB");
    entries[i].size = size;
    if (size == 0) continue;
    if (size < kMiniStreamCutoff) {
      entries[i].start = static_cast<std::uint32_t>(miniSectors);
      miniSectors += (size + kMiniSectorSize - 1) / kMiniSectorSize;
    } else {
      bigSectors += (size + kSector - 1) / kSector;
    }
  }
  const std::uint64_t miniStreamBytes = miniSectors * kMiniSectorSize;
  const std::uint64_t miniStreamSectors = (miniStreamBytes + kSector - 1) / kSector;
  const std::uint64_t miniFatSectors = (miniSectors + kFatPerSector - 1) / kFatPerSector;
  const std::uint64_t dirSectors = (entries.size() * kEntrySize + kSector - 1) / kSector;
  const std::uint64_t dataSectors = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;

  // FAT sectors must also describe themselves and the DIFAT sectors.
  std::uint64_t fatSectors = std::max<std::uint64_t>(1, (dataSectors + kFatPerSector - 1) / kFatPerSector);
  std::uint64_t difatSectors = 0;
  for (;;) {
    difatSectors = fatSectors > kHeaderDifatEntries
                       ? (fatSectors - kHeaderDifatEntries + kDifatPerSector - 1) / kDifatPerSector
                       : 0;
    if (fatSectors * kFatPerSector >= dataSectors + fatSectors + difatSectors) break;
    ++fatSectors;
  }
  const std::uint64_t totalSectors = fatSectors + difatSectors + dataSectors;
  if (totalSectors >= kMaxRegSect || miniStreamBytes > 0xFFFFFFFFu)
    return Fail(STG_E_DOCFILETOOLARGE, "the file would exceed the size a version-3 compound file can hold");

  const auto fatStart = std::uint32_t{0};
  const auto difatStart = static_cast<std::uint32_t>(fatSectors);
  const auto dirStart = static_cast<std::uint32_t>(difatStart + difatSectors);
  const auto miniFatStart = static_cast<std::uint32_t>(dirStart + dirSectors);
  const auto miniStreamStart = static_cast<std::uint32_t>(miniFatStart + miniFatSectors);
  auto nextBig = static_cast<std::uint32_t>(miniStreamStart + miniStreamSectors);

  out->assign(static_cast<std::size_t>((totalSectors + 1) * kSector), 0);
  std::uint8_t* file = out->data();
  auto sectorAt = [file](std::uint64_t s) { return file + (s + 1) * kSector; };

  std::vector<std::uint32_t> fat(static_cast<std::size_t>(fatSectors * kFatPerSector), kFreeSect);
  auto chainRun = [&fat](std::uint32_t first, std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i)
      fat[first + i] = i + 1 < count ? static_cast<std::uint32_t>(first + i + 1) : kEndOfChain;
  };
  for (std::uint64_t i = 0; i < fatSectors; ++i) fat[fatStart + i] = kFatSect;
  for (std::uint64_t i = 0; i < difatSectors; ++i) fat[difatStart + i] = kDifSect;
  chainRun(dirStart, dirSectors);
  chainRun(miniFatStart, miniFatSectors);
  chainRun(miniStreamStart, miniStreamSectors);

  // Stream contents and the mini FAT.
  std::vector<std::uint32_t> miniFat(static_cast<std::size_t>(miniFatSectors * kFatPerSector), kFreeSect);
  std::uint8_t* mini = sectorAt(miniStreamStart);
  for (std::size_t i = 1; i < entries.size(); ++i) {
    Layout& l = entries[i];
    if (l.node->isStorage || l.size == 0) continue;
    const auto& data = l.node->data;
    if (l.size < kMiniStreamCutoff) {
      std::memcpy(mini + std::uint64_t{l.start} * kMiniSectorSize, data.data(), data.size());
      const std::uint64_t n = (l.size + kMiniSectorSize - 1) / kMiniSectorSize;
      for (std::uint64_t k = 0; k < n; ++k)
        miniFat[l.start + k] = k + 1 < n ? static_cast<std::uint32_t>(l.start + k + 1) : kEndOfChain;
    } else {
      const std::uint64_t n = (l.size + kSector - 1) / kSector;
      l.start = nextBig;
      chainRun(nextBig, n);
      std::memcpy(sectorAt(nextBig), data.data(), data.size());
      nextBig = static_cast<std::uint32_t>(nextBig + n);
    }
  }
  for (std::size_t i = 0; i < miniFat.size(); ++i) Put32(sectorAt(miniFatStart) + 4 * i, miniFat[i]);

  // Directory.
  entries[0].start = miniStreamSectors > 0 ? miniStreamStart : kEndOfChain;
  entries[0].size = miniStreamBytes;
  std::uint8_t* dir = sectorAt(dirStart);
  PutEntry(dir, entries[0], kTypeRoot, u"Root Entry");
  for (std::size_t i = 1; i < entries.size(); ++i)
    PutEntry(dir + i * kEntrySize, entries[i], entries[i].node->isStorage ? kTypeStorage : kTypeStream,
             entries[i].node->name);
  for (std::uint64_t i = entries.size(); i < dirSectors * (kSector / kEntrySize); ++i) {
    std::uint8_t* p = dir + i * kEntrySize;
    Put32(p + 68, kNoStream);
    Put32(p + 72, kNoStream);
    Put32(p + 76, kNoStream);
  }

  // FAT, DIFAT and header.
  for (std::size_t i = 0; i < fat.size(); ++i) Put32(sectorAt(fatStart) + 4 * i, fat[i]);
  std::uint8_t* h = file;
  std::memcpy(h, kSignature, 8);
  Put16(h + 0x18, 0x003E);
  Put16(h + 0x1A, 3);
  Put16(h + 0x1C, 0xFFFE);
  Put16(h + 0x1E, 9);
  Put16(h + 0x20, 6);
  Put32(h + 0x2C, static_cast<std::uint32_t>(fatSectors));
  Put32(h + 0x30, dirStart);
  Put32(h + 0x38, kMiniStreamCutoff);
  Put32(h + 0x3C, miniFatSectors > 0 ? miniFatStart : kEndOfChain);
  Put32(h + 0x40, static_cast<std::uint32_t>(miniFatSectors));
  Put32(h + 0x44, difatSectors > 0 ? difatStart : kEndOfChain);
  Put32(h + 0x48, static_cast<std::uint32_t>(difatSectors));
  for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i)
    Put32(h + 0x4C + 4 * i, i < fatSectors ? fatStart + i : kFreeSect);
  for (std::uint64_t d = 0; d < difatSectors; ++d) {
    std::uint8_t* p = sectorAt(difatStart + d);
    for (std::uint32_t k = 0; k < kDifatPerSector; ++k) {
      const std::uint64_t fatIndex = kHeaderDifatEntries + d * kDifatPerSector + k;
      Put32(p + 4 * k, fatIndex < fatSectors ? static_cast<std::uint32_t>(fatStart + fatIndex) : kFreeSect);
    }
    Put32(p + 4 * kDifatPerSector, d + 1 < difatSectors ? static_cast<std::uint32_t>(difatStart + d + 1) : kEndOfChain);
  }
  return S_OK;
}

}  // namespace kyvex::ole::detail
