#include "smbios/KSI_SMBIOS.h"

namespace kyvex {

TKyvex_SMBIOS::TKyvex_SMBIOS(TComponent* AOwner) : TKyvex_KSIC_Component(AOwner) {}

void TKyvex_SMBIOS::CollectData() { TKyvex_KSIC_Component::CollectData(); }

}  // namespace kyvex
