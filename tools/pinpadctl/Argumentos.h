#pragma once
// Strict reading of the tools' command-line values: a number is all of its
// argument ("5x", " 5", "+5" and "1e3" are refused, not read as 5 or 1000).
#include <string>
#include <string_view>

namespace pinpadctl {

// Decimal digits only, between minimo and maximo.
bool InteiroEstrito(std::string_view s, long minimo, long maximo, long& valor);

// Seconds: digits with at most one decimal point ("30", "0.5"), above zero and
// at most `maximo`.
bool SegundosEstritos(std::string_view s, double maximo, double& valor);

// "A-B" or "A", with minimo <= A <= B <= maximo.
bool FaixaEstrita(std::string_view s, int minimo, int maximo, int& de, int& ate);

// The --version line: "NAME VERSION".
std::string LinhaVersao(const char* programa);

}  // namespace pinpadctl
