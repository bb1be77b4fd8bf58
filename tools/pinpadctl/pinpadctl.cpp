// pinpadctl: diagnoses and drives one pinpad from the shell, one operation a
// call, through the library's public interface only. Text for people, --json
// for scripts; the exit status is the return code of the operation that
// failed (0 when all went well). Every wait is bounded, Ctrl-C aborts the
// pending pinpad command and closes the port, and no card number, track or PIN
// block ever leaves the program whole.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "tools/SemExcecao.h"
#include "pinpad/pinpad.h"
#include "tool/TextoRetorno.h"
#include "tools/pinpadctl/Argumentos.h"
#include "tools/pinpadctl/Blocos.h"
#include "tools/pinpadctl/ComandoPortas.h"
#include "tools/pinpadctl/Cores.h"
#include "tools/pinpadctl/Json.h"
#include "tools/pinpadctl/Porta.h"
#include "tools/pinpadctl/Texto.h"

using namespace pinpadctl;

namespace {

constexpr int StatusUso = 255;         // bad command line, as Kolvar's
constexpr int StatusInterrompido = 130;  // Ctrl-C: 128 + SIGINT
// Version of the JSON object's layout: grows when a member changes meaning or
// goes away (new members do not change it).
constexpr int VersaoFormatoJson = 1;
// Length of the information block's fields (the layout LeInformacao reads).
constexpr size_t TamBlocoInformacao = 100;
// Working key sent with every encryption request (Kolvar's test vector): the
// pinpad decrypts it under the master key of the index.
constexpr char ChaveTrabalhoPadrao[] = "3F9A0C5E71B2D84A6E0F19C3B7D25A48";

volatile sig_atomic_t interrompido = 0;
void AoInterromper(int) { interrompido = 1; }

struct Ajuda {
  const char* comando;
  const char* uso;
  const char* texto;
  int minimo, maximo;    // arguments after PORTA COMANDO
  const char* opcoes;    // options of the command besides --json and --help
};

constexpr Ajuda Ajudas[] = {
    {"diagnostico", "diagnostico [--teclado] [--indices A-B] [--espera S]",
     "Explica por que a porta nao abre (dispositivo inexistente, sem permissao, ocupado, nao e\n"
     "terminal), confere se o pinpad responde, le o bloco de informacao campo a campo e diz se\n"
     "a versao pede o teste do Kolvar, le o carimbo de tempo, procura os indices de chave\n"
     "mestra que respondem ao comando de criptografia (0-99, ou A-B), mostra um texto no\n"
     "display e termina com um resumo. --teclado acrescenta o teste de tecla (pede operador).\n"
     "O texto de teste fica no display depois do fim.",
     0, 0, "--teclado --indices --espera"},
    {"info", "info [INDICE]",
     "Le o bloco de informacao (INDICE de dois digitos, 00 por padrao) e mostra os campos pelo\n"
     "nome. Um bloco com menos de 100 caracteres e uma falha (status 33).",
     0, 1, ""},
    {"mostra", "mostra TEXTO",
     "Mostra TEXTO no display de duas linhas de 16; '|' separa as linhas (\"LINHA 1|LINHA 2\").\n"
     "Sem '|', ate 32 caracteres, quebrados apos o 16o. O texto fica no display depois que a\n"
     "porta e fechada. Conta caracteres, nao bytes: acentos do Latin-1 (ISO-8859-1) sao\n"
     "aceitos, na codificacao do sistema (LANG); um caractere fora dele e recusado.",
     1, 1, ""},
    {"tecla", "tecla [--espera S]",
     "Espera uma tecla do pinpad (ate S segundos, 30 por padrao) e mostra qual. O status de saida\n"
     "e o codigo da tecla: 0 OK, 4-7 F1-F4, 8 BACKSP, 13 CANCEL; 12 quando o tempo se esgota.",
     0, 0, "--espera"},
    {"cifra", "cifra INDICE HEX [--des|--3des] [--chave-trabalho HEX32]",
     "Cifra o bloco HEX (16 digitos hexadecimais) com a chave mestra do INDICE (0-99): triplo\n"
     "DES e, se o pinpad recusar, DES simples (--des ou --3des fixam o modo).",
     2, 2, "--des --3des --chave-trabalho"},
    {"carimbo", "carimbo [INDICE]", "Le o carimbo de tempo das tabelas (INDICE de dois digitos, 00 por padrao).",
     0, 1, ""},
    {"evento", "evento [--espera S]",
     "Espera um evento do pinpad: tecla, cartao magnetico passado (so o numero mascarado) ou\n"
     "cartao com chip inserido ou retirado.",
     0, 0, "--espera"},
    {"remove", "remove [MENSAGEM] [--espera S]",
     "Pede a retirada do cartao (MENSAGEM no display, ate 32 caracteres, \"RETIRE O CARTAO\"\n"
     "por padrao) e espera.",
     0, 1, "--espera"},
    {"cartao", "cartao [--espera S]",
     "Le um cartao e mostra o numero mascarado (seis primeiros e quatro ultimos digitos), a\n"
     "validade e o nome do portador. Nunca mostra trilhas nem o numero inteiro.",
     0, 0, "--espera"},
};

constexpr char UsoGeral[] = "Uso: pinpadctl [--json] PORTA COMANDO [ARGUMENTOS]";

void AjudaGeral(FILE* f) {
  std::fprintf(f,
               "%s\n"
               "     pinpadctl [--json] portas [--sonda] [--espera S] [DISPOSITIVO...]\n"
               "     pinpadctl [COMANDO] --help\n"
               "     pinpadctl --version\n\n"
               "Diagnostica e opera um pinpad na porta serial PORTA (ex.: /dev/ttyACM0).\n\n"
               "Comandos:\n",
               UsoGeral);
  for (const auto& a : Ajudas) std::fprintf(f, "  %s\n", a.uso);
  std::fprintf(f,
               "  portas [--sonda] [DISPOSITIVO...]   sem PORTA: lista as portas seriais e quem as\n"
               "        usa; --sonda acha os pinpads ('pinpadctl portas --help')\n"
               "\nOpcoes:\n"
               "  --json        resultado em JSON (um objeto, UTF-8, com \"versao_formato\") na saida\n"
               "                padrao; um erro tambem sai assim, alem da linha na saida de erro\n"
               "  --espera S    limite, em segundos (padrao 30), da espera pelo operador ou pelo\n"
               "                cartao em tecla, evento, remove, cartao e no teste de tecla do\n"
               "                diagnostico. Nao limita os comandos de resposta imediata (abertura,\n"
               "                informacao, display, cifra, carimbo), que a biblioteca nao deixa\n"
               "                interromper: um pinpad que para de responder segura cada um pelos\n"
               "                limites do protocolo, cerca de 6 s sem confirmar o comando e cerca\n"
               "                de 11 s quando confirma e nao responde\n"
               "  --help        esta ajuda; 'pinpadctl COMANDO --help' explica o comando\n"
               "  --version     a versao do programa\n\n"
               "Os erros vao para a saida de erro. Cores (OK, FALHA) so num terminal e sem NO_COLOR.\n\n"
               "Status de saida: o codigo de retorno da operacao que falhou (0 quando tudo deu\n"
               "certo), impresso com o seu texto; 130 quando interrompido (Ctrl-C), depois de\n"
               "abortar o comando pendente e fechar a porta; 255 para linha de comando invalida.\n");
}

const Ajuda* AjudaDe(const std::string& comando) {
  for (const auto& a : Ajudas)
    if (comando == a.comando) return &a;
  return nullptr;
}

struct Opcoes {
  bool json = false;
  bool ajuda = false;
  bool versao = false;
  double espera = 30;
  bool teclado = false;
  int indiceDe = 0, indiceAte = 99;
  int modo = -1;  // -1: triple DES, then single DES; 0 DES; 1 triple DES
  std::string chaveTrabalho = ChaveTrabalhoPadrao;
  std::vector<std::string> posicionais;
  std::vector<std::string> dadas;  // options given, checked against the command's
};

bool Hexadecimal(std::string& s, size_t tamanho) {
  if (s.size() != tamanho) return false;
  for (auto& c : s) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 0x20);
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Reads the options anywhere on the line; the rest are PORTA COMANDO ARGS.
// After "--" everything is an argument (a text that starts with '-').
bool LeOpcoes(int argc, char** argv, Opcoes& o, std::string& erro) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto valor = [&](std::string& v) {
      if (i + 1 >= argc) {
        erro = "falta o valor de " + a;
        return false;
      }
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--") {
      for (++i; i < argc; ++i) o.posicionais.push_back(argv[i]);
      break;
    }
    if (a.size() > 1 && a[0] == '-') o.dadas.push_back(a);
    if (a == "--json") {
      o.json = true;
    } else if (a == "--help" || a == "-h") {
      o.ajuda = true;
    } else if (a == "--version") {
      o.versao = true;
    } else if (a == "--teclado") {
      o.teclado = true;
    } else if (a == "--des") {
      o.modo = 0;
    } else if (a == "--3des") {
      o.modo = 1;
    } else if (a == "--espera") {
      if (!valor(v)) return false;
      if (!SegundosEstritos(v, 86400, o.espera)) {
        erro = "--espera pede segundos acima de zero, ate 86400 (ex.: 30 ou 0.5), e nao \"" + TextoUsuarioParaUtf8(v) + "\"";
        return false;
      }
    } else if (a == "--indices") {
      if (!valor(v)) return false;
      if (!FaixaEstrita(v, 0, 99, o.indiceDe, o.indiceAte)) {
        erro = "--indices pede A-B (ou A) com 0 <= A <= B <= 99, e nao \"" + TextoUsuarioParaUtf8(v) + "\"";
        return false;
      }
    } else if (a == "--chave-trabalho") {
      if (!valor(v)) return false;
      if (!Hexadecimal(v, 32)) {
        erro = "--chave-trabalho pede 32 digitos hexadecimais";
        return false;
      }
      o.chaveTrabalho = v;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      erro = "opcao desconhecida: " + a;
      return false;
    } else {
      o.posicionais.push_back(a);
    }
  }
  return true;
}

// ---- Output -----------------------------------------------------------------

struct Contexto {
  Opcoes op;
  std::string porta, comando;  // as given (the path is opened as its bytes)
  std::string portaUtf8;       // the port for texts and JSON
  ObjetoJson json;
  bool aberto = false;         // PP_Open succeeded: PP_Close before leaving
  std::string fechamento;      // PP_Close's message: stays on the display
  std::string causa;           // why the port does not open, when it is known
  bool cores = false;          // colour on standard output
};

Contexto* ctx = nullptr;

// Writes UTF-8 text in the locale's encoding.
void Escreve(FILE* f, const std::string& utf8) {
  const std::string t = Utf8ParaLocale(utf8);
  std::fwrite(t.data(), 1, t.size(), f);
  std::fflush(f);
}

std::string Formata(const char* formato, va_list args) {
  char curto[512];
  va_list copia;
  va_copy(copia, args);
  int n = std::vsnprintf(curto, sizeof curto, formato, copia);
  va_end(copia);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof curto) return std::string(curto, static_cast<size_t>(n));
  std::string longo(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(longo.data(), longo.size(), formato, args);
  longo.resize(static_cast<size_t>(n));
  return longo;
}

// A line for people (UTF-8 arguments); nothing in JSON mode.
__attribute__((format(printf, 1, 2))) void Linha(const char* formato, ...) {
  if (ctx->op.json) return;
  va_list args;
  va_start(args, formato);
  Escreve(stdout, Formata(formato, args));
  va_end(args);
}

// An error or a notice for people, on standard error (UTF-8 arguments).
__attribute__((format(printf, 1, 2))) void Aviso(const char* formato, ...) {
  va_list args;
  va_start(args, formato);
  Escreve(stderr, Formata(formato, args));
  va_end(args);
}

std::string Aparado(const char* p, size_t n) {
  std::string s(p, strnlen(p, n));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// The code's text as UTF-8 (two of them carry Latin-1 accents).
std::string TextoCodigo(int32_t codigo) { return Latin1ParaUtf8(TextoRetorno(static_cast<uint32_t>(codigo))); }

void Fecha() {
  if (ctx->aberto) {
    ctx->aberto = false;
    PP_Close(ctx->fechamento.c_str());
  }
}

// Ends the program with `codigo`: the error line on standard error and, in
// JSON mode, the status members on standard output; the port closed first.
// When the port's fault is already explained, its explanation replaces the
// generic text of code 30 ("provavelmente ocupada").
[[noreturn]] void Termina(int32_t codigo, const char* operacao) {
  Fecha();
  std::string texto = codigo == StatusInterrompido ? "interrompido" : TextoCodigo(codigo);
  if (codigo == PPCOMP_PORTERR && !ctx->causa.empty()) texto = ctx->causa;
  if (codigo != PPCOMP_OK && codigo != StatusInterrompido)
    Aviso("Erro %s (%d) - %s\n", operacao ? operacao : "", codigo, texto.c_str());
  if (ctx->op.json) {
    ctx->json.Numero("status", codigo).Texto("texto", texto);
    if (codigo != PPCOMP_OK && operacao) ctx->json.Texto("operacao", operacao);
    std::printf("%s\n", ctx->json.Texto().c_str());
  }
  std::fflush(stdout);
  std::exit(codigo & 0xFF);
}

// A command line that cannot run: the reason and the usage line on standard
// error (and a JSON object in JSON mode), status 255, the port untouched.
[[noreturn]] void ErroDeUso(const std::string& erro, const Ajuda* ajuda) {
  Aviso("pinpadctl: %s\n", erro.c_str());
  if (ajuda)
    Aviso("Uso: pinpadctl [--json] PORTA %s\n", ajuda->uso);
  else
    Aviso("%s (veja pinpadctl --help)\n", UsoGeral);
  if (ctx->op.json) {
    ObjetoJson j;
    j.Numero("versao_formato", VersaoFormatoJson)
        .Numero("status", StatusUso)
        .Texto("texto", "linha de comando invalida")
        .Texto("erro", erro);
    std::printf("%s\n", j.Texto().c_str());
  }
  std::fflush(stdout);
  std::exit(StatusUso);
}

[[noreturn]] void Interrompe(bool abortar) {
  if (abortar) PP_Abort();
  Fecha();
  Aviso("pinpadctl: interrompido; comando pendente abortado no pinpad e porta fechada\n");
  ctx->json.Logico("interrompido", true);
  Termina(StatusInterrompido, nullptr);
}

// Polls a Start operation's Get function until it ends, the time runs out or
// the user interrupts. Notifications go to standard error. On time-out the
// pending command is aborted and PPCOMP_TIMEOUT returned.
int32_t EsperaFim(const std::function<int32_t(char*)>& consulta) {
  using Relogio = std::chrono::steady_clock;
  const auto limite = Relogio::now() + std::chrono::duration<double>(ctx->op.espera);
  char mensagem[64];
  for (;;) {
    if (interrompido) Interrompe(true);
    std::memset(mensagem, 0, sizeof mensagem);
    int32_t r = consulta(mensagem);
    if (r == PPCOMP_NOTIFY) {
      Aviso("pinpad: %s\n", Latin1ParaUtf8(Aparado(mensagem, 32)).c_str());
      continue;
    }
    if (r != PPCOMP_PROCESSING) return r;
    if (Relogio::now() >= limite) {
      PP_Abort();
      return PPCOMP_TIMEOUT;
    }
  }
}

// A blocking call, then a look at Ctrl-C (the library finishes its exchange
// first: it is bounded by the link's own limits).
int32_t Bloqueante(const std::function<int32_t()>& chamada) {
  int32_t r = chamada();
  if (interrompido) Interrompe(false);
  return r;
}

// ---- Opening --------------------------------------------------------------------

// Checks the device, then opens the pinpad. false with the explanation printed
// and the code in *codigo.
bool Abre(int32_t* codigo, std::string* explicacao) {
  ExameDePorta ex = ExaminaPorta(ctx->porta);
  if (!ex.ok) {
    *codigo = PPCOMP_PORTERR;
    *explicacao = TextoUsuarioParaUtf8(ex.explicacao);
    ctx->causa = *explicacao;
    return false;
  }
  int32_t r = Bloqueante([] { return PP_Open(ctx->porta.c_str()); });
  *codigo = r;
  if (r == PPCOMP_OK) {
    ctx->aberto = true;
    return true;
  }
  if (r == PPCOMP_PORTERR) {
    // The library refuses a port that another program took meanwhile.
    if (!PortaEmUso(ctx->porta, explicacao))
      *explicacao = "A biblioteca nao conseguiu abrir nem configurar a porta \"" + ctx->portaUtf8 + "\".";
  } else if (r == PPCOMP_COMMERR || r == PPCOMP_COMMTOUT) {
    *explicacao = "A porta abre, mas o pinpad nao responde ao comando de abertura: confira o cabo, a "
                  "alimentacao, se o aparelho e um pinpad e a velocidade (19200 bit/s).";
  } else {
    // The pinpad answered with an error: the port is open.
    ctx->aberto = true;
    *explicacao = "O pinpad respondeu a abertura com erro.";
  }
  return false;
}

void AbreOuTermina() {
  int32_t codigo = 0;
  std::string explicacao;
  if (Abre(&codigo, &explicacao)) return;
  ctx->json.Texto("explicacao", explicacao);
  // A known cause is the error line itself (Termina); otherwise it comes first.
  if (ctx->causa.empty()) Aviso("%s\n", explicacao.c_str());
  Termina(codigo, "PP_Open");
}

// ---- Commands -----------------------------------------------------------------

// The fields as UTF-8 (the pinpad writes Latin-1).
Informacao InformacaoUtf8(const Informacao& l) {
  return {Latin1ParaUtf8(l.fabricante), Latin1ParaUtf8(l.modelo),   Latin1ParaUtf8(l.sem_contato),
          Latin1ParaUtf8(l.firmware),   Latin1ParaUtf8(l.versao),   Latin1ParaUtf8(l.aplicacao),
          Latin1ParaUtf8(l.serie)};
}

void JsonInformacao(const Informacao& i, ObjetoJson& j) {
  j.Texto("fabricante", i.fabricante)
      .Texto("modelo", i.modelo)
      .Texto("firmware", i.firmware)
      .Texto("versao", i.versao)
      .Texto("versao_aplicacao", i.aplicacao)
      .Texto("serie", i.serie)
      .Logico("kolvar_aplica_teste", KolvarAplicaTeste(i.versao));
}

std::string TextoKolvar(const Informacao& i) {
  if (KolvarAplicaTeste(i.versao))
    return "versao \"" + i.versao + "\" abaixo de 1.07: o Kolvar aplica o teste de criptografia M4120";
  return "versao \"" + i.versao + "\" 1.07 ou acima: o teste do Kolvar nao se aplica (pinpad homologado)";
}

// The raw block (Latin-1), control characters as dots.
void MostraBloco(const std::string& bloco) {
  std::string visivel = bloco;
  for (auto& c : visivel)
    if (static_cast<unsigned char>(c) < 0x20 || (static_cast<unsigned char>(c) >= 0x7F && static_cast<unsigned char>(c) < 0xA0)) c = '.';
  const std::string rotulo = "Bloco (" + std::to_string(bloco.size()) + "):";
  Linha("%-19s[%s]\n", rotulo.c_str(), Latin1ParaUtf8(visivel).c_str());
}

void MostraInformacao(const Informacao& i, const std::string& bloco) {
  Linha("Fabricante:        %s\n", i.fabricante.c_str());
  Linha("Modelo:            %s\n", i.modelo.c_str());
  Linha("Firmware:          %s\n", i.firmware.c_str());
  Linha("Versao (60-63):    %s\n", i.versao.c_str());
  Linha("Versao aplicacao:  %s\n", i.aplicacao.c_str());
  Linha("Numero de serie:   %s\n", i.serie.c_str());
  Linha("Kolvar:            %s\n", TextoKolvar(i).c_str());
  MostraBloco(bloco);
}

// The information block. A pinpad that answers with fewer characters than
// the block's fields take has not given its information: PPCOMP_RSPERR, with
// the block as it came in `bloco` and the reason in `falta`.
int32_t LeBlocoInformacao(const std::string& indice, std::string& bloco, std::string& falta) {
  char saida[1025] = {};
  int32_t r = Bloqueante([&] { return PP_GetInfo(indice.c_str(), saida); });
  if (r != PPCOMP_OK) return r;
  bloco.assign(saida, strnlen(saida, 256));
  if (bloco.size() >= TamBlocoInformacao) return PPCOMP_OK;
  falta = "bloco de informacao incompleto: " + std::to_string(bloco.size()) + " de " +
          std::to_string(TamBlocoInformacao) + " caracteres";
  return PPCOMP_RSPERR;
}

// A two-digit index ("00"), the command's optional argument.
std::string IndiceDoComando() {
  const auto& pos = ctx->op.posicionais;
  if (pos.size() < 3) return "00";
  long v = 0;
  if (pos[2].size() != 2 || !InteiroEstrito(pos[2], 0, 99, v))
    ErroDeUso("o INDICE tem dois digitos, de 00 a 99 (ex.: 00), e nao \"" + TextoUsuarioParaUtf8(pos[2]) + "\"",
              AjudaDe(ctx->comando));
  return pos[2];
}

int ComandoInfo() {
  const std::string indice = IndiceDoComando();
  AbreOuTermina();
  std::string bloco, falta;
  int32_t r = LeBlocoInformacao(indice, bloco, falta);
  if (r == PPCOMP_RSPERR && !falta.empty()) {
    // What did come is shown; blank fields are not.
    if (!bloco.empty()) MostraBloco(bloco);
    ctx->json.Texto("bloco", Latin1ParaUtf8(bloco))
        .Numero("caracteres", static_cast<long long>(bloco.size()))
        .Texto("detalhe", falta);
    Aviso("pinpadctl: %s\n", falta.c_str());
  }
  if (r != PPCOMP_OK) Termina(r, "PP_GetInfo");
  Informacao i = InformacaoUtf8(LeInformacao(bloco));
  MostraInformacao(i, bloco);
  JsonInformacao(i, ctx->json);
  ctx->json.Texto("bloco", Latin1ParaUtf8(bloco));
  Termina(PPCOMP_OK, nullptr);
}

// "LINHA 1|LINHA 2" or up to 32 characters (the user's text, in the locale's
// encoding), as the 32-character display text in the pinpad's Latin-1: one
// byte per character, so the limits count characters.
bool TextoDisplay(const std::string& usuario, std::string& display, std::string& erro) {
  std::string texto;
  if (!TextoUsuarioParaLatin1(usuario, texto, erro)) return false;
  auto barra = texto.find('|');
  if (barra == std::string::npos) {
    if (texto.size() > 32) {
      erro = "o display tem 32 caracteres (duas linhas de 16); use '|' para separar as linhas";
      return false;
    }
    display = texto;
  } else {
    std::string l1 = texto.substr(0, barra), l2 = texto.substr(barra + 1);
    if (l2.find('|') != std::string::npos || l1.size() > 16 || l2.size() > 16) {
      erro = "cada linha do display tem no maximo 16 caracteres, e so ha duas";
      return false;
    }
    l1.resize(16, ' ');
    display = l1 + l2;
  }
  display.resize(32, ' ');
  return true;
}

int ComandoMostra() {
  std::string display, erro;
  if (!TextoDisplay(ctx->op.posicionais[2], display, erro)) ErroDeUso(erro, AjudaDe("mostra"));
  AbreOuTermina();
  int32_t r = Bloqueante([&] { return PP_Display(display.c_str()); });
  if (r != PPCOMP_OK) Termina(r, "PP_Display");
  // The closing message is what the pinpad shows once the port is closed: the
  // text stays on the display instead of being wiped by an empty one.
  ctx->fechamento = display;
  const std::string l1 = Latin1ParaUtf8(display.substr(0, 16)), l2 = Latin1ParaUtf8(display.substr(16));
  Linha("Display: [%s]\n         [%s]\n", l1.c_str(), l2.c_str());
  ctx->json.Texto("linha1", l1).Texto("linha2", l2);
  Termina(PPCOMP_OK, nullptr);
}

// Waits for a key; the key's code, PPCOMP_TIMEOUT or a failure.
int32_t EsperaTecla() {
  int32_t r = Bloqueante([] { return PP_StartGetKey(); });
  if (r != PPCOMP_OK) return r;
  return EsperaFim([](char*) { return PP_GetKey(); });
}

int ComandoTecla() {
  AbreOuTermina();
  int32_t r = EsperaTecla();
  const char* nome = NomeTecla(r);
  if (*nome == '\0') Termina(r, r == PPCOMP_TIMEOUT ? "espera" : "PP_GetKey");
  Linha("Tecla: %s\n", nome);
  ctx->json.Texto("tecla", nome);
  // The key's own code is the exit status, so that a script can branch on it.
  Fecha();
  if (ctx->op.json) {
    ctx->json.Numero("status", r).Texto("texto", TextoCodigo(r));
    std::printf("%s\n", ctx->json.Texto().c_str());
  }
  std::fflush(stdout);
  return r;
}

// Encrypts dados (16 hex) under the key at `indice`. modo -1 tries triple DES,
// then single DES when the pinpad refuses it. *usado gets the mode that
// answered.
int32_t Cifra(int indice, const std::string& dados, int modo, int* usado, std::string& criptograma) {
  int32_t r = PPCOMP_BADPARAM;
  for (int m : {1, 0}) {
    if (modo >= 0 && m != modo) continue;
    char bloco[64] = {};
    char saida[1025] = {};
    std::snprintf(bloco, sizeof bloco, "%1.1d%2.2d%32.32s%16.16s", m, indice, ctx->op.chaveTrabalho.c_str(),
                  dados.c_str());
    r = Bloqueante([&] { return PP_EncryptBuffer(bloco, saida); });
    if (r == PPCOMP_OK) {
      *usado = m;
      criptograma.assign(saida, strnlen(saida, 16));
      return r;
    }
    // A link failure will not get better with the other mode.
    if (r == PPCOMP_COMMERR || r == PPCOMP_PORTERR || r == PPCOMP_NOTOPEN) return r;
  }
  return r;
}

int ComandoCifra() {
  long indice = 0;
  std::string dados = ctx->op.posicionais[3];
  if (!InteiroEstrito(ctx->op.posicionais[2], 0, 99, indice))
    ErroDeUso("INDICE vai de 0 a 99, e nao \"" + TextoUsuarioParaUtf8(ctx->op.posicionais[2]) + "\"", AjudaDe("cifra"));
  if (!Hexadecimal(dados, 16)) ErroDeUso("HEX sao 16 digitos hexadecimais (um bloco de 8 bytes)", AjudaDe("cifra"));
  AbreOuTermina();
  int usado = -1;
  std::string criptograma;
  int32_t r = Cifra(static_cast<int>(indice), dados, ctx->op.modo, &usado, criptograma);
  ctx->json.Numero("indice", indice);
  if (r != PPCOMP_OK) Termina(r, "PP_EncryptBuffer");
  const char* modo = usado ? "3DES" : "DES";
  Linha("Indice %02ld, %s: %s\n", indice, modo, criptograma.c_str());
  ctx->json.Texto("modo", modo).Texto("criptograma", criptograma);
  Termina(PPCOMP_OK, nullptr);
}

int32_t LeCarimbo(const std::string& indice, std::string& carimbo) {
  char saida[64] = {};
  int32_t r = Bloqueante([&] { return PP_GetTimeStamp(indice.c_str(), saida); });
  if (r == PPCOMP_OK) carimbo.assign(saida, strnlen(saida, 10));
  return r;
}

int ComandoCarimbo() {
  const std::string indice = IndiceDoComando();
  AbreOuTermina();
  std::string carimbo;
  int32_t r = LeCarimbo(indice, carimbo);
  if (r != PPCOMP_OK) Termina(r, "PP_GetTimeStamp");
  Linha("Carimbo de tempo (%s): %s\n", indice.c_str(), carimbo.c_str());
  ctx->json.Texto("indice", indice).Texto("carimbo", carimbo);
  Termina(PPCOMP_OK, nullptr);
}

void MostraCartao(const CartaoVisivel& c) {
  Linha("Cartao:   %s\n", c.tipo.c_str());
  Linha("Numero:   %s\n", c.pan_mascarado.c_str());
  Linha("Validade: %s\n", c.validade.c_str());
  const std::string nome = Latin1ParaUtf8(c.nome), rotulo = Latin1ParaUtf8(c.rotulo);
  Linha("Portador: %s\n", nome.c_str());
  if (!rotulo.empty()) Linha("Aplicacao: %s\n", rotulo.c_str());
  ctx->json.Texto("cartao", c.tipo)
      .Texto("numero", c.pan_mascarado)
      .Texto("validade", c.validade)
      .Texto("portador", nome);
  if (!rotulo.empty()) ctx->json.Texto("aplicacao", rotulo);
}

int ComandoEvento() {
  AbreOuTermina();
  int32_t r = Bloqueante([] { return PP_StartCheckEvent("111"); });
  if (r != PPCOMP_OK) Termina(r, "PP_StartCheckEvent");
  char saida[1025] = {};
  r = EsperaFim([&](char*) { return PP_CheckEvent(saida); });
  if (r != PPCOMP_OK) {
    Apaga(saida, sizeof saida);
    Termina(r, r == PPCOMP_TIMEOUT ? "espera" : "PP_CheckEvent");
  }
  switch (saida[0]) {
    case '0': {
      int codigo = (saida[1] - '0') * 10 + (saida[2] - '0');
      const char* nome = NomeTecla(codigo);
      Linha("Evento: tecla %s\n", *nome ? nome : std::to_string(codigo).c_str());
      ctx->json.Texto("evento", "tecla").Texto("tecla", *nome ? nome : std::to_string(codigo));
      break;
    }
    case '1': {
      CartaoVisivel c;
      LeTrilhasEvento(std::string_view(saida + 1, 224), c);
      Linha("Evento: cartao magnetico\n");
      ctx->json.Texto("evento", "cartao magnetico");
      MostraCartao(c);
      break;
    }
    case '2':
      Linha("Evento: cartao com chip %s\n", saida[1] == '1' ? "inserido" : "retirado");
      ctx->json.Texto("evento", saida[1] == '1' ? "chip inserido" : "chip retirado");
      break;
    default:
      const std::string codigo = Latin1ParaUtf8(std::string(1, saida[0] ? saida[0] : '-'));
      Linha("Evento: desconhecido (%s)\n", codigo.c_str());
      ctx->json.Texto("evento", codigo);
  }
  Apaga(saida, sizeof saida);
  Termina(PPCOMP_OK, nullptr);
}

int ComandoRemove() {
  std::string mensagem = "RETIRE O CARTAO", erro;
  if (ctx->op.posicionais.size() > 2) {
    if (!TextoUsuarioParaLatin1(ctx->op.posicionais[2], mensagem, erro)) ErroDeUso(erro, AjudaDe("remove"));
    if (mensagem.size() > 32) ErroDeUso("a MENSAGEM tem no maximo 32 caracteres (duas linhas de 16)", AjudaDe("remove"));
  }
  AbreOuTermina();
  int32_t r = Bloqueante([&] { return PP_StartRemoveCard(mensagem.c_str()); });
  if (r != PPCOMP_OK) Termina(r, "PP_StartRemoveCard");
  r = EsperaFim([](char* msg) { return PP_RemoveCard(msg); });
  if (r != PPCOMP_OK) Termina(r, r == PPCOMP_TIMEOUT ? "espera" : "PP_RemoveCard");
  Linha("Cartao retirado\n");
  ctx->json.Logico("retirado", true);
  Termina(PPCOMP_OK, nullptr);
}

// The card-reading request: acquirer 00, every application type (99), amount
// zero, today's date and time, table time stamp zero, no application list.
std::string PedidoCartao() {
  std::time_t agora = std::time(nullptr);
  std::tm t{};
  localtime_r(&agora, &t);
  char pedido[64];
  std::snprintf(pedido, sizeof pedido, "0099%012d%02d%02d%02d%02d%02d%02d%010d%02d", 0, t.tm_year % 100,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 0, 0);
  return pedido;
}

int ComandoCartao() {
  AbreOuTermina();
  std::string pedido = PedidoCartao();
  int32_t r = Bloqueante([&] { return PP_StartGetCard(nullptr, pedido.c_str()); });
  if (r != PPCOMP_OK) Termina(r, "PP_StartGetCard");
  char saida[1025] = {};
  char segunda[1025] = {};
  r = EsperaFim([&](char* msg) { return PP_GetCard(saida, segunda, msg); });
  if (r != PPCOMP_OK) {
    Apaga(saida, sizeof saida);
    Termina(r, r == PPCOMP_TIMEOUT ? "espera" : "PP_GetCard");
  }
  CartaoVisivel c;
  bool lido = LeCartao(std::string_view(saida, 512), c);
  Apaga(saida, sizeof saida);
  Apaga(segunda, sizeof segunda);
  if (!lido) Termina(PPCOMP_RSPERR, "PP_GetCard");
  MostraCartao(c);
  Termina(PPCOMP_OK, nullptr);
}

// ---- diagnostico ----------------------------------------------------------------

struct Passo {
  std::string nome;
  bool ok = false;
  int32_t status = 0;
  std::string detalhe;
};

// Progress bar on standard error, only when it is a terminal.
void Progresso(int feitos, int total, int indice) {
  if (!isatty(2) || ctx->op.json) return;
  const int largura = 30;
  int cheio = total ? feitos * largura / total : largura;
  std::fprintf(stderr, "\r  indices [%.*s%*s] %3d/%d (indice %02d)", cheio, "##############################",
               largura - cheio, "", feitos, total, indice);
  if (feitos == total) std::fprintf(stderr, "\r%*s\r", 70, "");
  std::fflush(stderr);
}

int ComandoDiagnostico() {
  std::vector<Passo> passos;
  int32_t primeiraFalha = PPCOMP_OK;
  const char* operacaoFalha = nullptr;
  auto registra = [&](Passo p, const char* operacao) {
    const std::string marca = p.ok ? Colore(" OK  ", Cor::Verde, ctx->cores) : Colore("FALHA", Cor::Vermelho, ctx->cores);
    Linha("[%s] %s: %s\n", marca.c_str(), p.nome.c_str(), p.detalhe.c_str());
    if (!p.ok && primeiraFalha == PPCOMP_OK) {
      primeiraFalha = p.status;
      operacaoFalha = operacao;
    }
    passos.push_back(std::move(p));
  };
  auto fim = [&]() {
    Fecha();
    int bons = 0;
    for (const auto& p : passos) bons += p.ok;
    Linha("\nResumo: %d de %zu verificacoes passaram.\n", bons, passos.size());
    for (const auto& p : passos) {
      const std::string estado =
          p.ok ? Colore("funciona", Cor::Verde, ctx->cores) : Colore("NAO funciona", Cor::Vermelho, ctx->cores);
      Linha("  %s %s\n", Preenche(p.nome, 22).c_str(), estado.c_str());
    }
    std::string lista = "[";
    for (const auto& p : passos) {
      if (lista.size() > 1) lista += ',';
      ObjetoJson j;
      j.Texto("passo", p.nome).Logico("ok", p.ok).Numero("status", p.status).Texto("detalhe", p.detalhe);
      lista += j.Texto();
    }
    ctx->json.Bruto("passos", lista + "]");
    Termina(primeiraFalha, operacaoFalha);
  };

  // 1. The port and the pinpad's answer to the opening command.
  int32_t codigo = 0;
  std::string explicacao;
  bool abriu = Abre(&codigo, &explicacao);
  if (!abriu) {
    const bool portaAbre = codigo != PPCOMP_PORTERR;
    if (!portaAbre) {
      registra({"porta", false, codigo, explicacao}, "PP_Open");
    } else {
      registra({"porta", true, 0, "o dispositivo abre"}, nullptr);
      registra({"pinpad responde", false, codigo, explicacao + " (" + TextoCodigo(codigo) + ")"}, "PP_Open");
    }
    fim();
  }
  registra({"porta", true, 0, "\"" + ctx->portaUtf8 + "\" aberta"}, nullptr);
  registra({"pinpad responde", true, 0, "respondeu ao comando de abertura"}, nullptr);

  // 2. The information block.
  std::string bloco, falta;
  int32_t r = LeBlocoInformacao("00", bloco, falta);
  if (r == PPCOMP_OK) {
    Informacao i = InformacaoUtf8(LeInformacao(bloco));
    registra({"informacao", true, 0, i.fabricante + " " + i.modelo + ", serie " + i.serie}, nullptr);
    MostraInformacao(i, bloco);
    ObjetoJson j;
    JsonInformacao(i, j);
    ctx->json.Bruto("informacao", j.Texto());
    registra({"versao", true, 0, TextoKolvar(i)}, nullptr);
  } else {
    registra({"informacao", false, r, falta.empty() ? TextoCodigo(r) : falta}, "PP_GetInfo");
  }

  // 3. The time stamp.
  std::string carimbo;
  r = LeCarimbo("00", carimbo);
  registra({"carimbo de tempo", r == PPCOMP_OK, r, r == PPCOMP_OK ? carimbo : TextoCodigo(r)}, "PP_GetTimeStamp");

  // 4. Master keys that answer the encryption command.
  std::string indices, lista = "[";
  int32_t ultimo = PPCOMP_OK;
  const int total = ctx->op.indiceAte - ctx->op.indiceDe + 1;
  bool linkCaiu = false;
  for (int i = ctx->op.indiceDe; i <= ctx->op.indiceAte && !linkCaiu; ++i) {
    Progresso(i - ctx->op.indiceDe, total, i);
    int usado = -1;
    std::string cripto;
    r = Cifra(i, "1122334455667788", -1, &usado, cripto);
    if (r == PPCOMP_OK) {
      char item[32];
      std::snprintf(item, sizeof item, "%s%02d (%s)", indices.empty() ? "" : ", ", i, usado ? "3DES" : "DES");
      indices += item;
      ObjetoJson j;
      j.Numero("indice", i).Texto("modo", usado ? "3DES" : "DES");
      if (lista.size() > 1) lista += ',';
      lista += j.Texto();
    } else {
      ultimo = r;
      linkCaiu = r == PPCOMP_COMMERR || r == PPCOMP_NOTOPEN;
    }
  }
  Progresso(total, total, ctx->op.indiceAte);
  ctx->json.Bruto("indices", lista + "]");
  char faixa[32];
  std::snprintf(faixa, sizeof faixa, "%02d-%02d", ctx->op.indiceDe, ctx->op.indiceAte);
  if (linkCaiu) {
    registra({"chaves mestras", false, ultimo, std::string("o pinpad parou de responder: ") + TextoCodigo(ultimo)},
             "PP_EncryptBuffer");
  } else if (indices.empty()) {
    registra({"chaves mestras", false, ultimo, std::string("nenhum indice de ") + faixa + " cifra"}, "PP_EncryptBuffer");
  } else {
    registra({"chaves mestras", true, 0, "indices que cifram: " + indices}, nullptr);
  }

  // 5. The display. Its text is also the closing message, so it is still on
  // the display when the program ends.
  static constexpr char TextoTeste[] = "PINPADCTL       TESTE DO DISPLAY";
  r = Bloqueante([] { return PP_Display(TextoTeste); });
  if (r == PPCOMP_OK) ctx->fechamento = TextoTeste;
  registra({"display", r == PPCOMP_OK, r,
            r == PPCOMP_OK ? "\"PINPADCTL\" / \"TESTE DO DISPLAY\" enviado ao display" : TextoCodigo(r)},
           "PP_Display");

  // 6. Keys, only with an operator.
  if (ctx->op.teclado) {
    Bloqueante([] { return PP_Display("PRESSIONE UMA   TECLA           "); });
    Linha("Pressione uma tecla no pinpad (ate %.0f s)...\n", ctx->op.espera);
    r = EsperaTecla();
    const char* nome = NomeTecla(r);
    if (*nome)
      registra({"teclado", true, 0, std::string("tecla ") + nome}, nullptr);
    else
      registra({"teclado", false, r, TextoCodigo(r)}, "PP_GetKey");
  }
  fim();
  return 0;
}

struct Comando {
  const char* nome;
  int (*executa)();
};
constexpr Comando Comandos[] = {
    {"diagnostico", ComandoDiagnostico}, {"info", ComandoInfo},     {"mostra", ComandoMostra},
    {"tecla", ComandoTecla},             {"cifra", ComandoCifra},   {"carimbo", ComandoCarimbo},
    {"evento", ComandoEvento},           {"remove", ComandoRemove}, {"cartao", ComandoCartao},
};

// The options given that `ajuda`'s command does not take; "" when none.
std::string OpcaoAlheia(const Opcoes& o, const Ajuda& ajuda) {
  for (const auto& d : o.dadas) {
    if (d == "--json" || d == "--help" || d == "-h" || d == "--version") continue;
    const std::string lista = std::string(" ") + ajuda.opcoes + " ";
    if (lista.find(" " + d + " ") == std::string::npos) return d;
  }
  return {};
}

bool SoDigitos(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

namespace {
int Principal(int argc, char** argv) {
  AdotaLocale();
  static Contexto contexto;
  ctx = &contexto;
  // JSON mode is known before any error is reported, wherever --json stands.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (std::strcmp(argv[i], "--json") == 0) contexto.op.json = true;
  std::string erro;
  // "portas" names no port: a command line of its own.
  if (PedePortas(argc, argv)) return ComandoPortas(argc, argv);
  if (!LeOpcoes(argc, argv, contexto.op, erro)) ErroDeUso(erro, nullptr);
  const auto& pos = contexto.op.posicionais;
  if (contexto.op.versao) {
    std::fputs(LinhaVersao("pinpadctl").c_str(), stdout);
    return 0;
  }
  if (contexto.op.ajuda) {
    // "pinpadctl --help", "pinpadctl COMANDO --help" or "pinpadctl PORTA COMANDO --help".
    for (const auto& p : pos) {
      if (const Ajuda* a = AjudaDe(p)) {
        std::printf("Uso: pinpadctl [--json] PORTA %s\n\n%s\n", a->uso, a->texto);
        return 0;
      }
    }
    AjudaGeral(stdout);
    return 0;
  }
  if (pos.empty() && !contexto.op.json) {
    AjudaGeral(stderr);
    return StatusUso;
  }
  if (pos.size() < 2) ErroDeUso(pos.empty() ? "faltam a PORTA e o COMANDO" : "falta o COMANDO", nullptr);
  contexto.porta = pos[0];
  contexto.portaUtf8 = TextoUsuarioParaUtf8(pos[0]);
  contexto.comando = pos[1];
  const Ajuda* ajuda = AjudaDe(contexto.comando);
  if (!ajuda) ErroDeUso("comando desconhecido: " + TextoUsuarioParaUtf8(contexto.comando), nullptr);
  const int argumentos = static_cast<int>(pos.size()) - 2;
  if (argumentos > ajuda->maximo)
    ErroDeUso("argumento a mais: \"" + TextoUsuarioParaUtf8(pos[2 + static_cast<size_t>(ajuda->maximo)]) + "\"", ajuda);
  if (argumentos < ajuda->minimo) ErroDeUso("faltam argumentos", ajuda);
  if (std::string o = OpcaoAlheia(contexto.op, *ajuda); !o.empty())
    ErroDeUso("o comando " + contexto.comando + " nao tem a opcao " + o, ajuda);
  // A bare number is a port of the COM numbering ("1" is /dev/ttyS0): there is no port 0.
  long numero = 0;
  if (contexto.porta.empty() || (SoDigitos(contexto.porta) && InteiroEstrito(contexto.porta, 0, 0, numero)))
    ErroDeUso("a porta \"" + contexto.portaUtf8 + "\" nao existe: de o caminho do dispositivo (ex.: /dev/ttyACM0) " +
                  "ou o numero da porta a partir de 1 (1 = /dev/ttyS0)",
              nullptr);
  contexto.cores = !contexto.op.json && CoresEm(stdout);
  for (const auto& c : Comandos) {
    if (contexto.comando != c.nome) continue;
    struct sigaction sa {};
    sa.sa_handler = AoInterromper;
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    contexto.json.Numero("versao_formato", VersaoFormatoJson)
        .Texto("porta", contexto.portaUtf8)
        .Texto("comando", contexto.comando);
    return c.executa();
  }
  return StatusUso;
}
}  // namespace

int main(int argc, char** argv) { return ExecutaSemExcecao("pinpadctl", StatusUso, Principal, argc, argv); }
