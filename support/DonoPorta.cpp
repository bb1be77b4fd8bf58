#include "support/DonoPorta.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstring>

namespace {

// A line of the lock table, e.g.
//   "3: FLOCK  ADVISORY  WRITE 4242 00:1a:5 0 EOF"
//   "3: -> FLOCK  ADVISORY  WRITE 4243 00:1a:5 0 EOF"   (a waiter)
// The file is named by its filesystem's device (major:minor in hex) and inode.
struct Trava {
  bool espera;
  long pid;
  unsigned maior, menor;
  unsigned long long inode;
};

bool LeTrava(const char* linha, Trava* t) {
  const char* p = strchr(linha, ':');
  if (p == nullptr) return false;
  ++p;
  while (*p == ' ') ++p;
  t->espera = strncmp(p, "->", 2) == 0;
  if (t->espera) p += 2;
  char tipo[16], modo[16], acesso[16];
  return sscanf(p, "%15s %15s %15s %ld %x:%x:%llu", tipo, modo, acesso, &t->pid, &t->maior, &t->menor,
                &t->inode) == 7;
}

void NomeProcesso(const char* raizProc, long pid, char* programa, size_t capacidade) {
  if (programa == nullptr || capacidade == 0) return;
  programa[0] = '\0';
  if (pid <= 0) return;
  char caminho[512];
  snprintf(caminho, sizeof caminho, "%s/%ld/comm", raizProc, pid);
  FILE* f = fopen(caminho, "re");
  if (f == nullptr) return;
  if (fgets(programa, static_cast<int>(capacidade < 4096 ? capacidade : 4096), f) == nullptr) programa[0] = '\0';
  fclose(f);
  programa[strcspn(programa, "\n")] = '\0';
}

}  // namespace

int32_t DonoPorta(const char* caminho, const char* raizProc, int32_t* pid, char* programa, size_t capacidade) {
  if (pid != nullptr) *pid = 0;
  if (programa != nullptr && capacidade > 0) programa[0] = '\0';
  if (caminho == nullptr || raizProc == nullptr) return -1;
  struct stat st{};
  if (stat(caminho, &st) != 0) return -1;

  char arquivo[512];
  snprintf(arquivo, sizeof arquivo, "%s/locks", raizProc);
  FILE* f = fopen(arquivo, "re");
  if (f == nullptr) return -1;
  char linha[256];
  int32_t achou = 0;
  long dono = 0;
  while (fgets(linha, sizeof linha, f) != nullptr) {
    // A line longer than the buffer is no lock line of the format above; skip its rest.
    if (strchr(linha, '\n') == nullptr && !feof(f)) {
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {
      }
      continue;
    }
    Trava t{};
    if (!LeTrava(linha, &t) || t.espera) continue;
    if (t.maior != major(st.st_dev) || t.menor != minor(st.st_dev) || t.inode != st.st_ino) continue;
    achou = 1;
    dono = t.pid;
    break;
  }
  fclose(f);
  if (!achou) return 0;
  if (dono < 0) dono = 0;
  if (pid != nullptr) *pid = static_cast<int32_t>(dono);
  NomeProcesso(raizProc, dono, programa, capacidade);
  return 1;
}
