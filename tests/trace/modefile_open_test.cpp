// The version file and opening the trace file set (memory and disk, Windows
// upper-case names), with the texts the user sees.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/testing.h"
#include "trace/hostnames.h"
#include "trace/modefile.h"
#include "trace/modefile_testing.h"

namespace {
TEST(VersionLine, AcceptsTheVersionLineInAnyCaseAndSpacingAndRejectsOneThatMissesAPart) {
  const std::pair<const char*, std::optional<int>> rows[] = {
      {"VERSION = VERSION 2.1", 2}, {"  version=version 3  ", 3}, {"Version =Version12.7.1", 12},
      {"VERSION = VERSION 1 2.5", 12},  // blanks in the number are ignored
      {"VERSION = VERSION 1AH", 0x1A},  // trailing H: hexadecimal
      {"VERSION = VERSION 0.9", 0}, {"\tVERSION = VERSION 5\t", 5},
      {"VERSION", std::nullopt}, {"VERSION VERSION 2.1", std::nullopt},  // no "="
      {"VERSION = 2.1", std::nullopt}, {"VERSION = VERSION", std::nullopt}, {"VERSION = VERSION .5", std::nullopt},
      {"VERSION = VERSION 2,1", std::nullopt},
      {"VERSION = VERSION 70000", std::nullopt},  // not a 16-bit number
      {"THE VERSION = VERSION 2", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& [line, version] : rows) EXPECT_EQ(ParseVersionLine(line), version) << "'" << line << "'";
}

TEST(VersionLine, TheFirstVersionLineOfTheFileCounts) {
  EXPECT_EQ(FindVersion("Mode files of exchange X\r\nVERSION\r\nVERSION VERSION 4\r\nversion = version 2.1\r\n"
                        "VERSION = VERSION 7\r\n"),
            2);
  EXPECT_EQ(FindVersion("a\rVERSION = VERSION 3\rb"), 3);  // CR alone ends a line
  EXPECT_EQ(FindVersion("a\nVERSION = VERSION 3"), 3);     // no line end after the last line
  EXPECT_EQ(FindVersion("VERSION = VERSION 0.9\r\nVERSION = VERSION 2\r\n"), 0);
  EXPECT_EQ(FindVersion("VERSION 2.1\r\n"), std::nullopt);
  EXPECT_EQ(FindVersion(""), std::nullopt);
  EXPECT_EQ(FindVersion(std::string(100000, 'x') + "VERSION = VERSION 2"), std::nullopt);  // one long line
}

std::string MissingText(const std::string& name) {
  return "The file =" + name + " doesn't exist. Correct in the Configure|Files window";
}

// A complete set less the files of the given extensions.
std::map<std::string, std::string> Without(std::initializer_list<const char*> extensions) {
  auto files = MinimalFiles();
  for (const char* extension : extensions) files.erase(extension);
  return files;
}

// The data files are checked in order (.sem before .usb) before any is read.
TEST(OpenTraceFiles, ReportsEachFailureWithItsText) {
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      {Without({".ver"}), MissingText("MEMORY.ver")},
      {MinimalFiles({{".ver", "VERSION = VERSION 0.9\r\n"}}), "The Version of the trace File is too old"},
      {MinimalFiles({{".ver", "VERSION 2.1\r\nVERSION\r\n"}}),
       "The Version file =MEMORY.ver didn't contain the correct information"},
      {Without({".usb", ".sem"}), MissingText("MEMORY.sem")},
      {Without({".usb"}), MissingText("MEMORY.usb")},
  };
  for (const auto& [files, text] : cases) {
    TRecordingReporter r;
    EXPECT_EQ(OpenMemory(files, r), nullptr);
    EXPECT_EQ(r.Errors, (std::vector<TReported>{{ekMessage, 0, text}}));
  }
  // The name indexes are opened at each lookup, not here.
  TRecordingReporter r;
  EXPECT_NE(OpenMemory(Without({".mna"}), r), nullptr);
  EXPECT_TRUE(r.Errors.empty());
}

TEST(OpenTraceFiles, FindsWindowsUpperCaseNamesOnDisk) {
  TTempDir dir;
  for (const auto& [ext, bytes] : MinimalFiles({{".mna", NameEntry("ALPHA", 0)}, {".mod", RecordBytes(3)}})) {
    std::string upper = ext;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    WriteFileBytes(dir.file("MODES" + upper), bytes);
  }
  TRecordingReporter r;
  auto set = TTraceFileSet::OpenBase(dir.file("modes"), r);
  ASSERT_NE(set, nullptr);
  EXPECT_TRUE(r.Errors.empty());
  const TModeLookup found = set->LookupModeByName("ALPHA");
  EXPECT_TRUE(found.Found && found.Header.ModeNumber() == 3);
}

TEST(HostNameFiles, ReadsWholeRecordsOnlyAndReportsMissingFiles) {
  TTempDir dir;
  WriteFileBytes(dir.file("kasp.msg"), "SETUP_REQ CONNECT");  // 1.7 records of 10 bytes
  WriteFileBytes(dir.file("KASP.BID"), std::string(25, 'B') + std::string(25, 'C'));
  THostNameFiles kasp;
  TRecordingReporter r;
  kasp.Open(dir.path().string(), r);
  EXPECT_EQ(r.Errors, (std::vector<TReported>{{ekFileOpen, 2, dir.path().string() + "/KASP.VMI"}}));
  // A short record counts as absent.
  EXPECT_EQ((std::vector{kasp.MessageName(0), kasp.MessageName(1), kasp.MbidName(1), kasp.MbidName(2), kasp.VmiName(0)}),
            (std::vector<std::optional<std::string>>{"SETUP_REQ ", std::nullopt, std::string(25, 'C'), std::nullopt,
                                                     std::nullopt}));

  // Opening again opens only what is missing.
  WriteFileBytes(dir.file("Kasp.Vmi"), std::string(25, 'V'));
  TRecordingReporter again;
  kasp.Open(dir.path().string() + "/", again);
  EXPECT_TRUE(again.Errors.empty());
  EXPECT_EQ(kasp.VmiName(0), std::string(25, 'V'));

  kasp.Close();
  EXPECT_EQ(kasp.MessageName(0), std::nullopt);
  TRecordingReporter none;
  kasp.Open("", none);  // no directory set: nothing is opened, nothing reported
  EXPECT_FALSE(kasp.MsgOpen());
  EXPECT_TRUE(none.Errors.empty());
}

TEST(HostNameFiles, JoinsTheDirectoryWithTheSeparatorItUses) {
  EXPECT_EQ(THostNameFiles::FullName("C:\\ORNET\\", "KASP.MSG"), "C:\\ORNET\\KASP.MSG");
  EXPECT_EQ(THostNameFiles::FullName("C:\\ORNET", "KASP.MSG"), "C:\\ORNET\\KASP.MSG");
  EXPECT_EQ(THostNameFiles::FullName("ORNET", "KASP.MSG"), "ORNET\\KASP.MSG");
  EXPECT_EQ(THostNameFiles::FullName("/srv/ornet", "KASP.MSG"), "/srv/ornet/KASP.MSG");
}

// The data files on disk as <dir>/set.*, with `unopenable` made a directory
// (it exists but cannot be opened) and `missing` left out.
std::string WriteSetWith(const TTempDir& dir, const std::string& unopenable, const std::string& missing) {
  for (const auto& [ext, bytes] : MinimalFiles()) {
    if (ext == missing) continue;
    if (ext == unopenable) EXPECT_EQ(::mkdir(dir.file("set" + ext).c_str(), 0755), 0);
    else WriteFileBytes(dir.file("set" + ext), bytes);
  }
  return dir.file("set");
}

// A directory in a file's place exists but cannot be opened; with .usb missing
// too, the missing one is reported, as no file is opened before all were found.
TEST(OpenTraceFiles, AFileThatExistsButCannotBeOpenedIsAnOpenFailure) {
  for (const auto& [unopenable, missing] :
       {std::pair<std::string, std::string>{".ver", ""}, {".mod", ""}, {".msg", ".usb"}}) {
    TTempDir dir;
    const std::string base = WriteSetWith(dir, unopenable, missing);
    TRecordingReporter r;
    EXPECT_EQ(TTraceFileSet::OpenBase(base, r), nullptr);
    const TReported expected = missing.empty() ? TReported{ekFileOpen, 5, base + unopenable}  // access denied
                                               : TReported{ekMessage, 0, MissingText(base + missing)};
    EXPECT_EQ(r.Errors, std::vector<TReported>{expected}) << unopenable;
  }
}

TEST(OpenTraceFiles, APipeOrADeviceInPlaceOfAFileIsAnOpenFailureNotAWait) {
  // Opening a FIFO for reading waits for a writer, and a device such as
  // /dev/zero never ends: neither may hold up the program.
  TTempDir dir;
  const std::string base = WriteSetWith(dir, "", ".ver");
  ASSERT_EQ(::mkfifo(dir.file("set.ver").c_str(), 0600), 0);
  TRecordingReporter r;
  EXPECT_EQ(TTraceFileSet::OpenBase(base, r), nullptr);
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Kind, ekFileOpen);
  EXPECT_EQ(r.Errors[0].Text, base + ".ver");

  if (::access("/dev/zero", R_OK) != 0) GTEST_SKIP() << "no /dev/zero";
  ASSERT_EQ(::unlink(dir.file("set.ver").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", dir.file("set.ver").c_str()), 0);
  TRecordingReporter zero;
  EXPECT_EQ(TTraceFileSet::OpenBase(base, zero), nullptr);
  ASSERT_EQ(zero.Errors.size(), 1u);
  EXPECT_EQ(zero.Errors[0].Kind, ekFileOpen);
}

}  // namespace
