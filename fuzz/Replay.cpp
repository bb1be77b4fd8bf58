// Replays inputs through a fuzz target without the fuzzing engine: every file
// of the folders (and every file) named on the command line, in name order.
// The ordinary build links each target with this driver so that the committed
// corpora run as regression tests.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> arquivos;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    const std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p, ec)) {
      for (const auto& e : std::filesystem::directory_iterator(p, ec))
        if (e.is_regular_file()) arquivos.push_back(e.path());
    } else if (std::filesystem::is_regular_file(p, ec)) {
      arquivos.push_back(p);
    } else {
      std::fprintf(stderr, "%s: nao encontrado\n", argv[i]);
      return 2;
    }
  }
  std::sort(arquivos.begin(), arquivos.end());
  for (const auto& a : arquivos) {
    std::ifstream in(a, std::ios::binary);
    std::vector<uint8_t> dados((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that a read past its end is seen.
    std::vector<uint8_t> exato(dados);
    LLVMFuzzerTestOneInput(exato.empty() ? nullptr : exato.data(), exato.size());
  }
  std::printf("%zu entradas executadas\n", arquivos.size());
  return arquivos.empty() ? 1 : 0;
}
