// Boxes and file dialogs as values: a test compares what was shown in one
// check, so a missing, an extra or a wrong field fails the same line.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "core/desktop.h"

// A box's text, buttons and icon.
using TBoxShown = std::tuple<std::string, unsigned, TMsgIcon>;

// Every box shown, oldest first.
inline std::vector<TBoxShown> BoxesShown(const THeadlessDesktop& desktop) {
  std::vector<TBoxShown> boxes;
  for (const auto& b : desktop.Boxes) boxes.emplace_back(b.Box.Text, b.Box.Buttons, b.Box.Icon);
  return boxes;
}

// A file dialog's kind (save or open), title, filter, initial name and folder.
using TDialogShown = std::tuple<bool, std::string, std::string, std::string, std::string>;

inline TDialogShown DialogShown(const TFileDialog& d) {
  return {d.Save, d.Title, d.Filter, d.InitialName, d.InitialDirectory};
}
