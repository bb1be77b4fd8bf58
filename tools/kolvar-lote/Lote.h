#pragma once
// kolvar-lote's record of each port: what Kolvar's console lines say while it
// runs, the verdict once it ends, and the table, JSON and JUnit forms of the
// whole bench. Pure functions of Kolvar's output and exit status.
#include <string>
#include <string_view>
#include <vector>

namespace lote {

// Where a port's time goes, as Kolvar's console lines mark it: the opening
// lasts from Kolvar's start to the "PinPad:" line (the port opened and the
// information block read), the information step from there to the first
// prompt, the operator's confirmation from "Confirme" to "Processando", the
// encryption from there to "Finalize", and the final confirmation from there
// on (a second "Processando" starts another encryption step).
enum class Fase { Abertura, Informacao, Confirmacao, Criptografia, Finalizacao };
inline constexpr int NumFases = 5;
struct Marca {
  Fase fase;
  double segundos;  // since Kolvar started
};

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
  bool interrompida = false;       // the bench was interrupted before this port's Kolvar ended
  // Seen in the console so far.
  std::string compativel;  // "3DES" or "DES" of the first COMPATIVEL line
  bool naoCompativel = false, naoSeAplica = false, cancelado = false;
  int erro = -1;  // code of the first "Erro" line
  int erroUltimo = -1;  // code of the latest "Erro" line (the one a NAO COMPATIVEL line follows)
  int erroResultado = -1;  // code of the "Erro" line just before the NAO COMPATIVEL line
  std::vector<Marca> marcas = {{Fase::Abertura, 0}};  // phase changes, in order
  std::vector<std::string> visor;  // texts Kolvar showed on the display, in order
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
inline constexpr char Interrompido[] = "INTERROMPIDO";

// A code that says the pinpad could not be talked to (port, link, malformed
// answer, time-out) rather than that it answered and refused.
bool FalhaDeComunicacao(int codigo);

// Takes one console line of Kolvar (without its end of line), read `segundos`
// after Kolvar started. Returns true when the port's state changed.
bool LinhaKolvar(Porta& p, std::string_view linha, double segundos = 0);

// Sets the verdict once Kolvar ended with `status` (-1 when it was killed).
void Conclui(Porta& p, int status);

// A pass: compatible, or not applicable when that is accepted.
bool Aprovada(const Porta& p, bool aceitaNaoAplica);
// A failure of the run itself rather than of the pinpad (JUnit <error>).
bool ErroDeExecucao(const Porta& p);

// The table, UTF-8, its columns lined up by the characters shown; the
// verdicts in colour when `cores`.
std::string Tabela(const std::vector<Porta>& portas, bool cores = false);
// Version of the JSON record's layout (its member "versao_formato").
inline constexpr int VersaoFormatoJson = 1;
std::string Json(const std::vector<Porta>& portas, const std::string& pasta, const std::string& inicio,
                 double segundos, bool aceitaNaoAplica);
std::string JUnit(const std::vector<Porta>& portas, const std::string& inicio, double segundos,
                  bool aceitaNaoAplica);

// Kolvar's console (Latin-1, with the port path as the user gave it) as UTF-8.
std::string ConsoleUtf8(const Porta& p);

// Console file name for the n-th port (1-based): "01-ttyACM0.txt".
std::string NomeArquivo(int n, const std::string& porta);

}  // namespace lote
