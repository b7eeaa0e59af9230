#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/paths.h"
#include "support/testing.h"

namespace fs = std::filesystem;

namespace {
void Touch(const std::string& path) { WriteFileBytes(path, "x"); }
}  // namespace

TEST(NativeFileName, AnExistingNameIsUsedAsItIs) {
  TTempDir dir;
  Touch(dir.file("a\\b.txt"));  // a legal Linux name with a backslash
  EXPECT_EQ(NativeFileName(dir.file("a\\b.txt"), "/nowhere"), dir.file("a\\b.txt"));
}

TEST(NativeFileName, MissingNamesAreMatchedWithoutRegardToCase) {
  TTempDir dir;
  fs::create_directory(dir.path() / "Mode");
  Touch(dir.file("Mode/QELWIN.MSG"));
  EXPECT_EQ(NativeFileName(dir.file("mode/qelwin.msg"), "/"), dir.file("Mode/QELWIN.MSG"));
  // A file still to be made lands in the directory that exists.
  EXPECT_EQ(NativeFileName(dir.file("MODE/new.log"), "/"), dir.file("Mode/new.log"));
  // Nothing matches: the name stays as given.
  EXPECT_EQ(NativeFileName(dir.file("other/x.y"), "/"), dir.file("other/x.y"));
}

TEST(NativeFileName, BackslashesAndDrivePrefixesFromSettingsFiles) {
  TTempDir root;
  fs::create_directories(root.path() / "ORNET");
  Touch(root.file("ORNET/KASP.MSG"));
  EXPECT_EQ(NativeFileName("C:\\ORNET\\KASP.MSG", root.path().string()), root.file("ORNET/KASP.MSG"));
  EXPECT_EQ(NativeFileName("c:\\ornet\\kasp.msg", root.path().string()), root.file("ORNET/KASP.MSG"));
  // A directory named after the drive letter holds that drive.
  fs::create_directories(root.path() / "d" / "logs");
  EXPECT_EQ(NativeFileName("D:\\LOGS\\today.log", root.path().string()), root.file("d/logs/today.log"));
  // A trailing separator stays (directory prefixes end in one).
  EXPECT_EQ(NativeFileName("C:\\ORNET\\", root.path().string()), root.file("ORNET/"));
}

TEST(NativeFileName, RelativeWindowsNames) {
  TTempDir dir;
  const fs::path old = fs::current_path();
  fs::current_path(dir.path());
  fs::create_directory("Traces");
  Touch("Traces/T1.TRC");
  EXPECT_EQ(NativeFileName("traces\\t1.trc", "/"), "Traces/T1.TRC");
  fs::current_path(old);
}

TEST(ProgramDirectory, TakenFromQelwinHome) {
  TTempDir dir;
  const std::string wanted = (dir.path() / "home").string();
  const char* saved = std::getenv("QELWIN_HOME");
  const std::string savedValue = saved ? saved : "";
  ::setenv("QELWIN_HOME", wanted.c_str(), 1);
  EXPECT_EQ(DefaultProgramDirectory(true), wanted + "/");
  EXPECT_TRUE(fs::is_directory(wanted));
  if (saved) ::setenv("QELWIN_HOME", savedValue.c_str(), 1); else ::unsetenv("QELWIN_HOME");
}
