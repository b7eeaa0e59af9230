// Settings files (*.MSE), the recent list "QelWin.INI" and the EBCDIC map file.
#pragma once

#include <string>

class TSession;

class TSettingsFiles {
 public:
  explicit TSettingsFiles(TSession& session);

  std::string CurrentName;

 private:
  TSession& S;
};
