#include "storage/KSI_Storage.h"

namespace kyvex {

void TKyvex_Storage::CollectData() { TKyvex_KSIC_Component::CollectData(); }

}  // namespace kyvex
