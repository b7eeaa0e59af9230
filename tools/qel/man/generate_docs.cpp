// Writes a manual page made from the tool's own help text:
//   generate_man PAGE OUT      (PAGE is qel or qelwin)
// The build runs it, so the pages cannot say other than `qel --help` does.
#include <cstdio>
#include <fstream>
#include <string>

#include "help.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: generate_man qel|qelwin OUT\n");
    return 2;
  }
  const std::string page = ManPage(argv[1]);
  if (page.empty()) {
    std::fprintf(stderr, "generate_man: no page '%s'\n", argv[1]);
    return 2;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << page;
  out.close();
  if (!out) {
    std::fprintf(stderr, "generate_man: %s: cannot be written\n", argv[2]);
    return 1;
  }
  return 0;
}
