// Settings, the store and the host's text are bytes; a widget shows each byte
// as the Latin-1 character of the same code, so text goes both ways unchanged
// (the screen view alone shows bytes 128..255 through code page 437).
#pragma once

#include <QString>
#include <string>
#include <string_view>

inline QString FromBytes(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ToBytes(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
