// The control characters that line protocols, keys and text files name.
#pragma once

inline constexpr char ETX = 3;
inline constexpr char BS = 8;
inline constexpr char LF = 10;
inline constexpr char CR = 13;
inline constexpr char CtrlZ = 26;  // SUB: the end of a DOS text file
inline constexpr char ESC = 27;
inline constexpr char DEL = 127;
