// A blocking command refused before anything is sent still leaves the library
// in the blocking state: a PP_Abort after it has nothing to cancel, even when a
// Start command was pending before, and sends no CAN.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "DispositivoSimulado.h"
#include "PeerPty.h"
#include "common/TestUtil.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"

using namespace testlink;

namespace {

constexpr uint8_t kCAN = 0x18;

// "TLR" input: a 2-digit record count, then records that each begin with
// their own 3-digit total length.
std::string Registros(std::initializer_list<int> tamanhos) {
  char c[8];
  std::snprintf(c, sizeof c, "%02zu", tamanhos.size());
  std::string s = c;
  for (int t : tamanhos) {
    std::snprintf(c, sizeof c, "%03d", t);
    s += c + std::string(static_cast<size_t>(t - 3), 'R');
  }
  return s;
}

TEST(RecusaBloqueante, AbortDepoisDaRecusaNaoEnviaCAN) {
  const std::string acima = Registros({500, 500});           // 1002 bytes
  char saida[1100];
  struct Caso {
    const char* titulo;
    std::function<int32_t()> chamada;
  } casos[] = {
      {"TableLoadRec acima de 999", [&] { return PP_TableLoadRec(acima.c_str()); }},
      {"TableLoadRec nulo", [] { return PP_TableLoadRec(nullptr); }},
      {"TableLoadInit nulo", [] { return PP_TableLoadInit(nullptr); }},
      {"GetInfo nulo", [&] { return PP_GetInfo(nullptr, saida); }},
      {"DisplayEx nulo", [] { return PP_DisplayEx(nullptr); }},
      {"EncryptBuffer nulo", [&] { return PP_EncryptBuffer(nullptr, saida); }},
      {"GetDUKPT nulo", [&] { return PP_GetDUKPT(nullptr, saida); }},
      {"GetTimeStamp nulo", [&] { return PP_GetTimeStamp(nullptr, saida); }},
      {"DefineWKPAN nulo", [&] { return PP_DefineWKPAN(nullptr, saida); }},
      {"ChipDirect nulo", [&] { return PP_ChipDirect(nullptr, saida); }},
      {"ChangeParameter nulo", [] { return PP_ChangeParameter(nullptr); }},
      {"FinishChip nulo", [&] { return PP_FinishChip(nullptr, nullptr, saida); }},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    ASSERT_EQ(AbreDispositivoSimulado(), PPCOMP_OK);
    Enfileira(Bytes{kACK});
    ASSERT_EQ(PP_StartGetKey(), PPCOMP_OK);  // a Start command is pending
    ASSERT_EQ(LibState.comandos.AguardaResposta, 0);
    g_dispositivo.escrito.clear();
    EXPECT_EQ(c.chamada(), PPCOMP_BADPARAM);
    EXPECT_EQ(LibState.comandos.AguardaResposta, 1);
    EXPECT_TRUE(g_dispositivo.escrito.empty());  // nothing was sent
    EXPECT_EQ(PP_Abort(), PPCOMP_OK);
    EXPECT_EQ(std::count(g_dispositivo.escrito.begin(), g_dispositivo.escrito.end(), kCAN), 0);
    FinalizaLibPinPad();
  }
  testutil::ResetaLibState();
}

}  // namespace
