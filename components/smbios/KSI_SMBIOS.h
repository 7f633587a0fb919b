// The SMBIOS component: copies the firmware tables and decodes them.
#pragma once

#include "common/KSI_Common.h"

namespace kyvex {

class TKyvex_SMBIOS : public TKyvex_KSIC_Component {
 public:
  explicit TKyvex_SMBIOS(TComponent* AOwner = nullptr);

  // True: read this machine's firmware tables; false: decode a table loaded from elsewhere.
  bool ReadLocalMemory() const { return FReadLocalMemory; }
  void SetReadLocalMemory(bool value) { FReadLocalMemory = value; }

  void CollectData() override;

 private:
  bool FReadLocalMemory = false;
};

}  // namespace kyvex
