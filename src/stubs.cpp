// Temporary definitions so the tree builds while the components are written.
#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "log/files.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "terminal/interpreter.h"
#include "trace/decoder.h"
#include "trace/files.h"
#include "trace/mini.h"
#include "transfer/engine.h"

