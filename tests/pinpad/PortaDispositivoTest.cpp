// The pinpad port as a shared, pluggable device, through the public functions
// against simpinpad: one process owns the port at a time, and a caller gets a
// device back after it was unplugged and plugged in again, with or without
// closing first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "common/TestUtil.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tool/Processo.h"

namespace {

// Waits until `caminho` exists again (a replugged device's path).
bool EsperaCaminho(const std::string& caminho, int limiteMs = 10000) {
  for (int i = 0; i < limiteMs / 10; ++i) {
    if (access(caminho.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int32_t LeCodigo(int fd) {
  int32_t r = -1;
  return read(fd, &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? r : -1000;
}

void EnviaCodigo(int fd, int32_t r) {
  if (write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(99);
}

// A second process that opens the port while the first holds it gets 30 and a
// line naming the holder; the first keeps working, and once it has closed, the
// second opens and works (no settings were restored under it).
TEST(PortaDono, SecondProcessGets30NamingTheFirstWhichKeepsWorking) {
  testutil::ResetaLibState();
  e2e::Simulador sim;
  ASSERT_TRUE(sim.ativo()) << sim.saida();
  const std::string dispositivo = sim.dispositivo();
  int paraPai[2], paraFilho[2];
  ASSERT_EQ(pipe(paraPai), 0);
  ASSERT_EQ(pipe(paraFilho), 0);
  const pid_t filho = fork();
  ASSERT_GE(filho, 0);
  if (filho == 0) {
    prctl(PR_SET_NAME, "primeiro");
    EnviaCodigo(paraPai[1], PP_Open(dispositivo.c_str()));
    LeCodigo(paraFilho[0]);
    char info[300];
    EnviaCodigo(paraPai[1], PP_GetInfo("00", info));
    LeCodigo(paraFilho[0]);
    EnviaCodigo(paraPai[1], PP_Close(""));
    _exit(0);
  }
  EXPECT_EQ(LeCodigo(paraPai[0]), PPCOMP_OK);

  testing::internal::CaptureStderr();
  EXPECT_EQ(PP_Open(dispositivo.c_str()), PPCOMP_PORTERR);
  const std::string erro = testing::internal::GetCapturedStderr();
  EXPECT_EQ(erro, "Erro 16[" + std::string(std::strerror(EBUSY)) + "] na abertura da " + dispositivo + "\n" +
                      dispositivo + ": port in use by pid " + std::to_string(filho) + " (primeiro)\n");

  EnviaCodigo(paraFilho[1], 0);
  EXPECT_EQ(LeCodigo(paraPai[0]), PPCOMP_OK);  // the first one's exchange was not disturbed
  EnviaCodigo(paraFilho[1], 0);
  EXPECT_EQ(LeCodigo(paraPai[0]), PPCOMP_OK);
  int st = -1;
  ASSERT_EQ(waitpid(filho, &st, 0), filho);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);

  ASSERT_EQ(PP_Open(dispositivo.c_str()), PPCOMP_OK);
  char info[300];
  EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_OK);
  termios t{};
  ASSERT_EQ(tcgetattr(LibState.serial.PortaPinPad, &t), 0);
  EXPECT_EQ(t.c_lflag, 0u);  // our raw settings, nobody else's
  EXPECT_EQ(PP_Close(""), PPCOMP_OK);
  for (int fd : {paraPai[0], paraPai[1], paraFilho[0], paraFilho[1]}) close(fd);
  FinalizaLibPinPad();
  testutil::ResetaLibState();
}

// The pinpad is unplugged in the middle of a command and comes back on the
// same path: the command fails with 31, and the next PP_Open gets the device
// again on its first try, whether the caller closed first or not.
TEST(PortaReplug, CallerRecoversWithAndWithoutClose) {
  testutil::ResetaLibState();
  testutil::DiretorioTemp dir;
  const std::string caminho = dir.arquivo("pinpad");
  // The third frame (the display) unplugs the device for 300 ms.
  e2e::Simulador sim({"--link", caminho, "--some", "3", "--volta", "300"});
  ASSERT_TRUE(sim.ativo()) << sim.saida();
  char info[300];
  ASSERT_EQ(PP_Open(caminho.c_str()), PPCOMP_OK);
  EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_OK);
  EXPECT_EQ(PP_Display("SOME"), PPCOMP_COMMERR);

  // Opened again without a close.
  ASSERT_TRUE(EsperaCaminho(caminho));
  EXPECT_EQ(PP_Open(caminho.c_str()), PPCOMP_OK);
  EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_OK);

  // Unplugged while idle; this caller closes first.
  ASSERT_EQ(kill(sim.pid(), SIGUSR1), 0);
  for (int i = 0; i < 500 && access(caminho.c_str(), F_OK) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_COMMERR);
  PP_Close("");
  ASSERT_TRUE(EsperaCaminho(caminho));
  EXPECT_EQ(PP_Open(caminho.c_str()), PPCOMP_OK);
  EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_OK);
  EXPECT_EQ(PP_Close(""), PPCOMP_OK);
  FinalizaLibPinPad();
  testutil::ResetaLibState();
}

}  // namespace
