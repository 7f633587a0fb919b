#include "app/Lib01.h"

#include "platform/Platform.h"
#include "platform/VersionBlock.h"
#include "platform/Text.h"

namespace kyvex {

namespace {
struct UpCaseRow {
  unsigned char typed, result;
};
constexpr UpCaseRow kTurkishUpCase[] = {
    {105, 221},  // i -> İ
    {231, 199},  // ç -> Ç
    {240, 208},  // ğ -> Ğ
    {246, 214},  // ö -> Ö
    {252, 220},  // ü -> Ü
    {253, 73},   // ı -> I
    {254, 222},  // ş -> Ş
};
}  // namespace

unsigned char TurkishUpCase(unsigned char c) {
  for (const auto& row : kTurkishUpCase)
    if (row.typed == c) return row.result;
  if (c >= 97 && c <= 122) return static_cast<unsigned char>(c - 32);
  return c;
}

char32_t TurkishUpCaseChar(char32_t c) {
  const int b = text::UnicodeToCp1254(c);
  if (b < 0) return c;
  return text::Cp1254ToUnicode(TurkishUpCase(static_cast<unsigned char>(b)));
}

std::string GetFileVersionText(const std::string& path) { return platform::FileVersionText(path); }

std::string GetVersionText() { return platform::ProgramVersionText(); }

}  // namespace kyvex
