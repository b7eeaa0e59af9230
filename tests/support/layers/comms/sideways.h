// A path out of the folder hides the floor it goes to: refused.
#include "../terminal/keyboard.h"
