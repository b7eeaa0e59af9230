// What a test reads of the boxes a desktop showed: their texts in one list,
// so that a missing, an extra and a wrong box all fail the same check.
#pragma once

#include <string>
#include <vector>

#include "core/desktop.h"

// The text of every box shown, oldest first.
inline std::vector<std::string> BoxTexts(const THeadlessDesktop& desktop) {
  std::vector<std::string> texts;
  for (const auto& box : desktop.Boxes) texts.push_back(box.Box.Text);
  return texts;
}
