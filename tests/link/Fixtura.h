#pragma once
// Shared fixture of the link suites: a fresh library state, a scripted peer on
// a pseudo-terminal and the pinpad port opened on its slave side.
#include <gtest/gtest.h>

#include <chrono>

#include "ChamadasTeste.h"
#include "PeerPty.h"
#include "common/TestUtil.h"
#include "link/Serial.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"

namespace testlink {

inline int64_t Ms(Relogio::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

class LinkPty : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    ASSERT_TRUE(peer.Valido());
    ASSERT_EQ(PortaAbre(peer.Caminho().c_str(), 19200), PPCOMP_OK);
  }
  void TearDown() override {
    PortaFecha();
    testutil::ResetaLibState();
  }
  PeerPty peer;
};

}  // namespace testlink
