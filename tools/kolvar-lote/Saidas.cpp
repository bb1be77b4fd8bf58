#include "tools/kolvar-lote/Saidas.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lote {

bool AbreSaida(Saida& s) {
  if (s.caminho.empty()) return true;
  s.fd = open(s.caminho.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  return s.fd >= 0;
}

bool GravaSaida(Saida& s, const std::string& texto) {
  if (s.caminho.empty()) return true;
  if (s.fd < 0) {
    errno = EBADF;
    return false;
  }
  struct stat st {};
  const bool regular = fstat(s.fd, &st) == 0 && S_ISREG(st.st_mode);
  bool ok = !regular || (ftruncate(s.fd, 0) == 0 && lseek(s.fd, 0, SEEK_SET) == 0);
  for (size_t feito = 0; ok && feito < texto.size();) {
    const ssize_t n = write(s.fd, texto.data() + feito, texto.size() - feito);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      ok = false;
      break;
    }
    feito += static_cast<size_t>(n);
  }
  // A regular file's delayed write errors show up here, not in write().
  if (ok && regular && fsync(s.fd) != 0) ok = false;
  const int erro = errno;
  if (close(s.fd) != 0 && ok) ok = false;
  else errno = erro;
  s.fd = -1;
  return ok;
}

}  // namespace lote
