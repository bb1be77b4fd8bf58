#pragma once
// Configuration of the simulated pinpad: command-line flags and the optional
// profile file (one "option = value" per line, the option being the long flag
// without its dashes; [sections] and lines starting with '#' or ';' are ignored).
#include <array>
#include <string>
#include <vector>

namespace sim {

// An item of the operator's script: a key (its status code), or a card event.
enum class AcaoOperador { Tecla, CartaoMagnetico, CartaoChip, RetiraCartao };
struct ItemOperador {
  AcaoOperador acao = AcaoOperador::Tecla;
  int codigo = 0;      // status code of a key (0 OK, 4-7 F1-F4, 8 backspace, 13 cancel)
  int atrasoMs = -1;   // -1: the default delay
  std::string nome;    // as written, for the log
};

// A fault injected on the next N frames (only those of one command code when
// a code is given).
struct Falha {
  int restantes = 0;
  int total = 0;
  std::string comando;
};

struct ConfigSim {
  std::string link;
  std::string log;
  std::string versao = "1.06";
  std::string info;          // whole information block when given
  int tamInfo = -1;          // -1: the natural length of the block (100)
  std::string fabricante = "SIMPINPAD";
  std::string modelo = "SIM-16X2";
  std::string firmware = "SIMPINPAD 1.0";
  std::string serie = "SIM0000000000001";
  std::array<std::string, 100> chaves;  // master key bytes per index ("" = none)
  std::vector<ItemOperador> teclas;
  bool temTeclaPadrao = true;
  ItemOperador teclaPadrao;  // pressed when the script is exhausted
  int atrasoTeclaMs = 50;
  bool interativo = false;
  std::string senha = "1234";
  std::string pan = "4761739001010010";
  std::string nome = "CLIENTE/SIMULADO";
  std::string validade = "3112";  // YYMM
  std::string codigoServico = "201";
  bool cartaoChip = false;
  bool sc5000 = false;
  int baud = 0;              // 0: no pacing
  int lentoMs = 0;
  Falha nak, semAck, crcErrado, lixo, corta, mudo;
  int fechaNoQuadro = 0;     // close the device when this frame (1-based) arrives
  int someNoQuadro = 0;      // the device vanishes when this frame arrives, and comes back
  int voltaMs = 1000;        // after this long
  int aleatorioPct = 0;      // chance (%) that a frame draws a fault
  unsigned semente = 1;      // of that draw
};

// Fills cfg from argv (after the profile named by --perfil, if any). Returns 0 to
// go on, 1 when --help was shown (text in mensagem), 2 on an error (mensagem).
int InterpretaArgumentos(int argc, char** argv, ConfigSim& cfg, std::string& mensagem);
// Applies one option by its long name (without dashes); false when unknown or bad.
bool AplicaOpcao(ConfigSim& cfg, const std::string& nome, const std::string& valor, std::string& erro);
// Reads a profile file into cfg.
bool CarregaPerfil(ConfigSim& cfg, const std::string& caminho, std::string& erro);
// Parses "OK,F1:300,CARTAO" into items; false on an unknown name.
bool InterpretaTeclas(const std::string& lista, std::vector<ItemOperador>& itens, std::string& erro);
// Name of a key status code ("OK", "F1", ..., "CANCEL").
const char* NomeTecla(int codigo);
std::string TextoAjuda();

}  // namespace sim
