#include "pinpad/ParametrosChip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "pinpad/libpinpad.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "support/Tlv.h"
#include "trace/FuncoesTrace.h"

namespace {

char (&AreaChip())[3][TamParteAreaChip] { return LibState.chip.AreaChip; }

// A TLV field's count has three digits: at most 999 bytes.
constexpr size_t MaxBytesCampo = 999;
// Hexadecimal characters of the longest tag list (511 bytes); a part of
// AreaChip holds them with the count digits of part 2 and the terminator.
constexpr size_t MaxHexParte = 2 * 511;
static_assert(3 + MaxHexParte + 1 <= TamParteAreaChip);


// The k count digits at `pos` of an answer of TamRespostaChip bytes; 0 when they
// would lie outside it.
int ContaEm(const char* resposta, int pos, int k) {
  if (pos < 0 || pos + k > TamRespostaChip) return 0;
  return static_cast<int>(DigitosParaInt(resposta + pos, k));
}

// Hexadecimal characters of a count-prefixed list that are really there: the
// count's 2N, cut at `limite` and at the first terminator, kept even. Nothing
// past `limite` characters after the count is read: a count larger than the
// data must not carry the scan beyond the caller's buffer.
size_t CaracteresLista(const char* lista, size_t limite) {
  if (!lista || strnlen(lista, 3) < 3) return 0;
  size_t n = std::min(2 * static_cast<size_t>(DigitosParaInt(lista, 3)), limite);
  n = strnlen(lista + 3, n);
  return n & ~size_t{1};
}

// Tag and length readers of the TLV module on text with a known end. Each
// returns the characters consumed, or 0 when the text ends inside the item.
int LeTagTexto(std::string_view s, size_t pos, uint32_t& tag) {
  if (pos >= s.size()) return 0;
  auto p = reinterpret_cast<const unsigned char*>(s.data() + pos);
  int n = TlvLeTag(p, 1, &tag, s.size() - pos);
  return pos + static_cast<size_t>(n) <= s.size() ? n : 0;
}

// An unsupported length form consumes nothing and gives length 0; -1 when the
// text ends inside the length.
int LeTamanhoTexto(std::string_view s, size_t pos, size_t& tam) {
  tam = 0;
  if (pos + 2 > s.size()) return -1;
  int32_t t = 0;
  int n = TlvLeTamanho(reinterpret_cast<const unsigned char*>(s.data() + pos), 1, &t, s.size() - pos);
  if (pos + static_cast<size_t>(n) > s.size()) return -1;
  tam = static_cast<size_t>(t);
  return n;
}

bool ListadoPeloChamador(uint32_t tag) {
  return ListaTagsContem(AreaChip()[0], tag) || ListaTagsContem(AreaChip()[1], tag);
}

// Entries that carry the card number or track data never go to the trace:
// application PAN, track 2 and track 1 equivalent data, contactless track 2.
bool TagSensivel(uint32_t tag) { return tag == 0x5A || tag == 0x57 || tag == 0x56 || tag == 0x9F6B; }

// Whether the walk for card data reads the value as further entries: every
// constructed tag, and the dictionary's templates (80 among them).
bool Descende(uint32_t tag) {
  const uint32_t primeiro = tag > 0xFF ? tag >> 8 : tag;
  return (primeiro & 0x20) != 0 || TagFormato(tag) == 5;
}

// One entry's header as read by the walk for card data. The walk takes only
// what it can be sure of: a first tag byte of the application, context or
// private class (a universal-class byte is padding or not EMV data, and FF is
// padding too), a tag of one or two bytes, a length in the short, 81 or 82
// form, and a value inside its template. When it cannot be sure, `guarda` is
// the number of the entry's bytes read up to and including the one that made
// it unsure (at most the tag and the first length byte).
struct EntradaLida {
  uint32_t tag = 0;
  bool tagCompleta = false;
  bool segura = false;
  size_t cabecalho = 0;  // tag and length bytes
  size_t valor = 0;
  size_t guarda = 0;
};

EntradaLida LeEntradaSegura(const uint8_t* d, size_t e, size_t fim) {
  EntradaLida r;
  size_t p = e;
  const uint8_t b = d[p++];
  r.tag = b;
  r.guarda = 1;
  if (b < 0x40 || b == 0xFF) return r;
  if ((b & 0x1F) == 0x1F) {
    if (p >= fim) return r;
    const uint8_t b2 = d[p++];
    r.guarda = 2;
    if (b2 & 0x80) return r;  // a tag of three or more bytes
    r.tag = r.tag << 8 | b2;
  }
  r.tagCompleta = true;
  if (p >= fim) return r;
  const uint8_t l = d[p++];
  r.guarda = p - e;
  const size_t extra = l == 0x81 ? 1 : (l == 0x82 ? 2 : 0);
  if ((l >= 0x80 && !extra) || extra > fim - p) return r;
  size_t vl = l < 0x80 ? l : 0;
  for (size_t i = 0; i < extra; ++i) vl = vl << 8 | d[p++];
  if (vl > fim - p) return r;
  r.cabecalho = p - e;
  r.valor = vl;
  r.segura = true;
  return r;
}

// Traces a count-prefixed list as bytes.
void TraceLista(const char* tag, const char* rotulo, const char* lista) {
  uint8_t bytes[MaxBytesCampo];
  size_t n = CaracteresLista(lista, 2 * MaxBytesCampo);
  HexParaBytes(bytes, lista + 3, n / 2);
  TraceBinario(tag, rotulo, bytes, static_cast<int32_t>(n / 2));
}

}  // namespace

void GuardaTagsChip(const char* tags, const char* tagsOpt) {
  std::memset(AreaChip(), 0, sizeof AreaChip());
  const char* listas[2] = {tags, tagsOpt};
  for (int i = 0; i < 2; ++i) {
    size_t n = CaracteresLista(listas[i], MaxHexParte);
    if (n) std::memcpy(AreaChip()[i], listas[i] + 3, n);
  }
}

const char* MontaListaTagsChip(int parte) {
  char* lista = AreaChip()[2];
  std::memset(lista, 0, TamParteAreaChip);
  size_t n = strnlen(AreaChip()[parte ? 1 : 0], MaxHexParte);
  std::memcpy(lista + 3, AreaChip()[parte ? 1 : 0], n);
  std::string_view fixos(TagsFixosChip);
  uint32_t tag = 0;
  for (size_t pos = 0; int c = LeTagTexto(fixos, pos, tag); pos += static_cast<size_t>(c)) {
    if (ListadoPeloChamador(tag)) continue;
    int largura = tag > 0xFF ? 4 : 2;
    if (n + static_cast<size_t>(largura) > MaxHexParte) break;
    std::snprintf(lista + 3 + n, TamParteAreaChip - 3 - n, "%*.*X", largura, largura, tag);
    n += static_cast<size_t>(largura);
  }
  char contagem[8];
  std::snprintf(contagem, sizeof contagem, "%03d", static_cast<int>(n / 2));
  std::memcpy(lista, contagem, 3);
  return lista;
}

int FiltraTagsChip(std::span<char> resposta, int fim, int inicio) {
  std::memset(AreaChip()[2], 0, TamParteAreaChip);
  const int tam = static_cast<int>(resposta.size());
  if (inicio < 0 || inicio + 3 > tam) return 0;
  char* campo = resposta.data() + inicio;
  // The count may promise more than the answer holds: walk only what is there.
  int fimAntigo = std::min(inicio + 3 + 2 * static_cast<int>(DigitosParaInt(campo, 3)), tam);
  char* dados = campo + 3;
  std::string_view s(dados, strnlen(dados, static_cast<size_t>(fimAntigo - inicio - 3)));
  // Kept entries are moved down in place: the write position never passes the read one.
  size_t escrito = 0;
  for (size_t pos = 0; pos < s.size();) {
    uint32_t tag = 0;
    size_t vl = 0;
    int ct = LeTagTexto(s, pos, tag);
    if (ct == 0) break;
    int cl = LeTamanhoTexto(s, pos + static_cast<size_t>(ct), vl);
    if (cl < 0) break;
    size_t fimEntrada = pos + static_cast<size_t>(ct + cl) + vl;
    if (fimEntrada > s.size()) break;  // an entry cut by the field's end is dropped
    if (ListadoPeloChamador(tag) && escrito + (fimEntrada - pos) <= 2 * MaxBytesCampo) {
      std::memmove(dados + escrito, dados + pos, fimEntrada - pos);
      escrito += fimEntrada - pos;
    }
    pos = fimEntrada;
  }
  int novoN = static_cast<int>(escrito / 2);
  char contagem[8];
  std::snprintf(contagem, sizeof contagem, "%03d", novoN);
  std::memcpy(campo, contagem, 3);
  // The rest of the answer, through the character at `fim`, follows the new field.
  int destino = inicio + 3 + static_cast<int>(escrito);
  int ultimo = std::min(fim, tam - 1);
  int movidos = ultimo >= fimAntigo ? ultimo - fimAntigo + 1 : 0;
  if (movidos > 0) std::memmove(resposta.data() + destino, resposta.data() + fimAntigo, static_cast<size_t>(movidos));
  // What the shorter field frees holds stale entries: clear it.
  int limpaDe = destino + movidos, limpaAte = fimAntigo + movidos;
  if (limpaAte > limpaDe) std::memset(resposta.data() + limpaDe, 0, static_cast<size_t>(limpaAte - limpaDe));
  return novoN;
}

size_t RemoveDadosCartao(uint8_t* d, size_t n) {
  // The open templates are kept on a stack of end offsets, so the walk is
  // bounded by the data alone (each level takes at least two bytes).
  size_t fins[MaxBytesCampo / 2 + 2];
  size_t nivel = 0;
  fins[0] = n;
  size_t pos = 0, corte = n;
  // Kept bytes are moved down in place: [lido, ...) is not copied yet.
  size_t lido = 0, escrito = 0;
  auto Guarda = [&](size_t ate, size_t retomaEm) {
    if (ate > lido) std::memmove(d + escrito, d + lido, ate - lido);
    escrito += ate - lido;
    lido = retomaEm;
  };
  for (;;) {
    const size_t fim = fins[nivel];
    if (pos >= fim) {
      if (nivel == 0) break;
      --nivel;  // the template is done: its parent goes on from its end
      continue;
    }
    const size_t e = pos;
    const EntradaLida en = LeEntradaSegura(d, e, fim);
    if (!en.segura) {
      // From here the walk could be out of step, and any later byte could
      // start card data: nothing more is kept, and nothing of this entry when
      // its tag is a sensitive one.
      corte = en.tagCompleta && TagSensivel(en.tag) ? e : e + en.guarda;
      break;
    }
    pos = e + en.cabecalho;
    if (TagSensivel(en.tag)) {
      pos += en.valor;
      Guarda(e, pos);
      continue;
    }
    if (Descende(en.tag) && en.valor > 0) {
      if (nivel + 1 >= std::size(fins)) {
        corte = e;  // deeper than any TLV field can nest
        break;
      }
      fins[++nivel] = pos + en.valor;  // walk the value, then go on after it
      continue;
    }
    pos += en.valor;
  }
  Guarda(corte, corte);
  return escrito;
}

void TraceBit55(const char* tag, const char* rotulo, const char* campo, int disponivel) {
  if (!campo || disponivel < 3) return;
  uint8_t bytes[MaxBytesCampo];
  size_t n = CaracteresLista(campo, std::min(static_cast<size_t>(disponivel - 3), 2 * MaxBytesCampo)) / 2;
  HexParaBytes(bytes, campo + 3, n);
  n = RemoveDadosCartao(bytes, n);
  TraceBinario(tag, rotulo, bytes, static_cast<int32_t>(n));
  LimpaSegura(bytes, sizeof bytes);
}

void GeraTraceTrnOffline(int32_t goOnChip) {
  GaranteInicializacao();
  char texto[64];
  std::snprintf(texto, sizeof texto, "Trn aprovada offline (%s)", goOnChip ? "GoOnChip" : "FinishChip");
  TraceTexto("GeraTraceTrnOffline", texto, nullptr);
}

const char* ChipPreparaStartGoOnChip(const char* tags, const char* tagsOpt) {
  GuardaTagsChip(tags, tagsOpt);
  return MontaListaTagsChip(1);
}

void ChipTraceStartGoOnChip(const char*, const char* tags, const char* listaEnviada) {
  if (tags) TraceLista("GOC", "Tags", tags);
  TraceLista("GOC", "TagsOpt", listaEnviada);
}

void ChipPosProcessaGoOnChip(char* saida) {
  if (!saida) return;
  constexpr int inicio = 42;
  TraceBinario("GOC", "Saida", saida, 6);
  TraceBit55("GOC", "Bit55", saida + inicio, TamRespostaChip - inicio);
  int n = ContaEm(saida, inicio, 3);
  int m = ContaEm(saida, inicio + 3 + 2 * n, 3);
  FiltraTagsChip(std::span<char>(saida, TamRespostaChip), inicio + (3 + 2 * n) + (3 + m), inicio);
}

const char* ChipPreparaFinishChip(const char* tags) {
  GuardaTagsChip(tags, nullptr);
  return MontaListaTagsChip(0);
}

void ChipPosProcessaFinishChip(char* saida) {
  if (!saida) return;
  constexpr int inicio = 1;
  TraceBinario("FNC", "Saida", saida, 1);
  TraceBit55("FNC", "Bit55", saida + inicio, TamRespostaChip - inicio);
  int n = ContaEm(saida, inicio, 3);
  int posIsr = inicio + 3 + 2 * n;
  int k = ContaEm(saida, posIsr, 2);
  uint8_t isr[MaxBytesCampo];
  int bytesIsr = std::clamp((TamRespostaChip - posIsr - 2) / 2, 0, k);
  if (bytesIsr) HexParaBytes(isr, saida + posIsr + 2, static_cast<size_t>(bytesIsr));
  TraceBinario("FNC", "ISR", isr, bytesIsr);
  int posEspec = posIsr + 2 + 2 * k;
  int m = ContaEm(saida, posEspec, 3);
  int charsEspec = std::clamp(TamRespostaChip - posEspec - 3, 0, m);
  TraceBinario("FNC", "Espec", charsEspec ? saida + posEspec + 3 : saida, charsEspec);
  FiltraTagsChip(std::span<char>(saida, TamRespostaChip), posEspec + 3 + m, inicio);
}
