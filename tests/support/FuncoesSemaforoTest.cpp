#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/FuncoesArquivo.h"
#include "support/FuncoesSemaforo.h"

TEST(Semaforo, RecursiveForItsOwnerExclusiveForOthers) {
  Semaforo* s = SemaforoCria();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SemaforoTrava(s), 0);
  EXPECT_EQ(SemaforoTrava(s), 0);  // the holder locks again without blocking
  std::atomic<bool> pegou{false};
  std::thread outra([&] {
    SemaforoTrava(s);
    pegou = true;
    SemaforoLibera(s);
  });
  EXPECT_EQ(SemaforoLibera(s), 0);
  Dorme(20);
  EXPECT_FALSE(pegou);  // still held once
  EXPECT_EQ(SemaforoLibera(s), 0);
  outra.join();
  EXPECT_TRUE(pegou);
  SemaforoDestroi(s);
}

TEST(Semaforo, NullIsIgnored) {
  EXPECT_EQ(SemaforoTrava(nullptr), 0);
  EXPECT_EQ(SemaforoLibera(nullptr), 0);
  SemaforoDestroi(nullptr);
}
