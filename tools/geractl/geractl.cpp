// geractl: writes a key-control file from three DES keys, or reads one back.
//
//   geractl grava ARQUIVO CHAVE1 CHAVE2 CHAVE3   keys as 16 hexadecimal characters;
//                                                the file is replaced whole or not at all
//   geractl le ARQUIVO [--mostra-chaves]          check values (and keys if asked)
//
// The file is written with the same offset table, header constant and transform
// the library reads it with; reading goes through the library's own extraction.
// A check value is the first three bytes of the key's DES encryption of a zero
// block, in hexadecimal.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "tools/SemExcecao.h"
#include "cipher/ConstantesCripto.h"
#include "cipher/Des.h"
#include "cipher/EnvelopeCripto.h"
#include "support/FuncoesArquivo.h"

namespace {

constexpr int kTamanho = cripto::kTamanhoArquivoChaves;

int Uso(FILE* f = stderr) {
  std::fprintf(f,
               "uso: geractl grava ARQUIVO CHAVE1 CHAVE2 CHAVE3\n"
               "     geractl le ARQUIVO [--mostra-chaves]\n"
               "     geractl --help | --version\n"
               "Chaves com 16 caracteres hexadecimais.\n");
  return 2;
}

int ValorHexEstrito(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool LeChaveHex(std::string_view texto, uint8_t chave[8]) {
  if (texto.size() != 16) return false;
  for (int i = 0; i < 8; ++i) {
    int a = ValorHexEstrito(texto[2 * i]);
    int b = ValorHexEstrito(texto[2 * i + 1]);
    if (a < 0 || b < 0) return false;
    chave[i] = static_cast<uint8_t>(a << 4 | b);
  }
  return true;
}

bool Aleatorio(uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = getrandom(p, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Undoes TransformaChave: the stored key-encryption group whose transform is `kek`.
void DesfazTransformacao(const uint8_t kek[8], uint8_t grupo[8]) {
  uint8_t encadeamento = 0;
  for (int i = 0; i < 8; ++i) {
    grupo[i] = static_cast<uint8_t>(static_cast<uint8_t>((kek[i] ^ cripto::kTransformaK2) + cripto::kTransformaK1) ^
                                    encadeamento);
    encadeamento = grupo[i];
  }
}

void Espalha(uint8_t* arquivo, int base, int grupo, const uint8_t valores[8]) {
  for (int i = 0; i < 8; ++i) arquivo[base + cripto::kDeslocamentos[grupo][i]] = valores[i];
}

void ValorVerificacao(const uint8_t chave[8], char saida[7]) {
  uint8_t zero[8] = {};
  uint8_t cifrado[8];
  DesBloco(DES_CIFRA, zero, std::span<const uint8_t, 8>(chave, 8), cifrado);
  std::snprintf(saida, 7, "%02X%02X%02X", cifrado[0], cifrado[1], cifrado[2]);
}

// Makes `dados` the whole content of `caminho` without ever truncating the old
// file: a new file is written beside it, synced, given the old file's mode
// (and owner and group where the system allows), then renamed over it; the
// directory is synced so that the rename lasts. A symbolic link is followed
// and the file it names replaced, so the link stays. On any failure the new
// file is removed and the old one is left as it was. Returns 0, or -1 with a
// message on standard error.
int GravaSubstituindo(const char* caminho, const uint8_t* dados, size_t tamanho) {
  std::string alvo = caminho;
  char real[PATH_MAX];
  if (realpath(caminho, real) != nullptr) alvo = real;
  const size_t barra = alvo.rfind('/');
  const std::string pasta = barra == std::string::npos ? "." : barra == 0 ? "/" : alvo.substr(0, barra);

  std::string novo = alvo + ".XXXXXX";
  const int fd = mkostemp(novo.data(), O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "geractl: %s: %s\n", caminho, std::strerror(errno));
    return -1;
  }
  bool ok = true;
  struct stat antigo{};
  if (stat(alvo.c_str(), &antigo) == 0) {
    mode_t modo = antigo.st_mode & 07777;
    // Group and other bits are meant for the old file's group: without it,
    // only the owner's bits are kept.
    if (fchown(fd, antigo.st_uid, antigo.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), antigo.st_gid) != 0)
      modo &= 0700;
    if (fchmod(fd, modo) != 0) ok = false;
  }
  size_t escritos = 0;
  while (ok && escritos < tamanho) {
    const ssize_t n = write(fd, dados + escritos, tamanho - escritos);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    escritos += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  int erro = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    erro = errno;
  }
  if (ok && rename(novo.c_str(), alvo.c_str()) != 0) {
    ok = false;
    erro = errno;
  }
  if (!ok) {
    unlink(novo.c_str());
    std::fprintf(stderr, "geractl: %s: falha na gravacao (%s); arquivo anterior mantido\n", caminho,
                 std::strerror(erro));
    return -1;
  }
  const int dir = open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return 0;
}

int Grava(const char* caminho, char** textos) {
  uint8_t chaves[3][8];
  for (int k = 0; k < 3; ++k) {
    if (!LeChaveHex(textos[k], chaves[k])) {
      std::fprintf(stderr, "geractl: chave %d invalida (16 caracteres hexadecimais)\n", k + 1);
      return 2;
    }
  }
  uint8_t arquivo[kTamanho];
  uint8_t kek[8], grupo[8], g1[8], g2[8];
  int rc = 1;
  if (!Aleatorio(arquivo, sizeof arquivo) || !Aleatorio(kek, sizeof kek)) {
    std::fprintf(stderr, "geractl: sem fonte aleatoria\n");
  } else {
    const int base = arquivo[cripto::kPosicaoBase];
    DesfazTransformacao(kek, grupo);
    Espalha(arquivo, base, cripto::kGrupoKek, grupo);
    DesBloco(DES_CIFRA, cripto::kConstanteCabecalho, kek, grupo);
    Espalha(arquivo, base, cripto::kGrupoVerificacao, grupo);
    // Each key is stored enciphered under the stored form of the one before;
    // the first under the key-encryption key.
    DesBloco(DES_CIFRA, chaves[0], kek, g1);
    DesBloco(DES_CIFRA, chaves[1], g1, g2);
    DesBloco(DES_CIFRA, chaves[2], g2, grupo);
    Espalha(arquivo, base, cripto::kGrupoChave1, g1);
    Espalha(arquivo, base, cripto::kGrupoChave1 + 1, g2);
    Espalha(arquivo, base, cripto::kGrupoChave1 + 2, grupo);

    if (GravaSubstituindo(caminho, arquivo, sizeof arquivo) == 0) rc = 0;
  }
  LimpaSegura(arquivo, sizeof arquivo);
  LimpaSegura(kek, sizeof kek);
  LimpaSegura(grupo, sizeof grupo);
  LimpaSegura(g1, sizeof g1);
  LimpaSegura(g2, sizeof g2);
  LimpaSegura(chaves, sizeof chaves);
  return rc;
}

int Le(const char* caminho, bool mostraChaves) {
  uint8_t arquivo[kTamanho];
  int fd = open(caminho, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "geractl: %s: %s\n", caminho, std::strerror(errno));
    return 1;
  }
  size_t lidos = 0;
  while (lidos < sizeof arquivo) {
    ssize_t n = read(fd, arquivo + lidos, sizeof arquivo - lidos);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    lidos += static_cast<size_t>(n);
  }
  close(fd);
  if (lidos != sizeof arquivo) {
    std::fprintf(stderr, "geractl: %s: menos de %d bytes\n", caminho, kTamanho);
    LimpaSegura(arquivo, sizeof arquivo);
    return 1;
  }
  uint8_t chaves[3][8];
  int ok = ExtraiChavesCripto(arquivo, chaves[0], chaves[1], chaves[2]);
  LimpaSegura(arquivo, sizeof arquivo);
  if (!ok) {
    std::fprintf(stderr, "geractl: %s: grupo de verificacao nao confere\n", caminho);
    return 1;
  }
  for (int k = 0; k < 3; ++k) {
    char vv[7];
    ValorVerificacao(chaves[k], vv);
    std::printf("CHAVE%d VV=%s", k + 1, vv);
    if (mostraChaves) {
      std::printf(" ");
      for (uint8_t b : chaves[k]) std::printf("%02X", b);
    }
    std::printf("\n");
  }
  LimpaSegura(chaves, sizeof chaves);
  return 0;
}

}  // namespace

namespace {
int Principal(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::puts("geractl " PINPAD_VERSAO);
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    Uso(stdout);
    return 0;
  }
  if (argc < 3) return Uso();
  std::string_view comando = argv[1];
  if (comando == "grava" && argc == 6) return Grava(argv[2], argv + 3);
  if (comando == "le" && argc == 3) return Le(argv[2], false);
  if (comando == "le" && argc == 4 && std::string_view(argv[3]) == "--mostra-chaves") return Le(argv[2], true);
  return Uso();
}
}  // namespace

int main(int argc, char** argv) { return ExecutaSemExcecao("geractl", 1, Principal, argc, argv); }
