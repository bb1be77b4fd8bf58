// The entry layer's trace records: the first call's three "IM" records, one
// "Sts" record per call, none for a poll that is still processing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tool/Processo.h"
#include "tools/letrace/DecodificaTrace.h"

namespace {

std::vector<RegistroLido> LeRegistros(const std::string& caminho) {
  const std::string conteudo = testutil::LeArquivo(caminho);
  std::span<const uint8_t> dados(reinterpret_cast<const uint8_t*>(conteudo.data()), conteudo.size());
  std::vector<RegistroLido> lidos;
  std::string motivo;
  if (!LeTodosRegistros(dados, lidos, motivo)) ADD_FAILURE() << caminho << ": " << motivo;
  return lidos;
}

int32_t Inteiro(const RegistroLido& r) {
  int32_t v = 0;
  if (r.valor.size() == 4) std::memcpy(&v, r.valor.data(), 4);
  return v;
}

TEST(Rastro, PrimeiraChamadaRegistraIdentificacaoEUmStsPorChamada) {
  testutil::DiretorioTemp dir;
  auto anterior = std::filesystem::current_path();
  std::filesystem::current_path(dir.caminho());  // the library's trace goes to "."
  testutil::ResetaLibState();
  LibState.api.HabilitaTrace = 1;

  e2e::Simulador sim({"--atraso-tecla", "400", "--teclas", "F3"});
  ASSERT_TRUE(sim.ativo());
  ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
  ASSERT_EQ(PP_StartGetKey(), PPCOMP_OK);
  int polls = 0;
  int32_t r;
  do {
    r = PP_GetKey();
    ++polls;
  } while (r == PPCOMP_PROCESSING);
  EXPECT_EQ(r, PPCOMP_F3);
  EXPECT_GT(polls, 1);
  EXPECT_EQ(PP_ConfigProcess("x"), PPCOMP_NOFUNC);
  FinalizaLibPinPad();

  std::string arquivo;
  for (const auto& e : std::filesystem::directory_iterator(dir.caminho())) {
    if (e.path().filename().string().rfind("CliNorva.", 0) == 0) arquivo = e.path().string();
  }
  std::filesystem::current_path(anterior);
  ASSERT_FALSE(arquivo.empty()) << "no CliNorva.<date>.dmp written";

  std::vector<std::string> im;
  int stsGetKey = 0;
  bool imAntesDoOpen = false;
  bool configProcess = false;
  for (const auto& reg : LeRegistros(arquivo)) {
    if (reg.tag == "IM") im.push_back(reg.rotulo + "=" + std::string(reg.valor.begin(), reg.valor.end()));
    if (reg.tag == "PP_Open" && reg.rotulo == "Sts") imAntesDoOpen = im.size() == 3;
    if (reg.tag == "PP_GetKey" && reg.rotulo == "Sts") {
      ++stsGetKey;
      EXPECT_EQ(Inteiro(reg), PPCOMP_F3);
    }
    if (reg.tag == "PP_ConfigProcess" && reg.rotulo == "Sts") configProcess = Inteiro(reg) == PPCOMP_NOFUNC;
  }
  ASSERT_EQ(im.size(), 3u);
  EXPECT_EQ(im[0], "Versao=4.0.0.3");
  EXPECT_EQ(im[1], "Compilacao=r9");
  EXPECT_EQ(im[2].rfind("ArqConfiguracao=", 0), 0u);
  EXPECT_TRUE(imAntesDoOpen);
  EXPECT_EQ(stsGetKey, 1);  // the polling loop leaves only its final code
  EXPECT_TRUE(configProcess);
  testutil::ResetaLibState();
}

}  // namespace
