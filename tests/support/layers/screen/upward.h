// A lower floor reaching for the session: the floor check must refuse it.
#include "app/session.h"
