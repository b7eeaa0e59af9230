// File names on Linux for a program whose names come from Windows: settings
// files hold "C:\ORNET\" style paths, and the program's own files were matched
// without regard to case.
#pragma once

#include <string>
#include <string_view>

// The directory of the program's own files ("QelWin.INI", "QelWin.SBF", ...),
// ending in '/': $QELWIN_HOME when set, else $XDG_DATA_HOME/QelWin, else
// ~/.local/share/QelWin. With create, the directory is made when missing.
std::string DefaultProgramDirectory(bool create = false);

// The directory of the files that come with the program (the manual, the
// sample modes and traces), ending in '/': share/qelwin beside the folder of
// the running program, as installed (<prefix>/bin/qelwin and
// <prefix>/share/qelwin/) and as the build mirrors it (build/tools/qelwin and
// build/share/qelwin/), so an installed tree works wherever it was put.
// Empty when the running program's path cannot be read.
std::string BundledDataDirectory();

// Where a drive prefix "X:" is resolved: $QELWIN_DRIVE_ROOT when set, else $HOME.
std::string DefaultDriveRoot();

// A file name as typed or read from a settings file, as a path to open here.
// A name that exists is returned unchanged. Otherwise "\" separators become
// "/", a drive prefix "X:" is resolved under driveRoot (in its subdirectory
// named after the letter when that exists, else in driveRoot itself), and each
// component that does not exist is matched case-insensitively in its directory.
std::string NativeFileName(std::string_view name, const std::string& driveRoot);
std::string NativeFileName(std::string_view name);

// The last component of a name written with "/" or "\" separators or a
// drive prefix: "C:\DATA\RX.TXT" gives "RX.TXT"; "" for a name ending in a separator.
std::string FileNamePart(std::string_view name);

// Only the case-insensitive matching of NativeFileName.
std::string MatchCaseInsensitive(const std::string& path);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view text);
