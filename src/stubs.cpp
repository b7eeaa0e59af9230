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

TLogFiles::TLogFiles(TSession& s) : S(s) {}
TLogFiles::~TLogFiles() = default;
TSettingsFiles::TSettingsFiles(TSession& s) : S(s) {}
TBrowse::TBrowse() = default;
TBrowse::~TBrowse() = default;
TScreenWriter::TScreenWriter(TSession& s) : S(s) {}
void TScreenWriter::ResetTerminal() {}
TTransmitPath::TTransmitPath(TSession& s) : S(s) {}
TTransferEngine::TTransferEngine(TSession& s) : S(s) {}
void TTransferEngine::HandleSessionEvent(int, int) {}
TTraceFiles::TTraceFiles(TSession& s) : S(s) {}
TTraceFiles::~TTraceFiles() = default;
TKaspFiles::TKaspFiles(TSession& s) : S(s) {}
TKaspFiles::~TKaspFiles() = default;
TTraceDecoder::TTraceDecoder(TSession& s) : S(s) {}
TMiniTrace::TMiniTrace(TSession& s) : S(s) {}
TReceiveInterpreter::TReceiveInterpreter(TSession& s) : S(s) {}
