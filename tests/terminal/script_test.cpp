// Runs every case of tests/terminal/*.test, byte by byte and in blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "terminal/script.h"

namespace {

std::vector<TScriptCase> AllCases() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(QEL_TEST_DATA "/terminal")) {
    if (entry.path().extension() == ".test") paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<TScriptCase> cases;
  for (const auto& path : paths) {
    auto fileCases = ReadScript(path);
    cases.insert(cases.end(), fileCases.begin(), fileCases.end());
  }
  return cases;
}

std::string TestName(const testing::TestParamInfo<TScriptCase>& info) {
  std::string name = info.param.File.substr(0, info.param.File.find('.')) + "_" +
                     std::to_string(info.param.Line);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class TerminalScript : public testing::TestWithParam<TScriptCase> {};

TEST_P(TerminalScript, ByteWise) {
  SCOPED_TRACE(GetParam().Name);
  for (const auto& failure : RunScriptCase(GetParam(), TFeedMode::ByteWise)) ADD_FAILURE() << failure;
}

TEST_P(TerminalScript, Blocks) {
  SCOPED_TRACE(GetParam().Name);
  for (const auto& failure : RunScriptCase(GetParam(), TFeedMode::Blocks)) ADD_FAILURE() << failure;
}

INSTANTIATE_TEST_SUITE_P(Scripts, TerminalScript, testing::ValuesIn(AllCases()), TestName);

}  // namespace
