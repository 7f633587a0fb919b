// Our engine's side of the interoperability tests.
#pragma once

#include <string>
#include <vector>

#include "InteropModel.h"

namespace interop {

// Each returns the differences it found; empty when all is well.
std::vector<std::string> EngineWrite(const Model& model, const std::string& path);
std::vector<std::string> EngineCheck(const Model& model, const std::string& path);

// The model with the stream names our engine gives its sets, as JSON for olefile's side.
std::string EngineJson(const Model& model);

}  // namespace interop
