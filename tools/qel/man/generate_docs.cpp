// Writes a page made from the program's own text, so that what the build
// installs cannot say other than `qel --help` or the settings table do:
//   generate_docs qel|qelwin|settings OUT
// qel and qelwin are manual pages; settings is docs/settings.md.
#include <cstdio>
#include <fstream>
#include <string>

#include "app/settingsfields.h"
#include "help.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: generate_docs qel|qelwin|settings OUT\n");
    return 2;
  }
  const std::string name = argv[1];
  const std::string page = name == "settings" ? SettingsReferenceText() : ManPage(name);
  if (page.empty()) {
    std::fprintf(stderr, "generate_docs: no page '%s'\n", argv[1]);
    return 2;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << page;
  out.close();
  if (!out) {
    std::fprintf(stderr, "generate_docs: %s: cannot be written\n", argv[2]);
    return 1;
  }
  return 0;
}
