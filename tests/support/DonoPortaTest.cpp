#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/TestUtil.h"
#include "support/DonoPorta.h"

namespace {

// "maj:min:inode" of a file as the lock table writes it.
std::string Identidade(const std::string& caminho) {
  struct stat st{};
  EXPECT_EQ(stat(caminho.c_str(), &st), 0);
  char texto[64];
  snprintf(texto, sizeof texto, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
           static_cast<unsigned long long>(st.st_ino));
  return texto;
}

}  // namespace

// A fixture lock table: the holder is found through a symbolic link, a waiter
// is not taken for the holder, a lock on another file is not this one's.
TEST(DonoPorta, ReadsTheHolderFromTheLockTable) {
  testutil::DiretorioTemp d;
  const std::string dispositivo = d.arquivo("ttyACM0");
  testutil::GravaArquivo(dispositivo, "");
  const std::string outro = d.arquivo("ttyACM1");
  testutil::GravaArquivo(outro, "");
  std::filesystem::create_symlink(dispositivo, d.arquivo("por-id"));
  const std::string proc = d.arquivo("proc");
  std::filesystem::create_directories(proc + "/4242");
  testutil::GravaArquivo(proc + "/4242/comm", "pinpadctl\n");

  struct Caso {
    const char* titulo;
    std::string tabela;
    int32_t retorno, pid;
    const char* programa;
  };
  const std::string id = Identidade(dispositivo), idOutro = Identidade(outro);
  const Caso casos[] = {
      {"holder", "1: POSIX  ADVISORY  WRITE 77 " + idOutro + " 0 EOF\n2: FLOCK  ADVISORY  WRITE 4242 " + id +
                     " 0 EOF\n2: -> FLOCK  ADVISORY  WRITE 4243 " + id + " 0 EOF\n",
       1, 4242, "pinpadctl"},
      {"waiter only", "2: -> FLOCK  ADVISORY  WRITE 4243 " + id + " 0 EOF\n", 0, 0, ""},
      {"another file", "1: FLOCK  ADVISORY  WRITE 4242 " + idOutro + " 0 EOF\n", 0, 0, ""},
      {"holder of another namespace", "1: FLOCK  ADVISORY  WRITE 0 " + id + " 0 EOF\n", 1, 0, ""},
      {"holder gone", "1: FLOCK  ADVISORY  WRITE 9999 " + id + " 0 EOF\n", 1, 9999, ""},
      {"garbage and an overlong line", "x\n" + std::string(600, 'z') + "\n1: FLOCK  ADVISORY  WRITE 4242 " + id +
                                           " 0 EOF\n",
       1, 4242, "pinpadctl"},
  };
  for (const Caso& c : casos) {
    testutil::GravaArquivo(proc + "/locks", c.tabela);
    for (const std::string& nome : {dispositivo, d.arquivo("por-id")}) {
      int32_t pid = -5;
      char programa[8] = "lixo";  // cut to the capacity, terminated
      EXPECT_EQ(DonoPorta(nome.c_str(), proc.c_str(), &pid, programa, sizeof programa), c.retorno) << c.titulo;
      EXPECT_EQ(pid, c.pid) << c.titulo;
      EXPECT_EQ(std::string(programa), std::string(c.programa).substr(0, 7)) << c.titulo;
    }
  }
  EXPECT_EQ(DonoPorta(d.arquivo("nada").c_str(), proc.c_str(), nullptr, nullptr, 0), -1);
  EXPECT_EQ(DonoPorta(dispositivo.c_str(), d.arquivo("sem-proc").c_str(), nullptr, nullptr, 0), -1);
}

// On the running system: a lock this process takes is found under its own pid.
TEST(DonoPorta, FindsALiveLock) {
  testutil::DiretorioTemp d;
  const std::string arquivo = d.arquivo("porta");
  testutil::GravaArquivo(arquivo, "");
  EXPECT_EQ(DonoPorta(arquivo.c_str(), "/proc", nullptr, nullptr, 0), 0);
  int fd = open(arquivo.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  int32_t pid = 0;
  char programa[32];
  EXPECT_EQ(DonoPorta(arquivo.c_str(), "/proc", &pid, programa, sizeof programa), 1);
  EXPECT_EQ(pid, getpid());
  EXPECT_STRNE(programa, "");
  close(fd);
  EXPECT_EQ(DonoPorta(arquivo.c_str(), "/proc", nullptr, nullptr, 0), 0);
}
