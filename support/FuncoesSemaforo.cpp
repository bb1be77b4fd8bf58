#include "support/FuncoesSemaforo.h"

#include <pthread.h>

#include <new>

#include "support/FuncoesArquivo.h"

struct Semaforo {
  pthread_mutex_t mutex;
  pthread_mutexattr_t atributos;
};

Semaforo* SemaforoCria() {
  void* bloco = Aloca(sizeof(Semaforo), 0, __FILE__, __LINE__);
  if (bloco == nullptr) return nullptr;
  auto* s = new (bloco) Semaforo;
  if (pthread_mutexattr_init(&s->atributos) != 0) {
    Libera(bloco, __FILE__, __LINE__);
    return nullptr;
  }
  if (pthread_mutexattr_settype(&s->atributos, PTHREAD_MUTEX_RECURSIVE) != 0 ||
      pthread_mutex_init(&s->mutex, &s->atributos) != 0) {
    pthread_mutexattr_destroy(&s->atributos);
    Libera(bloco, __FILE__, __LINE__);
    return nullptr;
  }
  return s;
}

void SemaforoDestroi(Semaforo* semaforo) {
  if (semaforo == nullptr) return;
  pthread_mutex_destroy(&semaforo->mutex);
  pthread_mutexattr_destroy(&semaforo->atributos);
  Libera(semaforo, __FILE__, __LINE__);
}

int SemaforoTrava(Semaforo* semaforo) { return semaforo == nullptr ? 0 : pthread_mutex_lock(&semaforo->mutex); }

int SemaforoLibera(Semaforo* semaforo) { return semaforo == nullptr ? 0 : pthread_mutex_unlock(&semaforo->mutex); }
