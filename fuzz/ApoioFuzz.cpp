#include "fuzz/ApoioFuzz.h"

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/Serial.h"
#include "state/LibState.h"
#include "trace/FormatoTrace.h"

namespace fuzz {

BufferSujo::BufferSujo(size_t tamanho, uint8_t padrao)
    : buf_(new char[tamanho ? tamanho : 1]), n_(tamanho), padrao_(padrao) {
  std::memset(buf_.get(), padrao, tamanho ? tamanho : 1);
}

bool BufferSujo::Terminado() const { return std::memchr(buf_.get(), 0, n_) != nullptr; }

bool BufferSujo::IntactoDesde(size_t de) const {
  for (size_t i = de; i < n_; ++i)
    if (static_cast<uint8_t>(buf_[i]) != padrao_) return false;
  return true;
}

namespace {

// Never destroyed: targets and exit handlers may still use it at exit.
std::string* pastaTrabalho = nullptr;
bool pastaFixa = false;

void RemovePastaTrabalho() {
  LimpaPastaTrabalho();
  rmdir(pastaTrabalho->c_str());
}

}  // namespace

const std::string& PastaTrabalho() {
  if (pastaTrabalho) return *pastaTrabalho;
  // FUZZ_PASTA names a folder to use and keep (to collect the trace files a
  // run writes, as seeds for the trace decoder).
  if (const char* fixa = std::getenv("FUZZ_PASTA"); fixa && *fixa) {
    pastaTrabalho = new std::string(fixa);
    pastaFixa = true;
  } else {
    const char* base = std::getenv("TMPDIR");
    std::string modelo = std::string(base && *base ? base : "/tmp") + "/pinpadfuzz.XXXXXX";
    if (!mkdtemp(modelo.data())) std::abort();
    pastaTrabalho = new std::string(modelo);
    std::atexit(RemovePastaTrabalho);
  }
  if (chdir(pastaTrabalho->c_str()) != 0) std::abort();
  return *pastaTrabalho;
}

void LimpaPastaTrabalho() {
  if (!pastaTrabalho || pastaFixa) return;
  const std::string& pasta = *pastaTrabalho;
  DIR* d = opendir(pasta.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    unlink((pasta + "/" + e->d_name).c_str());
  }
  closedir(d);
}

// ---- The serial line ------------------------------------------------------

namespace {

constexpr int kDescritor = 7;

struct Linha {
  std::string entrada;
  size_t pos = 0;
  uint32_t estado = 1;
  int maxPedaco = 16;
  std::string escrito;
  int64_t agoraNs = 0;
  int64_t inicioNs = 0;
} linha;

uint32_t Proximo() {
  // xorshift32: chunk sizes that depend only on the seed.
  uint32_t x = linha.estado;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return linha.estado = x;
}

void Avanca(int64_t ns) {
  if (ns > 0) linha.agoraNs += ns;
}

int FOpen(const char*, int) { return kDescritor; }
int FClose(int) { return 0; }

ssize_t FRead(int, void* buffer, size_t tamanho) {
  if (linha.pos >= linha.entrada.size()) {
    errno = EAGAIN;
    return -1;
  }
  size_t k = 1 + Proximo() % static_cast<uint32_t>(linha.maxPedaco);
  k = std::min({k, tamanho, linha.entrada.size() - linha.pos});
  std::memcpy(buffer, linha.entrada.data() + linha.pos, k);
  linha.pos += k;
  return static_cast<ssize_t>(k);
}

ssize_t FWrite(int, const void* dados, size_t tamanho) {
  linha.escrito.append(static_cast<const char*>(dados), tamanho);
  return static_cast<ssize_t>(tamanho);
}

int FPoll(pollfd* p, nfds_t n, int timeoutMs) {
  if (n < 1 || p->fd != kDescritor) {
    if (n >= 1) p->revents = POLLNVAL;
    return n >= 1 ? 1 : 0;
  }
  p->revents = 0;
  if (p->events & POLLOUT) p->revents = POLLOUT;
  else if (linha.pos < linha.entrada.size()) p->revents = POLLIN;
  if (p->revents) return 1;
  // Nothing will come: the whole wait passes at once.
  Avanca(timeoutMs >= 0 ? static_cast<int64_t>(timeoutMs) * 1000000 : 1000000000);
  return 0;
}

int FTcgetattr(int, termios* config) {
  std::memset(config, 0, sizeof *config);
  return 0;
}
int FTcsetattr(int, int, const termios*) { return 0; }
int FTcflush(int, int) { return 0; }

int FNanosleep(const timespec* pedido, timespec* resto) {
  if (pedido) Avanca(static_cast<int64_t>(pedido->tv_sec) * 1000000000 + pedido->tv_nsec);
  if (resto) *resto = timespec{};
  return 0;
}

int FClock(clockid_t, timespec* agora) {
  // Every look costs a microsecond, so a loop that only looks still ends.
  Avanca(1000);
  agora->tv_sec = static_cast<time_t>(linha.agoraNs / 1000000000);
  agora->tv_nsec = static_cast<long>(linha.agoraNs % 1000000000);
  return 0;
}

int FYield() { return 0; }
int FFlock(int, int) { return 0; }
// The line takes every byte at once: nothing is ever queued for output.
int FIoctl(int, unsigned long, int* valor) {
  if (valor) *valor = 0;
  return 0;
}
int FDupfd(int fd, int) { return fd; }

constexpr ChamadasSerial kChamadasFuzz = {FOpen,      FClose, FRead,  FWrite, FPoll,  FTcgetattr, FTcsetattr,
                                          FTcflush,   FNanosleep, FClock, FYield, FFlock, FIoctl,     FDupfd};

}  // namespace

void LinhaInicia(std::string entrada, uint8_t semente, int maxPedaco) {
  linha.entrada = std::move(entrada);
  linha.pos = 0;
  linha.estado = 0x9E3779B9u ^ (static_cast<uint32_t>(semente) * 0x01000193u);
  if (linha.estado == 0) linha.estado = 1;
  linha.maxPedaco = maxPedaco > 0 ? maxPedaco : 1;
  linha.escrito.clear();
  // An arbitrary start well away from zero.
  linha.agoraNs = linha.inicioNs = 86400LL * 1000000000 * 400;
  LibState.serial.Chamadas = &kChamadasFuzz;
}

const std::string& LinhaEscrito() { return linha.escrito; }
bool LinhaTemDados() { return linha.pos < linha.entrada.size(); }
int64_t LinhaDecorridoMs() { return (linha.agoraNs - linha.inicioNs) / 1000000; }
void LinhaAcrescenta(const std::string& mais) { linha.entrada += mais; }

// ---- The host link ---------------------------------------------------------

namespace {

std::vector<std::string> textosHost;
size_t proximoHost = 0;
bool hostCrCancela = false;

}  // namespace

void HostInicia(bool crCancela) {
  textosHost.clear();
  proximoHost = 0;
  hostCrCancela = crCancela;
}

void HostLeTextos(Leitor& l) {
  while (l.Restam() > 0) textosHost.push_back(l.Texto(l.Dois() % 2600));
}

int32_t HostRecebe(int32_t, int32_t, int32_t, int32_t capacidade, uint8_t*, char* buffer) {
  if (proximoHost >= textosHost.size()) return -31;
  const std::string& t = textosHost[proximoHost++];
  if (hostCrCancela && t.size() == 1 && t[0] == '\x0d') return -13;  // the host cancels
  const size_t n = std::min(t.size(), static_cast<size_t>(capacidade));
  std::memcpy(buffer, t.data(), n);
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

int32_t HostComando(int32_t, const char*) { return 0; }

bool CodigoValido(int32_t r) {
  if (r >= 0 && r <= 999) return true;
  std::fprintf(stderr, "codigo fora do conjunto: %d\n", r);
  return false;
}

void ResetaEstado() {
  LibState = EstadoLib{};
  LibState.serial.Chamadas = &kChamadasFuzz;
}

std::string ChaveTraceValida() {
  auto data = [](int dias) {
    std::time_t t = std::time(nullptr) + dias * 86400;
    std::tm tm{};
    localtime_r(&t, &tm);
    char s[16];
    std::strftime(s, sizeof s, "%Y%m%d", &tm);
    return std::string(s);
  };
  char chave[17] = {};
  ValidadeParaChaveTrace(data(-1).c_str(), data(1).c_str(), chave);
  return chave;
}

std::string PastaEmvStub() {
#ifdef FUZZ_PASTA_EMVSTUB
  return FUZZ_PASTA_EMVSTUB;
#else
  return "";
#endif
}

}  // namespace fuzz
