#pragma once
// Helpers shared by every test suite.
#include <string>

namespace testutil {

// Puts the library's global record back to its load-time value.
void ResetaLibState();

// A fresh temporary directory, removed with its contents when the object goes.
class DiretorioTemp {
 public:
  DiretorioTemp();
  ~DiretorioTemp();
  DiretorioTemp(const DiretorioTemp&) = delete;
  DiretorioTemp& operator=(const DiretorioTemp&) = delete;
  const std::string& caminho() const { return caminho_; }
  std::string arquivo(const std::string& nome) const { return caminho_ + "/" + nome; }

 private:
  std::string caminho_;
};

// Whole contents of a file ("" when it cannot be read).
std::string LeArquivo(const std::string& caminho);
void GravaArquivo(const std::string& caminho, const std::string& conteudo);

// Folder of the build tree's programs (simpinpad, Kolvar, letrace...), from the
// PINPAD_BIN_DIR definition given to every test.
std::string DiretorioProgramas();

}  // namespace testutil
