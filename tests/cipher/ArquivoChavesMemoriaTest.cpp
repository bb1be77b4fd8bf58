// The key-control file must never pass through a stdio stream: the stream's
// own buffer keeps a copy of what it read after fclose, where the caller,
// which wipes only the work buffer it lent, cannot reach it.
//
// This program replaces fopen, fopen64 and fdopen (the library is linked into
// it statically, so its calls land here). A stream opened on the key-control
// file gets a buffer owned by the test, which is searched afterwards for the
// file's bytes.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/ConstantesCripto.h"
#include "cipher/EnvelopeCripto.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"

namespace {

unsigned char g_bufferStream[16384];
int g_streamsChave = 0;

bool NomeDoArquivoChaves(std::string_view caminho) {
  const size_t barra = caminho.rfind('/');
  return caminho.substr(barra == std::string_view::npos ? 0 : barra + 1) == cripto::kArquivoChaves;
}

FILE* Observa(FILE* f) {
  if (f != nullptr) {
    std::setvbuf(f, reinterpret_cast<char*>(g_bufferStream), _IOFBF, sizeof g_bufferStream);
    ++g_streamsChave;
  }
  return f;
}

template <typename F>
F Seguinte(const char* nome) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, nome));
}

// Reads a whole file with the system calls (a stream here would be observed).
std::vector<uint8_t> LeDireto(const char* caminho) {
  std::vector<uint8_t> v;
  int fd = open(caminho, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return v;
  uint8_t buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) v.insert(v.end(), buf, buf + n);
  close(fd);
  return v;
}

// True when any 16-byte stretch of `conteudo` stands in `memoria`.
bool ContemTrecho(const uint8_t* memoria, size_t tamanho, const std::vector<uint8_t>& conteudo) {
  constexpr size_t kTrecho = 16;
  for (size_t i = 0; i + kTrecho <= conteudo.size(); i += kTrecho)
    if (memmem(memoria, tamanho, conteudo.data() + i, kTrecho) != nullptr) return true;
  return false;
}

}  // namespace

extern "C" FILE* fopen(const char* caminho, const char* modo) {
  static auto real = Seguinte<FILE* (*)(const char*, const char*)>("fopen");
  FILE* f = real(caminho, modo);
  return caminho != nullptr && NomeDoArquivoChaves(caminho) ? Observa(f) : f;
}

extern "C" FILE* fopen64(const char* caminho, const char* modo) {
  static auto real = Seguinte<FILE* (*)(const char*, const char*)>("fopen64");
  FILE* f = real(caminho, modo);
  return caminho != nullptr && NomeDoArquivoChaves(caminho) ? Observa(f) : f;
}

extern "C" FILE* fdopen(int fd, const char* modo) {
  static auto real = Seguinte<FILE* (*)(int, const char*)>("fdopen");
  FILE* f = real(fd, modo);
  char link[64], alvo[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, alvo, sizeof alvo - 1);
  if (n <= 0) return f;
  return NomeDoArquivoChaves(std::string_view(alvo, static_cast<size_t>(n))) ? Observa(f) : f;
}

TEST(ArquivoChavesMemoria, OArquivoSoPassaPeloBufferDoChamador) {
  criptotest::NoDiretorioTemp dir;
  testutil::ResetaLibState();
  const std::string comando = testutil::DiretorioProgramas() +
                              "/geractl grava QXCLICTL.BIN 0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123";
  const int st = std::system(comando.c_str());
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  const std::vector<uint8_t> arquivo = LeDireto(cripto::kArquivoChaves);
  ASSERT_EQ(arquivo.size(), static_cast<size_t>(cripto::kTamanhoArquivoChaves));

  std::memset(g_bufferStream, 0, sizeof g_bufferStream);
  g_streamsChave = 0;
  std::vector<uint8_t> trabalho(cripto::kTamanhoArquivoChaves);
  ASSERT_EQ(CarregaChavesCripto(trabalho), 1);
  // The file went into the lent buffer, the one the caller wipes...
  EXPECT_EQ(trabalho, arquivo);
  // ...and through no stream, so no other copy of it was made.
  EXPECT_EQ(g_streamsChave, 0);
  EXPECT_FALSE(ContemTrecho(g_bufferStream, sizeof g_bufferStream, arquivo));
  testutil::ResetaLibState();
}
