#pragma once
// main() of our C++ programs: no exception escapes as an abort (status 134 and
// a core). Memory running out, say, ends the program with one line on
// standard error and the status the program gives to a failure of its own.
#include <cstdio>
#include <exception>

template <typename Principal>
int ExecutaSemExcecao(const char* programa, int statusFalha, Principal principal, int argc, char** argv) {
  try {
    return principal(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", programa, e.what());
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: erro interno\n", programa);
  }
  return statusFalha;
}
