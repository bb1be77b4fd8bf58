#pragma once
// Temporary stand-ins for support routines that have not landed yet.
// Removed as soon as the support library provides them.
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace provisorio {

inline int ValorHex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}
inline void HexParaBytes(uint8_t* dst, const char* hex, int n) {
  for (int i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(ValorHex(hex[2 * i]) << 4 | ValorHex(hex[2 * i + 1]));
}
inline void BytesParaHex(char* dst, const uint8_t* b, int n) {
  static const char d[] = "0123456789ABCDEF";
  for (int i = 0; i < n; ++i) {
    dst[2 * i] = d[b[i] >> 4];
    dst[2 * i + 1] = d[b[i] & 15];
  }
}
inline void Embaralha(uint8_t* b, int n) {
  uint8_t c = 0;
  for (int i = 0; i < n; ++i) {
    b[i] = static_cast<uint8_t>((c ^ 0x13) + (b[i] ^ 0x0D) + 0x47);
    c = static_cast<uint8_t>(b[i] + 0x71);
  }
}
inline void Desembaralha(uint8_t* b, int n) {
  uint8_t c = 0;
  for (int i = 0; i < n; ++i) {
    uint8_t s = b[i];
    b[i] = static_cast<uint8_t>(((s - (c ^ 0x13)) - 0x47) ^ 0x0D);
    c = static_cast<uint8_t>(s + 0x71);
  }
}
inline int ListaObtemTexto(const char* texto, const char* chave, char* dst) {
  if (!texto) return 0;
  std::string t(texto);
  size_t p = 0;
  while (p <= t.size()) {
    size_t f = t.find(',', p);
    if (f == std::string::npos) f = t.size();
    std::string e = t.substr(p, f - p);
    size_t ig = e.find('=');
    if (ig != std::string::npos) {
      std::string k = e.substr(0, ig), v = e.substr(ig + 1);
      auto trim = [](std::string s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(0, 1);
        return s;
      };
      if (strcasecmp(trim(k).c_str(), chave) == 0) {
        std::snprintf(dst, 284, "%s", trim(v).c_str());
        return 1;
      }
    }
    p = f + 1;
  }
  return 0;
}
inline int ListaObtemInt(const char* texto, const char* chave, int padrao) {
  char v[284];
  if (!ListaObtemTexto(texto, chave, v)) return padrao;
  char* fim;
  long n = std::strtol(v, &fim, 10);
  return (fim == v || *fim) ? padrao : static_cast<int>(n);
}
inline int StrSubstitui(char* texto, const char* busca, const char* troca) {
  std::string t(texto);
  int n = 0;
  size_t p = 0;
  while ((p = t.find(busca, p)) != std::string::npos) {
    t.replace(p, std::strlen(busca), troca ? troca : "");
    p += troca ? std::strlen(troca) : 0;
    ++n;
  }
  std::strcpy(texto, t.c_str());
  return n;
}
using FonteHora = time_t (*)();
inline FonteHora fonteHora = nullptr;
inline FonteHora DefineFonteHora(FonteHora f) {
  FonteHora a = fonteHora;
  fonteHora = f;
  return a;
}
inline time_t ObtemHoraAtual() { return fonteHora ? fonteHora() : std::time(nullptr); }
inline tm HoraLocalAtual() {
  time_t t = ObtemHoraAtual();
  tm h;
  localtime_r(&t, &h);
  return h;
}
inline char* ExpandeMacrosData(char* texto, size_t) {
  tm h = HoraLocalAtual();
  char b[16];
  std::snprintf(b, sizeof b, "%04d", h.tm_year + 1900);
  StrSubstitui(texto, "<YYYY/>", b);
  std::snprintf(b, sizeof b, "%02d", (h.tm_year + 1900) % 100);
  StrSubstitui(texto, "<YY/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_mon + 1);
  StrSubstitui(texto, "<MM/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_mday);
  StrSubstitui(texto, "<DD/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_hour);
  StrSubstitui(texto, "<HH/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_min);
  StrSubstitui(texto, "<NN/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_sec);
  StrSubstitui(texto, "<SS/>", b);
  return texto;
}

}  // namespace provisorio

using provisorio::BytesParaHex;
using provisorio::Desembaralha;
using provisorio::Embaralha;
using provisorio::DefineFonteHora;
using provisorio::ExpandeMacrosData;
using provisorio::HoraLocalAtual;
using provisorio::ObtemHoraAtual;
using provisorio::FonteHora;
using provisorio::HexParaBytes;
using provisorio::ListaObtemInt;
using provisorio::ListaObtemTexto;
using provisorio::StrSubstitui;

struct Semaforo {
  pthread_mutex_t m;
};
struct Arquivo {
  int32_t semSync;
  FILE* stream;
};

namespace provisorio {

inline Semaforo* SemaforoCria() {
  auto* s = static_cast<Semaforo*>(std::calloc(1, sizeof(Semaforo)));
  if (!s) return nullptr;
  pthread_mutexattr_t a;
  pthread_mutexattr_init(&a);
  pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&s->m, &a);
  pthread_mutexattr_destroy(&a);
  return s;
}
inline void SemaforoDestroi(Semaforo* s) {
  if (!s) return;
  pthread_mutex_destroy(&s->m);
  std::free(s);
}
inline void SemaforoTrava(Semaforo* s) {
  if (s) pthread_mutex_lock(&s->m);
}
inline void SemaforoLibera(Semaforo* s) {
  if (s) pthread_mutex_unlock(&s->m);
}
inline Arquivo* ArquivoAbre(const char* caminho, const char* modo, int32_t semSync) {
  FILE* fp = std::fopen(caminho, modo);
  if (!fp) return nullptr;
  auto* a = static_cast<Arquivo*>(std::calloc(1, sizeof(Arquivo)));
  a->stream = fp;
  a->semSync = semSync;
  return a;
}
inline Arquivo* ArquivoAbreSemSync(const char* caminho, const char* modo) { return ArquivoAbre(caminho, modo, 1); }
inline size_t ArquivoGrava(Arquivo* a, const void* b, size_t t, size_t n) {
  return a ? std::fwrite(b, t, n, a->stream) : 0;
}
inline int ArquivoFecha(Arquivo* a) {
  if (!a) return 0;
  if (!a->semSync) {
    std::fflush(a->stream);
    fsync(fileno(a->stream));
  }
  std::fclose(a->stream);
  std::free(a);
  return 0;
}
inline int IniLeTexto(const char* secao, const char* chave, const char* padrao, char* buf, uint16_t tam,
                      const char* arquivo) {
  std::snprintf(buf, tam, "%s", padrao);
  FILE* fp = std::fopen(arquivo, "r");
  if (!fp) return static_cast<int>(std::strlen(buf));
  char linha[600];
  bool dentro = false;
  while (std::fgets(linha, sizeof linha, fp)) {
    linha[std::strcspn(linha, "\r\n")] = 0;
    if (linha[0] == '[') {
      dentro = strncasecmp(linha + 1, secao, std::strlen(secao)) == 0;
      continue;
    }
    char* ig = std::strchr(linha, '=');
    if (dentro && ig && strncasecmp(linha, chave, ig - linha) == 0) std::snprintf(buf, tam, "%s", ig + 1);
  }
  std::fclose(fp);
  return static_cast<int>(std::strlen(buf));
}
inline int IniGravaTexto(const char* secao, const char* chave, const char* valor, const char* arquivo) {
  FILE* fp = std::fopen(arquivo, "w");
  if (!fp) return 0;
  std::fprintf(fp, "[%s]\n%s=%s\n", secao, chave, valor);
  std::fclose(fp);
  return 1;
}

}  // namespace provisorio

using provisorio::ArquivoAbre;
using provisorio::ArquivoAbreSemSync;
using provisorio::ArquivoFecha;
using provisorio::ArquivoGrava;
using provisorio::IniGravaTexto;
using provisorio::IniLeTexto;
using provisorio::SemaforoCria;
using provisorio::SemaforoDestroi;
using provisorio::SemaforoLibera;
using provisorio::SemaforoTrava;

namespace provisorio {
inline void* Aloca(size_t t, int32_t, const char*, int) { return std::calloc(1, t); }
inline int Libera(void* b, const char*, int) {
  std::free(b);
  return 0;
}
}  // namespace provisorio
using provisorio::Aloca;
using provisorio::Libera;
