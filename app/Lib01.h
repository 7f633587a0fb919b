// The typed-key filter and the version text of the main window.
#pragma once

#include <string>

namespace kyvex {

// Upper-cases one byte of the Turkish ANSI code page (Windows-1254) by Turkish rules:
// "i" becomes "İ", "ı" becomes "I", ç ğ ö ü ş their capitals, the other ASCII letters the
// plain ASCII rule; everything else is left alone.
unsigned char TurkishUpCase(unsigned char c);

// The same rule for a typed Unicode character: characters without a Windows-1254 byte are
// left alone.
char32_t TurkishUpCaseChar(char32_t c);

// "a.b.c.d" of the fixed file version of the file `path`; empty when it has no version
// record or the record cannot be read.
std::string GetFileVersionText(const std::string& path);

// The version text of the running executable.
std::string GetVersionText();

}  // namespace kyvex
