#include <gtest/gtest.h>

#include "support/FuncoesString.h"

TEST(DigitosParaInt, LowFourBitsOfEachCharacter) {
  EXPECT_EQ(DigitosParaInt("051", 3), 51u);
  EXPECT_EQ(DigitosParaInt(" 12", 3), 12u);  // a blank counts as 0
  EXPECT_EQ(DigitosParaInt("1234", 2), 12u);
}
