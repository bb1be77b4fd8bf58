#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "tools/SemExcecao.h"

// Whatever a program's body throws ends as one line on standard error and the
// program's failure status, never as an abort.
TEST(SemExcecao, AnExceptionBecomesALineAndTheFailureStatus) {
  struct Caso {
    int (*corpo)(int, char**);
    int status;
    const char* linha;
  };
  const Caso casos[] = {
      {[](int, char**) -> int { return 7; }, 7, ""},
      {[](int, char**) -> int { throw std::bad_alloc(); }, 42, "prog: std::bad_alloc\n"},
      {[](int, char**) -> int { return static_cast<int>(std::string("ab").substr(5).size()); }, 42, "prog: basic_string"},
      {[](int, char**) -> int { throw 3; }, 42, "prog: erro interno\n"},
  };
  for (const Caso& c : casos) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ExecutaSemExcecao("prog", 42, c.corpo, 0, nullptr), c.status);
    const std::string erro = testing::internal::GetCapturedStderr();
    EXPECT_EQ(erro.rfind(c.linha, 0), 0u) << erro;
  }
}
