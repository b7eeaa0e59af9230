// The running transfer as the transfer engine keeps it: whether one runs, its
// direction and kind, and the options of a receive. The engine owns it; the
// transfer file and the transmit path read it, and the file ends a transfer
// it can no longer write.
#pragma once

enum TDirection : int { drSend = 0, drReceive = 1 };

// What a receive is for: a file the user chose (or a host text receive), a
// host-initiated transfer, or the capture into the ring that PADS reads.
enum TReceiveKind : int { rkUser = 0, rkHost = 1, rkCapture = 2, rkHostOther = 3 };

struct TTransferState {
  bool TransferActive = false;
  TDirection Direction = drSend;
  TReceiveKind ReceiveKind = rkUser;
  bool CtrlZEnds = false;          // options of the running receive
  bool SuppressControl = false;
};
