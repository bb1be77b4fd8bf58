#include "sim/SimMotor.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "sim/SimComandos.h"
#include "sim/SimCripto.h"

namespace sim {

namespace {

// Bytes put in front of an answer by the garbage fault: none of them starts a frame.
constexpr char kLixo[] = "\xFF\xFELIXO\x7F";
// A partial frame held this long without a new byte is given up.
constexpr int64_t kSilencioMs = 500;

std::string SemBrancosFinais(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

int Numero(const std::string& s, size_t pos, size_t n) {
  if (pos + n > s.size()) return -1;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

}  // namespace

Motor::Motor(const ConfigSim& cfg, int fdDispositivo, int fdTeclado, FILE* log, FILE* tela)
    : cfg_(cfg), fd_(fdDispositivo), fdTeclado_(fdTeclado), log_(log), tela_(tela), rx_(cfg.sc5000) {
  nak_ = cfg.nak;
  semAck_ = cfg.semAck;
  crcErrado_ = cfg.crcErrado;
  lixo_ = cfg.lixo;
  corta_ = cfg.corta;
  mudo_ = cfg.mudo;
  inicioMs_ = Agora();
  sorteio_ = cfg.semente ? cfg.semente : 1;
  display_[0] = display_[1] = std::string(16, ' ');
}

int64_t Motor::Agora() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

static double Segundos() {
  static timespec inicio = [] {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
  }();
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec - inicio.tv_sec) + static_cast<double>(t.tv_nsec - inicio.tv_nsec) / 1e9;
}

void Motor::Registra(const char* dir, const char* tipo, const std::string& bytes) {
  if (!log_) return;
  std::fprintf(log_, "%.6f %s %s %s |%s|\n", Segundos(), dir, tipo, HexEspacado(bytes).c_str(),
               Imprimivel(bytes).c_str());
  std::fflush(log_);
}

void Motor::RegistraEvento(const std::string& texto) {
  if (!log_) return;
  std::fprintf(log_, "%.6f -- %s\n", Segundos(), texto.c_str());
  std::fflush(log_);
}

void Motor::MostraDisplay(const std::string& l1, const std::string& l2) {
  display_[0] = l1;
  display_[1] = l2;
  RegistraEvento("DISPLAY |" + Imprimivel(l1) + "|" + Imprimivel(l2) + "|");
  if (tela_) {
    std::fprintf(tela_, "\n+----------------+\n|%s|\n|%s|\n+----------------+\n", Imprimivel(l1).c_str(),
                 Imprimivel(l2).c_str());
    std::fflush(tela_);
  }
}

void Motor::Escreve(const std::string& bytes) {
  if (fechado_ || falhou_ || sumiu_) return;
  // At N baud a byte with start and stop bits takes 10/N seconds.
  const int64_t nsPorByte = cfg_.baud > 0 ? 10'000'000'000LL / cfg_.baud : 0;
  timespec inicio{};
  clock_gettime(CLOCK_MONOTONIC, &inicio);
  size_t feito = 0;
  while (feito < bytes.size()) {
    size_t n = nsPorByte ? 1 : bytes.size() - feito;
    ssize_t r = write(fd_, bytes.data() + feito, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 2000) > 0) continue;
        RegistraEvento("ERRO escrita parada: o outro lado nao le");
        return;
      }
      RegistraEvento(std::string("ERRO escrita: ") + std::strerror(errno));
      falhou_ = true;
      return;
    }
    feito += static_cast<size_t>(r);
    if (nsPorByte) {
      int64_t alvo = static_cast<int64_t>(feito) * nsPorByte;
      timespec t = inicio;
      t.tv_sec += static_cast<time_t>(alvo / 1'000'000'000);
      t.tv_nsec += static_cast<long>(alvo % 1'000'000'000);
      if (t.tv_nsec >= 1'000'000'000) {
        t.tv_sec += 1;
        t.tv_nsec -= 1'000'000'000;
      }
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
      }
    }
  }
}

void Motor::EnviaControle(unsigned char c) {
  const char* nome = c == ACK ? "ACK" : c == NAK ? "NAK" : c == EOT ? "EOT" : "CTRL";
  std::string b(1, static_cast<char>(c));
  Registra("TX", nome, b);
  Escreve(b);
}

void Motor::SorteiaFalha() {
  if (cfg_.aleatorioPct <= 0) return;
  auto proximo = [this] {
    // xorshift32: a fixed sequence for a given seed.
    sorteio_ ^= sorteio_ << 13;
    sorteio_ ^= sorteio_ >> 17;
    sorteio_ ^= sorteio_ << 5;
    return sorteio_;
  };
  if (static_cast<int>(proximo() % 100) >= cfg_.aleatorioPct) return;
  Falha* falhas[] = {&nak_, &crcErrado_, &lixo_, &corta_};
  Falha& f = *falhas[proximo() % 4];
  ++f.restantes;
  ++f.total;
}

bool Motor::Aplica(Falha& f, const char* nome, const std::string& comando) {
  if (f.restantes <= 0 || (!f.comando.empty() && f.comando != comando)) return false;
  --f.restantes;
  RegistraEvento(std::string("FALHA ") + nome + " " + std::to_string(f.total - f.restantes) + "/" +
                 std::to_string(f.total));
  return true;
}

void Motor::Agenda(Saida s, int64_t atrasoMs) {
  s.quandoMs = Agora() + atrasoMs + cfg_.lentoMs;
  if (!saidas_.empty()) s.quandoMs = std::max(s.quandoMs, saidas_.back().quandoMs);
  saidas_.push_back(std::move(s));
}

void Motor::AgendaResposta(const std::string& codigo, int status, const std::vector<std::string>& campos,
                           int operacao, int64_t atrasoMs) {
  Saida s;
  s.bytes = MontaResposta(codigo, status, campos);
  s.operacao = operacao;
  s.resposta = true;
  s.comando = pend_.comando.empty() ? codigo : pend_.comando;
  Agenda(std::move(s), atrasoMs);
}

void Motor::AgendaSC5000(unsigned char inicio, const std::string& texto, unsigned char fim, int operacao,
                         int64_t atrasoMs) {
  Saida s;
  s.bytes = MontaQuadroSC5000(inicio, texto, fim);
  s.tipo = "SC5000";
  s.operacao = operacao;
  s.resposta = true;
  s.comando = texto.substr(0, 2);
  Agenda(std::move(s), atrasoMs);
}

void Motor::EnviaSaida(const Saida& s) {
  if (!s.resposta) {
    Registra("TX", s.tipo, s.bytes);
    Escreve(s.bytes);
    return;
  }
  ultimaResposta_ = s;
  temUltima_ = true;
  std::string b = s.bytes;
  const char* tipo = s.tipo;
  if (Aplica(crcErrado_, "crc-errado", s.comando)) b.back() = static_cast<char>(b.back() ^ 0x5A);
  if (Aplica(lixo_, "lixo", s.comando)) {
    Registra("TX", "LIXO", kLixo);
    Escreve(kLixo);
  }
  if (Aplica(corta_, "corta", s.comando)) {
    b.resize(b.size() / 2);
    tipo = "CORTADO";
  }
  Registra("TX", tipo, b);
  Escreve(b);
}

void Motor::Cancela() {
  saidas_.erase(std::remove_if(saidas_.begin(), saidas_.end(), [](const Saida& s) { return s.operacao != 0; }),
                saidas_.end());
  pend_ = Pendente{};
}

void Motor::Notifica(const std::string& texto) { AgendaResposta("NTM", 0, {texto}, pend_.id, 0); }

void Motor::IniciaEspera(Espera e, const std::string& comando, const std::vector<std::string>& campos) {
  pend_ = Pendente{};
  pend_.espera = e;
  pend_.id = proximoId_++;
  pend_.comando = comando;
  pend_.campos = campos;
  ProximaAcao();
}

void Motor::ProximaAcao() {
  pend_.prazoMs = -1;
  if (pend_.espera == Espera::Generico) {
    pend_.prazoMs = Agora() + cfg_.atrasoTeclaMs;
    return;
  }
  const ItemOperador* item = nullptr;
  if (proximaTecla_ < cfg_.teclas.size()) item = &cfg_.teclas[proximaTecla_++];
  else if (!cfg_.interativo && cfg_.temTeclaPadrao) item = &cfg_.teclaPadrao;
  if (!item) {  // the keyboard, or nobody, will act
    if (tela_ && cfg_.interativo) {
      const char* o = "a key";
      switch (pend_.espera) {
        case Espera::Senha:
        case Espera::SenhaSC:
        case Espera::Chip: o = "the PIN: Enter types it, Esc cancels"; break;
        case Espera::Cartao:
        case Espera::CartaoSC: o = "a card: c swipes, i inserts a chip, Esc cancels"; break;
        case Espera::Evento: o = "a key or a card (c, i, r)"; break;
        case Espera::RetiraCartao: o = "card removal: r or Enter, Esc cancels"; break;
        default: break;
      }
      std::fprintf(tela_, "[%s] waiting for %s\n", pend_.comando.c_str(), o);
      std::fflush(tela_);
    }
    return;
  }
  pend_.item = *item;
  pend_.prazoMs = Agora() + (item->atrasoMs >= 0 ? item->atrasoMs : cfg_.atrasoTeclaMs);
}

void Motor::Resolve(const ItemOperador& item) {
  const bool tecla = item.acao == AcaoOperador::Tecla;
  const bool ok = tecla && item.codigo == 0;
  const bool anula = tecla && item.codigo == 13;
  const bool cartao = ok || item.acao == AcaoOperador::CartaoMagnetico || item.acao == AcaoOperador::CartaoChip;
  if (pend_.espera != Espera::Generico) RegistraEvento("OPERADOR " + item.nome);
  const int id = pend_.id;
  auto termina = [&](int status, std::vector<std::string> campos) {
    AgendaResposta(pend_.comando, status, campos, id, 0);
    pend_ = Pendente{};
  };
  auto campo = [&](size_t i) { return i < pend_.campos.size() ? pend_.campos[i] : std::string(); };
  switch (pend_.espera) {
    case Espera::Nenhuma: return;
    case Espera::Tecla:
      if (tecla) return termina(item.codigo, {});
      break;
    case Espera::Senha:
      if (anula) return termina(13, {});
      if (ok) {
        std::string saida;
        int st = RespostaGpn(cfg_, campo(0), saida);
        return termina(st, st == 0 ? std::vector<std::string>{saida} : std::vector<std::string>{});
      }
      break;
    case Espera::Cartao:
      if (anula) return termina(13, {});
      if (cartao) {
        bool chip = item.acao == AcaoOperador::CartaoChip || (ok && cfg_.cartaoChip);
        return termina(0, {RespostaGcr(cfg_, chip)});
      }
      break;
    case Espera::Evento: return termina(0, {EventoCke(cfg_, item)});
    case Espera::Chip:
      if (anula) return termina(13, {});
      if (ok) return termina(0, {RespostaGoc(cfg_, campo(1), campo(2))});
      break;
    case Espera::RetiraCartao:
      if (anula) return termina(13, {});
      if (ok || item.acao == AcaoOperador::RetiraCartao) return termina(0, {});
      break;
    case Espera::Generico: {
      std::string c = campo(0);
      return termina(0, {c.size() > 5 ? c.substr(5) : std::string()});
    }
    case Espera::SenhaSC:
    case Espera::CartaoSC:
      if (anula) {
        Saida s;
        s.bytes = std::string(1, static_cast<char>(EOT));
        s.tipo = "EOT";
        s.operacao = id;
        Agenda(std::move(s), 0);
        pend_ = Pendente{};
        return;
      }
      if (pend_.espera == Espera::SenhaSC && ok) {
        std::string chave, mestra = indiceSC5000_ >= 0 ? cfg_.chaves[indiceSC5000_] : std::string();
        std::string pb;
        if (!mestra.empty()) {
          std::string cifrada;
          if (pend_.chaveTrabalho.empty()) chave = mestra;
          else if (HexParaBytes(pend_.chaveTrabalho, cifrada)) CifraDes(mestra, cifrada, false, chave);
          if (!chave.empty()) pb = PinBlockCifrado(cfg_.senha, pend_.pan, chave);
          Limpa(cifrada);
        }
        Limpa(chave);
        Limpa(mestra);
        if (pb.empty()) pb = std::string(16, '0');
        char tam[4];
        std::snprintf(tam, sizeof tam, "%02zu", cfg_.senha.size() % 100);
        AgendaSC5000(STX, std::string("7100") + tam + "00" + pb, ETX, id, 0);
        pend_ = Pendente{};
        return;
      }
      if (pend_.espera == Espera::CartaoSC && cartao) {
        const std::string fs(1, static_cast<char>(FS));
        AgendaSC5000(STX, "810" + Trilha2(cfg_) + fs + Trilha1(cfg_) + fs, ETX, id, 0);
        pend_ = Pendente{};
        return;
      }
      break;
  }
  // The action does not fit what the pinpad waits for: it goes on waiting.
  ProximaAcao();
}

void Motor::TrataEvento(const Evento& ev) {
  switch (ev.tipo) {
    case TipoEvento::Nada: return;
    case TipoEvento::Quadro: return TrataQuadro(ev.bytes);
    case TipoEvento::SC5000: return TrataSC5000(ev.bytes);
    case TipoEvento::QuadroRuim:
    case TipoEvento::SC5000Ruim:
      Registra("RX", "RUIM", ev.bytes);
      return EnviaControle(NAK);
    case TipoEvento::Lixo: return Registra("RX", "LIXO", ev.bytes);
    case TipoEvento::Controle: {
      const unsigned char c = static_cast<unsigned char>(ev.bytes[0]);
      Registra("RX", c == ACK ? "ACK" : c == NAK ? "NAK" : c == EOT ? "EOT" : "CAN", ev.bytes);
      if (c == NAK && temUltima_) EnviaSaida(ultimaResposta_);
      if (c == CAN) {
        Cancela();
        EnviaControle(EOT);
      }
      return;
    }
  }
}

bool Motor::AceitaQuadro(const char* tipo, const std::string& q, const std::string& codigo) {
  Registra("RX", tipo, q);
  ++quadros_;
  if (cfg_.fechaNoQuadro == quadros_) {
    RegistraEvento("FALHA fecha 1/1");
    close(fd_);
    fechado_ = true;
    return false;
  }
  SorteiaFalha();
  if (cfg_.someNoQuadro == quadros_) {
    RegistraEvento("FALHA some 1/1");
    sumiu_ = true;
    return false;
  }
  if (Aplica(semAck_, "sem-ack", codigo)) return false;
  if (Aplica(nak_, "nak", codigo)) {
    EnviaControle(NAK);
    return false;
  }
  EnviaControle(ACK);
  if (Aplica(mudo_, "mudo", codigo)) {
    Cancela();
    return false;
  }
  return true;
}

void Motor::TrataQuadro(const std::string& q) {
  const std::string codigo = q.substr(1, 3);
  if (!AceitaQuadro("QUADRO", q, codigo)) return;
  std::vector<std::string> campos;
  // Text between the code and ETB: the fields.
  if (!SeparaCampos(std::string_view(q).substr(4, q.size() - 7), campos)) {
    Cancela();
    pend_.comando = codigo;
    AgendaResposta(codigo, 11, {}, 0, 0);
    pend_ = Pendente{};
    return;
  }
  TrataComando(codigo, campos);
}

void Motor::TrataComando(const std::string& codigo, const std::vector<std::string>& campos) {
  const std::string c0 = campos.empty() ? std::string() : campos[0];
  // "GCR" without fields resumes the card wait under way.
  if (codigo == "GCR" && campos.empty() && pend_.espera == Espera::Cartao) return;
  Cancela();  // a new command ends whatever was pending
  pend_.comando = codigo;
  auto responde = [&](int status, std::vector<std::string> saida = {}) {
    AgendaResposta(codigo, status, saida, 0, 0);
    pend_ = Pendente{};
  };
  std::string linhas[2];
  if (codigo == "OPN" || codigo == "CNG" || codigo == "G42") return responde(0);
  if (codigo == "DSP" || codigo == "CLO") {
    // The closing message stays on the display, blank or not.
    TextoParaDisplay(c0, false, linhas);
    MostraDisplay(linhas[0], linhas[1]);
    return responde(0);
  }
  if (codigo == "DEX") {
    int n = Numero(c0, 0, 3);
    if (n < 0) return responde(11);
    TextoParaDisplay(std::string_view(c0).substr(3, static_cast<size_t>(n)), true, linhas);
    MostraDisplay(linhas[0], linhas[1]);
    return responde(0);
  }
  if (codigo == "GIN") return responde(0, {BlocoInformacao(cfg_)});
  if (codigo == "ENB" || codigo == "GDU" || codigo == "CHP") {
    std::string saida;
    int st = codigo == "ENB" ? RespostaEnb(cfg_, c0, saida)
             : codigo == "GDU" ? RespostaGdu(cfg_, c0, saida)
                               : RespostaChp(c0, saida);
    return responde(st, st == 0 ? std::vector<std::string>{saida} : std::vector<std::string>{});
  }
  if (codigo == "GKY") return IniciaEspera(Espera::Tecla, codigo, campos);
  if (codigo == "CKE") return IniciaEspera(Espera::Evento, codigo, campos);
  if (codigo == "GEN") return IniciaEspera(Espera::Generico, codigo, campos);
  if (codigo == "GPN") {
    // The layout is checked now; the key only when the PIN is there to encrypt.
    std::string msg;
    if (!PedidoGpnValido(c0, msg)) return responde(11);
    TextoParaDisplay(msg.empty() ? "DIGITE A SENHA" : msg, false, linhas);
    MostraDisplay(linhas[0], linhas[1]);
    IniciaEspera(Espera::Senha, codigo, campos);
    return Notifica("DIGITE A SENHA");
  }
  if (codigo == "GCR") {
    MostraDisplay("INSIRA OU PASSE ", "O CARTAO        ");
    IniciaEspera(Espera::Cartao, codigo, campos);
    return Notifica("INSIRA OU PASSE O CARTAO");
  }
  if (codigo == "GOC") {
    if (campos.size() < 3) return responde(11);
    MostraDisplay("DIGITE A SENHA  ", "                ");
    IniciaEspera(Espera::Chip, codigo, campos);
    return Notifica("DIGITE A SENHA");
  }
  if (codigo == "RMC") {
    TextoParaDisplay(c0, false, linhas);
    MostraDisplay(linhas[0], linhas[1]);
    std::string msg = SemBrancosFinais(c0);
    IniciaEspera(Espera::RetiraCartao, codigo, campos);
    return Notifica(msg.empty() ? "RETIRE O CARTAO" : msg);
  }
  if (codigo == "FNC") {
    if (campos.size() < 2) return responde(11);
    return responde(0, {RespostaFnc(cfg_, campos[1])});
  }
  if (codigo == "TLI") {
    if (c0.size() != 12 || Numero(c0, 0, 2) < 0) return responde(11);
    tabelaAberta_ = c0;
    return responde(0);
  }
  if (codigo == "TLR") return responde(tabelaAberta_.empty() ? 21 : 0);
  if (codigo == "TLE") {
    if (tabelaAberta_.empty()) return responde(21);
    carimbos_[Numero(tabelaAberta_, 0, 2)] = tabelaAberta_.substr(2);
    tabelaAberta_.clear();
    return responde(0);
  }
  if (codigo == "GTS") {
    int i = Numero(c0, 0, 2);
    if (c0.size() != 2 || i < 0) return responde(11);
    return responde(0, {carimbos_[i].empty() ? std::string(10, '0') : carimbos_[i]});
  }
  if (codigo == "DWK") {
    if (!c0.empty() && c0[0] == '1') return responde(0);
    if (!c0.empty() && c0[0] == '2') {
      // A stand-in for the session key under the given public key: 256 hex digits
      // and an 8-digit check value.
      std::string s;
      for (int i = 0; i < 264; ++i) s.push_back("0123456789ABCDEF"[(i * 7 + 3) % 16]);
      return responde(0, {s});
    }
    return responde(11);
  }
  responde(10);  // a code this pinpad does not know
}

void Motor::TrataSC5000(const std::string& q) {
  const std::string texto = q.substr(1, q.size() - 3);
  if (!AceitaQuadro("SC5000", q, texto.substr(0, 2))) return;
  TrataTextoSC5000(texto, static_cast<unsigned char>(q[0]));
}

void Motor::TrataTextoSC5000(const std::string& texto, unsigned char inicio) {
  const std::string fs(1, static_cast<char>(FS));
  auto eot = [&] {
    Saida s;
    s.bytes = std::string(1, static_cast<char>(EOT));
    s.tipo = "EOT";
    Agenda(std::move(s), 0);
  };
  if (texto.rfind("08", 0) == 0) {
    // Master key selection: acknowledged, then ended with EOT.
    indiceSC5000_ = Numero(texto, 3, 3);
    if (indiceSC5000_ > 99) indiceSC5000_ = -1;
    return eot();
  }
  if (texto == "06") return AgendaSC5000(inicio, "06" + cfg_.serie.substr(0, 16), inicio == SI ? SO : ETX, 0, 0);
  if (texto.rfind("72", 0) == 0) {
    Cancela();
    return AgendaSC5000(inicio, "72", inicio == SI ? SO : ETX, 0, 0);
  }
  if (texto.rfind("Z62.", 0) == 0) {
    Cancela();
    std::string chave;
    size_t p = 4;
    if (texto.compare(p, 3, "016") == 0) {
      chave = texto.substr(p + 3, 16);
      p += 19;
    }
    if (p >= texto.size() || texto[p] != fs[0]) return eot();
    std::string pan = texto.substr(p + 1, 16);
    pan.erase(0, pan.find_first_not_of(' '));
    IniciaEspera(Espera::SenhaSC, "Z62", {});
    pend_.pan = pan;
    pend_.chaveTrabalho = chave;
    MostraDisplay("Senha           ", "                ");
    return;
  }
  if (texto.rfind("Q42", 0) == 0) {
    Cancela();
    indiceSC5000_ = Numero(texto, 3, 3);
    if (indiceSC5000_ > 99) indiceSC5000_ = -1;
    IniciaEspera(Espera::CartaoSC, "Q42", {});
    return;
  }
  eot();
}

void Motor::TrataTeclado(const char* dados, size_t n, bool escExpirou) {
  struct Seq {
    const char* bytes;
    int codigo;
  };
  static constexpr Seq kSeqs[] = {
      {"\x1bOP", 4},    {"\x1bOQ", 5},    {"\x1bOR", 6},    {"\x1bOS", 7},    {"\x1b[11~", 4},
      {"\x1b[12~", 5},  {"\x1b[13~", 6},  {"\x1b[14~", 7},  {"\x1b[[A", 4},   {"\x1b[[B", 5},
      {"\x1b[[C", 6},   {"\x1b[[D", 7},
  };
  teclado_.append(dados, n);
  escPrazoMs_ = -1;
  while (!teclado_.empty()) {
    ItemOperador item;
    size_t usados = 1;
    bool reconhecido = true;
    const char c = teclado_[0];
    if (c == '\x1b') {
      bool prefixo = false, achou = false;
      for (const auto& s : kSeqs) {
        std::string_view sv(s.bytes);
        if (teclado_.size() >= sv.size() && teclado_.compare(0, sv.size(), sv) == 0) {
          item.codigo = s.codigo;
          usados = sv.size();
          achou = true;
          break;
        }
        if (sv.compare(0, teclado_.size(), teclado_) == 0) prefixo = true;
      }
      if (!achou && prefixo && !escExpirou) {
        escPrazoMs_ = Agora() + 50;  // wait for the rest of a function key
        return;
      }
      if (!achou) item.codigo = 13;  // Esc alone: cancel
    } else if (c == '\r' || c == '\n') {
      item.codigo = 0;
    } else if (c == 0x7F || c == 0x08) {
      item.codigo = 8;
    } else if (c == 'c' || c == 'C') {
      item.acao = AcaoOperador::CartaoMagnetico;
      item.nome = "CARTAO";
    } else if (c == 'i' || c == 'I') {
      item.acao = AcaoOperador::CartaoChip;
      item.nome = "CHIP";
    } else if (c == 'r' || c == 'R') {
      item.acao = AcaoOperador::RetiraCartao;
      item.nome = "RETIRA";
    } else {
      reconhecido = false;
    }
    teclado_.erase(0, usados);
    if (!reconhecido) continue;
    if (item.nome.empty()) item.nome = NomeTecla(item.codigo);
    if (pend_.espera == Espera::Nenhuma || pend_.espera == Espera::Generico) {
      RegistraEvento("OPERADOR " + item.nome + " (nada esperava)");
      continue;
    }
    Resolve(item);
  }
}

int Motor::Executa(int fdParada) {
  RegistraEvento("INICIO");
  if (tela_) MostraDisplay(display_[0], display_[1]);
  char buf[4096];
  while (!fechado_ && !falhou_ && !sumiu_) {
    const int64_t agora = Agora();
    int64_t prazo = agora + 1000;
    if (!saidas_.empty()) prazo = std::min(prazo, saidas_.front().quandoMs);
    if (pend_.espera != Espera::Nenhuma && pend_.prazoMs >= 0) prazo = std::min(prazo, pend_.prazoMs);
    if (escPrazoMs_ >= 0) prazo = std::min(prazo, escPrazoMs_);
    if (!rx_.Vazio()) prazo = std::min(prazo, ultimoRxMs_ + kSilencioMs);
    pollfd fds[3] = {{fd_, POLLIN, 0}, {fdParada, POLLIN, 0}, {fdTeclado_, POLLIN, 0}};
    int r = poll(fds, fdTeclado_ >= 0 ? 3 : 2, static_cast<int>(std::max<int64_t>(0, prazo - agora)));
    if (r < 0 && errno != EINTR) {
      RegistraEvento(std::string("ERRO poll: ") + std::strerror(errno));
      return 1;
    }
    if (r > 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
      char c = 0;
      if (read(fdParada, &c, 1) == 1 && c == kByteSome) {
        RegistraEvento("FALHA some (sinal)");
        sumiu_ = true;
        continue;
      }
      break;
    }
    if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        ultimoRxMs_ = Agora();
        rx_.Acrescenta(buf, static_cast<size_t>(n));
        for (Evento ev = rx_.Proximo(); ev.tipo != TipoEvento::Nada && !fechado_ && !sumiu_; ev = rx_.Proximo())
          TrataEvento(ev);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // With our own handle on the terminal side open this does not happen
        // unless the device itself went away.
        RegistraEvento("ERRO leitura do dispositivo");
        return 1;
      }
    }
    if (r > 0 && fdTeclado_ >= 0 && (fds[2].revents & POLLIN)) {
      ssize_t n = read(fdTeclado_, buf, sizeof buf);
      if (n > 0) TrataTeclado(buf, static_cast<size_t>(n), false);
      else fdTeclado_ = -1;  // end of input: the keyboard is gone
    }
    const int64_t depois = Agora();
    if (escPrazoMs_ >= 0 && depois >= escPrazoMs_) TrataTeclado(nullptr, 0, true);
    if (!rx_.Vazio() && depois - ultimoRxMs_ >= kSilencioMs) TrataEvento(rx_.Abandona());
    if (pend_.espera != Espera::Nenhuma && pend_.prazoMs >= 0 && depois >= pend_.prazoMs) {
      ItemOperador item = pend_.item;
      Resolve(item);
    }
    while (!saidas_.empty() && saidas_.front().quandoMs <= Agora() && !fechado_ && !sumiu_) {
      Saida s = std::move(saidas_.front());
      saidas_.pop_front();
      EnviaSaida(s);
    }
  }
  if (sumiu_) return kSumiu;
  RegistraEvento("FIM");
  return falhou_ ? 1 : 0;
}

}  // namespace sim
