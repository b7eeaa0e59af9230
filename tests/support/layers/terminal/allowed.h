// A feature holds the session and includes lower floors: allowed.
#include "app/session.h"
#include "screen/writer.h"
