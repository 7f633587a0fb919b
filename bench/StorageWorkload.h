// The work of the storage-file benchmarks, the same for every engine that does it: a storage
// "Storage" holding N storages "Device<d>", each with a DocumentSummaryInformation property set
// of 45 named values (6 strings, 39 64-bit integers: the size of a large storage-device save),
// written one value at a time and then read back one value at a time by name.
//
// Plain C++ only: Windows' ole32 benchmark program shares it without our engine.
#pragma once

#include <cstdint>
#include <string>

namespace kyvex::bench {

constexpr int kStrings = 6;
constexpr int kIntegers = 39;
constexpr int kValues = kStrings + kIntegers;

// Names of even length throughout. Wine's ole32 pads a dictionary entry of an odd-length name
// wrongly and then cannot open its own set again; the benchmark measures speed,
// so it keeps clear of that fault rather than reproducing it.
inline std::string ValueName(int i) {
  std::string name = i < kStrings ? "Text" : "Number";
  if (i < 10) name += '0';
  return name += std::to_string(i);
}

inline std::string StorageName(int device) { return "Device" + std::to_string(device); }

inline std::string StringValue(int device, int i) { return "Value text " + std::to_string(device * 100 + i); }

inline std::int64_t IntegerValue(int device, int i) { return std::int64_t{device} * 1000 + i; }

// What reading everything back adds up to: the length of every string plus every integer.
// A reader that got any value wrong (or none) misses it.
inline std::int64_t ExpectedSum(int storages) {
  std::int64_t sum = 0;
  for (int d = 0; d < storages; ++d) {
    for (int i = 0; i < kStrings; ++i) sum += static_cast<std::int64_t>(StringValue(d, i).size());
    for (int i = kStrings; i < kValues; ++i) sum += IntegerValue(d, i);
  }
  return sum;
}

}  // namespace kyvex::bench
