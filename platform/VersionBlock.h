// The version-resource block (VS_VERSIONINFO) in its Windows byte layout, so that the same
// record can live in a Windows resource, in a section of a Linux executable and in tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kyvex::platform {

constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;

// Builds a VS_VERSIONINFO block holding only the fixed file information of the version
// a.b.c.d.
std::vector<std::uint8_t> BuildVersionBlock(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                            std::uint16_t d);

// VerQueryValue(block, "\\"): the fixed file information of a VS_VERSIONINFO block, checked
// against the block's bounds and signature.
bool QueryVersionRoot(const std::vector<std::uint8_t>& block, FixedFileInfo& info);

// The contents of the section `name` of an ELF executable file, or nothing when the file is
// not ELF or has no such section. Every offset is checked against the file.
std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& path,
                                                        const std::string& name);

// "a.b.c.d" of the fixed file version of the file `path`, asked of the current platform;
// empty when it has no version record or the record cannot be read.
std::string FileVersionText(const std::string& path);
// The same of the running program.
std::string ProgramVersionText();

// Name of the ELF section that carries the version block of the suite's Linux programs.
constexpr const char* kElfVersionSection = ".kyvex_version";

}  // namespace kyvex::platform
