// Error dumps, descriptions of system errors and permissions, and removal of
// old trace files.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "trace/ApoioProvisorio.h"
#include "trace/FormatoTrace.h"
#include "trace/FuncoesTrace.h"

namespace {

const char kNaoIdentificado[] = "Nao identificado";

// Name of a user id, "Nao identificado" when it has none.
std::string NomeUsuario(uid_t uid) {
  char buffer[1024];
  passwd pw;
  passwd* resultado = nullptr;
  if (getpwuid_r(uid, &pw, buffer, sizeof buffer, &resultado) == 0 && resultado != nullptr && pw.pw_name)
    return pw.pw_name;
  return kNaoIdentificado;
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
  ap::ExpandeMacrosData(caminho, sizeof caminho);
  ap::Arquivo* arq = ap::ArquivoAbreSemSync(caminho, "ab");
  if (arq == nullptr) return;
  const tm agora = ap::HoraLocalAtual();
  char hora[40];
  const int n = std::snprintf(hora, sizeof hora, "%02d:%02d:%02d: ", agora.tm_hour, agora.tm_min, agora.tm_sec);
  ap::ArquivoGrava(arq, hora, 1, static_cast<size_t>(n));
  ap::ArquivoGrava(arq, texto, 1, std::strlen(texto));
  ap::ArquivoGrava(arq, "\n", 1, 1);
  ap::ArquivoFecha(arq);
}

void TraceErroSistema(const char* buffer) {
  const int erro = errno;
  char mensagem[256];
  const char* textoErro = strerror_r(erro, mensagem, sizeof mensagem);
  const uid_t uid = getuid();
  const std::string usuario = NomeUsuario(uid);
  std::string texto = "\n  LE: " + std::to_string(erro) + " - " + textoErro + "\n";
  if (buffer != nullptr) texto += std::string("  BU: ") + buffer + "\n";
  texto += "  UN: " + std::to_string(uid) + " - " + usuario + "\n";
  TraceTexto("ErroSistema", "Erro", texto.c_str());
}

void TracePermissoes(const char* caminho) {
  if (caminho == nullptr) return;
  const std::string completo = std::string(caminho) + "/";
  for (size_t i = 1; i < completo.size(); ++i) {
    if (completo[i] != '/') continue;
    const std::string prefixo = completo.substr(0, i);
    struct stat st;
    if (stat(prefixo.c_str(), &st) != 0) continue;
    TraceBinario("Prm", prefixo.c_str(), &st, sizeof st);
    char descricao[TAM_MAXIMO_VALOR_TRACE];
    std::snprintf(descricao, sizeof descricao, "\n  FN: %s\n  FT: %s\n  PE: %4.4o\n  FS: %ld\n  UN: %d - %s\n",
                  prefixo.c_str(), NomeTipoArquivo(st.st_mode), static_cast<unsigned>(st.st_mode & 0xFFF),
                  static_cast<long>(st.st_size), static_cast<int>(st.st_uid), NomeUsuario(st.st_uid).c_str());
    TraceTexto("Prm", "Permissao", descricao);
  }
}
