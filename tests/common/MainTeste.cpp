// main() of every test suite. The suite runs inside a temporary working
// directory of its own, removed at the end: the library writes some files into
// the working directory by design (its default trace folder is ".", the
// host link's key-control file and error log live there), and neither they nor
// anything a test or a program it starts writes to "." may land where the tests
// were started from (the source tree, a build folder).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/TestUtil.h"

namespace {

class DiretorioDeTrabalhoTemp : public ::testing::Environment {
 public:
  void SetUp() override {
    std::error_code erro;
    anterior_ = std::filesystem::current_path(erro);
    dir_ = std::make_unique<testutil::DiretorioTemp>();
    if (!erro && !dir_->caminho().empty()) std::filesystem::current_path(dir_->caminho(), erro);
    if (erro || dir_->caminho().empty()) {
      std::fprintf(stderr, "cannot run the tests in a temporary working directory: %s\n", erro.message().c_str());
      std::exit(1);
    }
  }
  void TearDown() override {
    std::error_code erro;
    if (!anterior_.empty()) std::filesystem::current_path(anterior_, erro);
    dir_.reset();
  }

 private:
  std::filesystem::path anterior_;
  std::unique_ptr<testutil::DiretorioTemp> dir_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new DiretorioDeTrabalhoTemp);
  return RUN_ALL_TESTS();
}
