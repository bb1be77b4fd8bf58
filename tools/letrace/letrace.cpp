// letrace: prints binary trace files as text lines or JSON Lines, and mints
// trace keys ("ChaveTrace") for a period of days.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "tools/SemExcecao.h"
#include "support/FuncoesArquivo.h"
#include "tools/letrace/DecodificaTrace.h"
#include "trace/FormatoTrace.h"

namespace {

void Uso(FILE* f = stderr) {
  std::fputs(
      "uso: letrace [--json] ARQUIVO...\n"
      "     letrace --gera-chave AAAAMMDD AAAAMMDD\n"
      "     letrace --help | --version\n",
      f);
}

// Both dates must be real (DataValida: no 31 February), the start not after
// the end: the library takes no other key as valid.
int GeraChave(const char* inicio, const char* fim) {
  if (!DataValida(inicio) || !DataValida(fim) || std::strcmp(inicio, fim) > 0) {
    std::fputs("letrace: periodo invalido (AAAAMMDD AAAAMMDD, inicio <= fim)\n", stderr);
    return 2;
  }
  char chave[17];
  ValidadeParaChaveTrace(inicio, fim, chave);
  std::printf("%s\n", chave);
  return 0;
}

// The whole file into `dados`; false with the reason in `erro` when it cannot
// be read (missing, a folder, no permission, a read error).
bool LeConteudo(const char* nome, std::vector<uint8_t>& dados, std::string& erro) {
  const int fd = open(nome, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    erro = std::string("nao foi possivel abrir: ") + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    erro = std::string("nao foi possivel ler: ") + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    erro = "nao foi possivel ler: e uma pasta";
    ok = false;
  }
  uint8_t bloco[65536];
  while (ok) {
    const ssize_t n = read(fd, bloco, sizeof bloco);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      erro = std::string("nao foi possivel ler: ") + std::strerror(errno);
      ok = false;
      break;
    }
    dados.insert(dados.end(), bloco, bloco + n);
  }
  close(fd);
  return ok;
}

// 0 all records read, 1 damaged records found or the file cannot be read.
int LeArquivo(const char* nome, bool json) {
  std::vector<uint8_t> dados;
  std::string erro;
  if (!LeConteudo(nome, dados, erro)) {
    std::fprintf(stderr, "letrace: %s: %s\n", nome, erro.c_str());
    return 1;
  }
  int status = 0;
  size_t pos = 0;
  RegistroLido reg;
  std::string motivo;
  while (pos < dados.size()) {
    if (LeRegistro(dados, pos, reg, motivo)) {
      std::string linha = json ? FormataJson(reg) : FormataTexto(reg);
      linha += '\n';
      std::fwrite(linha.data(), 1, linha.size(), stdout);
      continue;
    }
    status = 1;
    const size_t proximo = ProximoRegistroValido(dados, pos);
    if (proximo < dados.size())
      std::fprintf(stderr, "letrace: %s: deslocamento %zu: %s; retomando no deslocamento %zu\n", nome, pos,
                   motivo.c_str(), proximo);
    else
      std::fprintf(stderr, "letrace: %s: deslocamento %zu: %s; nenhum registro legivel depois dele\n", nome, pos,
                   motivo.c_str());
    pos = proximo;
  }
  return status;
}

int Principal(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("letrace " PINPAD_VERSAO);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    Uso(stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--gera-chave") == 0) {
    if (argc != 4) {
      Uso();
      return 2;
    }
    return GeraChave(argv[2], argv[3]);
  }
  bool json = false;
  std::vector<const char*> arquivos;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0)
      json = true;
    else if (std::strcmp(argv[i], "--") == 0) {
      for (++i; i < argc; ++i) arquivos.push_back(argv[i]);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      Uso();
      return 2;
    } else
      arquivos.push_back(argv[i]);
  }
  if (arquivos.empty()) {
    Uso();
    return 2;
  }
  int status = 0;
  for (const char* a : arquivos) status |= LeArquivo(a, json);
  std::fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) { return ExecutaSemExcecao("letrace", 1, Principal, argc, argv); }
