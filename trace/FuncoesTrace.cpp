// Trace contexts and the record writer.
#include "trace/FuncoesTrace.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "support/ArquivoIni.h"
#include "support/FuncoesSemaforo.h"
#include "trace/FormatoTrace.h"

namespace {

// diretorio + '/' + arquivo, both up to 128 characters; date macros only shrink.
constexpr size_t TAM_CAMINHO_TRACE = 2 * TAM_NOME_TRACE + 2;
// A template with the ids put in: every "<LOJA/>" or "<TERM/>" (7 characters)
// becomes at most 8, so the text grows by less than a seventh.
constexpr size_t TAM_MODELO_TRABALHO = 2 * TAM_NOME_TRACE + 2;

const char kControleBackup[] = "CtlBkpTrace.ini";
const char kNomeInicial[] = "NOME_INICIAL";

// Equal texts, letters compared without case.
bool IguaisSemCaixa(const char* a, const char* b) {
  const size_t n = std::strlen(a);
  return n == std::strlen(b) && StrComparaSemCaixaN(a, b, n) == 0;
}

void Poe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Poe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// arquivo = modeloArquivo with the ids put in. vazioAusente: an empty id counts
// as absent (opening) rather than as an empty replacement (change of ids).
void AplicaIds(TraceCtx* ctx, const char* loja, const char* terminal, bool vazioAusente) {
  char trabalho[TAM_MODELO_TRABALHO];
  StrCopiaLimitada(trabalho, ctx->modeloArquivo, sizeof trabalho);
  char id[TAM_ID_TRACE + 1];
  auto ausente = [&](const char* s) { return s == nullptr || (vazioAusente && s[0] == '\0'); };
  if (ausente(loja)) {
    StrSubstitui(trabalho, sizeof trabalho, ".<LOJA/>", nullptr);
  } else {
    StrCopiaLimitada(id, loja, sizeof id);
    StrSubstitui(trabalho, sizeof trabalho, "<LOJA/>", id);
  }
  if (ausente(terminal)) {
    StrSubstitui(trabalho, sizeof trabalho, ".<TERM/>", nullptr);
  } else {
    StrCopiaLimitada(ctx->terminal, terminal, sizeof ctx->terminal);
    StrSubstitui(trabalho, sizeof trabalho, "<TERM/>", ctx->terminal);
  }
  StrCopiaLimitada(ctx->arquivo, trabalho, sizeof ctx->arquivo);
}

// Backup cycle, run under the mutex before every record. The control file
// is touched only while a cycle may be pending.
void AplicaRegraBackup(const char* diretorio, const char* caminho) {
  EstadoTrace& e = LibState.trace;
  // Most records: no cycle pending and the control file already read.
  if (!e.backupPendente && (e.nomeBackup[0] | 0x20) != 'n') return;
  const bool inicial = IguaisSemCaixa(e.nomeBackup, kNomeInicial);
  if (!inicial && !e.backupPendente) return;
  char controle[TAM_NOME_TRACE + sizeof kControleBackup + 1];
  std::snprintf(controle, sizeof controle, "%s/%s", diretorio, kControleBackup);
  if (inicial) {
    IniLeTexto("Backup", "Arquivo", "", e.nomeBackup, sizeof e.nomeBackup, controle);
    if (e.nomeBackup[0] != '\0') e.backupPendente = 1;
  }
  if (!e.backupPendente) return;
  if (e.nomeBackup[0] == '\0') {
    StrCopiaLimitada(e.nomeBackup, caminho, sizeof e.nomeBackup);
    IniGravaTexto("Backup", "Arquivo", e.nomeBackup, controle);
  } else if (!IguaisSemCaixa(e.nomeBackup, caminho)) {
    char destino[sizeof e.nomeBackup + 4];
    std::snprintf(destino, sizeof destino, "%s.bkp", e.nomeBackup);
    ArquivoRenomeia(e.nomeBackup, destino);
    ArquivoRemove(controle);
    e.nomeBackup[0] = '\0';
    e.backupPendente = 0;
  }
}

// diretorio '/' arquivo with the date macros expanded for `agora`. The last
// result is kept in LibState and rebuilt only when the directory, the name or
// a part of the time that the name shows changed, so that records after the
// first of the day cost no formatting. Each part is at most 128 characters.
const char* CaminhoDoRegistro(const TraceCtx* ctx, const tm& agora) {
  EstadoTrace& e = LibState.trace;
  const size_t tamDir = strnlen(ctx->diretorio, TAM_NOME_TRACE);
  const size_t tamArq = strnlen(ctx->arquivo, TAM_NOME_TRACE);
  const bool mesmoNome = e.caminhoTamanhos[0] == tamDir && e.caminhoTamanhos[1] == tamArq &&
                         std::memcmp(e.caminhoDiretorio, ctx->diretorio, tamDir) == 0 &&
                         std::memcmp(e.caminhoArquivo, ctx->arquivo, tamArq) == 0;
  if (!mesmoNome) {
    const std::string_view nome(ctx->arquivo, tamArq);
    e.caminhoUsaHora[0] = nome.find("<HH/>") != std::string_view::npos;
    e.caminhoUsaHora[1] = nome.find("<NN/>") != std::string_view::npos;
    e.caminhoUsaHora[2] = nome.find("<SS/>") != std::string_view::npos;
  }
  const int32_t hora[6] = {agora.tm_year,
                           agora.tm_mon,
                           agora.tm_mday,
                           e.caminhoUsaHora[0] ? agora.tm_hour : -1,
                           e.caminhoUsaHora[1] ? agora.tm_min : -1,
                           e.caminhoUsaHora[2] ? agora.tm_sec : -1};
  if (mesmoNome && std::memcmp(hora, e.caminhoHora, sizeof hora) == 0) return e.caminhoExpandido;

  static_assert(sizeof e.caminhoExpandido >= TAM_CAMINHO_TRACE);
  char* caminho = e.caminhoExpandido;
  std::memcpy(caminho, ctx->diretorio, tamDir);
  caminho[tamDir] = '/';
  std::memcpy(caminho + tamDir + 1, ctx->arquivo, tamArq);
  caminho[tamDir + 1 + tamArq] = '\0';
  ExpandeMacrosData(caminho, TAM_CAMINHO_TRACE, agora);
  std::memcpy(e.caminhoDiretorio, ctx->diretorio, tamDir);
  std::memcpy(e.caminhoArquivo, ctx->arquivo, tamArq);
  e.caminhoTamanhos[0] = tamDir;
  e.caminhoTamanhos[1] = tamArq;
  std::memcpy(e.caminhoHora, hora, sizeof hora);
  return caminho;
}

// Date and time as packed decimal digits YYYY MM DD hh mm ss (7 bytes).
void PoeDataHora(uint8_t* p, const tm& t) {
  auto bcd = [](int v) { return static_cast<uint8_t>((v / 10 % 10) << 4 | v % 10); };
  const int ano = (t.tm_year + 1900) % 10000;
  p[0] = bcd(ano / 100);
  p[1] = bcd(ano % 100);
  p[2] = bcd(t.tm_mon + 1);
  p[3] = bcd(t.tm_mday);
  p[4] = bcd(t.tm_hour);
  p[5] = bcd(t.tm_min);
  p[6] = bcd(t.tm_sec);
}

// Appends s to the record at pos, stopping at limite.
void PoeTexto(uint8_t* r, size_t& pos, size_t limite, const char* s) {
  if (s == nullptr) return;
  while (*s != '\0' && pos < limite) r[pos++] = static_cast<uint8_t>(*s++);
}

}  // namespace

// ---- Contexts --------------------------------------------------------------

TraceCtx* TraceAbre(uint8_t tipo, const char* diretorio, const char* modeloArquivo, const char* idLoja,
                    const char* idTerminal, int32_t ativo, const char* parametros) {
  EstadoTrace& e = LibState.trace;
  auto* ctx = static_cast<TraceCtx*>(Aloca(sizeof(TraceCtx), 0, __FILE__, __LINE__));
  if (ctx == nullptr) {
    e.contextoTrace = nullptr;
    return nullptr;
  }
  if (++e.aberturasTrace == 1 && e.semaforoTrace == nullptr) e.semaforoTrace = SemaforoCria();

  ctx->tipo = tipo;
  ctx->pid = static_cast<int32_t>(getpid());
  ctx->ativo = ativo;
  ctx->cache = 1;
  StrCopiaLimitada(ctx->diretorio, diretorio ? diretorio : ".", sizeof ctx->diretorio);
  StrCopiaLimitada(ctx->modeloArquivo, modeloArquivo, sizeof ctx->modeloArquivo);

  if (parametros != nullptr) {
    ctx->cache = ListaObtemInt(parametros, "HabilitaTraceCache", 1);
    ctx->nivel = ListaObtemInt(parametros, "NivelTrace", 1);
    char chave[284] = {};
    if (ListaObtemTexto(parametros, "ChaveTrace", chave, sizeof chave))
      ChaveTraceParaValidade(chave, ctx->validadeInicio, ctx->validadeFim);
  }

  AplicaIds(ctx, idLoja, idTerminal, true);
  std::snprintf(e.arquivoErro, sizeof e.arquivoErro, "%s/Erro.<YYYY/><MM/><DD/>.dmp", ctx->diretorio);
  e.contextoTrace = ctx;
  return ctx;
}

void TraceFecha(TraceCtx* ctx) {
  EstadoTrace& e = LibState.trace;
  if (ctx != nullptr) {
    if (e.aberturasTrace > 0 && --e.aberturasTrace == 0) {
      SemaforoDestroi(e.semaforoTrace);
      e.semaforoTrace = nullptr;
    }
    Libera(ctx, __FILE__, __LINE__);
  }
  e.contextoTrace = nullptr;
}

void TraceMudaLojaTerminal(TraceCtx* ctx, const char* idLoja, const char* idTerminal) {
  if (ctx != nullptr) AplicaIds(ctx, idLoja, idTerminal, false);
}

void TraceDescreve(const TraceCtx* ctx, char* saida, size_t tamanho) {
  if (saida == nullptr || tamanho == 0) return;
  if (ctx == nullptr) {
    saida[0] = '\0';
    return;
  }
  std::snprintf(saida, tamanho, "DiretorioTrace=%s,ArquivoTrace=%s", ctx->diretorio, ctx->arquivo);
}

// ---- Writer ----------------------------------------------------------------

void TraceGrava(TraceCtx* ctx, const char* prefixoOrigem, const char* nomeOrigem, const char* tag,
                const char* rotulo, int32_t tipo, const void* dados, int32_t tamanho) {
  if (ctx == nullptr || ctx->ativo == 0) return;
  EstadoTrace& e = LibState.trace;
  if (e.semaforoTrace == nullptr) {
    e.semaforoTrace = SemaforoCria();
    e.aberturasTrace = 1;
  }
  Semaforo* semaforo = e.semaforoTrace;
  SemaforoTrava(semaforo);

  // One clock reading for the file name and the header; the conversion to
  // local time is made once per second.
  const time_t segundo = ObtemHoraAtual();
  if (!e.horaValida || segundo != e.horaSegundo) {
    localtime_r(&segundo, &e.horaLocal);
    e.horaSegundo = segundo;
    e.horaValida = 1;
  }
  const tm& agora = e.horaLocal;
  const char* caminho = CaminhoDoRegistro(ctx, agora);
  AplicaRegraBackup(ctx->diretorio, caminho);

  Arquivo* arq = ArquivoAbre(caminho, "ab", ctx->cache);
  if (arq == nullptr) {  // the record is lost
    EnviaDiagnostico("erro acesso arq trace");
    SemaforoLibera(semaforo);
    return;
  }

  uint8_t* r = e.registroTrace;
  const size_t tamValor =
      (dados != nullptr && tamanho >= 1) ? std::min<size_t>(static_cast<size_t>(tamanho), TAM_MAXIMO_VALOR_TRACE) : 0;

  // Texts: origin, tag, label, each NUL-terminated; cut so that the three
  // terminators always fit the record buffer.
  size_t pos = TAM_CABECALHO_TRACE;
  if (nomeOrigem != nullptr) {
    if (prefixoOrigem != nullptr && prefixoOrigem[0] != '\0') {
      PoeTexto(r, pos, TAM_REGISTRO_TRACE - 3, prefixoOrigem);
      PoeTexto(r, pos, TAM_REGISTRO_TRACE - 3, ".");
    }
    PoeTexto(r, pos, TAM_REGISTRO_TRACE - 3, nomeOrigem);
  } else if (strnlen(ctx->terminal, sizeof ctx->terminal) == TAM_ID_TRACE) {
    PoeTexto(r, pos, TAM_REGISTRO_TRACE - 3, ctx->terminal);
  }
  r[pos++] = 0;
  PoeTexto(r, pos, TAM_REGISTRO_TRACE - 2, tag);
  r[pos++] = 0;
  PoeTexto(r, pos, TAM_REGISTRO_TRACE - 1, rotulo);
  r[pos++] = 0;

  r[0] = MARCA_REGISTRO_TRACE[0];
  r[1] = MARCA_REGISTRO_TRACE[1];
  Poe16(r + 2, static_cast<uint32_t>(pos + tamValor - 2));
  r[4] = ctx->tipo;
  PoeDataHora(r + 5, agora);
  Poe32(r + 12, static_cast<uint32_t>(std::clock()));
  Poe32(r + 16, static_cast<uint32_t>(ctx->pid));
  Poe32(r + 20, static_cast<uint32_t>((uintptr_t)pthread_self()));
  Poe16(r + 24, static_cast<uint32_t>(tipo));
  Poe32(r + 26, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dados)));
  Poe16(r + 30, static_cast<uint32_t>(tamanho));

  // The value follows the header in the buffer when it fits; otherwise it is
  // scrambled apart, and the two go out as one record.
  uint8_t aparte[TAM_MAXIMO_VALOR_TRACE];
  const bool cabe = pos + tamValor <= TAM_REGISTRO_TRACE;
  uint8_t* v = cabe ? r + pos : aparte;
  if (tamValor > 0) {
    if (tipo == TRACE_INTEIRO && std::endian::native == std::endian::big) {
      std::memcpy(v, dados, tamValor);
      std::reverse(v, v + tamValor);
      EmbaralhaValorTrace({v, tamValor});
    } else {
      CopiaEmbaralhadoTrace(static_cast<const uint8_t*>(dados), v, tamValor);
    }
  }
  // A record the file cannot take whole (a full disk, a size limit) is lost
  // alone: the file is cut back, and the records after it stay readable.
  if (cabe)
    ArquivoGravaInteiro(arq, r, pos + tamValor, nullptr, 0);
  else
    ArquivoGravaInteiro(arq, r, pos, aparte, tamValor);
  ArquivoFecha(arq);
  SemaforoLibera(semaforo);
}

void TraceTexto(const char* tag, const char* rotulo, const char* texto) {
  TraceTextoCtx(LibState.trace.contextoTrace, tag, rotulo, texto);
}

void TraceNumero(const char* tag, const char* rotulo, int32_t valor) {
  TraceNumeroCtx(LibState.trace.contextoTrace, tag, rotulo, valor);
}

void TraceDados(const char* tag, const char* rotulo, int32_t tipo, const void* dados, int32_t tamanho) {
  TraceGrava(LibState.trace.contextoTrace, nullptr, nullptr, tag, rotulo, tipo, dados, tamanho);
}

void TraceBinario(const char* tag, const char* rotulo, const void* dados, int32_t tamanho) {
  TraceBinarioCtx(LibState.trace.contextoTrace, tag, rotulo, dados, tamanho);
}

void TraceTextoOrigem(const char* prefixoOrigem, const char* nomeOrigem, const char* tag, const char* rotulo,
                      const char* texto) {
  TraceGrava(LibState.trace.contextoTrace, prefixoOrigem, nomeOrigem, tag, rotulo, TRACE_TEXTO, texto,
             texto ? static_cast<int32_t>(std::strlen(texto)) : 0);
}

void TraceNumeroOrigem(const char* prefixoOrigem, const char* nomeOrigem, const char* tag, const char* rotulo,
                       int32_t valor) {
  TraceGrava(LibState.trace.contextoTrace, prefixoOrigem, nomeOrigem, tag, rotulo, TRACE_INTEIRO, &valor,
             sizeof valor);
}

void TraceTextoCtx(TraceCtx* ctx, const char* tag, const char* rotulo, const char* texto) {
  TraceGrava(ctx, nullptr, nullptr, tag, rotulo, TRACE_TEXTO, texto,
             texto ? static_cast<int32_t>(std::strlen(texto)) : 0);
}

void TraceNumeroCtx(TraceCtx* ctx, const char* tag, const char* rotulo, int32_t valor) {
  TraceGrava(ctx, nullptr, nullptr, tag, rotulo, TRACE_INTEIRO, &valor, sizeof valor);
}

void TraceBinarioCtx(TraceCtx* ctx, const char* tag, const char* rotulo, const void* dados, int32_t tamanho) {
  TraceGrava(ctx, nullptr, nullptr, tag, rotulo, TRACE_BINARIO, dados, tamanho);
}

// ---- Queries ---------------------------------------------------------------

int32_t TraceAtivo() {
  const TraceCtx* ctx = LibState.trace.contextoTrace;
  return ctx ? ctx->ativo : 0;
}

int32_t TraceNivel() {
  const TraceCtx* ctx = LibState.trace.contextoTrace;
  return ctx ? ctx->nivel : 0;
}

int32_t TraceChaveValida() {
  const TraceCtx* ctx = LibState.trace.contextoTrace;
  if (ctx == nullptr || ctx->ativo == 0) return 0;
  // Both halves of the key must be real dates in order: a mistyped or random
  // key decodes to anything, and letters or impossible dates would otherwise
  // still sort around today.
  if (!DataValida(ctx->validadeInicio) || !DataValida(ctx->validadeFim) ||
      std::strcmp(ctx->validadeInicio, ctx->validadeFim) > 0)
    return 0;
  const tm agora = HoraLocalAtual();
  char hoje[48];
  std::snprintf(hoje, sizeof hoje, "%04d%02d%02d", agora.tm_year + 1900, agora.tm_mon + 1, agora.tm_mday);
  return std::strcmp(ctx->validadeInicio, hoje) <= 0 && std::strcmp(hoje, ctx->validadeFim) <= 0;
}

void TraceSolicitaBackup() {
  // Under the mutex: the writer reads the flag while it holds it.
  EstadoTrace& e = LibState.trace;
  Semaforo* semaforo = e.semaforoTrace;
  SemaforoTrava(semaforo);
  e.backupPendente = 1;
  SemaforoLibera(semaforo);
}
