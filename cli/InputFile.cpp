// Files named on the command line.
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
  content.assign(limit, '\0');
  f.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(f.gcount()));
  if (f.bad()) {
    error = "cannot be read";
    return false;
  }
  return true;
}

}  // namespace kyvex::cli
