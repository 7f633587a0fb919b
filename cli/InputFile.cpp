// Files named on the command line.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli/Commands.h"

namespace kyvex::cli {

bool ReadInputFile(const std::string& name, std::size_t limit, std::string& content, std::string& error) {
  std::error_code ec;
  const std::filesystem::path path(std::u8string(name.begin(), name.end()));
  if (std::filesystem::is_directory(path, ec)) {
    error = "is a folder, not a dump file";
    return false;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = std::filesystem::exists(path, ec) ? "cannot be opened" : "no such file";
    return false;
  }
  // Read in pieces up to the limit: the memory taken follows the file, not the limit (a
  // buffer of the limit's size, zero-filled first, cost more than the decoding).
  content.clear();
  char piece[1 << 16];
  while (content.size() < limit && f) {
    const std::size_t want = std::min(sizeof piece, limit - content.size());
    f.read(piece, static_cast<std::streamsize>(want));
    content.append(piece, static_cast<std::size_t>(f.gcount()));
  }
  if (f.bad()) {
    error = "cannot be read";
    return false;
  }
  return true;
}

}  // namespace kyvex::cli
