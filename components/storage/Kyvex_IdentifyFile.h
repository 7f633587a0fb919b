// ATA identify blocks of other machines: the text `hdparm --Istdout` prints (256 words of four
// hexadecimal digits, eight to a line, under a "/dev/sda:" line) or the 512 bytes as the
// device sends them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kyvex {

// Turns the contents of such a file into the identify block in the device's byte order, the
// order ParseIdentifyData takes with swapping. Exactly 512 bytes are taken as raw; anything
// else must be the text. False, with a message naming the line at fault, otherwise.
bool ReadIdentifyBlock(const std::string& Contents, std::array<std::uint8_t, 512>& Block, std::string& Error);

}  // namespace kyvex
