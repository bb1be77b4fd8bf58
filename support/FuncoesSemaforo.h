#pragma once
// Recursive mutex: the thread that holds it may lock it again (the trace
// writer locks around each record, and a record can be written while another
// one is being built on the same thread).

// Opaque; lives in one sized block (Aloca) with its attribute object.
struct Semaforo;

// A new recursive mutex, or null when memory or the mutex runs out.
Semaforo* SemaforoCria();
// Destroys and frees the mutex; null is ignored.
void SemaforoDestroi(Semaforo* semaforo);
// Lock / unlock; a null mutex is ignored. Return 0, or the pthread error.
int SemaforoTrava(Semaforo* semaforo);
int SemaforoLibera(Semaforo* semaforo);
