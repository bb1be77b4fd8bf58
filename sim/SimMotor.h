#pragma once
// The simulated pinpad's event loop: reads what the library writes on the device,
// acknowledges and answers frames, plays the operator, injects the configured
// faults and logs every frame.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/SimProtocolo.h"

namespace sim {

class Motor {
 public:
  // fdDispositivo: the pty master (owned by the caller until Executa closes it on
  // the --fecha fault). fdTeclado: the operator's terminal, or -1. log may be null.
  Motor(const ConfigSim& cfg, int fdDispositivo, int fdTeclado, FILE* log, FILE* tela);
  // Runs until fdParada becomes readable (signal) or the device goes away.
  // Returns 0 on a clean stop, 1 when the device failed, kSumiu when the device
  // is to vanish (the --some fault, or the byte kByteSome on fdParada): the
  // caller takes it away and brings up a new one.
  static constexpr int kSumiu = 2;
  static constexpr char kByteSome = 'S';
  int Executa(int fdParada);
  bool DispositivoFechado() const { return fechado_; }
  // Where the --aleatorio draw stands, for a device that comes back to go on from.
  unsigned Sorteio() const { return sorteio_; }

 private:
  enum class Espera { Nenhuma, Tecla, Senha, Cartao, Evento, Chip, RetiraCartao, Generico, SenhaSC, CartaoSC };
  struct Saida {
    int64_t quandoMs = 0;
    std::string bytes;
    const char* tipo = "QUADRO";
    int operacao = 0;       // pending operation it belongs to (cancelled with it), 0: none
    bool resposta = false;  // answers get the fault treatment and are kept for resends
    std::string comando;    // command it answers, for fault filters
  };
  struct Pendente {
    Espera espera = Espera::Nenhuma;
    int id = 0;
    std::string comando;
    std::vector<std::string> campos;
    int64_t prazoMs = -1;  // when the operator acts; -1: waiting for the keyboard or forever
    ItemOperador item;
    std::string pan, chaveTrabalho;  // SC5000 PIN entry
  };

  int64_t Agora() const;
  void Registra(const char* dir, const char* tipo, const std::string& bytes);
  void RegistraEvento(const std::string& texto);
  void MostraDisplay(const std::string& l1, const std::string& l2);
  void Escreve(const std::string& bytes);
  void EnviaControle(unsigned char c);
  void Agenda(Saida s, int64_t atrasoMs);
  void AgendaResposta(const std::string& codigo, int status, const std::vector<std::string>& campos,
                      int operacao, int64_t atrasoMs);
  void AgendaSC5000(unsigned char inicio, const std::string& texto, unsigned char fim, int operacao,
                    int64_t atrasoMs);
  void EnviaSaida(const Saida& s);
  bool Aplica(Falha& f, const char* nome, const std::string& comando);
  // --aleatorio: arms one of the cheap faults for this frame or its answer.
  void SorteiaFalha();
  void TrataEvento(const Evento& ev);
  // Logs and counts a frame, applies the frame faults and acknowledges it; false
  // when the frame is not to be answered.
  bool AceitaQuadro(const char* tipo, const std::string& quadro, const std::string& codigo);
  void TrataQuadro(const std::string& quadro);
  void TrataSC5000(const std::string& quadro);
  void TrataComando(const std::string& codigo, const std::vector<std::string>& campos);
  void TrataTextoSC5000(const std::string& texto, unsigned char inicio);
  void Cancela();
  void IniciaEspera(Espera e, const std::string& comando, const std::vector<std::string>& campos);
  void ProximaAcao();
  void Resolve(const ItemOperador& item);
  void Notifica(const std::string& texto);
  void TrataTeclado(const char* dados, size_t n, bool escExpirou);

  const ConfigSim& cfg_;
  int fd_;
  int fdTeclado_;
  FILE* log_;
  FILE* tela_;
  Recebedor rx_;
  int64_t inicioMs_ = 0;
  int64_t ultimoRxMs_ = 0;
  std::deque<Saida> saidas_;
  Saida ultimaResposta_;
  bool temUltima_ = false;
  Pendente pend_;
  int proximoId_ = 1;
  size_t proximaTecla_ = 0;
  int quadros_ = 0;
  bool fechado_ = false;
  bool falhou_ = false;
  bool sumiu_ = false;
  uint32_t sorteio_ = 1;  // state of the --aleatorio draw
  std::string display_[2];
  Falha nak_, semAck_, crcErrado_, lixo_, corta_, mudo_;
  int indiceSC5000_ = -1;
  // Tables being loaded: acquirer index and time stamp of the open load, and the
  // time stamps of finished loads.
  std::string tabelaAberta_;
  std::string carimbos_[100];
  std::string teclado_;
  int64_t escPrazoMs_ = -1;
};

}  // namespace sim
