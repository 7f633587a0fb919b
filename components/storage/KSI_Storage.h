// The storage-device component: physical disks, optical and tape drives, drive letters.
#pragma once

#include "common/KSI_Common.h"

namespace kyvex {

class TKyvex_Storage : public TKyvex_KSIC_Component {
 public:
  using TKyvex_KSIC_Component::TKyvex_KSIC_Component;

  void CollectData() override;
};

}  // namespace kyvex
