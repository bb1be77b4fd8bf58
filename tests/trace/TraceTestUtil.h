#pragma once
// Shared by the trace suites: a fixture with a fresh trace directory, a
// settable clock and a decoder of the files written.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "tools/letrace/DecodificaTrace.h"
#include "trace/FuncoesTrace.h"

namespace tracetest {

// Local time yyyy-mm-dd hh:mm:ss as a time_t.
time_t Instante(int ano, int mes, int dia, int hora = 12, int minuto = 0, int segundo = 0);
// Puts the library's clock at `t` (0 = back to the real clock).
void FixaRelogio(time_t t);

// Every record of a file; fails the test on any damaged record.
std::vector<RegistroLido> Registros(const std::string& caminho);
std::string ValorTexto(const RegistroLido& r);

class TraceTeste : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens the current context in the temporary directory.
  TraceCtx* Abre(const char* modelo = "trace.dmp", const char* parametros = nullptr, const char* loja = nullptr,
                 const char* terminal = nullptr, int32_t ativo = 1);
  std::string Arquivo(const std::string& nome) const { return dir.arquivo(nome); }
  testutil::DiretorioTemp dir;
};

}  // namespace tracetest
