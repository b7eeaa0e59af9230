// Reproducible test data for tests with and without a session.
#pragma once

#include <cstddef>
#include <random>
#include <string>

// count bytes of every value, the same ones for the same seed: the low byte
// of each of mt19937's draws.
inline std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}
