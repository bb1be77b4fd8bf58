#include <gtest/gtest.h>

#include <array>

#include "support/FuncoesArquivo.h"

TEST(LimpaSegura, LeavesBufferAllZeros) {
  std::array<unsigned char, 64> buf;
  buf.fill(0x5A);
  EXPECT_EQ(LimpaSegura(buf.data(), buf.size()), buf.data());
  for (unsigned char c : buf) EXPECT_EQ(c, 0);
}
