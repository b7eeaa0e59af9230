// Text attributes of screen cells: the interned table of TTextAttributes
// records whose list position is the 16-bit attribute number of a cell.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/settings.h"

struct TTextAttributes {
  TColor Foreground = colors::Black;
  TColor Background = colors::White;
  std::uint8_t Style = 0;  // fsBold, fsItalic, fsUnderline, fsStrikeOut
  std::uint8_t Size = 8;   // points
  // Metrics in pixels, worked out when the record is added to the table.
  std::uint8_t UnderlineWidth = 0;    // average character width, underlined
  std::uint8_t LineHeight = 0;        // character height plus external leading
  std::uint8_t BoldWidth = 0;         // average width, bold
  std::uint8_t DoubleWidth = 0;       // average width at double size
  std::uint8_t DoubleLineHeight = 0;  // line height at double size
  std::uint8_t ItalicWidth = 0;       // average width, italic
  std::uint8_t MaxWidth = 0;          // widest of plain, bold and italic
  std::uint8_t Overhang = 0;
  std::string FontName = "Courier New";  // at most 60 characters

  static constexpr std::size_t kMaxFontName = 60;

  // Equal for interning: colours, style, size and font name (metrics follow from them).
  bool SameLook(const TTextAttributes& other) const {
    return Foreground == other.Foreground && Background == other.Background &&
           Style == other.Style && Size == other.Size && FontName == other.FontName;
  }
};

// One measurement of a font as the window system would report it.
struct TFontMeasure {
  int AverageWidth = 0;
  int Height = 0;  // character height plus external leading
  int Overhang = 0;
};

// Font measuring is injected: the logic knows no window system. The GUI
// plugs in real font metrics; headless runs use TFixedPitchEstimate.
class TFontMeasurer {
 public:
  virtual ~TFontMeasurer() = default;
  virtual TFontMeasure Measure(std::string_view fontName, int size, std::uint8_t style) const = 0;
};

// A fixed-pitch font at 96 dots per inch: width 0.6 and line height 1.2 of
// the pixel size, italic overhanging by a sixth of the width.
class TFixedPitchEstimate : public TFontMeasurer {
 public:
  TFontMeasure Measure(std::string_view fontName, int size, std::uint8_t style) const override;
};

class TAttributeManager {
 public:
  TAttributeManager();

  // The record's number; equal records share one. Throws EOutOfResources
  // when the 16-bit numbers are used up.
  int Intern(const TTextAttributes& record);
  // Record of a number; an unknown number gives record 0 (or the default look
  // while the table is empty).
  const TTextAttributes& Get(int number) const;
  int Count() const { return static_cast<int>(Records.size()); }
  // Over all records: the largest size and each largest metric.
  const TTextAttributes& Maxima() const { return Max; }
  int CachedNumber() const { return LastNumber; }

  // Not owned; nullptr restores the fixed-pitch estimate. Records already in
  // the table keep their metrics until Remeasure.
  void SetMeasurer(const TFontMeasurer* measurer);
  void Remeasure();

  static constexpr int kMaxRecords = 65536;

 private:
  void Measure(TTextAttributes& record) const;
  void RaiseMaxima(const TTextAttributes& record);
  static std::string Key(const TTextAttributes& record);

  std::vector<TTextAttributes> Records;
  std::unordered_map<std::string, int> Index;
  TTextAttributes Max;
  int LastNumber = -1;
  TFixedPitchEstimate Estimate;
  const TFontMeasurer* Measurer;
};
