// The running transfer as the transfer engine keeps it: whether one runs, its
// direction and kind, and the options of a receive. The engine owns it; the
// transfer file and the transmit path read it, and the file ends a transfer
// it can no longer write.
#pragma once

struct TTransferState {
  bool TransferActive = false;
  int Direction = 0;     // 0 send, 1 receive
  int ReceiveKind = 0;   // 0 user file receive, 1 and 3 host-initiated, 2 trace capture
  bool CtrlZEnds = false;          // options of the running receive
  bool SuppressControl = false;
};
