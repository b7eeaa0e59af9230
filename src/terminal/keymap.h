// The key map dialog's content: the picture of a PC keyboard it shows (one
// captioned panel per key) and its file choice. The map file's name is kept
// in the settings; nothing reads the file itself.
#pragma once

#include <cstddef>
#include <span>

// One key of the picture, in quarter-key units from the top left corner.
struct TKeyPanel {
  const char* Caption;
  int X, Y, Width, Height;
};

// The 101 keys of the picture: function row, main block, the Ins/Del and
// cursor blocks, and the numeric keypad.
std::span<const TKeyPanel> PcKeyboardPanels();
// The picture's size in the same units.
inline constexpr int kKeyboardWidth = 90;
inline constexpr int kKeyboardHeight = 26;

inline constexpr const char* kKeyMapFileFilter = "Map Files      (*.MKM)|*.MKM|All File Types (*.*)|*.*";
inline constexpr std::size_t kKeyMapNameMax = 80;
