// Text conversions shared by the platform layer and the storage file.
//
// Strings inside the library are UTF-8. Bytes that come from firmware or devices are kept
// as they come, so a string may hold bytes that are not valid UTF-8; when such a string has
// to become UTF-16 (the storage file, the wide Windows APIs) those bytes are taken as
// Windows-1252, so that nothing is lost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kyvex::text {

// UTF-8 (with Windows-1252 for every byte that does not start a valid UTF-8 sequence) to UTF-16.
std::u16string Utf8ToUtf16(std::string_view s);

// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);

// One Windows-1252 byte as a Unicode code point (the five unassigned bytes map to themselves,
// as Windows' MultiByteToWideChar does).
char32_t Cp1252ToUnicode(unsigned char b);

// Windows-1254 (Turkish) byte <-> code point. UnicodeToCp1254 answers -1 when the code point
// has no byte in that code page.
char32_t Cp1254ToUnicode(unsigned char b);
int UnicodeToCp1254(char32_t c);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// Decodes the code point at s[pos]; on success advances pos and returns true. On an invalid
// or truncated sequence leaves pos unchanged and returns false.
bool DecodeUtf8(std::string_view s, std::size_t& pos, char32_t& out);

// Cuts s to at most maxBytes bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view s, std::size_t maxBytes);

// ASCII-only case folding, as the components compare element names.
std::string AsciiUpper(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Text that comes from outside the program (firmware, devices, files, the system's own names)
// made fit to show, once, where it is captured: every byte that does not start a valid UTF-8
// sequence is read as Windows-1252 (as the storage file stores it), and control characters are
// shown escaped, C0 and DEL as "\x1B",
// C1 as "\u009B", so that none reaches a terminal or a window as a command. A multi-line field
// keeps its tabs and line feeds. The result is valid UTF-8, and converting it again changes
// nothing.
enum class TextLines { Single, Multi };
std::string Sanitize(std::string_view raw, TextLines lines = TextLines::Single);

// Leading and trailing characters whose code is 32 or less removed.
std::string Trim(std::string_view s);
// Trim for a text already sanitized: also the escapes that stand for those characters ("\x09",
// "\x0D") are removed at either end.
std::string TrimSanitized(std::string_view s);

}  // namespace kyvex::text
