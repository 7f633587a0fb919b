// Not in ole32: how this program's own saves and reads share a storage file with each other
// and with other programs. Callers that open files through the ole32-shaped functions keep
// ole32's exclusive sharing.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "compound/Ole.h"

namespace kyvex::ole {

// Not in ole32: this program's own saves, which share the file with readers. Opens the file
// for writing, making it where it is missing. A file that is not a compound file (judged by
// its signature, under the hold) opens as an empty one and is replaced at the commit. Other
// programs may read the file until the commit; another save, or a program holding the file
// exclusively, is waited for (see SetShareWait) before STG_E_SHAREVIOLATION, whose message
// says how long it waited. The commit waits likewise for the readers of the moment.
HRESULT StgOpenStorageForSave(const std::string& fileName, std::shared_ptr<IStorage>* ppstgOpen);

// Not in ole32: the whole file as a reader that only keeps writers out; a file held
// exclusively or being replaced is waited for as above. Files larger than limit answer
// STG_E_DOCFILETOOLARGE; any kind of file is read (StgIsStorageFile's test is up to the caller).
HRESULT StgReadFileShared(const std::string& fileName, std::uint64_t limit, std::vector<std::uint8_t>* bytes);

// How long saves and shared reads wait for a file others hold: five seconds unless set (tests
// shorten it).
void SetShareWait(std::chrono::milliseconds wait);

}  // namespace kyvex::ole
