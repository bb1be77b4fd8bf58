#pragma once
// Test side of the stand-in libemv.so: opens the same file the library loads
// (the loader hands back the same instance) and reaches its control functions.
#include <dlfcn.h>

#include <string>

#include "emv/stub/EmvStub.h"

inline std::string DiretorioEmvStub() { return std::string(PINPAD_LIB_DIR) + "/emvstub"; }
inline std::string DiretorioEmvStubIncompleto() { return std::string(PINPAD_LIB_DIR) + "/emvstub-incompleto"; }

class ControleEmvStub {
 public:
  explicit ControleEmvStub(const std::string& dir = DiretorioEmvStub()) {
    h_ = dlopen((dir + "/libemv.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h_) return;
    Reinicia = reinterpret_cast<decltype(Reinicia)>(dlsym(h_, "EmvStubReinicia"));
    FilaExecute = reinterpret_cast<decltype(FilaExecute)>(dlsym(h_, "EmvStubFilaExecute"));
    Retorno = reinterpret_cast<decltype(Retorno)>(dlsym(h_, "EmvStubRetorno"));
    Valor = reinterpret_cast<decltype(Valor)>(dlsym(h_, "EmvStubValor"));
    Mensagem = reinterpret_cast<decltype(Mensagem)>(dlsym(h_, "EmvStubMensagem"));
    Registro_ = reinterpret_cast<decltype(Registro_)>(dlsym(h_, "EmvStubRegistro"));
    if (Reinicia) Reinicia();
  }
  ~ControleEmvStub() {
    if (h_) dlclose(h_);
  }
  ControleEmvStub(const ControleEmvStub&) = delete;
  ControleEmvStub& operator=(const ControleEmvStub&) = delete;

  bool ok() const { return h_ && Reinicia && Registro_; }
  std::string Registro() const { return Registro_ ? Registro_() : ""; }

  decltype(&EmvStubReinicia) Reinicia = nullptr;
  decltype(&EmvStubFilaExecute) FilaExecute = nullptr;
  decltype(&EmvStubRetorno) Retorno = nullptr;
  decltype(&EmvStubValor) Valor = nullptr;
  decltype(&EmvStubMensagem) Mensagem = nullptr;

 private:
  void* h_ = nullptr;
  decltype(&EmvStubRegistro) Registro_ = nullptr;
};
