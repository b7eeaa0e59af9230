#include <cstdio>

#include "tools_common.h"

int RunReplay(int, char**) { std::fprintf(stderr, "qel replay: not built yet\n"); return 1; }
