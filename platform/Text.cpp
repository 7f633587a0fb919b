#include "platform/Text.h"

namespace kyvex::text {
namespace {

// 0x80..0x9F of Windows-1252; the rest of the upper half equals Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// 0x80..0xFF of Windows-1254.
constexpr char16_t kCp1254High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x011E, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF};

}  // namespace

char32_t Cp1252ToUnicode(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
  return b;
}

char32_t Cp1254ToUnicode(unsigned char b) {
  if (b < 0x80) return b;
  return kCp1254High[b - 0x80];
}

int UnicodeToCp1254(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  for (int i = 0; i < 128; ++i)
    if (kCp1254High[i] == c) return 0x80 + i;
  return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool DecodeUtf8(std::string_view s, std::size_t& pos, char32_t& out) {
  if (pos >= s.size()) return false;
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    out = b0;
    ++pos;
    return true;
  }
  int len;
  char32_t c;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    c = b0 & 0x07;
  } else {
    return false;
  }
  if (pos + len > s.size()) return false;
  for (int i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
  if ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF))
    return false;
  out = c;
  pos += len;
  return true;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    if (static_cast<unsigned char>(s[pos]) < 0x80) {
      out += static_cast<char16_t>(s[pos++]);
      continue;
    }
    char32_t c;
    if (!DecodeUtf8(s, pos, c)) {
      c = Cp1252ToUnicode(static_cast<unsigned char>(s[pos]));
      ++pos;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string CutUtf8(std::string_view s, std::size_t maxBytes) {
  if (s.size() <= maxBytes) return std::string(s);
  std::size_t pos = 0;
  std::size_t keep = 0;
  while (pos < s.size()) {
    std::size_t next = pos;
    char32_t c;
    if (!DecodeUtf8(s, next, c)) next = pos + 1;  // a stray byte counts as one character
    if (next > maxBytes) break;
    pos = keep = next;
  }
  return std::string(s.substr(0, keep));
}

std::string Sanitize(std::string_view raw, TextLines lines) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size());
  std::size_t pos = 0;
  while (pos < raw.size()) {
    // Printable ASCII, nearly all the text there is, stands as it is.
    if (const auto b = static_cast<unsigned char>(raw[pos]); b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
      ++pos;
      continue;
    }
    char32_t c;
    // A byte that starts no valid UTF-8 sequence is read as Windows-1252, as the storage file
    // stores it: firmware and older programs write that code page, and nothing is lost. Its
    // five unassigned bytes come out as C1 controls and are escaped below.
    if (!DecodeUtf8(raw, pos, c)) c = Cp1252ToUnicode(static_cast<unsigned char>(raw[pos++]));
    if (lines == TextLines::Multi && (c == '\t' || c == '\n')) {
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c >= 0x80 && c <= 0x9F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& ch : out)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimSanitized(std::string_view s) {
  auto escapeAt = [&s](std::size_t pos) {
    return pos + 4 <= s.size() && s[pos] == '\\' && s[pos + 1] == 'x' && (s[pos + 2] == '0' || s[pos + 2] == '1') &&
           std::string_view("0123456789ABCDEF").find(s[pos + 3]) != std::string_view::npos;
  };
  std::size_t b = 0, e = s.size();
  for (;;) {
    if (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    else if (b + 4 <= e && escapeAt(b)) b += 4;
    else break;
  }
  for (;;) {
    if (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    else if (e >= b + 4 && escapeAt(e - 4)) e -= 4;
    else break;
  }
  return std::string(s.substr(b, e - b));
}

}  // namespace kyvex::text
