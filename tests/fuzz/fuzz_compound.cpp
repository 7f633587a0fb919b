// libFuzzer target for the storage-file reader: the input is taken both as a whole compound
// file (every storage walked, every property set opened and read) and as a property-set
// stream on its own. Whatever parses must also survive being written and read again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "compound/Detail.h"
#include "compound/Ole.h"
#include "compound/PropertySetFormat.h"

namespace {

using namespace kyvex::ole;

void ReadSet(IStorage& storage, const FMTID& fmtid) {
  std::shared_ptr<IPropertySetStorage> sets;
  if (storage.QueryPropertySetStorage(&sets) != S_OK) return;
  std::shared_ptr<IPropertyStorage> set;
  if (sets->Open(fmtid, STGM_READ | STGM_SHARE_EXCLUSIVE, &set) != S_OK) return;
  std::vector<STATPROPSTG> props;
  if (set->Enum(&props) != S_OK) __builtin_trap();
  for (const STATPROPSTG& p : props) {
    const PROPSPEC byId = PROPSPEC::ById(p.propid);
    PROPVARIANT v;
    if (set->ReadMultiple(1, &byId, &v) != S_OK) __builtin_trap();
    if (!p.lpwstrName.empty()) {
      const PROPSPEC byName = PROPSPEC::ByName(p.lpwstrName);
      if (set->ReadMultiple(1, &byName, &v) != S_OK) __builtin_trap();
    }
  }
}

void WalkCompound(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<IStorage> root;
  if (StgOpenStorageOnMemory({data, size}, &root) != S_OK) return;
  std::vector<std::shared_ptr<IStorage>> pending{root};
  while (!pending.empty()) {
    std::shared_ptr<IStorage> storage = std::move(pending.back());
    pending.pop_back();
    ReadSet(*storage, FMTID_SummaryInformation);
    ReadSet(*storage, FMTID_DocSummaryInformation);
    std::shared_ptr<IEnumSTATSTG> e;
    if (storage->EnumElements(0, nullptr, 0, &e) != S_OK) __builtin_trap();
    STATSTG batch[10];
    ULONG got = 0;
    HRESULT hr;
    do {
      hr = e->Next(10, batch, &got);
      for (ULONG i = 0; i < got; ++i) {
        if (batch[i].type != STGTY_STORAGE) continue;
        std::shared_ptr<IStorage> child;
        const HRESULT open =
            storage->OpenStorage(batch[i].pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &child);
        if (open != S_OK) __builtin_trap();
        pending.push_back(std::move(child));
      }
    } while (hr == S_OK);
  }
  // What was read can be written and read back.
  std::shared_ptr<detail::Node> tree;
  if (detail::ParseCompound(data, size, &tree) != S_OK) __builtin_trap();
  std::vector<std::uint8_t> image;
  if (detail::SerializeCompound(*tree, &image) != S_OK) return;  // too large for version 3
  std::shared_ptr<detail::Node> again;
  if (detail::ParseCompound(image.data(), image.size(), &again) != S_OK) __builtin_trap();
}

void ParseAsPropertySet(const std::uint8_t* data, std::size_t size) {
  detail::PropertySetData set;
  if (detail::ParsePropertySet(data, size, FMTID_DocSummaryInformation, &set) != S_OK) return;
  std::vector<std::uint8_t> bytes;
  if (detail::SerializePropertySet(set, &bytes) != S_OK) return;
  detail::PropertySetData again;
  if (detail::ParsePropertySet(bytes.data(), bytes.size(), FMTID_DocSummaryInformation, &again) != S_OK)
    __builtin_trap();
  if (again.values.size() != set.values.size() || again.names != set.names) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WalkCompound(data, size);
  ParseAsPropertySet(data, size);
  return 0;
}
