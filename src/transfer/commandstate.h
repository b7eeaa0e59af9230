// What the window shows enabled, checked or visible besides the connection
// controls (TSessionEvents::Controls). The transfers keep the gauge and the
// transfer commands' state here; the main form the rest.
#pragma once

struct TCommandState {
  // Download and Upload menus, the receive and transmit toolbar buttons.
  bool TransfersEnabled = true;
  bool GaugeVisible = false;
  int GaugeMax = 100;
  int GaugeProgress = 0;
  bool DebugChecked = false;
};
