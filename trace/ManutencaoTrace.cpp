// Error dumps, descriptions of system errors and permissions, and removal of
// old trace files.
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>

#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "support/Lista.h"
#include "trace/FormatoTrace.h"
#include "trace/FuncoesTrace.h"

namespace {

const char kNaoIdentificado[] = "Nao identificado";

// Name of a user id, "Nao identificado" when it has none; `nome` holds at
// least kTamNomeUsuario bytes.
constexpr size_t kTamNomeUsuario = 256;
const char* NomeUsuario(uid_t uid, char* nome) {
  char buffer[1024];
  passwd pw;
  passwd* resultado = nullptr;
  const char* origem = kNaoIdentificado;
  if (getpwuid_r(uid, &pw, buffer, sizeof buffer, &resultado) == 0 && resultado != nullptr && pw.pw_name)
    origem = pw.pw_name;
  std::snprintf(nome, kTamNomeUsuario, "%s", origem);
  return nome;
}


const char* NomeTipoArquivo(mode_t modo) {
  if (modo & 0x4000) return "Diretorio";
  if (modo & 0x8000) return "Arquivo";
  return "Desconhecido";
}

}  // namespace

void TraceErro(const char* texto) {
  const EstadoTrace& e = LibState.trace;
  if (texto == nullptr || e.arquivoErro[0] == '\0') return;
  char caminho[TAM_ARQUIVO_ERRO];
  std::memcpy(caminho, e.arquivoErro, sizeof caminho);
  ExpandeMacrosData(caminho, sizeof caminho);
  Arquivo* arq = ArquivoAbreSemSync(caminho, "ab");
  if (arq == nullptr) return;
  const tm agora = HoraLocalAtual();
  char hora[40];
  const int n = std::snprintf(hora, sizeof hora, "%02d:%02d:%02d: ", agora.tm_hour, agora.tm_min, agora.tm_sec);
  ArquivoGrava(arq, hora, 1, static_cast<size_t>(n));
  ArquivoGrava(arq, texto, 1, std::strlen(texto));
  ArquivoGrava(arq, "\n", 1, 1);
  ArquivoFecha(arq);
}

void TraceErroSistema(const char* buffer) {
  const int erro = errno;
  char mensagem[256];
  const char* textoErro = strerror_r(erro, mensagem, sizeof mensagem);
  const uid_t uid = getuid();
  char usuario[kTamNomeUsuario];
  NomeUsuario(uid, usuario);
  // Cut to what a record can hold.
  char texto[TAM_MAXIMO_VALOR_TRACE];
  int n = std::snprintf(texto, sizeof texto, "\n  LE: %d - %s\n", erro, textoErro);
  if (buffer != nullptr && n >= 0 && static_cast<size_t>(n) < sizeof texto)
    n += std::snprintf(texto + n, sizeof texto - static_cast<size_t>(n), "  BU: %s\n", buffer);
  if (n >= 0 && static_cast<size_t>(n) < sizeof texto)
    std::snprintf(texto + n, sizeof texto - static_cast<size_t>(n), "  UN: %d - %s\n", static_cast<int>(uid),
                  usuario);
  TraceTexto("ErroSistema", "Erro", texto);
}

void TracePermissoes(const char* caminho) {
  if (caminho == nullptr) return;
  // Every folder on the way and the path itself: each prefix ending before a
  // '/' (the first character excepted), then the whole path.
  const size_t tamanho = std::strlen(caminho);
  char* prefixo = static_cast<char*>(std::malloc(tamanho + 1));
  if (prefixo == nullptr) return;
  std::memcpy(prefixo, caminho, tamanho + 1);
  char usuario[kTamNomeUsuario];
  for (size_t i = 1; i <= tamanho; ++i) {
    if (i < tamanho && prefixo[i] != '/') continue;
    const char fim = prefixo[i];
    prefixo[i] = '\0';
    struct stat st;
    if (stat(prefixo, &st) == 0) {
      TraceBinario("Prm", prefixo, &st, sizeof st);
      char descricao[TAM_MAXIMO_VALOR_TRACE];
      std::snprintf(descricao, sizeof descricao, "\n  FN: %s\n  FT: %s\n  PE: %4.4o\n  FS: %ld\n  UN: %d - %s\n",
                    prefixo, NomeTipoArquivo(st.st_mode), static_cast<unsigned>(st.st_mode & 0xFFF),
                    static_cast<long>(st.st_size), static_cast<int>(st.st_uid), NomeUsuario(st.st_uid, usuario));
      TraceTexto("Prm", "Permissao", descricao);
    }
    prefixo[i] = fim;
  }
  std::free(prefixo);
}

namespace {

// Room for a template with its ids and wildcards put in.
constexpr size_t TAM_PADRAO = 1024;

// Wildcards for the date macros; "<YY/>" too, so that a template with a
// two-digit year still finds its files.
struct Curinga {
  const char* macro;
  const char* troca;
};
constexpr Curinga kCuringas[] = {{"<YYYY/>", "????"}, {"<YY/>", "??"}, {"<MM/>", "??"}, {"<DD/>", "??"},
                                 {"<HH/>", "??"},     {"<NN/>", "??"}, {"<SS/>", "??"}};

// Puts `nome` (a copy in a sized block) into the list in ascending byte
// order, before the first element not below it. False when out of memory.
bool InsereOrdenado(Lista* lista, const char* nome) {
  const size_t n = std::strlen(nome);
  auto* copia = static_cast<char*>(Aloca(n + 1, 0, __FILE__, __LINE__));
  if (copia == nullptr) return false;
  std::memcpy(copia, nome, n + 1);
  int posicao = 0;
  for (void* v = ListaPrimeiro(lista); v != nullptr; v = ListaProximo(lista), ++posicao)
    if (std::strcmp(static_cast<const char*>(v), copia) >= 0) break;
  if (ListaInsere(lista, copia, posicao) != 0) {
    Libera(copia, __FILE__, __LINE__);
    return false;
  }
  return true;
}

}  // namespace

int32_t traceExcluiArquivos(TraceCtx* ctx, const char* modeloArquivo, const char* idLoja, const char* idTerminal,
                            int32_t manter) {
  if (manter == 0) return 0;
  if (ctx == nullptr || modeloArquivo == nullptr || idLoja == nullptr || idTerminal == nullptr || manter < 0)
    return -1;
  char loja[TAM_ID_TRACE + 1], terminal[TAM_ID_TRACE + 1];
  std::snprintf(loja, sizeof loja, "%.8s", idLoja);
  std::snprintf(terminal, sizeof terminal, "%.8s", idTerminal);

  char padrao[TAM_PADRAO];
  if (std::strlen(modeloArquivo) >= sizeof padrao) return -1;
  StrCopiaLimitada(padrao, modeloArquivo, sizeof padrao);
  if (StrSubstitui(padrao, sizeof padrao, "<LOJA/>", loja) < 0 ||
      StrSubstitui(padrao, sizeof padrao, "<TERM/>", terminal) < 0)
    return -1;
  for (const Curinga& c : kCuringas)
    if (StrSubstitui(padrao, sizeof padrao, c.macro, c.troca) < 0) return -1;
  const size_t tamPadrao = std::strlen(padrao);
  uint8_t mascara[TAM_PADRAO];
  for (size_t i = 0; i < tamPadrao; ++i) mascara[i] = padrao[i] == '?' ? 0x00 : 0xFF;

  dirent** entradas = nullptr;
  const int quantas = scandir(ctx->diretorio, &entradas, nullptr, alphasort);
  if (quantas < 0) return -1;
  Lista* lista = ListaCria();
  bool ok = lista != nullptr;
  for (int i = 0; i < quantas; ++i) {
    const char* nome = entradas[i]->d_name;
    if (ok && std::strlen(nome) == tamPadrao && ComparaComMascara(padrao, nome, mascara, tamPadrao) == 0)
      ok = InsereOrdenado(lista, nome);
    std::free(entradas[i]);
  }
  std::free(entradas);
  const int32_t resultado = ok ? traceExcluiArquivosDaLista(ctx, lista, manter) : -1;
  ListaDestroiLiberando(lista);
  return resultado;
}

int32_t traceExcluiArquivosDaLista(TraceCtx* ctx, Lista* lista, int32_t manter) {
  if (ctx == nullptr || lista == nullptr || manter < 0) return -1;
  int32_t remover = ListaQuantidade(lista) - manter;
  for (void* v = ListaPrimeiro(lista); v != nullptr && remover > 0; v = ListaProximo(lista), --remover) {
    char caminho[sizeof ctx->diretorio + 1 + NAME_MAX + 1];
    std::snprintf(caminho, sizeof caminho, "%s", ctx->diretorio);
    // A name too long for the buffer is longer than any file name.
    if (MontaCaminho(caminho, sizeof caminho, static_cast<const char*>(v)) == nullptr) continue;
    ArquivoRemove(caminho);
    TraceTextoCtx(ctx, "traceExcluiArquivosDaLista", "Arquivo", caminho);
  }
  return 0;
}
