#include "TraceTestUtil.h"

#include "state/LibState.h"
#include "support/FuncoesArquivo.h"

namespace tracetest {

namespace {
time_t g_agora = 0;
time_t Agora() { return g_agora; }
}  // namespace

time_t Instante(int ano, int mes, int dia, int hora, int minuto, int segundo) {
  tm t{};
  t.tm_year = ano - 1900;
  t.tm_mon = mes - 1;
  t.tm_mday = dia;
  t.tm_hour = hora;
  t.tm_min = minuto;
  t.tm_sec = segundo;
  t.tm_isdst = -1;
  return mktime(&t);
}

void FixaRelogio(time_t t) {
  g_agora = t;
  DefineFonteHora(t ? Agora : nullptr);
}

std::vector<RegistroLido> Registros(const std::string& caminho) {
  const std::string conteudo = testutil::LeArquivo(caminho);
  std::span<const uint8_t> dados(reinterpret_cast<const uint8_t*>(conteudo.data()), conteudo.size());
  std::vector<RegistroLido> lidos;
  std::string motivo;
  if (!LeTodosRegistros(dados, lidos, motivo)) ADD_FAILURE() << caminho << ": " << motivo;
  return lidos;
}

std::string ValorTexto(const RegistroLido& r) { return std::string(r.valor.begin(), r.valor.end()); }

void TraceTeste::SetUp() {
  testutil::ResetaLibState();
  FixaRelogio(0);
}

void TraceTeste::TearDown() {
  if (LibState.trace.contextoTrace) TraceFecha(LibState.trace.contextoTrace);
  FixaRelogio(0);
  testutil::ResetaLibState();
}

TraceCtx* TraceTeste::Abre(const char* modelo, const char* parametros, const char* loja, const char* terminal,
                           int32_t ativo) {
  return TraceAbre(12, dir.caminho().c_str(), modelo, loja, terminal, ativo, parametros);
}

}  // namespace tracetest
