// Masking of what may carry card data before it reaches the trace: pinpad
// link frames and the caller's extra parameter list.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "trace/FormatoTrace.h"
#include "trace/FuncoesTrace.h"

namespace {

constexpr uint8_t SYN = 0x16;
constexpr uint8_t ETB = 0x17;

struct RegraMascara {
  char codigo[4];
  int32_t direcao;        // 1 sent, 2 received, 0 = known code, nothing masked
  uint16_t deslocamento;  // from the start of the fields
  uint16_t maximo;        // bytes masked at most
};

constexpr RegraMascara kRegrasMascara[] = {
    {"GPN", 2, 0, 36},    {"GPN", 1, 3, 16},    {"GPN", 1, 43, 13},   {"GCR", 2, 18, 69},
    {"GCR", 2, 95, 31},   {"GCR", 2, 129, 104}, {"GCR", 2, 241, 13},  {"GCR", 2, 315, 13},
    {"ENB", 1, 3, 32},    {"ENB", 1, 37, 14},   {"ENB", 2, 0, 16},    {"GOC", 1, 30, 32},
    {"GOC", 2, 6, 36},    {"CKE", 2, 10, 69},   {"CKE", 2, 87, 31},   {"CKE", 2, 121, 104},
    {"CHP", 2, 3, 999},   {"CHP", 1, 5, 999},   {"GEN", 2, 3, 999},   {"GEN", 1, 5, 999},
    // The chip answers' TLV data (from character 42 of "GOC", 1 of "FNC") carries
    // the card number and track 2 when the caller asks for them; the library
    // traces that field itself, without those entries.
    {"GOC", 2, 42, 999},  {"FNC", 2, 1, 999},
    {"OPN", 0, 0, 0},     {"CLO", 0, 0, 0},     {"DSP", 0, 0, 0},     {"DEX", 0, 0, 0},
    {"GKY", 0, 0, 0},     {"RMC", 0, 0, 0},     {"FNC", 0, 0, 0},     {"GIN", 0, 0, 0},
    {"TLI", 0, 0, 0},     {"TLR", 0, 0, 0},     {"TLE", 0, 0, 0},     {"GDU", 0, 0, 0},
    {"GTS", 0, 0, 0},     {"NTM", 0, 0, 0},     {"DWK", 0, 0, 0},     {"CNG", 0, 0, 0},
};

bool Imprimivel(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

constexpr char kChaveCartao[] = "NumCartaoCripto";

// Marks of the bytes of a text that belong to the card number's values.
constexpr uint8_t kDentro = 1;   // inside a value
constexpr uint8_t kInicio = 2;   // a value starts here (an empty one too)

void MarcaValor(void* ctx, size_t de, size_t ate) {
  auto* marcas = static_cast<uint8_t*>(ctx);
  marcas[de] |= kInicio;
  for (size_t i = de; i < ate; ++i) marcas[i] |= kDentro;
}

// Replaces the printable bytes of [de, ate) that lie inside the copy.
void Cobre(uint8_t* saida, size_t copiados, size_t de, size_t ate, uint8_t marca) {
  for (size_t k = de; k < ate && k < copiados; ++k)
    if (Imprimivel(saida[k])) saida[k] = marca;
}

}  // namespace

size_t MascaraQuadroPinPad(const uint8_t* quadro, size_t tamanho, uint8_t* saida, size_t capacidade,
                           int32_t direcao) {
  const size_t copiados = std::min(tamanho, capacidade);
  if (copiados > 0) std::memcpy(saida, quadro, copiados);

  // A whole link frame: SYN, code..., ETB and two check bytes.
  const bool completo = tamanho >= 4 && quadro[0] == SYN && quadro[tamanho - 3] == ETB;
  const size_t inicio = completo ? 1 : 0;
  const size_t minimo = completo ? 4 : 3;
  const size_t cauda = completo ? 3 : 0;
  const size_t prefixo = direcao == 1 ? 6 : 9;  // code and length; code, status and length

  bool casou = false;
  if (tamanho >= minimo) {
    for (const RegraMascara& regra : kRegrasMascara) {
      if (std::memcmp(quadro + inicio, regra.codigo, 3) != 0) continue;
      casou = true;
      if (regra.direcao == 0 || regra.direcao != direcao) continue;
      const size_t campo = inicio + prefixo + regra.deslocamento;
      if (campo < tamanho) Cobre(saida, copiados, campo, campo + std::min<size_t>(regra.maximo, tamanho - campo), '*');
    }
  }
  // An unknown code, or a direction the table does not know (so none of its
  // rows could have applied), hides every field.
  if (!casou || (direcao != 1 && direcao != 2)) Cobre(saida, copiados, inicio + 3, tamanho - cauda, '#');
  return copiados;
}

void TraceDadosPinPad(const char* tag, const char* rotulo, const void* quadro, int32_t tamanho, int32_t direcao) {
  if (!TraceChaveValida()) return;
  TraceCtx* ctx = LibState.trace.contextoTrace;
  if (quadro == nullptr || tamanho < 1) {
    TraceGrava(ctx, nullptr, nullptr, tag, rotulo, TRACE_BINARIO, nullptr, 0);
    return;
  }
  uint8_t copia[TAM_QUADRO_MASCARA];
  const size_t n = MascaraQuadroPinPad(static_cast<const uint8_t*>(quadro), static_cast<size_t>(tamanho), copia,
                                       sizeof copia, direcao);
  TraceGrava(ctx, nullptr, nullptr, tag, rotulo, TRACE_BINARIO, copia, static_cast<int32_t>(n));
  LimpaSegura(copia, sizeof copia);
}

void TraceParametrosAdicionais(const char* tag, const char* texto) {
  if (texto == nullptr || strcasestr(texto, kChaveCartao) == nullptr) {
    TraceTexto(tag, "pParamAdic", texto);
    return;
  }
  // The values are found by the parameter-list readers themselves (quotes,
  // escapes, blanks, sections), so what is hidden is exactly what a reader of
  // the key would get. A private copy has each of them (a run of marked bytes)
  // replaced by a fixed run of '*', so that neither the number nor its length
  // is traced.
  static constexpr char kMascara[] = "****************";
  const size_t n = std::strlen(texto);
  auto* marcas = static_cast<uint8_t*>(std::calloc(n + 1, 1));
  char* copia = static_cast<char*>(std::malloc(n + 1 + (n + 1) * (sizeof kMascara - 1)));
  if (marcas == nullptr || copia == nullptr) {  // never the text in clear
    std::free(marcas);
    std::free(copia);
    TraceTexto(tag, "pParamAdic", "parametro censurado");
    return;
  }
  ParamLocalizaValores(texto, kChaveCartao, MarcaValor, marcas);
  size_t tamanho = 0;
  for (size_t i = 0; i <= n;) {
    if (marcas[i] & kDentro) {
      std::memcpy(copia + tamanho, kMascara, sizeof kMascara - 1);
      tamanho += sizeof kMascara - 1;
      while (i < n && (marcas[i] & kDentro)) ++i;
      continue;
    }
    if (marcas[i] & kInicio) {  // an empty value: its place is marked too
      std::memcpy(copia + tamanho, kMascara, sizeof kMascara - 1);
      tamanho += sizeof kMascara - 1;
    }
    copia[tamanho++] = texto[i++];
  }
  TraceTexto(tag, "pParamAdic", copia);
  LimpaSegura(copia, tamanho);
  LimpaSegura(marcas, n + 1);
  std::free(copia);
  std::free(marcas);
}
