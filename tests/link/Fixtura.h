#pragma once
// Shared fixture of the link suites: a fresh library state, a scripted peer on
// a pseudo-terminal and the pinpad port opened on its slave side.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>

#include "ChamadasTeste.h"
#include "PeerPty.h"
#include "common/TestUtil.h"
#include "link/Serial.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"

namespace testlink {

inline int64_t Ms(Relogio::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

// A no-op SIGALRM handler installed without SA_RESTART and fired every
// `intervaloUs`, so that every wait of the calling thread gets interrupted.
class SinaisFrequentes {
 public:
  explicit SinaisFrequentes(int intervaloUs) {
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, &anterior_);
    itimerval t{};
    t.it_interval.tv_usec = intervaloUs;
    t.it_value.tv_usec = intervaloUs;
    setitimer(ITIMER_REAL, &t, nullptr);
  }
  ~SinaisFrequentes() {
    itimerval t{};
    setitimer(ITIMER_REAL, &t, nullptr);
    sigaction(SIGALRM, &anterior_, nullptr);
  }
  SinaisFrequentes(const SinaisFrequentes&) = delete;
  SinaisFrequentes& operator=(const SinaisFrequentes&) = delete;

 private:
  struct sigaction anterior_ {};
};

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
