// known_hosts as OpenSSH reads and writes it. The keys, their fingerprints
// and the hashed lines below were made by ssh-keygen (ssh-keygen -l -E
// sha256, ssh-keygen -H), so they are OpenSSH's answers, not ours.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "comms/knownhosts.h"
#include "support/testing.h"

namespace {
const char* const kKeyA = "AAAAC3NzaC1lZDI1NTE5AAAAIO/pUYVO2ywk3nYolAbGNGKk/tkH+v3uAOqIeYFJJYUc";
const char* const kKeyB = "AAAAC3NzaC1lZDI1NTE5AAAAINzvul0/Gk6TxqOvNIOXWz+85g6RhOKW4oPlEdB59E4s";
const char* const kKeyC =
    "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBK4JNfIMQ9queIJOVw6pS5QnjNVt+5wfSYbVKPtIylfwMAJ+2ytRkoaGz"
    "KxG21h4/4aHHTMdklTi5TBtdTtLI/o=";
// ssh-keygen -H of "example.org KEY-A" and "[127.0.0.1]:2222 KEY-A".
const char* const kHashedExampleOrg = "|1|V9bH+sKG4LqImLCzY+O30WXTmRc=|m8w773HOM9UMS6iFAjowcoewkl4=";
const char* const kHashedLoopback2222 = "|1|rYd+LOvaCDl4aPji1k69uDqwgVQ=|7pqJFm+SHRVcCb+LLhGURXUc6os=";

THostKey Key(const char* base64) { return *THostKey::FromBase64(base64); }

class KnownHosts : public ::testing::Test {
 protected:
  TTempDir Dir;
  std::string File = Dir.file("known_hosts");
  TKnownHosts Known{File};

  void Write(const std::string& text) { WriteFileBytes(File, text); }
  // Each host, port and key checked against the file with the status given.
  void ExpectStatus(std::initializer_list<std::tuple<const char*, int, const char*, THostKeyStatus>> checks) {
    for (const auto& [host, port, key, status] : checks) EXPECT_EQ(Check(host, port, key).Status, status) << host;
  }
  THostKeyCheck Check(const std::string& host, int port, const char* key) {
    std::string error;
    const auto check = Known.Check(host, port, Key(key), error);
    EXPECT_TRUE(check.has_value()) << error;
    return check.value_or(THostKeyCheck{});
  }
};
}  // namespace

TEST(HostKey, TypeLabelAndFingerprintAreOpenSshsAndABlobWithoutATypeIsNoKey) {
  const auto described = [](const THostKey& key) { return key.Type + " " + key.Label() + " " + key.Fingerprint(); };
  EXPECT_EQ(described(Key(kKeyA)), "ssh-ed25519 ED25519 SHA256:ecHNrS+mJQ/2lFQOJDPuc6mn1tI485TQ+5uogQgnXyY");
  EXPECT_EQ(described(Key(kKeyC)), "ecdsa-sha2-nistp256 ECDSA SHA256:9JhYR63wcJqpO6fXzcl2GPTgcE0CtjH1QiCx9P+yqY4");
  EXPECT_EQ(Key(kKeyC).Base64(), kKeyC) << "padding kept";
  EXPECT_FALSE(THostKey::FromBase64(""));
  EXPECT_FALSE(THostKey::FromBase64("AAAA"));      // a zero-length type
  EXPECT_FALSE(THostKey::FromBase64("AAAAC3Nz"));  // a type longer than the blob
  EXPECT_FALSE(THostKey::FromBase64("not base64!"));
}

TEST_F(KnownHosts, NoFileKnowsNoHostAndAnUnreadableOrUnwritableOneIsAnError) {
  EXPECT_EQ(Check("example.org", 22, kKeyA).Status, hkUnknown);
  std::filesystem::create_directory(File);
  std::string error;
  EXPECT_FALSE(Known.Check("example.org", 22, Key(kKeyA), error));
  EXPECT_NE(error.find(File), std::string::npos);
  error = Known.Add("example.org", 22, Key(kKeyA));
  EXPECT_NE(error.find(File), std::string::npos) << error;
}

TEST_F(KnownHosts, PlainNamesPatternListsWildcardsAndNegation) {
  Write("# comment\n\n"
        "Example.ORG ssh-ed25519 " + std::string(kKeyA) + " comment words\n"
        "gw1,gw2.example.net ssh-ed25519 " + kKeyA + "\n"
        "!bad.lab.example.net,*.lab.example.net ssh-ed25519 " + kKeyA + "\n"
        "sw?.example.net ssh-ed25519 " + kKeyA + "\n");
  // Names without regard to case; a negated match rules the host out; ? is one character.
  ExpectStatus({{"example.org", 22, kKeyA, hkKnown}, {"gw2.example.net", 22, kKeyA, hkKnown},
                {"x.lab.example.net", 22, kKeyA, hkKnown}, {"bad.lab.example.net", 22, kKeyA, hkUnknown},
                {"sw7.example.net", 22, kKeyA, hkKnown}, {"sw17.example.net", 22, kKeyA, hkUnknown},
                {"gw3.example.net", 22, kKeyA, hkUnknown}});
}

TEST_F(KnownHosts, OtherPortsAreKnownAsBracketedNamesOnly) {
  Write("[10.0.0.5]:2222 ssh-ed25519 " + std::string(kKeyA) + "\n10.0.0.6 ssh-ed25519 " + kKeyA + "\n");
  ExpectStatus({{"10.0.0.5", 2222, kKeyA, hkKnown}, {"10.0.0.5", 22, kKeyA, hkUnknown},
                {"10.0.0.6", 2222, kKeyA, hkUnknown}, {"10.0.0.6", 22, kKeyA, hkKnown}});
  EXPECT_EQ(TKnownHosts::EntryName("::1", 2222), "[::1]:2222");
  EXPECT_EQ(TKnownHosts::EntryName("Host.Example", 22), "host.example");
}

TEST_F(KnownHosts, HashedNamesAreMatchedByTheirHmac) {
  Write(std::string(kHashedExampleOrg) + " ssh-ed25519 " + kKeyA + "\n" + kHashedLoopback2222 + " ssh-ed25519 " +
        kKeyA + "\n");
  ExpectStatus({{"example.org", 22, kKeyA, hkKnown}, {"127.0.0.1", 2222, kKeyA, hkKnown},
                {"127.0.0.1", 22, kKeyA, hkUnknown}, {"example.com", 22, kKeyA, hkUnknown},
                {"example.org", 22, kKeyB, hkChanged}});
  EXPECT_FALSE(TKnownHosts::HostFieldMatches("|1|bm90IGJhc2U2NA|", "example.org")) << "a damaged hash";
}

TEST_F(KnownHosts, AKeyOfAnotherTypeIsUnknownWithTheOthersNoted) {
  Write("example.org ssh-ed25519 " + std::string(kKeyA) + "\n");
  const THostKeyCheck check = Check("example.org", 22, kKeyC);
  EXPECT_EQ(check.Status, hkUnknown);
  EXPECT_TRUE(check.OtherTypesKnown);
  EXPECT_FALSE(Check("example.net", 22, kKeyC).OtherTypesKnown);
}

TEST_F(KnownHosts, ARevokedKeyIsRefusedForEveryHostAndCertificateAuthoritiesAreLeftAlone) {
  Write("@cert-authority *.example.org ssh-ed25519 " + std::string(kKeyB) + "\n"
        "example.org ssh-ed25519 " + kKeyA + "\n"
        "@revoked * ssh-ed25519 " + kKeyA + "\n");
  const THostKeyCheck check = Check("example.org", 22, kKeyA);
  EXPECT_EQ(check.Status, hkRevoked);
  EXPECT_EQ(check.Where, File + ":3");
  EXPECT_EQ(Check("x.example.org", 22, kKeyB).Status, hkUnknown) << "a CA key is no host key";
}

TEST_F(KnownHosts, BrokenLinesAreSkippedAndAnyMatchingEntryOfTheTypeMakesTheKeyKnown) {
  // A host may have several keys of a type listed (a key being rolled over).
  Write("example.org\nexample.org ssh-ed25519\n@revoked\n   \nexample.org ssh-ed25519 " + std::string(kKeyB) +
        "\nexample.org ssh-ed25519 " + kKeyA + "\n");
  EXPECT_EQ(Check("example.org", 22, kKeyA).Status, hkKnown);
}

TEST_F(KnownHosts, AddedKeysAreKnownToUsAndToOpenSsh) {
  const std::string nested = Dir.file("ssh/known_hosts");
  const TKnownHosts fresh(nested);
  ASSERT_EQ(fresh.Add("127.0.0.1", 2222, Key(kKeyA)), "");
  struct stat st {};
  ASSERT_EQ(::stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(Dir.file("ssh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(ReadFileBytes(nested), "[127.0.0.1]:2222 ssh-ed25519 " + std::string(kKeyA) + "\n");

  // A last line without its end gets one before ours.
  Write("example.org ssh-ed25519 " + std::string(kKeyB));
  ASSERT_EQ(Known.Add("Example.net", 22, Key(kKeyC)), "");
  EXPECT_EQ(ReadFileBytes(File), "example.org ssh-ed25519 " + std::string(kKeyB) + "\nexample.net " +
                                     "ecdsa-sha2-nistp256 " + kKeyC + "\n");
  EXPECT_EQ(Check("example.net", 22, kKeyC).Status, hkKnown);
  EXPECT_EQ(Check("example.org", 22, kKeyB).Status, hkKnown);
}

TEST(KnownHostsFile, TheDefaultAndATildeAreTheHomeFolders) {
  const char* saved = std::getenv("HOME");
  const std::string home = saved ? saved : "";
  ::setenv("HOME", "/home/engineer", 1);
  EXPECT_EQ(TKnownHosts().File(), "/home/engineer/.ssh/known_hosts");
  EXPECT_EQ(TKnownHosts("~/site/known_hosts").File(), "/home/engineer/site/known_hosts");
  EXPECT_EQ(ExpandUserPath("~other/x"), "~other/x") << "another user's home is not guessed";
  EXPECT_EQ(ExpandUserPath("/etc/ssh/known"), "/etc/ssh/known");
  if (saved) ::setenv("HOME", home.c_str(), 1);
  else ::unsetenv("HOME");
}
