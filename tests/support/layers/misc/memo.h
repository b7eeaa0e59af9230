// A folder that is no floor: refused, or its includes would go unchecked.
#include "core/text.h"
