// Angle brackets reach the same headers: refused all the same.
#include <trace/decoder.h>
