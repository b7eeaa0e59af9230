// Lexer and parser of the mode source language.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "trace/compiler_ast.h"

// A fault in the source, at a position.
class ECompileError : public std::runtime_error {
 public:
  ECompileError(TSourcePos pos, const std::string& message) : std::runtime_error(message), Pos(pos) {}
  TSourcePos Pos;
};

// The keyword a word is probably a misspelling of ("STRCUT": "STRUCT"), or
// empty when it is near none.
std::string NearKeyword(const std::string& word);

// Throws ECompileError for the first fault.
std::vector<TStatement> ParseModeSource(std::string_view source);
