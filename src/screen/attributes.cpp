#include "screen/attributes.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "screen/failures.h"

namespace {
std::uint8_t Clamp8(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }
}  // namespace

TFontMeasure TFixedPitchEstimate::Measure(std::string_view, int size, std::uint8_t style) const {
  const double pixels = std::max(1, size) * 96.0 / 72.0;
  TFontMeasure m;
  m.AverageWidth = std::max(1, static_cast<int>(std::lround(pixels * 0.6)));
  m.Height = std::max(1, static_cast<int>(std::lround(pixels * 1.2)));
  m.Overhang = (style & fsItalic) ? std::max(1, m.AverageWidth / 6) : 0;
  return m;
}

TAttributeManager::TAttributeManager() : Measurer(&Estimate) {
  Max.Size = 0;
  Max.FontName.clear();
}

void TAttributeManager::SetMeasurer(const TFontMeasurer* measurer) {
  Measurer = measurer ? measurer : &Estimate;
}

void TAttributeManager::Measure(TTextAttributes& r) const {
  const TFontMeasure plain = Measurer->Measure(r.FontName, r.Size, r.Style);
  const TFontMeasure underlined = Measurer->Measure(r.FontName, r.Size, r.Style | fsUnderline);
  const TFontMeasure bold = Measurer->Measure(r.FontName, r.Size, r.Style | fsBold);
  const TFontMeasure italic = Measurer->Measure(r.FontName, r.Size, r.Style | fsItalic);
  const TFontMeasure doubled = Measurer->Measure(r.FontName, r.Size * 2, r.Style);
  r.UnderlineWidth = Clamp8(underlined.AverageWidth);
  r.LineHeight = Clamp8(underlined.Height);
  r.BoldWidth = Clamp8(bold.AverageWidth);
  r.DoubleWidth = Clamp8(doubled.AverageWidth);
  r.DoubleLineHeight = Clamp8(doubled.Height);
  r.ItalicWidth = Clamp8(italic.AverageWidth);
  r.MaxWidth = Clamp8(std::max({underlined.AverageWidth, bold.AverageWidth, italic.AverageWidth}));
  r.Overhang = Clamp8(plain.Overhang);
}

void TAttributeManager::RaiseMaxima(const TTextAttributes& r) {
  Max.Size = std::max(Max.Size, r.Size);
  Max.UnderlineWidth = std::max(Max.UnderlineWidth, r.UnderlineWidth);
  Max.LineHeight = std::max(Max.LineHeight, r.LineHeight);
  Max.BoldWidth = std::max(Max.BoldWidth, r.BoldWidth);
  Max.DoubleWidth = std::max(Max.DoubleWidth, r.DoubleWidth);
  Max.DoubleLineHeight = std::max(Max.DoubleLineHeight, r.DoubleLineHeight);
  Max.ItalicWidth = std::max(Max.ItalicWidth, r.ItalicWidth);
  Max.MaxWidth = std::max(Max.MaxWidth, r.MaxWidth);
  Max.Overhang = std::max(Max.Overhang, r.Overhang);
}

void TAttributeManager::Remeasure() {
  Max = TTextAttributes{};
  Max.Size = 0;
  Max.FontName.clear();
  for (TTextAttributes& r : Records) {
    Measure(r);
    RaiseMaxima(r);
  }
}

std::string TAttributeManager::Key(const TTextAttributes& r) {
  std::string key;
  key.reserve(10 + r.FontName.size());
  for (const TColor c : {r.Foreground, r.Background})
    for (int shift = 0; shift < 32; shift += 8) key += static_cast<char>((c >> shift) & 0xFF);
  key += static_cast<char>(r.Style);
  key += static_cast<char>(r.Size);
  key += r.FontName;
  return key;
}

int TAttributeManager::Intern(const TTextAttributes& wanted) {
  TTextAttributes record = wanted;
  if (record.FontName.size() > TTextAttributes::kMaxFontName)
    record.FontName.resize(TTextAttributes::kMaxFontName);
  if (LastNumber >= 0 && Records[LastNumber].SameLook(record)) return LastNumber;
  std::string key = Key(record);
  if (const auto found = Index.find(key); found != Index.end()) {
    LastNumber = found->second;
    return LastNumber;
  }
  if (static_cast<int>(Records.size()) >= kMaxRecords) throw EOutOfResources(kNoAttributeMemory);
  Measure(record);
  const int number = static_cast<int>(Records.size());
  try {
    Records.push_back(std::move(record));
    Index.emplace(std::move(key), number);
  } catch (const std::bad_alloc&) {
    if (static_cast<int>(Records.size()) > number) Records.pop_back();
    throw EOutOfResources(kNoAttributeMemory);
  }
  RaiseMaxima(Records.back());
  LastNumber = number;
  return number;
}

const TTextAttributes& TAttributeManager::Get(int number) const {
  static const TTextAttributes kDefaultLook;
  if (number >= 0 && number < static_cast<int>(Records.size())) return Records[number];
  return Records.empty() ? kDefaultLook : Records.front();
}
