#include "PeerPty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace testlink {

uint16_t Crc16Referencia(const uint8_t* dados, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool entra = ((dados[i] >> bit) & 1) != 0;
      const bool topo = (crc & 0x8000) != 0;
      crc = static_cast<uint16_t>(crc << 1);
      if (entra != topo) crc ^= 0x1021;
    }
  }
  return crc;
}

Bytes DeTexto(std::string_view texto) { return Bytes(texto.begin(), texto.end()); }

// The text sits between a start byte and an end byte, followed by the check.
Bytes Quadro(std::string_view texto) {
  Bytes q;
  q.reserve(texto.size() + 4);
  q.push_back(kSYN);
  for (char c : texto) q.push_back(static_cast<uint8_t>(c));
  q.push_back(kETB);
  const uint16_t crc = Crc16Referencia(q.data() + 1, q.size() - 1);
  q.push_back(static_cast<uint8_t>(crc >> 8));
  q.push_back(static_cast<uint8_t>(crc & 0xFF));
  return q;
}

Bytes QuadroSC5000(std::string_view texto, uint8_t inicio, uint8_t fim) {
  Bytes q;
  q.reserve(texto.size() + 3);
  q.push_back(inicio);
  for (char c : texto) q.push_back(static_cast<uint8_t>(c));
  q.push_back(fim);
  uint8_t lrc = 0;
  for (size_t i = 1; i < q.size(); ++i) lrc ^= q[i];
  q.push_back(lrc);
  return q;
}

Bytes Concatena(std::initializer_list<Bytes> partes) {
  Bytes r;
  for (const Bytes& p : partes) r.insert(r.end(), p.begin(), p.end());
  return r;
}

std::string Hex(const Bytes& b) {
  std::string s;
  char h[4];
  for (uint8_t c : b) {
    std::snprintf(h, sizeof h, "%02X ", c);
    s += h;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

PeerPty::PeerPty() {
  mestre_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (mestre_ < 0) return;
  if (grantpt(mestre_) != 0 || unlockpt(mestre_) != 0) {
    close(mestre_);
    mestre_ = -1;
    return;
  }
  char nome[128];
  if (ptsname_r(mestre_, nome, sizeof nome) != 0) {
    close(mestre_);
    mestre_ = -1;
    return;
  }
  caminho_ = nome;
  fcntl(mestre_, F_SETFL, fcntl(mestre_, F_GETFL) | O_NONBLOCK);
  // Holding the slave open keeps the master readable (no hang-up) between the
  // library's opens and closes.
  escravo_ = open(nome, O_RDWR | O_NOCTTY | O_NONBLOCK);
}

PeerPty::~PeerPty() {
  parar_ = true;
  if (fio_.joinable()) fio_.join();
  if (mestre_ >= 0) close(mestre_);
  if (escravo_ >= 0) close(escravo_);
}

PeerPty& PeerPty::EsperaQuadro() {
  passos_.push_back({Passo::Tipo::Quadro});
  return *this;
}
PeerPty& PeerPty::EsperaSC5000() {
  passos_.push_back({Passo::Tipo::SC5000});
  return *this;
}
PeerPty& PeerPty::EsperaBytes(size_t n) {
  Passo p{Passo::Tipo::NBytes};
  p.n = n;
  passos_.push_back(p);
  return *this;
}
PeerPty& PeerPty::Envia(Bytes bytes) {
  Passo p{Passo::Tipo::Envia};
  p.bytes = std::move(bytes);
  passos_.push_back(p);
  return *this;
}
PeerPty& PeerPty::EnviaLento(Bytes bytes, int intervaloMs) {
  Passo p{Passo::Tipo::EnviaLento};
  p.bytes = std::move(bytes);
  p.ms = intervaloMs;
  passos_.push_back(p);
  return *this;
}
PeerPty& PeerPty::Pausa(int ms) {
  Passo p{Passo::Tipo::Pausa};
  p.ms = ms;
  passos_.push_back(p);
  return *this;
}
PeerPty& PeerPty::FechaMestre() {
  passos_.push_back({Passo::Tipo::Fecha});
  return *this;
}
PeerPty& PeerPty::Atende(int vezes, std::function<Bytes(const Bytes&)> resposta) {
  Passo p{Passo::Tipo::Atende};
  p.n = static_cast<size_t>(vezes);
  p.resposta = std::move(resposta);
  passos_.push_back(p);
  return *this;
}

void PeerPty::Inicia() {
  fio_ = std::thread([this] {
    // Signals meant for the library's thread stay there.
    sigset_t todos;
    sigfillset(&todos);
    pthread_sigmask(SIG_BLOCK, &todos, nullptr);
    Executa();
  });
}

bool PeerPty::Termina(int limiteMs) {
  const auto prazo = Relogio::now() + std::chrono::milliseconds(limiteMs);
  while (!fimScript_ && Relogio::now() < prazo) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool terminou = fimScript_;
  if (terminou) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  parar_ = true;
  if (fio_.joinable()) fio_.join();
  return terminou && !falhou_;
}

Bytes PeerPty::Recebido() const {
  std::lock_guard<std::mutex> l(mtx_);
  return recebido_;
}

std::vector<Recepcao> PeerPty::Recepcoes() const {
  std::lock_guard<std::mutex> l(mtx_);
  return recepcoes_;
}

bool PeerPty::Bombeia(Relogio::time_point prazo, bool voltaComDados) {
  do {
    if (mestre_ < 0) return false;
    const auto agora = Relogio::now();
    int espera = 0;
    if (prazo > agora)
      espera = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(prazo - agora).count()) + 1;
    if (espera > 10) espera = 10;  // look at the stop flag now and then
    pollfd p{mestre_, POLLIN, 0};
    const int r = poll(&p, 1, espera);
    if (r < 0 && errno != EINTR) return false;
    if (r > 0 && (p.revents & POLLIN)) {
      uint8_t buf[4096];
      const ssize_t n = read(mestre_, buf, sizeof buf);
      const auto quando = Relogio::now();
      if (n > 0) {
        std::lock_guard<std::mutex> l(mtx_);
        recebido_.insert(recebido_.end(), buf, buf + n);
        chegada_.insert(chegada_.end(), static_cast<size_t>(n), quando);
      }
      if (n > 0 && voltaComDados) return true;
    } else if (r > 0) {
      // Hang-up without data (no slave open): do not spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  } while (Relogio::now() < prazo && !parar_);
  return true;
}

bool PeerPty::EsperaAte(const std::function<size_t(const Bytes&)>& completo, Recepcao& saida) {
  const auto prazo = Relogio::now() + std::chrono::seconds(15);
  for (;;) {
    {
      std::lock_guard<std::mutex> l(mtx_);
      const Bytes pendentes(recebido_.begin() + static_cast<std::ptrdiff_t>(consumido_), recebido_.end());
      const size_t n = completo(pendentes);
      if (n > 0) {
        saida.bytes.assign(pendentes.begin(), pendentes.begin() + static_cast<std::ptrdiff_t>(n));
        saida.primeiro = chegada_[consumido_];
        saida.ultimo = chegada_[consumido_ + n - 1];
        consumido_ += n;
        recepcoes_.push_back(saida);
        return true;
      }
    }
    if (parar_ || Relogio::now() >= prazo) return false;
    if (!Bombeia(Relogio::now() + std::chrono::milliseconds(10), true)) return false;
  }
}

namespace {

size_t QuadroCompleto(const Bytes& b) {
  size_t i = 0;
  while (i < b.size() && b[i] != kSYN) ++i;
  for (size_t j = i + 1; j < b.size(); ++j)
    if (b[j] == kETB) return j + 2 < b.size() ? j + 3 : 0;
  return 0;
}

size_t QuadroSC5000Completo(const Bytes& b) {
  size_t i = 0;
  while (i < b.size() && b[i] != kSTX && b[i] != kSI) ++i;
  for (size_t j = i + 1; j < b.size(); ++j)
    if (b[j] == kETX || b[j] == kSO) return j + 1 < b.size() ? j + 2 : 0;
  return 0;
}

}  // namespace

void PeerPty::Escreve(const Bytes& bytes) {
  size_t feito = 0;
  while (feito < bytes.size() && mestre_ >= 0) {
    const ssize_t n = write(mestre_, bytes.data() + feito, bytes.size() - feito);
    if (n > 0) {
      feito += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      falhou_ = true;
      return;
    } else {
      Bombeia(Relogio::now() + std::chrono::milliseconds(1));
    }
  }
}

void PeerPty::Executa() {
  bool ok = true;
  for (size_t k = 0; k < passos_.size() && ok && !parar_; ++k) {
    Passo& p = passos_[k];
    Recepcao r;
    switch (p.tipo) {
      case Passo::Tipo::Quadro: ok = EsperaAte(QuadroCompleto, r); break;
      case Passo::Tipo::SC5000: ok = EsperaAte(QuadroSC5000Completo, r); break;
      case Passo::Tipo::NBytes: {
        const size_t n = p.n;
        ok = EsperaAte([n](const Bytes& b) { return b.size() >= n ? n : 0; }, r);
        break;
      }
      case Passo::Tipo::Envia: Escreve(p.bytes); break;
      case Passo::Tipo::EnviaLento:
        for (uint8_t c : p.bytes) {
          Escreve(Bytes{c});
          Bombeia(Relogio::now() + std::chrono::milliseconds(p.ms));
        }
        break;
      case Passo::Tipo::Pausa: Bombeia(Relogio::now() + std::chrono::milliseconds(p.ms)); break;
      case Passo::Tipo::Fecha:
        close(mestre_);
        mestre_ = -1;
        break;
      case Passo::Tipo::Atende:
        for (size_t i = 0; i < p.n && ok; ++i) {
          ok = EsperaAte(QuadroCompleto, r);
          if (ok) Escreve(Concatena({Bytes{kACK}, p.resposta(r.bytes)}));
        }
        break;
    }
  }
  if (!ok) falhou_ = true;
  if (falhou_ && !parar_) std::fprintf(stderr, "PeerPty: script step failed\n");
  fimScript_ = true;
  // Keep logging what the library still sends.
  while (!parar_ && mestre_ >= 0) Bombeia(Relogio::now() + std::chrono::milliseconds(10));
}

}  // namespace testlink
