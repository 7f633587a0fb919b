#include "storage/Kyvex_IdentifyFile.h"

#include <cstring>

namespace kyvex {

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

}  // namespace

bool ReadIdentifyBlock(const std::string& Contents, std::array<std::uint8_t, 512>& Block, std::string& Error) {
  Block.fill(0);
  Error.clear();
  if (Contents.size() == 512) {
    std::memcpy(Block.data(), Contents.data(), 512);
    return true;
  }
  std::size_t words = 0;
  std::size_t pos = 0;
  int lineNumber = 0;
  while (pos < Contents.size()) {
    std::size_t end = Contents.find('\n', pos);
    if (end == std::string::npos) end = Contents.size();
    std::string line = Contents.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    while (!line.empty() && IsSpace(line.back())) line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && IsSpace(line[start])) ++start;
    if (start == line.size()) continue;
    // hdparm names the device above its words: "/dev/sda:".
    if (line.back() == ':') continue;
    for (std::size_t p = start; p < line.size();) {
      std::size_t q = p;
      while (q < line.size() && !IsSpace(line[q])) ++q;
      const std::string token = line.substr(p, q - p);
      const bool word = token.size() == 4 && Hex(token[0]) >= 0 && Hex(token[1]) >= 0 && Hex(token[2]) >= 0 &&
                        Hex(token[3]) >= 0;
      if (!word) {
        bool printable = true;
        for (char c : token) printable &= c >= 0x20 && c < 0x7F;
        Error = "line " + std::to_string(lineNumber) + ": " +
                (printable ? "\"" + token.substr(0, 40) + "\" is not a word of four hexadecimal digits"
                           : std::string("binary data")) +
                " (expected the text of hdparm --Istdout, or exactly 512 raw bytes; this file has " +
                std::to_string(Contents.size()) + ")";
        return false;
      }
      if (words == 256) {
        Error = "line " + std::to_string(lineNumber) + ": more than 256 words; an identify block has 256";
        return false;
      }
      const int value = (Hex(token[0]) << 12) | (Hex(token[1]) << 8) | (Hex(token[2]) << 4) | Hex(token[3]);
      Block[2 * words] = static_cast<std::uint8_t>(value);
      Block[2 * words + 1] = static_cast<std::uint8_t>(value >> 8);
      ++words;
      while (q < line.size() && IsSpace(line[q])) ++q;
      p = q;
    }
  }
  if (words != 256) {
    Error = "holds " + std::to_string(words) + " words; an identify block has 256 (" +
            std::to_string(Contents.size()) + " bytes read; raw blocks have exactly 512)";
    Block.fill(0);
    return false;
  }
  return true;
}

}  // namespace kyvex
