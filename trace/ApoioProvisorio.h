#pragma once
// Temporary stand-ins for support routines that have not landed yet.
// Removed as soon as the support library provides them. Everything is in its
// own namespace and called qualified, so it never clashes with the real ones.
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

inline int SubstituiProvisorio(char* texto, const char* busca, const char* troca) {
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
  SubstituiProvisorio(texto, "<YYYY/>", b);
  std::snprintf(b, sizeof b, "%02d", (h.tm_year + 1900) % 100);
  SubstituiProvisorio(texto, "<YY/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_mon + 1);
  SubstituiProvisorio(texto, "<MM/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_mday);
  SubstituiProvisorio(texto, "<DD/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_hour);
  SubstituiProvisorio(texto, "<HH/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_min);
  SubstituiProvisorio(texto, "<NN/>", b);
  std::snprintf(b, sizeof b, "%02d", h.tm_sec);
  SubstituiProvisorio(texto, "<SS/>", b);
  return texto;
}

}  // namespace provisorio


struct Semaforo;

namespace provisorio {

struct SemaforoImpl {
  pthread_mutex_t m;
};
struct Arquivo {
  int32_t semSync;
  FILE* stream;
};

inline Semaforo* SemaforoCria() {
  auto* s = static_cast<SemaforoImpl*>(std::calloc(1, sizeof(SemaforoImpl)));
  if (!s) return nullptr;
  pthread_mutexattr_t a;
  pthread_mutexattr_init(&a);
  pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&s->m, &a);
  pthread_mutexattr_destroy(&a);
  return reinterpret_cast<Semaforo*>(s);
}
inline void SemaforoDestroi(Semaforo* p) {
  auto* s = reinterpret_cast<SemaforoImpl*>(p);
  if (!s) return;
  pthread_mutex_destroy(&s->m);
  std::free(s);
}
inline void SemaforoTrava(Semaforo* s) {
  if (s) pthread_mutex_lock(&reinterpret_cast<SemaforoImpl*>(s)->m);
}
inline void SemaforoLibera(Semaforo* s) {
  if (s) pthread_mutex_unlock(&reinterpret_cast<SemaforoImpl*>(s)->m);
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


namespace provisorio {
inline void* Aloca(size_t t, int32_t, const char*, int) { return std::calloc(1, t); }
inline int Libera(void* b, const char*, int) {
  std::free(b);
  return 0;
}
}  // namespace provisorio

namespace ap = provisorio;
