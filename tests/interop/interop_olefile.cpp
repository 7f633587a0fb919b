// Linux side of the interoperability tests: our engine writes a file and Debian's olefile
// (run by /usr/bin/python3, the interpreter that has it) checks the tree, the stream names,
// the property names and every value against the same model.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "InteropEngine.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: interop_olefile CHECK_SCRIPT WORK_FOLDER\n";
    return 2;
  }
  const std::filesystem::path work = argv[2];
  std::filesystem::create_directories(work);
  const std::string file = (work / "engine.cfb").string();
  const std::string json = (work / "engine.json").string();
  const interop::Model model = interop::EngineModel();
  auto errors = interop::EngineWrite(model, file);
  for (const auto& e : errors) std::cerr << "write: " << e << "\n";
  if (!errors.empty()) return 1;
  std::ofstream(json) << interop::EngineJson(model);
  const std::string command = "/usr/bin/python3 '" + std::string(argv[1]) + "' '" + file + "' '" + json + "'";
  const int status = std::system(command.c_str());
  if (status != 0) {
    std::cerr << "olefile found differences (status " << status << ")\n";
    return 1;
  }
  std::cout << "olefile read every storage, stream, name and value our engine wrote\n";
  return 0;
}
