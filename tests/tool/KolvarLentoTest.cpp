// Kolvar against a pinpad that waits out the link's time-outs.
#include <gtest/gtest.h>

#include "tool/Processo.h"

namespace {

using e2e::KolvarContraSimulador;

TEST(KolvarFalhas, PinpadMudoDa31DentroDosLimites) {
  // No acknowledgement at all: three attempts of 2 s, then 31.
  auto e = KolvarContraSimulador({"--sem-ack", "3@OPN"});
  EXPECT_EQ(e.r.status, 31);
  EXPECT_GE(e.r.segundos, 5.5);
  EXPECT_LT(e.r.segundos, 30.0);
}

}  // namespace
