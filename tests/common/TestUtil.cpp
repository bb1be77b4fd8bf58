#include "common/TestUtil.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "state/LibState.h"

namespace testutil {

void ResetaLibState() { LibState = EstadoLib{}; }

DiretorioTemp::DiretorioTemp() {
  std::string modelo = (std::filesystem::temp_directory_path() / "pinpadtest.XXXXXX").string();
  char* p = mkdtemp(modelo.data());
  caminho_ = p ? p : "";
}

DiretorioTemp::~DiretorioTemp() {
  if (!caminho_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(caminho_, ec);
  }
}

std::string LeArquivo(const std::string& caminho) {
  std::ifstream in(caminho, std::ios::binary);
  if (!in) return {};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void GravaArquivo(const std::string& caminho, const std::string& conteudo) {
  std::ofstream out(caminho, std::ios::binary | std::ios::trunc);
  out << conteudo;
}

std::string DiretorioProgramas() {
#ifdef PINPAD_BIN_DIR
  return PINPAD_BIN_DIR;
#else
  return ".";
#endif
}

}  // namespace testutil
