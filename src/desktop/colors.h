// Colours as settings keep them (0x00BBGGRR) on the way to Qt.
#pragma once

#include <QColor>

#include "core/settings.h"

inline QColor ToQColor(TColor color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }
