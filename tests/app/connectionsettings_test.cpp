// The settings kept after the 14044-byte record: the trailer's layout, files
// of older writers that must stay byte for byte what they were, and files of
// newer writers whose fields this version does not know.
#include <gtest/gtest.h>

#include "app/connectionsettings.h"
#include "app/settingsfields.h"
#include "app/settingsfile.h"
#include "app/session.h"
#include "support/testing.h"

namespace {
std::string U16(std::uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string U32(std::uint32_t v) { return U16(static_cast<std::uint16_t>(v & 0xFFFF)) + U16(static_cast<std::uint16_t>(v >> 16)); }
std::string Entry(std::uint16_t tag, const std::string& value) {
  return U16(tag) + U16(static_cast<std::uint16_t>(value.size())) + value;
}
std::string Trailer(const std::string& body) { return "QELX" + U32(static_cast<std::uint32_t>(body.size())) + body; }

// A record as another writer left it: no byte at its default.
std::string OlderRecordBytes() {
  std::string bytes(kSetupRecordSize, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 5);
  TSetupRecord record;
  std::memcpy(static_cast<void*>(&record), bytes.data(), bytes.size());
  record.EBCDICMapFileName = "";  // loading it would report a missing map file
  record.LogFileName = "site.log";
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}
}  // namespace

TEST(SettingsTrailer, OnlyChangedFieldsAreWrittenInTagOrderAndDefaultsNothing) {
  TConnectionSettings s;
  s.SshPort = 2222;            // tag 3, u16
  s.NetworkKind = nkSsh;       // tag 1, u8
  s.SshUserName = "engineer";  // tag 2, text
  EXPECT_EQ(EncodeSettingsTrailer(s),
            Trailer(Entry(1, "\x01") + Entry(2, "engineer") + Entry(3, std::string("\xAE\x08", 2))));
  EXPECT_EQ(EncodeSettingsTrailer(TConnectionSettings{}), "");
}

TEST(SettingsTrailer, ReadsBackWhatItWritesAndKeepsTagsItDoesNotKnow) {
  TConnectionSettings s;
  s.SshKeyFile = "/home/eng/.ssh/id_ed25519";
  s.ListenAllow = "10.0.0.0/8 2001:db8::/32";
  s.Reconnect = 1;
  s.ReconnectDelay = 5;
  s.FTPProtocol = fpSftp;
  s.Unknown[900] = std::string("\x00\x01z", 3);
  TConnectionSettings read;
  ASSERT_TRUE(DecodeSettingsTrailer(EncodeSettingsTrailer(s), read));
  EXPECT_EQ(read, s);
  EXPECT_EQ(EncodeSettingsTrailer(read), EncodeSettingsTrailer(s));
}

TEST(SettingsTrailer, ValuesOutsideTheirFieldsLimitsKeepTheDefault) {
  TConnectionSettings read;
  const std::string body = Entry(3, U16(0)) + Entry(11, "\x09") + Entry(2, std::string(81, 'u')) +
                           Entry(9, "\x07") + Entry(1, "\x01\x01");
  ASSERT_TRUE(DecodeSettingsTrailer(Trailer(body), read));
  EXPECT_EQ(read.SshPort, 22) << "port 0";
  EXPECT_EQ(read.FTPProtocol, fpPlainFtp);
  EXPECT_EQ(read.SshUserName, "") << "longer than its 80 characters";
  EXPECT_EQ(read.NetworkKind, nkTelnet) << "a byte field of two bytes";
  EXPECT_EQ(read.ReconnectLimit, 7) << "the good entry among them is read";
}

TEST(SettingsTrailer, OtherBytesAfterTheRecordAreNoTrailerAndDamageGivesDefaults) {
  TConnectionSettings read;
  read.SshPort = 99;
  EXPECT_TRUE(DecodeSettingsTrailer(std::string(100, 'z'), read));
  EXPECT_EQ(read, TConnectionSettings{});
  read.SshPort = 99;
  EXPECT_FALSE(DecodeSettingsTrailer(Trailer(Entry(2, "engineer")).substr(0, 14), read)) << "cut short";
  EXPECT_EQ(read, TConnectionSettings{});
  EXPECT_FALSE(DecodeSettingsTrailer("QELX" + U32(4) + U16(2) + U16(50), read)) << "an entry past the end";
  EXPECT_FALSE(DecodeSettingsTrailer("QELX" + U32(1000), read)) << "a length past the end";
}

TEST(SettingsTrailerFile, AnOlderFileOpensAndSavesByteForByte) {
  TTestSession t;
  const std::string name = t.Dir.file("older.mse");
  const std::string older = OlderRecordBytes();
  WriteFileBytes(name, older);
  t.S->Connection.SshUserName = "left over";  // from a file opened before
  ASSERT_TRUE(t.S->SettingsFiles->OpenQelSetFile(name));
  EXPECT_EQ(t.S->Connection, TConnectionSettings{}) << "a file without them sets the defaults";
  t.S->SettingsFiles->WindowGeometry = nullptr;  // no window to take the geometry from
  ASSERT_TRUE(t.S->SettingsFiles->Save());
  EXPECT_EQ(ReadFileBytes(name), older);
  EXPECT_TRUE(t.Desktop.Boxes.empty());
}

TEST(SettingsTrailerFile, NewFieldsFollowTheRecordWhereOlderReadersNeverLook) {
  TTestSession t;
  const std::string name = t.Dir.file("ssh.mse");
  const std::string older = OlderRecordBytes();
  WriteFileBytes(name, older);
  ASSERT_TRUE(t.S->SettingsFiles->OpenQelSetFile(name));
  t.S->Connection.NetworkKind = nkSsh;
  t.S->Connection.SshUserName = "engineer";
  ASSERT_TRUE(t.S->SettingsFiles->Save());
  const std::string saved = ReadFileBytes(name);
  EXPECT_EQ(saved.substr(0, kSetupRecordSize), older) << "the record is untouched";
  EXPECT_EQ(saved.substr(kSetupRecordSize), Trailer(Entry(1, "\x01") + Entry(2, "engineer")));

  // A reader of the record alone takes its first 14044 bytes.
  TSetupRecord record;
  ASSERT_EQ(ReadSettingsRecord(name, record).Error, 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record), sizeof record), older);

  TTestSession other;
  ASSERT_TRUE(other.S->SettingsFiles->OpenQelSetFile(name));
  EXPECT_EQ(other.S->Connection.SshUserName, "engineer");
  EXPECT_EQ(other.S->Connection.NetworkKind, nkSsh);
}

TEST(SettingsTrailerFile, ANewerWritersFieldsSurviveASave) {
  TTestSession t;
  const std::string name = t.Dir.file("newer.mse");
  const std::string trailer = Trailer(Entry(2, "ops") + Entry(700, "future value"));
  WriteFileBytes(name, OlderRecordBytes() + trailer);
  ASSERT_TRUE(t.S->SettingsFiles->OpenQelSetFile(name));
  EXPECT_EQ(t.S->Connection.SshUserName, "ops");
  ASSERT_TRUE(t.S->SettingsFiles->Save());
  EXPECT_EQ(ReadFileBytes(name), OlderRecordBytes() + trailer);
}

TEST(SettingsTrailerFields, ByNameAsTheToolPrintsAndSetsThem) {
  TSetupRecord record = DefaultSettings();
  TConnectionSettings extra;
  std::string error;
  // The tool's tests set and get these by their names; here, what the tool leaves out.
  EXPECT_TRUE(SetSettingsField(record, extra, "networkkind", "ssh", error)) << error;
  EXPECT_TRUE(SetSettingsField(record, extra, "SshPort", "2222", error)) << error;
  EXPECT_TRUE(SetSettingsField(record, extra, "ListenAllow", "10.0.0.0/8,[::1]", error)) << error;
  EXPECT_EQ(GetSettingsField(record, extra, "ListenAllow", error), "10.0.0.0/8 ::1");
  EXPECT_EQ(std::pair(int(extra.NetworkKind), int(extra.SshPort)), std::pair(int(nkSsh), 2222));
  EXPECT_FALSE(SetSettingsField(record, extra, "SshPort", "0", error));
  EXPECT_NE(error.find("1..65535"), std::string::npos) << error;
  EXPECT_FALSE(SetSettingsField(record, extra, "FTPProtocol", "gopher", error));
  EXPECT_NE(error.find("ftp, ftps, ftps-implicit, sftp"), std::string::npos) << error;

  const auto lines = PrintSettingsFields(record, extra);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back().first, "FTPProtocol");
}
