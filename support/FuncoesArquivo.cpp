#include "support/FuncoesArquivo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "support/FuncoesString.h"

namespace {

constexpr unsigned char kPadroesLimpeza[10] = {0x00, 0x01, 0xFF, 0x88, 0x00, 0x33, 0xAA, 0xFF, 0x77, 0x00};

GanchoDiagnostico g_ganchoDiagnostico = nullptr;
FonteHora g_fonteHora = nullptr;

void Diagnostico(const char* texto) {
  if (g_ganchoDiagnostico != nullptr) g_ganchoDiagnostico(texto);
}

long Digitos(const char* p, int n) { return static_cast<long>(DigitosParaInt(p, n)); }

long DivPiso(long a, long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

constexpr int kDiasAntesComum[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr int kDiasAntesBissexto[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

}  // namespace

// ---------------------------------------------------------------------------
// File handle
// ---------------------------------------------------------------------------

GanchoDiagnostico DefineGanchoDiagnostico(GanchoDiagnostico gancho) {
  GanchoDiagnostico anterior = g_ganchoDiagnostico;
  g_ganchoDiagnostico = gancho;
  return anterior;
}

void EnviaDiagnostico(const char* texto) { Diagnostico(texto); }

FILE* AbreStream(const char* caminho, const char* modo) {
  if (caminho == nullptr || modo == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const bool mais = strchr(modo, '+') != nullptr;
  int flags = O_CLOEXEC | (mais ? O_RDWR : 0);
  switch (modo[0]) {
    case 'r': flags |= mais ? 0 : O_RDONLY; break;
    case 'w': flags |= (mais ? 0 : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags |= (mais ? 0 : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: errno = EINVAL; return nullptr;
  }
  if (strchr(modo, 'x') != nullptr) flags |= O_EXCL;
  const int fd = open(caminho, flags, kModoArquivo);
  if (fd < 0) return nullptr;
  const char curto[3] = {modo[0], mais ? '+' : '\0', '\0'};
  FILE* f = fdopen(fd, curto);
  if (f == nullptr) {
    const int erro = errno;
    close(fd);
    errno = erro;
  }
  return f;
}

Arquivo* ArquivoAbre(const char* caminho, const char* modo, int32_t semSync) {
  if (caminho == nullptr || modo == nullptr) return nullptr;
  auto* arq = static_cast<Arquivo*>(Aloca(sizeof(Arquivo), 0, __FILE__, __LINE__));
  if (arq == nullptr) return nullptr;
  arq->semSync = semSync;
  arq->stream = AbreStream(caminho, modo);
  if (arq->stream != nullptr) return arq;
  int erro = errno;
  if (!(erro == ENOENT && modo[0] == 'r')) {
    char texto[1024];
    snprintf(texto, sizeof texto, "erro abert arq [%s] / modo [%s] / errno [%d - %s]", caminho, modo, erro,
             strerror(erro));
    Diagnostico(texto);
  }
  Libera(arq, __FILE__, __LINE__);
  return nullptr;
}

Arquivo* ArquivoAbreSemSync(const char* caminho, const char* modo) { return ArquivoAbre(caminho, modo, 1); }

int ArquivoFecha(Arquivo* arq) {
  if (arq == nullptr) return 0;
  if (arq->stream != nullptr) {
    if (arq->semSync == 0) {
      fflush(arq->stream);
      int fd = fileno(arq->stream);
      if (fd >= 0) fsync(fd);
    }
    fclose(arq->stream);
  }
  Libera(arq, __FILE__, __LINE__);
  return 0;
}

size_t ArquivoLe(Arquivo* arq, void* buffer, size_t tamanho, size_t quantidade) {
  if (arq == nullptr || arq->stream == nullptr || buffer == nullptr) return 0;
  return fread(buffer, tamanho, quantidade, arq->stream);
}

size_t ArquivoGrava(Arquivo* arq, const void* buffer, size_t tamanho, size_t quantidade) {
  if (arq == nullptr || arq->stream == nullptr || buffer == nullptr) return 0;
  return fwrite(buffer, tamanho, quantidade, arq->stream);
}

int ArquivoGravaInteiro(Arquivo* arq, const void* parte1, size_t tamanho1, const void* parte2, size_t tamanho2) {
  if (arq == nullptr || arq->stream == nullptr || parte1 == nullptr || (parte2 == nullptr && tamanho2 > 0)) return 0;
  if (fflush(arq->stream) != 0) return 0;
  const int fd = fileno(arq->stream);
  if (fd < 0) return 0;
  const size_t tamanho = tamanho1 + tamanho2;
  size_t escritos = 0;
  while (escritos < tamanho) {
    const bool primeira = escritos < tamanho1;
    const auto* p = static_cast<const unsigned char*>(primeira ? parte1 : parte2) +
                    (primeira ? escritos : escritos - tamanho1);
    const ssize_t n = write(fd, p, primeira ? tamanho1 - escritos : tamanho - escritos);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    escritos += static_cast<size_t>(n);
  }
  if (escritos == tamanho) return 1;
  // A full disk or a file-size limit cut it: without the part that went out,
  // the next record starts where a reader expects one. The file's end before
  // the call is where the descriptor stands less what went out (the size is
  // only looked at on this path, so a whole write costs no extra call).
  const int erro = errno;
  if (escritos > 0) {
    const off_t fim = lseek(fd, 0, SEEK_CUR);
    if (fim >= static_cast<off_t>(escritos)) (void)!ftruncate(fd, fim - static_cast<off_t>(escritos));
  }
  errno = erro;
  return 0;
}

int ArquivoDescarrega(Arquivo* arq) {
  if (arq == nullptr || arq->stream == nullptr) return -1;
  return fflush(arq->stream);
}

int ArquivoFim(Arquivo* arq) {
  if (arq == nullptr || arq->stream == nullptr) return 0;
  return feof(arq->stream);
}

int ArquivoPosiciona(Arquivo* arq, long deslocamento, int origem) {
  if (arq == nullptr || arq->stream == nullptr) return -1;
  return fseek(arq->stream, deslocamento, origem);
}

long ArquivoTamanho(Arquivo* arq) {
  if (arq == nullptr || arq->stream == nullptr) return 0;
  long atual = ftell(arq->stream);
  if (fseek(arq->stream, 0, SEEK_END) != 0) return 0;
  long tamanho = ftell(arq->stream);
  if (atual >= 0) fseek(arq->stream, atual, SEEK_SET);
  return tamanho < 0 ? 0 : tamanho;
}

int ArquivoRenomeia(const char* origem, const char* destino) {
  if (origem == nullptr || destino == nullptr) return -1;
  return rename(origem, destino);
}

int ArquivoRemove(const char* caminho) {
  if (caminho == nullptr) return -1;
  return remove(caminho);
}

int MudaDiretorio(const char* caminho) { return (caminho != nullptr && chdir(caminho) == 0) ? 0 : 1; }

int DiretorioAtual(char* buffer, size_t tamanho) {
  return (buffer != nullptr && tamanho > 0 && getcwd(buffer, tamanho) != nullptr) ? 0 : 1;
}

unsigned MascaraCriacao(unsigned mascara) { return umask(static_cast<mode_t>(mascara)); }

void CriaDiretorios(const char* caminho) {
  if (caminho == nullptr || caminho[0] == '\0') return;
  size_t n = strlen(caminho);
  char* copia = static_cast<char*>(Aloca(n + 1, 0, __FILE__, __LINE__));
  if (copia == nullptr) return;
  memcpy(copia, caminho, n);
  for (size_t i = 1; i < n; ++i) {
    if (copia[i] != '/') continue;
    copia[i] = '\0';
    mkdir(copia, kModoDiretorio);
    copia[i] = '/';
  }
  Libera(copia, __FILE__, __LINE__);
}

char* MontaCaminho(char* diretorio, size_t tamanho, const char* nome) {
  if (diretorio == nullptr || nome == nullptr) return nullptr;
  size_t d = strnlen(diretorio, tamanho);
  size_t n = strlen(nome);
  if (d >= tamanho || tamanho - d < n + 2) return nullptr;
  diretorio[d] = '/';
  memcpy(diretorio + d + 1, nome, n + 1);
  return diretorio;
}

int ArquivoCopia(const char* origem, const char* destino) {
  if (origem == nullptr || destino == nullptr || strcmp(origem, destino) == 0) return -1;
  FILE* in = AbreStream(origem, "rb");
  if (in == nullptr) return -1;
  // The target is opened without truncating it, so that a target that is the
  // source itself (another name of it, a link to it) is seen, and refused,
  // before anything of it is lost.
  const int fdOut = open(destino, O_WRONLY | O_CREAT | O_CLOEXEC, kModoArquivo);
  struct stat de {}, para {};
  if (fdOut < 0 || fstat(fileno(in), &de) != 0 || fstat(fdOut, &para) != 0 ||
      (de.st_dev == para.st_dev && de.st_ino == para.st_ino) || ftruncate(fdOut, 0) != 0) {
    if (fdOut >= 0) close(fdOut);
    fclose(in);
    return -1;
  }
  FILE* out = fdopen(fdOut, "w");
  if (out == nullptr) {
    close(fdOut);
    fclose(in);
    return -1;
  }
  unsigned char bloco[512];
  size_t copiados = 0;
  for (;;) {
    size_t lidos = fread(bloco, 1, sizeof bloco, in);
    if (lidos > 0) {
      if (fwrite(bloco, 1, lidos, out) != lidos) {
        copiados = 0;
        break;
      }
      copiados += lidos;
    }
    if (lidos < sizeof bloco) {
      if (ferror(in)) copiados = 0;
      break;
    }
  }
  fclose(in);
  if (fflush(out) != 0) copiados = 0;
  fsync(fileno(out));
  if (fclose(out) != 0) copiados = 0;
  if (copiados == 0) remove(destino);
  return 0;
}

// ---------------------------------------------------------------------------
// Clock seam
// ---------------------------------------------------------------------------

FonteHora DefineFonteHora(FonteHora fonte) {
  FonteHora anterior = g_fonteHora;
  g_fonteHora = fonte;
  return anterior;
}

time_t ObtemHoraAtual() { return g_fonteHora != nullptr ? g_fonteHora() : time(nullptr); }

struct tm HoraLocalAtual() {
  time_t agora = ObtemHoraAtual();
  struct tm t {};
  localtime_r(&agora, &t);
  return t;
}

// ---------------------------------------------------------------------------
// Date and time texts
// ---------------------------------------------------------------------------

namespace {
// Formats into a roomy local buffer, then copies cut to the output's size, so
// an unusual year or clock count can only shorten the text, never overflow it.
template <typename... Args>
void Formata(char* saida, size_t tamanho, const char* formato, Args... args) {
  char local[128];
  snprintf(local, sizeof local, formato, args...);
  size_t n = strnlen(local, tamanho - 1);
  memcpy(saida, local, n);
  saida[n] = '\0';
}

void EscreveDataHora(const struct tm& t, char* texto, char* data, char* hora, const long* relogio) {
  int dia = t.tm_mday, mes = t.tm_mon + 1, ano = t.tm_year + 1900;
  auto h = static_cast<unsigned>(t.tm_hour), m = static_cast<unsigned>(t.tm_min),
       s = static_cast<unsigned>(t.tm_sec);
  if (texto != nullptr) {
    if (relogio != nullptr)
      Formata(texto, TAM_DATA_HORA_TEXTO, "%02d/%02d/%04d - %02u:%02u:%02u.%ld", dia, mes, ano, h, m, s, *relogio);
    else
      Formata(texto, TAM_DATA_HORA_TEXTO, "%02d/%02d/%04d - %02u:%02u:%02u", dia, mes, ano, h, m, s);
  }
  if (data != nullptr) Formata(data, TAM_DATA_HORA_DATA, "%04d%02d%02d", ano, mes, dia);
  if (hora != nullptr) {
    if (relogio != nullptr)
      Formata(hora, TAM_DATA_HORA_HORA_CLOCK, "%02u%02u%02u.%ld", h, m, s, *relogio);
    else
      Formata(hora, TAM_DATA_HORA_HORA, "%02u%02u%02u", h, m, s);
  }
}
}  // namespace

void DataHoraAtual(char* texto, char* data, char* hora) {
  EscreveDataHora(HoraLocalAtual(), texto, data, hora, nullptr);
}

void DataHoraAtualClock(char* texto, char* data, char* hora) {
  long relogio = static_cast<long>(clock());
  EscreveDataHora(HoraLocalAtual(), texto, data, hora, &relogio);
}

char* ExpandeMacrosData(char* texto) {
  if (texto == nullptr) return nullptr;
  return ExpandeMacrosData(texto, strlen(texto) + 1);
}

char* ExpandeMacrosData(char* texto, size_t tamanho) {
  if (texto == nullptr || tamanho == 0) return texto;
  size_t n = strnlen(texto, tamanho);
  if (n == tamanho) texto[--n] = '\0';  // not terminated within its buffer: cut
  if (memchr(texto, '<', n) == nullptr) return texto;
  return ExpandeMacrosData(texto, tamanho, HoraLocalAtual());
}

char* ExpandeMacrosData(char* texto, size_t tamanho, const struct tm& t) {
  if (texto == nullptr || tamanho == 0) return texto;
  size_t n = strnlen(texto, tamanho);
  if (n == tamanho) texto[--n] = '\0';  // not terminated within its buffer: cut
  if (memchr(texto, '<', n) == nullptr) return texto;

  char ano[16], ano2[4], mes[4], dia[4], horas[4], minutos[4], segundos[4];
  Formata(ano, sizeof ano, "%04d", t.tm_year + 1900);
  Formata(ano2, sizeof ano2, "%02d", (t.tm_year + 1900) % 100);
  Formata(mes, sizeof mes, "%02d", t.tm_mon + 1);
  Formata(dia, sizeof dia, "%02d", t.tm_mday);
  Formata(horas, sizeof horas, "%02d", t.tm_hour);
  Formata(minutos, sizeof minutos, "%02d", t.tm_min);
  Formata(segundos, sizeof segundos, "%02d", t.tm_sec);
  const struct {
    const char* macro;
    const char* valor;
  } macros[] = {{"<YYYY/>", ano}, {"<YY/>", ano2},    {"<MM/>", mes},      {"<DD/>", dia},
                {"<HH/>", horas}, {"<NN/>", minutos}, {"<SS/>", segundos}};

  // One pass from left to right: a replacement is made of digits only, so it
  // can never form or complete another macro, and a single pass gives what
  // replacing each macro in turn would.
  char* resultado = static_cast<char*>(Aloca(tamanho, 0, __FILE__, __LINE__));
  if (resultado == nullptr) return texto;
  size_t o = 0;
  for (size_t i = 0; i < n && o + 1 < tamanho;) {
    const char* valor = nullptr;
    size_t largura = 0;
    if (texto[i] == '<') {
      for (const auto& m : macros) {
        size_t lm = strlen(m.macro);
        if (n - i >= lm && memcmp(texto + i, m.macro, lm) == 0) {
          valor = m.valor;
          largura = lm;
          break;
        }
      }
    }
    if (valor == nullptr) {
      resultado[o++] = texto[i++];
      continue;
    }
    for (const char* v = valor; *v != '\0' && o + 1 < tamanho; ++v) resultado[o++] = *v;
    i += largura;
  }
  resultado[o] = '\0';
  memcpy(texto, resultado, o + 1);
  Libera(resultado, __FILE__, __LINE__);
  return texto;
}

namespace {
// Builds the output from pieces of the input (offset, length), through a work
// copy so that the output may be the input itself; then a NUL.
char* Reordena(char* saida, const char* entrada, std::initializer_list<std::pair<int, int>> partes) {
  if (saida == nullptr || entrada == nullptr) return saida;
  char t[16];
  size_t n = 0;
  for (auto [inicio, largura] : partes) {
    memcpy(t + n, entrada + inicio, static_cast<size_t>(largura));
    n += static_cast<size_t>(largura);
  }
  memcpy(saida, t, n);
  saida[n] = '\0';
  return saida;
}
}  // namespace

char* DataParaAAAAMMDD(char* saida, const char* entrada) { return Reordena(saida, entrada, {{4, 4}, {2, 2}, {0, 2}}); }

char* DataParaDDMMAAAA(char* saida, const char* entrada) { return Reordena(saida, entrada, {{6, 2}, {4, 2}, {0, 4}}); }

char* DataParaAAAAMM(char* saida, const char* entrada) { return Reordena(saida, entrada, {{4, 4}, {2, 2}}); }

char* DataFormata(char* saida, const char* entrada, int entradaAAAAMMDD) {
  if (saida == nullptr || entrada == nullptr) return saida;
  const char *d, *m, *a;
  if (entradaAAAAMMDD) {
    a = entrada, m = entrada + 4, d = entrada + 6;
  } else {
    d = entrada, m = entrada + 2, a = entrada + 4;
  }
  char t[10] = {d[0], d[1], '/', m[0], m[1], '/', a[0], a[1], a[2], a[3]};
  memcpy(saida, t, 10);
  saida[10] = '\0';
  return saida + 10;
}

char* HoraFormata(char* saida, const char* entrada, int comSegundos) {
  if (saida == nullptr || entrada == nullptr) return saida;
  char t[8] = {entrada[0], entrada[1], ':', entrada[2], entrada[3]};
  size_t n = 5;
  if (comSegundos) {
    t[5] = ':', t[6] = entrada[4], t[7] = entrada[5];
    n = 8;
  }
  memcpy(saida, t, n);
  saida[n] = '\0';
  return saida;
}

int DataValida(const char* data) {
  if (data == nullptr || strnlen(data, 9) != 8 || !StrNumerica(data)) return 0;
  int ano = static_cast<int>(Digitos(data, 4));
  int mes = static_cast<int>(Digitos(data + 4, 2));
  int dia = static_cast<int>(Digitos(data + 6, 2));
  if (mes < 1 || mes > 12) return 0;
  return (dia >= 1 && dia <= DiasNoMes(mes, ano)) ? 1 : 0;
}

int HoraValida(const char* hora) {
  if (hora == nullptr || strnlen(hora, 7) != 6) return 0;
  long h = Digitos(hora, 2), m = Digitos(hora + 2, 2), s = Digitos(hora + 4, 2);
  return (h <= 23 && m <= 59 && s <= 59) ? 1 : 0;
}

int DiasNoMes(int mes, int ano) {
  switch (mes) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
      return 31;
    case 2:
      return (ano % 4 == 0) ? 29 : 28;
    default:
      return 30;
  }
}

int DiasEntreDatas(int dia1, int mes1, int ano, int dia2, int mes2) {
  if (dia1 < 1 || dia1 > 31 || dia2 < 1 || dia2 > 31 || mes1 < 1 || mes1 > 12 || mes2 < 1 || mes2 > 12) return -1;
  int dias = dia1;
  int mes = mes1;
  while (mes != mes2) {
    if (--mes == 0) {
      mes = 12;
      --ano;
    }
    dias += DiasNoMes(mes, ano);
  }
  return dias - dia2;
}

int AnoBissexto(long ano) { return ((ano % 4 == 0 && ano % 100 != 0) || ano % 400 == 0) ? 1 : 0; }

long DataParaDias(long ano, long mes, long dia) {
  if (mes < 1 || mes > 12) {  // carry whole years so the tables are indexed safely
    ano += DivPiso(mes - 1, 12);
    mes = mes - 12 * DivPiso(mes - 1, 12);
  }
  const int* antes = AnoBissexto(ano) ? kDiasAntesBissexto : kDiasAntesComum;
  long a = ano - 1;
  return a * 365 + DivPiso(a, 4) - DivPiso(a, 100) + DivPiso(a, 400) + antes[mes - 1] + dia;
}

void DiasParaData(long dias, long* ano, long* mes, long* dia) {
  // Days since 0000-03-01 (day number 1 is 0001-01-01, 306 days later).
  long z = dias + 305;
  long era = DivPiso(z, 146097);
  long doe = z - era * 146097;                                   // [0, 146096]
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);             // [0, 365]
  long mp = (5 * doy + 2) / 153;                                  // March = 0
  long d = doy - (153 * mp + 2) / 5 + 1;
  long m = mp < 10 ? mp + 3 : mp - 9;
  long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  if (ano) *ano = y;
  if (mes) *mes = m;
  if (dia) *dia = d;
}

int DataSomaDias(const char* data, long dias, char* saida, size_t tamanho) {
  if (saida == nullptr || tamanho == 0) return -1;
  long ano, mes, dia;
  if (data == nullptr) {
    const struct tm t = HoraLocalAtual();
    ano = t.tm_year + 1900L, mes = t.tm_mon + 1L, dia = t.tm_mday;
  } else {
    if (strnlen(data, 8) < 8) {
      saida[0] = '\0';
      return -1;
    }
    ano = Digitos(data, 4), mes = Digitos(data + 4, 2), dia = Digitos(data + 6, 2);
  }
  DiasParaData(DataParaDias(ano, mes, dia) + dias, &ano, &mes, &dia);
  int n = snprintf(saida, tamanho, "%04ld%02ld%02ld", ano, mes, dia);
  if (n < 0 || static_cast<size_t>(n) >= tamanho) {
    saida[0] = '\0';
    return -1;
  }
  return 0;
}

char* ExtraiCampoMascara(const char* texto, char* saida, const char* mascara, const char* campo) {
  if (texto == nullptr || saida == nullptr || mascara == nullptr || campo == nullptr || campo[0] == '\0')
    return nullptr;
  const char* p = strstr(mascara, campo);
  if (p == nullptr) return nullptr;
  size_t pos = static_cast<size_t>(p - mascara), n = strlen(campo);
  if (strnlen(texto, pos + n) < pos + n) return nullptr;
  memcpy(saida, texto + pos, n);
  saida[n] = '\0';
  return saida;
}

void Dorme(uint32_t milissegundos) {
  struct timespec pedido {
    static_cast<time_t>(milissegundos / 1000), static_cast<long>(milissegundos % 1000) * 1000000L
  };
  struct timespec resto {};
  while (nanosleep(&pedido, &resto) != 0 && errno == EINTR) pedido = resto;
}

uint32_t RelogioMs() {
  struct timeval tv {};
  gettimeofday(&tv, nullptr);
  return static_cast<uint32_t>(static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u);
}

int TextoImprimivel(const void* dados, size_t tamanho) {
  const auto* p = static_cast<const unsigned char*>(dados);
  if (p == nullptr) return tamanho == 0 ? 0 : -1;
  for (size_t i = 0; i < tamanho; ++i)
    if (p[i] < 32 || p[i] > 126) return -1;
  return 0;
}

// ---------------------------------------------------------------------------
// Numbers and bytes
// ---------------------------------------------------------------------------

int64_t PotenciaDez(int n) {
  int64_t v = 1;
  for (int i = 0; i < n && i < 18; ++i) v *= 10;
  return v;
}

int64_t AjustaDecimais(int64_t valor, int decimaisEntrada, int decimaisSaida) {
  if (decimaisEntrada > decimaisSaida) return valor / PotenciaDez(decimaisEntrada - decimaisSaida);
  return valor * PotenciaDez(decimaisSaida - decimaisEntrada);
}

void InverteBytes(void* dados, size_t tamanho) {
  auto* p = static_cast<unsigned char*>(dados);
  if (p == nullptr || tamanho < 2) return;
  for (size_t i = 0, j = tamanho - 1; i < j; ++i, --j) {
    unsigned char t = p[i];
    p[i] = p[j];
    p[j] = t;
  }
}

void ParaLittleEndian(void* dados, size_t tamanho) {
  if constexpr (std::endian::native != std::endian::little) InverteBytes(dados, tamanho);
  (void)dados, (void)tamanho;
}

void ParaBigEndian(void* dados, size_t tamanho) {
  if constexpr (std::endian::native != std::endian::big) InverteBytes(dados, tamanho);
  (void)dados, (void)tamanho;
}

uint16_t TrocaBytes16(uint16_t palavra) { return static_cast<uint16_t>((palavra << 8) | (palavra >> 8)); }

uint16_t Word16ParaLittleEndian(uint16_t palavra) {
  return std::endian::native == std::endian::little ? palavra : TrocaBytes16(palavra);
}

uint16_t Word16ParaBigEndian(uint16_t palavra) {
  return std::endian::native == std::endian::big ? palavra : TrocaBytes16(palavra);
}

// ---------------------------------------------------------------------------
// Sized memory blocks and the wipe
// ---------------------------------------------------------------------------

namespace {
// The size word sits just before the caller's bytes; the header is padded so
// those bytes keep the alignment malloc gives.
constexpr size_t kCabecalho = alignof(std::max_align_t);
static_assert(kCabecalho >= sizeof(uint32_t));

unsigned char* Base(const void* bloco) {
  return const_cast<unsigned char*>(static_cast<const unsigned char*>(bloco)) - kCabecalho;
}
uint32_t LeTamanho(const void* bloco) {
  uint32_t t;
  memcpy(&t, static_cast<const unsigned char*>(bloco) - sizeof t, sizeof t);
  return t;
}
void GravaTamanho(unsigned char* base, uint32_t t) { memcpy(base + kCabecalho - sizeof t, &t, sizeof t); }
}  // namespace

void* Aloca(size_t tamanho, int32_t, const char*, int) {
  if (tamanho > UINT32_MAX) return nullptr;
  auto* base = static_cast<unsigned char*>(calloc(1, kCabecalho + tamanho));
  if (base == nullptr) return nullptr;
  GravaTamanho(base, static_cast<uint32_t>(tamanho));
  return base + kCabecalho;
}

void* Realoca(void* bloco, size_t tamanho, const char* arquivo, int linha) {
  if (bloco == nullptr) return Aloca(tamanho, 0, arquivo, linha);
  if (tamanho == 0) {
    Libera(bloco, arquivo, linha);
    return nullptr;
  }
  uint32_t atual = LeTamanho(bloco);
  if (tamanho <= atual) return bloco;
  if (tamanho > UINT32_MAX) return nullptr;
  auto* base = static_cast<unsigned char*>(realloc(Base(bloco), kCabecalho + tamanho));
  if (base == nullptr) return nullptr;
  memset(base + kCabecalho + atual, 0, tamanho - atual);
  GravaTamanho(base, static_cast<uint32_t>(tamanho));
  return base + kCabecalho;
}

int Libera(void* bloco, const char*, int) {
  if (bloco != nullptr) free(Base(bloco));
  return 0;
}

size_t TamanhoBloco(const void* bloco) { return bloco == nullptr ? 0 : LeTamanho(bloco); }

void* LimpaSegura(void* buffer, size_t tamanho) {
  if (buffer == nullptr) return buffer;
  // Each pattern is written with memset; the empty asm that takes the buffer
  // and clobbers memory keeps the compiler from dropping writes it sees as
  // dead, as it would for a buffer about to be freed.
  for (unsigned char padrao : kPadroesLimpeza) {
    memset(buffer, padrao, tamanho);
    asm volatile("" : : "r"(buffer) : "memory");
  }
  return buffer;
}
