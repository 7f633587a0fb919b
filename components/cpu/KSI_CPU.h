// The processor component: identifies one logical processor at a time through CPUID.
#pragma once

#include "common/KSI_Common.h"

namespace kyvex {

class TKyvex_CPU : public TKyvex_KSIC_Component {
 public:
  explicit TKyvex_CPU(TComponent* AOwner = nullptr);

  // The logical processor described (0-based).
  int CPUIndex() const { return FCPUIndex; }
  void SetCPUIndex(int index) { FCPUIndex = index; }

  void CollectData() override;

 private:
  int FCPUIndex = 0;
};

}  // namespace kyvex
