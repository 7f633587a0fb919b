#include "cpu/KSI_CPU.h"

namespace kyvex {

TKyvex_CPU::TKyvex_CPU(TComponent* AOwner) : TKyvex_KSIC_Component(AOwner) {}

void TKyvex_CPU::CollectData() { TKyvex_KSIC_Component::CollectData(); }

}  // namespace kyvex
