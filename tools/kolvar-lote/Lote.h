#pragma once
// kolvar-lote's record of each port: what Kolvar's console lines say while it
// runs, the verdict once it ends, and the table, JSON and JUnit forms of the
// whole bench. Pure functions of Kolvar's output and exit status.
#include <string>
#include <string_view>
#include <vector>

namespace lote {

struct Porta {
  std::string porta;
  std::string arquivo;  // the console file's name inside the output folder
  std::string fabricante, modelo, serie, versao;
  std::string estado = "na fila";  // what the port is doing now
  std::string veredito;            // once it ended
  std::string console;             // Kolvar's whole output (standard output and error)
  int status = -1;                 // Kolvar's exit status; -1: not run or killed
  double segundos = 0;
  bool repetida = false;           // the same device was given before: not run
  bool naoTerminal = false;        // an existing path that cannot be a terminal: not run
  bool emUso = false;              // another program holds the port: not run
  int donoPid = 0;                 // its holder, when the lock table shows it (0: not shown)
  std::string donoPrograma;
  bool esgotada = false;           // killed at the time limit
  // Seen in the console so far.
  std::string compativel;  // "3DES" or "DES" of the first COMPATIVEL line
  bool naoCompativel = false, naoSeAplica = false, cancelado = false;
  int erro = -1;  // code of the first "Erro" line
};

// Verdicts.
inline constexpr char Compativel[] = "COMPATIVEL";
inline constexpr char NaoCompativel[] = "NAO COMPATIVEL";
inline constexpr char NaoSeAplica[] = "NAO SE APLICA";
inline constexpr char Cancelado[] = "CANCELADO";
inline constexpr char Erro[] = "ERRO";
inline constexpr char Repetida[] = "PORTA REPETIDA";
inline constexpr char NaoTerminal[] = "NAO E TERMINAL";
inline constexpr char EmUso[] = "EM USO";
inline constexpr char TempoEsgotado[] = "TEMPO ESGOTADO";
inline constexpr char Indefinido[] = "INDEFINIDO";

// Takes one console line of Kolvar (without its end of line). Returns true when
// the port's state changed.
bool LinhaKolvar(Porta& p, std::string_view linha);

// Sets the verdict once Kolvar ended with `status` (-1 when it was killed).
void Conclui(Porta& p, int status);

// A pass: compatible, or not applicable when that is accepted.
bool Aprovada(const Porta& p, bool aceitaNaoAplica);
// A failure of the run itself rather than of the pinpad (JUnit <error>).
bool ErroDeExecucao(const Porta& p);

std::string Tabela(const std::vector<Porta>& portas);
std::string Json(const std::vector<Porta>& portas, const std::string& pasta, const std::string& inicio,
                 double segundos, bool aceitaNaoAplica);
std::string JUnit(const std::vector<Porta>& portas, const std::string& inicio, double segundos,
                  bool aceitaNaoAplica);

// Console file name for the n-th port (1-based): "01-ttyACM0.txt".
std::string NomeArquivo(int n, const std::string& porta);

}  // namespace lote
