// Settings files (*.MSE), the recent list "QelWin.INI" and the EBCDIC map file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "log/file.h"

class TSession;
struct TSetupRecord;
struct TConnectionSettings;

// The main window's position and size, for GetWindowParameters.
struct TWindowGeometry {
  std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

// Reading one settings record from a file: a file shorter than a record
// fails; a longer one gives its first record. The record is untouched on
// failure. With extra given, the settings of the trailer after the record
// are read into it (the defaults when the file has none); a damaged trailer
// gives the defaults and TrailerDamaged.
struct TSettingsReadResult {
  bool Opened = false;
  std::uint32_t Error = 0;  // system error code; 0 when the record was read
  bool TrailerDamaged = false;
};
TSettingsReadResult ReadSettingsRecord(const std::string& name, TSetupRecord& record,
                                       TFileFaults* faults = nullptr, TConnectionSettings* extra = nullptr);
// Writes the record as the whole file, replacing an existing file only once
// the new one is complete: 0, or the system error code of the failure. With
// extra given and not all defaults, its trailer follows the record.
std::uint32_t WriteSettingsRecord(const std::string& name, const TSetupRecord& record,
                                  TFileFaults* faults = nullptr, const TConnectionSettings* extra = nullptr);

// The name with its directory (up to the last "\", ":" or "/") and its
// extension (from the last ".") removed: the application's title.
std::string BareFileName(const std::string& name);

class TSettingsFiles {
 public:
  static constexpr int kRecentMax = 4;
  static constexpr const char* kBaseCaption = "QEL for Windows";

  explicit TSettingsFiles(TSession& session);

  TFileFaults Faults;  // test seam for the settings and map files

  // The current settings file (empty until one is opened, saved, or read from the recent list).
  std::string CurrentName;
  // Texts the window shows: its caption and the application (task bar) title.
  std::string Caption = std::string(kBaseCaption) + " : []";
  std::string ApplicationTitle = kBaseCaption;
  bool SaveEnabled = false;
  // Recent-file menu items: captions "1. name" .. "4. name"; empty = hidden.
  std::array<std::string, kRecentMax> RecentItems;
  bool RecentSeparatorVisible = false;

  // The window's hooks: its geometry for GetWindowParameters, the size and
  // position a loaded record gives it, and what it refreshes after a load
  // (modem toolbar texts, screen properties: font, colours, mark colours,
  // bars, bookmark window). May be unset (headless).
  std::function<TWindowGeometry()> WindowGeometry;
  std::function<void(const TWindowGeometry&)> ApplyWindowGeometry;
  std::function<void()> SettingsLoaded;
  // Drops the command definitions and loads them from the record's Command
  // File Name (set by the local command interpreter while it lives).
  std::function<void()> ReloadCommandDefinitions;

  // Loads a settings file into the record and applies it whole, in order:
  // caption and recent list; the default and category attributes (what
  // arrives afterwards takes the new colours); the window's size and
  // position; the modem toolbar and screen properties; the screen padded to
  // 101 lines (unless still empty at start-up); the command definitions; the
  // EBCDIC map; the status bar.
  // False when the record is unchanged.
  bool OpenQelSetFile(const std::string& name);
  bool Save();    // Save As when no current name
  bool SaveAs();  // through the save dialog
  bool Open();    // through the open dialog
  bool OpenRecent(int item);  // 1..4
  void GetWindowParameters();
  void AddRecentFile(const std::string& name);
  // Start-up: the recent items from "QelWin.INI"; the first becomes the current name.
  void ReadRecentList();
  void LoadEbcdicMap();

  std::string RecentListName() const;

 private:
  bool WriteCurrent(const std::string& name);
  void ShowName(const std::string& name);
  TSession& S;
};
