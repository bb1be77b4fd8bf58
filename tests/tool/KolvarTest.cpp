// Kolvar end to end: the console bytes, the exit status and the frames that
// reach the simulated pinpad.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tool/Processo.h"

namespace {

const std::string Banner = "Kolvar v1.003 - Compatibilidade com Veltrana M4120\n";

// Replaces every "[dd/mm/yyyy hh:mm:ss]" time stamp with "[TS]".
std::string SemHorario(const std::string& texto) {
  static const std::regex horario(R"(\[\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\])");
  return std::regex_replace(texto, horario, "[TS]");
}

e2e::Resultado Kolvar(const std::vector<std::string>& args, int limiteMs = 90000) {
  return e2e::Executa(e2e::Programa("Kolvar"), args, limiteMs);
}

TEST(Kolvar, SemArgumentoMostraOUsoESai255) {
  auto r = Kolvar({});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.saida, Banner + "\nForma de uso: Kolvar <Porta serial>\n" +
                         "     Exemplo: ./Kolvar \"/dev/ttyACM0\"\n");
  EXPECT_EQ(r.erro, "");
}

TEST(Kolvar, PortaQueNaoAbreDaErro30ComALinhaDaSerial) {
  auto r = Kolvar({"/nao/existe/ttyX"});
  EXPECT_EQ(r.status, 30);
  EXPECT_EQ(SemHorario(r.saida), Banner + "[TS] Iniciando teste\n" +
                                     "[TS] Erro 30 - porta serial do pinpad provavelmente ocupada.\n");
  EXPECT_EQ(r.erro, "Erro 2[No such file or directory] na abertura da /nao/existe/ttyX\n");
}

TEST(Kolvar, ArgumentoLongoEhCortadoEm256Caracteres) {
  std::string longo = "/nao/existe/" + std::string(300, 'x');
  auto r = Kolvar({longo, "ignorado"});
  EXPECT_EQ(r.status, 30);
  EXPECT_EQ(r.erro, "Erro 2[No such file or directory] na abertura da " + longo.substr(0, 256) + "\n");
}

}  // namespace
