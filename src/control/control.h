// Control definition: the configuration store of one control, the keyword and
// system-variable vocabularies, the option-file lexer and compiler, the MCD
// file and the configuration dumps.
#pragma once

#include <span>
#include <string_view>

#include "runtime/runtime.h"

namespace kv {

// --- tokens: the shared token reader over a line of text ---------------------
// Token types of tokenise_line.
constexpr int TOKEN_NONE = 0;
constexpr int TOKEN_WORD = 1;
constexpr int TOKEN_INTEGER = 2;
constexpr int TOKEN_REAL = 3;
constexpr int TOKEN_STRING = 4;
constexpr int TOKEN_OPEN_STRING = 5;
constexpr int TOKEN_PAREN = 6;
constexpr int TOKEN_OPEN_PAREN = 7;

int tokenise_line(std::span<char> line, std::span<char> token, int& token_length);
int next_token(std::span<char> line, std::span<char> token);

// --- configuration store -------------------------------------------------------

// --- output blocks and block items ---------------------------------------------

// --- keyword and system-variable tables ----------------------------------------

// --- lexer ---------------------------------------------------------------------

// --- compiler and semantic actions ---------------------------------------------

}  // namespace kv
