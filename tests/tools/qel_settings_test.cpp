// qel settings as scripts use it: every field printed, values by name, steps
// in order, a file written only where the command line says, and failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "app/settingsfields.h"
#include "support/testing.h"

namespace {
TQelRun Qel(const TTempDir& dir, const std::string& args) { return RunQel(dir, "settings " + args); }

// The stored code of a one-byte field at its offset in the record.
int ByteAt(const std::string& file, std::size_t offset) {
  const std::string bytes = ReadFileBytes(file);
  return offset < bytes.size() ? static_cast<std::uint8_t>(bytes[offset]) : -1;
}
}  // namespace

TEST(QelSettings, DefaultsPrintEveryNamedFieldOnce) {
  TTempDir dir;
  const TQelRun run = Qel(dir, "--defaults");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out.substr(0, 13), "ComPort=com1\n");
  EXPECT_NE(run.Out.find("\nAnswerBack=<2>QELWIN-32<13><4>\n"), std::string::npos);
  EXPECT_NE(run.Out.find("\nSoftKeys[11]=\n"), std::string::npos);
  EXPECT_NE(run.Out.find("\nIEAttr=fg:0xFF0000 bg:0xFFFFFF style:bold size:8\n"), std::string::npos);
  EXPECT_EQ(run.Out.find("Reserved"), std::string::npos);
  // 99 single fields (counted from the layout table), 4 trigger entries, 36
  // soft keys; then the 11 fields kept after the record.
  EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 99 + 4 + 36 + 11);
  EXPECT_NE(run.Out.find("\nSshPort=22\n"), std::string::npos);
  // Only when nothing else is asked.
  EXPECT_EQ(Qel(dir, "--defaults -o " + dir.file("x.mse")).Out, "");
}

TEST(QelSettings, FailuresNameTheFileAndExitOne) {
  TTempDir dir;
  TQelRun run = Qel(dir, dir.file("missing.mse"));
  EXPECT_EQ(std::tuple(run.Status, run.Err, run.Out),
            std::tuple(1, "qel settings: " + dir.file("missing.mse") +
                              ": The system cannot find the file specified.\n", ""));

  WriteFileBytes(dir.file("short.mse"), std::string(100, '\0'));
  run = Qel(dir, dir.file("short.mse"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("short.mse: shorter than a settings record"), std::string::npos);

  run = Qel(dir, "--defaults -o " + dir.file("no/dir/out.mse"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("out.mse: "), std::string::npos);
}

// The record is written beside the target and renamed over it: a named pipe
// (or a device) given as the target must stay what it is.
TEST(QelSettings, ANamedPipeIsNotReplacedByTheRecord) {
  TTempDir dir;
  const std::string pipe = dir.file("settings.pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const TQelRun run = Qel(dir, "--defaults --get Emulation -o " + pipe);
  EXPECT_EQ(std::tuple(run.Status, run.Err, run.Out),
            std::tuple(1, "qel settings: " + pipe + ": not a regular file\n", ""));
  struct stat st {};
  ASSERT_EQ(stat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(QelSettings, UsageErrorsExitTwo) {
  TTempDir dir;
  for (const std::string args : {"", "--defaults x.mse", "--bogus", "--defaults --set Emulation",
                                  "--defaults --set Emulation=9", "--defaults --get Nope", "--defaults --get",
                                  "a.mse b.mse"}) {
    const TQelRun run = Qel(dir, args);
    EXPECT_EQ(run.Status, 2) << args;
    EXPECT_NE(run.Err.find("qel settings: "), std::string::npos) << args;
  }
  const TQelRun run = Qel(dir, "--defaults --set Emulation=9");
  EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), "qel settings: --set Emulation: value 9 out of range 0..3 (or one of quorix, vt100, vt220, tn3270)");
}

TEST(QelSettingsNames, CodedFieldsAreReadAndPrintedByNameAndNumbersAreStillTheStoredCodes) {
  TTempDir dir;
  const std::string file = dir.file("site.mse");
  const TQelRun run = Qel(dir, "--defaults --set Emulation=VT100 --set BaudRate=19200 --set Parity=even "
                               "--set Port=echo --set EOL=cr-lf --set FlowControl=xon-xoff --set QuorixType=M3 "
                               "--set DataBits=7-bits --set StopBits=2-bits --set ComPort=com2 -o " + file);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "");
  // Offsets and codes of the record layout: VT100, 19200, Even, Echo, CR-LF,
  // XON/OFF, M3, 7 bits, 2 stop bits, COM2.
  const std::pair<std::size_t, int> stored[] = {{5, 1}, {1, 8},    {4, 2}, {1638, 0}, {784, 3},
                                                {6, 3}, {1132, 2}, {2, 3}, {3, 2},    {0, 1}};
  for (const auto& [offset, code] : stored) EXPECT_EQ(ByteAt(file, offset), code) << offset;

  const TQelRun get = Qel(dir, file + " --get Emulation --get BaudRate --get parity --get Port --get EOL "
                                      "--get FlowControl --get QuorixType --get ComPort");
  ASSERT_EQ(get.Status, 0) << get.Err;
  EXPECT_EQ(get.Out, "Emulation=vt100\nBaudRate=19200\nparity=even\nPort=echo\nEOL=cr-lf\n"
                     "FlowControl=xon-xoff\nQuorixType=m3\nComPort=com2\n");
  // Numbers are still the stored codes, as the samples, the ./qel script and
  // the benchmarks write them.
  const std::string numbered = dir.file("n.mse");
  ASSERT_EQ(Qel(dir, "--defaults --set Emulation=1 --set Port=0 --set BaudRate=6 -o " + numbered).Status, 0);
  EXPECT_EQ(std::tuple(ByteAt(numbered, 5), ByteAt(numbered, 1638), ByteAt(numbered, 1)), std::tuple(1, 0, 6));
  // A port typed outside the list is 255, printed as none.
  const TQelRun none = Qel(dir, numbered + " --set Port=255 --get Port");
  EXPECT_EQ(none.Out, "Port=none\n");
}

TEST(QelSettingsNames, GetsAndSetsRunInCommandLineOrderAndAnUnknownNameListsTheNames) {
  TTempDir dir;
  const TQelRun run = Qel(dir, "--defaults --get Emulation --set Emulation=tn3270 --get Emulation "
                               "--set Emulation=quorix --get Emulation");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Emulation=quorix\nEmulation=tn3270\nEmulation=quorix\n");
  const TQelRun unknown = Qel(dir, "--defaults --set Parity=evn");
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_EQ(unknown.Err.substr(0, unknown.Err.find('\n')),
            "qel settings: --set Parity: not a number: 'evn' (or one of none, odd, even, mark, space)");
}

TEST(QelSettingsNames, AFileIsWrittenOnlyWhenAsked) {
  TTempDir dir;
  const std::string file = dir.file("a.mse");
  ASSERT_EQ(Qel(dir, "--defaults -o " + file).Status, 0);
  const std::string before = ReadFileBytes(file);

  // A --set alone changes nothing on disk, prints no field and says so.
  TQelRun run = Qel(dir, file + " --set BaudRate=3");
  EXPECT_EQ(std::tuple(run.Status, run.Out, run.Err),
            std::tuple(0, "", "qel settings: note: nothing written: give -o OUT.mse or --in-place to keep the "
                              "changes\n"));
  EXPECT_EQ(ReadFileBytes(file), before);

  run = Qel(dir, file + " --set BaudRate=3 --in-place");
  EXPECT_EQ(std::tuple(run.Status, run.Out, ByteAt(file, 1)), std::tuple(0, "", 3)) << run.Err;

  const std::string other = dir.file("b.mse");
  run = Qel(dir, file + " --set BaudRate=9600 -o " + other);
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ByteAt(file, 1), 3);
  EXPECT_EQ(ByteAt(other, 1), 6);

  EXPECT_EQ(Qel(dir, file + " --in-place -o " + other).Status, 2);
  EXPECT_EQ(Qel(dir, "--defaults --in-place").Status, 2);
}

TEST(QelSettingsTrailer, FieldsBesideTheRecordGoAfterItAndAFileWithoutThemStaysOneRecord) {
  TTempDir dir;
  const std::string plain = dir.file("plain.mse"), ssh = dir.file("ssh.mse");
  ASSERT_EQ(Qel(dir, "--defaults --set Emulation=vt100 -o " + plain).Status, 0);
  EXPECT_EQ(ReadFileBytes(plain).size(), 14044u);
  const TQelRun set = Qel(dir, plain + " --set NetworkKind=ssh --set SshUserName=eng --set ListenAllow=10.0.0.0/8 -o " + ssh);
  ASSERT_EQ(set.Status, 0) << set.Err;
  const std::string bytes = ReadFileBytes(ssh);
  ASSERT_GT(bytes.size(), 14044u);
  EXPECT_EQ(bytes.substr(0, 14044), ReadFileBytes(plain)) << "the record itself is untouched";
  EXPECT_EQ(bytes.substr(14044, 4), "QELX");
  EXPECT_EQ(Qel(dir, ssh + " --get SshUserName --get NetworkKind --get ListenAllow --get Emulation").Out,
            "SshUserName=eng\nNetworkKind=ssh\nListenAllow=10.0.0.0/8\nEmulation=vt100\n");
  // Back to the defaults: the trailer goes.
  ASSERT_EQ(Qel(dir, ssh + " --set NetworkKind=telnet --set SshUserName= --set ListenAllow= --in-place").Status, 0);
  EXPECT_EQ(ReadFileBytes(ssh), ReadFileBytes(plain));
  const TQelRun bad = Qel(dir, plain + " --set ListenAllow=10.1.2.3/8 -o " + ssh);
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("address bits set beyond its /8 prefix"), std::string::npos) << bad.Err;
}

// docs/settings.md is made by the build from the field table; the copy in
// the repository must be the same page.
TEST(SettingsReference, TheDocsPageIsCurrent) {
  const std::string page = ReadFileBytes(std::string(QEL_TEST_DATA) + "/../docs/settings.md");
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(page, SettingsReferenceText())
      << "docs/settings.md is stale: copy <build>/docs/settings.md over it";
}

TEST(SettingsReference, EveryFieldWithItsDefaultAndNames) {
  const std::string page = SettingsReferenceText();
  for (const char* row : {"| `BaudRate` | 110, 300,", "| `Emulation` | quorix, vt100, vt220, tn3270 (or 0..3) | `quorix` |",
                          "| `Port` | echo, discard, daytime, netstat, chargen, telnet (or 0..255)",
                          "| `EOL` | cr, lf, no-change, cr-lf, lf-cr (or 0..4) | `no-change` |",
                          "| `WaitChar` | 0..255 | `62` |", "| `FontName` | text of up to 40 characters | `Courier New` |",
                          "| `SoftKeys[0]`..`SoftKeys[11]` |", "| `WindowHeight` | -2147483648..2147483647 | `492` |",
                          "| `TabStops`, `TabStops[i]` |"}) {
    EXPECT_NE(page.find(row), std::string::npos) << row;
  }
  // One row per field of the printed list (arrays once).
  TSetupRecord record = DefaultSettings();
  for (const auto& [name, value] : PrintSettingsFields(record)) {
    const std::string base = name.substr(0, name.find('['));
    EXPECT_NE(page.find("| `" + base), std::string::npos) << base;
  }
}
