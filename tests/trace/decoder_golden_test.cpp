// Golden tests of the trace decoder: tests/trace/golden/*.golden hold cases
// of trace input and the exact log text expected, worked out by hand. The
// mode files are compiled from tests/trace/golden/fixture.mode.
//
// A case:
//   CASE name
//   SET Field=Value        settings by name (as `qel settings --set`)
//   TRIGGER                trigger switch on
//   CONVERT-ERROR          error conversion (KASP.ERR from ERRFILE lines)
//   TRACEOFF               trace conversion off again after the start
//   MINI                   the MINI trace on
//   ERRFILE n text         record n of KASP.ERR (17 characters, padded)
//   NOKASP                 no host name files
//   INPUT                  lines fed as received, each followed by CR LF
//                          ("\c" at the end: no line end; \xNN any byte)
//   EXPECT                 the log text, trailing blanks ignored
//   !BOX text              a message box, in order (\xNN escapes; trailing
//                          blanks ignored)
//   END
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/batchdecode.h"
#include "app/session.h"
#include "app/settingsfields.h"
#include "support/testing.h"
#include "trace/compiler.h"
#include "trace/decoder.h"
#include "trace/modefile_testing.h"
#include "trace/tracefiles.h"

namespace {

const std::string kGoldenDir = std::string(QEL_TEST_DATA) + "/trace/golden";

struct TCase {
  std::string File;
  int Line = 0;
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Settings;
  bool Trigger = false;
  bool ConvertError = false;
  bool TraceOff = false;
  bool Mini = false;
  bool Kasp = true;
  std::map<std::uint32_t, std::string> ErrorRecords;
  std::string Input;
  std::vector<std::string> Expected;
  std::vector<std::string> Boxes;
};

std::string Unescape(const std::string& text, bool* noLineEnd = nullptr) {
  std::string out;
  std::string_view s = text;
  if (noLineEnd) {
    *noLineEnd = s.size() >= 2 && s.substr(s.size() - 2) == "\\c";
    if (*noLineEnd) s.remove_suffix(2);
  }
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// The directives that set a switch of the case (NOKASP clears one).
const std::map<std::string, bool TCase::*> kSwitches = {{"TRIGGER", &TCase::Trigger},
                                                         {"CONVERT-ERROR", &TCase::ConvertError},
                                                         {"TRACEOFF", &TCase::TraceOff},
                                                         {"MINI", &TCase::Mini},
                                                         {"NOKASP", &TCase::Kasp}};

std::vector<TCase> LoadCases(const std::string& file) {
  std::ifstream in(kGoldenDir + "/" + file);
  std::vector<TCase> cases;
  enum { kOutside, kHead, kInput, kExpect } section = kOutside;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (section == kInput) {
      if (line == "EXPECT") {
        section = kExpect;
        continue;
      }
      bool noLineEnd = false;
      cases.back().Input += Unescape(line, &noLineEnd);
      if (!noLineEnd) cases.back().Input += "\r\n";
      continue;
    }
    if (section == kExpect) {
      if (line == "END") {
        section = kOutside;
      } else if (line.rfind("!BOX ", 0) == 0) {
        cases.back().Boxes.push_back(TrimRight(Unescape(line.substr(5))));
      } else {
        cases.back().Expected.push_back(TrimRight(Unescape(line)));
      }
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("CASE ", 0) == 0) {
      cases.emplace_back();
      cases.back().File = file;
      cases.back().Line = number;
      cases.back().Name = line.substr(5);
      section = kHead;
      continue;
    }
    EXPECT_EQ(section, kHead) << file << ":" << number << ": outside a case: " << line;
    TCase& c = cases.back();
    if (line.rfind("SET ", 0) == 0) {
      const std::size_t eq = line.find('=');
      c.Settings.emplace_back(line.substr(4, eq - 4), line.substr(eq + 1));
    } else if (kSwitches.count(line)) {
      c.*kSwitches.at(line) = line != "NOKASP";
    } else if (line.rfind("ERRFILE ", 0) == 0) {
      const std::size_t space = line.find(' ', 8);
      c.ErrorRecords[static_cast<std::uint32_t>(std::stoul(line.substr(8, space - 8)))] = line.substr(space + 1);
    } else if (line == "INPUT") {
      section = kInput;
    } else {
      ADD_FAILURE() << file << ":" << number << ": unknown directive: " << line;
    }
  }
  return cases;
}

// The fixture mode set, compiled once into a directory that lives as long as the tests.
const std::string& FixtureBase() {
  static TTempDir dir;
  static const std::string base = [] {
    WriteModeFiles(ReadFileBytes(kGoldenDir + "/fixture.mode"), dir.file("fixture"), dir.path().string());
    return dir.file("fixture");
  }();
  return base;
}

struct TRunResult {
  std::vector<std::string> Lines;
  std::vector<std::string> Boxes;
};

TRunResult RunCase(const TCase& c) {
  TRunResult result;
  TTempDir programDir;
  TScriptedDesktop desktop;
  TSession session(desktop, programDir.path().string());
  for (const auto& [name, value] : c.Settings) {
    std::string error;
    EXPECT_TRUE(SetSettingsField(session.Settings, name, value, error)) << name << ": " << error;
  }
  TBatchDecodeOptions options;
  options.ModeBase = FixtureBase();
  options.OrnetGiven = true;
  options.Mini = c.Mini;
  if (c.Kasp || c.ConvertError) options.OrnetDirectory = programDir.path().string() + "/";
  if (c.Kasp) {
    const std::filesystem::path fixtureDir = std::filesystem::path(FixtureBase()).parent_path();
    for (const char* name : {"KASP.MSG", "KASP.VMI", "KASP.BID"})
      std::filesystem::copy_file(fixtureDir / name, programDir.path() / name);
  }
  if (c.ConvertError) {
    std::string records;
    for (const auto& [n, text] : c.ErrorRecords) {
      if (records.size() < 17 * n) records.resize(17 * n, ' ');
      std::string record = text.substr(0, 17);
      record.resize(17, ' ');
      records += record;
    }
    WriteFileBytes(programDir.file("KASP.ERR"), records);
    options.ConvertError = true;
  }
  TBatchDecoder decoder(session);
  decoder.Output = [&](std::string_view line) { result.Lines.push_back(TrimRight(std::string(line))); };
  std::string error;
  EXPECT_TRUE(decoder.Start(options, &error)) << error;
  if (c.Trigger) session.Trace->SetTriggerEnabled(true);
  if (c.TraceOff) session.TraceFiles->TraceOff();
  decoder.Feed(reinterpret_cast<const std::uint8_t*>(c.Input.data()), c.Input.size());
  decoder.Finish();
  for (const auto& box : desktop.Boxes) result.Boxes.push_back(TrimRight(box.Box.Text));
  return result;
}

std::string Listing(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += "|" + l + "\n";
  return text;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, DecodesAsWorkedOut) {
  const std::vector<TCase> cases = LoadCases(GetParam());
  ASSERT_FALSE(cases.empty()) << "no cases in " << GetParam();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File + ":" + std::to_string(c.Line) + ": " + c.Name);
    const TRunResult r = RunCase(c);
    EXPECT_EQ(Listing(r.Lines), Listing(c.Expected));
    EXPECT_EQ(r.Boxes, c.Boxes);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Golden,
                         ::testing::Values("headers.golden", "data.golden", "kinds.golden", "structures.golden",
                                           "mbid.golden", "dss1.golden", "builtin_decoders.golden", "trigger.golden",
                                           "hostile.golden", "mini.golden"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

}  // namespace
