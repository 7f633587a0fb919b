// What every fuzz target asks of the output it renders from hostile input: JSON that the
// strict dump accepts (it throws on text that is not UTF-8), and text that is valid UTF-8 and
// holds no control character but the line feed, so that nothing an input carries can command
// a terminal.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/Text.h"

namespace kyvex::fuzz {

inline void CheckShown(const std::string& s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    char32_t c = 0;
    if (!text::DecodeUtf8(s, pos, c)) __builtin_trap();
    if ((c < 0x20 && c != '\n') || c == 0x7F || (c >= 0x80 && c <= 0x9F)) __builtin_trap();
  }
}

inline void CheckJson(const nlohmann::ordered_json& j) { CheckShown(j.dump(2)); }

}  // namespace kyvex::fuzz
