#pragma once
// Another program holding a port, as a pinpad program does: a child process
// with its own open file description of the device and flock(LOCK_EX) on it,
// under a name of our choice (what /proc/<pid>/comm shows). The lock goes
// when the object goes.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testutil {

class SeguraPorta {
 public:
  explicit SeguraPorta(const std::string& caminho, const char* nome = "segurador") {
    int pronto[2], fim[2];
    if (pipe2(pronto, O_CLOEXEC) != 0) return;
    if (pipe2(fim, O_CLOEXEC) != 0) {
      close(pronto[0]);
      close(pronto[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(pronto[0]);
      close(fim[1]);
      prctl(PR_SET_NAME, nome);
      const int fd = open(caminho.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
      if (write(pronto[1], &ok, 1) != 1) _exit(1);
      char c;
      while (read(fim[0], &c, 1) != 0) {
      }
      _exit(0);  // the lock goes with the process
    }
    close(pronto[1]);
    close(fim[0]);
    fim_ = fim[1];
    char ok = '0';
    if (pid_ > 0 && read(pronto[0], &ok, 1) == 1 && ok == '1') ativo_ = true;
    close(pronto[0]);
  }
  ~SeguraPorta() { Solta(); }
  SeguraPorta(const SeguraPorta&) = delete;
  SeguraPorta& operator=(const SeguraPorta&) = delete;

  bool ativo() const { return ativo_; }
  pid_t pid() const { return pid_; }

  void Solta() {
    if (fim_ >= 0) close(fim_);
    fim_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
    ativo_ = false;
  }

 private:
  pid_t pid_ = -1;
  int fim_ = -1;
  bool ativo_ = false;
};

}  // namespace testutil
