// Tag lists, answer filtering and the removal of card data, without a pinpad.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "pinpad/ParametrosChip.h"
#include "state/LibState.h"

namespace {

class ParametrosChip : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override { testutil::ResetaLibState(); }
};

std::string Lista(const std::string& hex) {
  char c[24];
  std::snprintf(c, sizeof c, "%03zu", hex.size() / 2);
  return c + hex;
}

// An answer in a buffer of exactly the documented capacity, so that the
// sanitizer sees any access past it.
std::unique_ptr<char[]> Resposta(const std::string& texto) {
  auto r = std::make_unique<char[]>(TamRespostaChip);
  std::memset(r.get(), 0, TamRespostaChip);
  std::memcpy(r.get(), texto.data(), std::min<size_t>(texto.size(), TamRespostaChip));
  return r;
}

const std::string fixos = TagsFixosChip;

TEST_F(ParametrosChip, ListasEnviadasLevamOsTagsFixosQueFaltam) {
  // Start step: 9F26 is the caller's, the other 14 fixed tags go into TagsOpt.
  EXPECT_STREQ(ChipPreparaStartGoOnChip("0029F26", nullptr), "023" "8C8D8F959B9F0D9F0E9F0F9F1B9F279F339F349F359F40");
  // A fixed tag listed in TagsOpt counts too; the caller's own tags come first.
  EXPECT_STREQ(ChipPreparaStartGoOnChip("0019F", "0048C5F2A"), "027" "8C5F2A8D8F959B9F0D9F0E9F0F9F1B9F269F279F339F349F359F40");
  // All fifteen in TagsOpt, with a count larger than the list: only what is there, recounted.
  EXPECT_EQ(std::string(ChipPreparaStartGoOnChip("0029F26", ("099" + fixos + "5F2A").c_str())), "027" + fixos + "5F2A");
  // Finish step without tags: the fifteen fixed tags alone.
  EXPECT_EQ(std::string(ChipPreparaFinishChip(nullptr)), "025" + fixos);
  EXPECT_EQ(std::string(ChipPreparaFinishChip("0")), "025" + fixos);  // too short to hold a count

  // Lists longer than the 511 bytes a count-prefixed list may carry are cut
  // there; the extended list still fits with its terminator.
  std::string longa = "999" + std::string(1998, 'A');
  const char* l = ChipPreparaStartGoOnChip(longa.c_str(), longa.c_str());
  EXPECT_EQ(std::strlen(l), 3u + 1022u);
  EXPECT_EQ(std::string(l, 3), "511");
  EXPECT_EQ(std::strlen(LibState.chip.AreaChip[0]), 1022u);
}

// A list of the full 511 bytes is kept whole: its last tag is sent and its
// entry reaches the caller.
TEST_F(ParametrosChip, ListaDe511BytesGuardadaInteira) {
  std::string hex;
  for (int i = 0; i < 255; ++i) hex += "5F2A";
  hex += "9A";  // 511 bytes
  const std::string lista = Lista(hex);
  ASSERT_EQ(lista.substr(0, 3), "511");
  const std::string enviada = ChipPreparaStartGoOnChip(lista.c_str(), lista.c_str());
  EXPECT_EQ(enviada, lista);  // no fixed tag fits behind it, the caller's list goes whole
  EXPECT_EQ(std::string(LibState.chip.AreaChip[0]), hex);
  EXPECT_EQ(std::string(LibState.chip.AreaChip[1]), hex);
  EXPECT_EQ(std::string(ChipPreparaFinishChip(lista.c_str())), lista);

  ChipPreparaStartGoOnChip(lista.c_str(), nullptr);
  std::string resp = "000000" + std::string(36, '9') + Lista("9A03261210" "95050000008000") + "000";
  auto r = Resposta(resp);
  ChipPosProcessaGoOnChip(r.get());
  EXPECT_EQ(std::string(r.get()), resp.substr(0, 42) + Lista("9A03261210") + "000");
}

TEST_F(ParametrosChip, FiltroDoGoOnChipGuardaSoOsTagsDoChamador) {
  ChipPreparaStartGoOnChip("0029F26", "0025F2A");
  std::string tlv = "9F26081122334455667788" "95050000008000" "5F2A020986";
  std::string resp = "000000" + std::string(36, '9') + Lista(tlv) + "005HELLO";
  auto r = Resposta(resp);
  ChipPosProcessaGoOnChip(r.get());
  EXPECT_STREQ(r.get(), (resp.substr(0, 42) + Lista("9F26081122334455667788" "5F2A020986") + "005HELLO").c_str());
  // Nothing of the longer old field is left behind the terminator.
  for (size_t i = std::strlen(r.get()); i < resp.size(); ++i) EXPECT_EQ(r[i], '\0') << i;
}

TEST_F(ParametrosChip, FiltroDoFinishChipSemTagsTiraTudo) {
  ChipPreparaFinishChip(nullptr);
  std::string tlv = "9F26081122334455667788" "9F2701805A084111111111111111";
  std::string resp = "A";
  resp += Lista(tlv) + "02AABB" + "003XYZ";
  auto r = Resposta(resp);
  ChipPosProcessaFinishChip(r.get());
  EXPECT_STREQ(r.get(), "A000" "02AABB" "003XYZ");
}

// The rest of an answer moves up to and including the character at its end
// offset (the terminator of a zero-terminated answer). With the buffer past
// the answer holding a sentinel instead of zeros, that character lands right
// after the last field, the characters the shorter field freed are cleared, and
// what lies further on is untouched.
TEST_F(ParametrosChip, FiltroLevaOCaractereDoFimDaResposta) {
  const std::string tlv = "9F26081122334455667788" "95050000008000" "5F2A020986";
  struct Caso {
    const char* titulo;
    void (*prepara)();
    void (*filtra)(char*);
    std::string resposta;
    std::string filtrada;
  } casos[] = {
      {"GoOnChip", [] { ChipPreparaStartGoOnChip("0029F26", "0025F2A"); }, ChipPosProcessaGoOnChip,
       "000000" + std::string(36, '9') + Lista(tlv) + "005HELLO",
       "000000" + std::string(36, '9') + Lista("9F26081122334455667788" "5F2A020986") + "005HELLO"},
      {"FinishChip", [] { ChipPreparaFinishChip("0025F2A"); }, ChipPosProcessaFinishChip,
       std::string("A").append(Lista(tlv)).append("02AABB" "003XYZ"),
       std::string("A").append(Lista("5F2A020986")).append("02AABB" "003XYZ")},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    c.prepara();
    auto r = std::make_unique<char[]>(TamRespostaChip);
    std::memset(r.get(), '~', TamRespostaChip);
    std::memcpy(r.get(), c.resposta.data(), c.resposta.size());
    c.filtra(r.get());
    const size_t livres = c.resposta.size() - c.filtrada.size();
    EXPECT_EQ(std::string(r.get(), c.resposta.size() + 2), c.filtrada + "~" + std::string(livres, '\0') + "~");
  }
}

// Counts that promise more than the answer holds, entries cut by the field's
// end, unsupported length forms: the filter stays inside the buffer and keeps
// only whole entries of listed tags.
TEST_F(ParametrosChip, FiltroComContagensMentirosasNaoSaiDoBuffer) {
  ChipPreparaStartGoOnChip("0049F265A", nullptr);
  struct Caso {
    const char* titulo;
    std::string campo;
    std::string esperado;
  } casos[] = {
      {"contagem maior que a resposta", "999" "9F260211225A05AA", "005" "9F26021122"},  // 5A's value runs off
      {"entrada cortada", "004" "9F2605", "000"},
      {"forma de tamanho nao suportada", "005" "5A83AABBCC", "001" "5A"},
      {"tamanho 82", "006" "5A820001FF", "005" "5A820001FF"},
  };
  for (auto& c : casos) {
    auto r = Resposta(std::string(42, '0') + c.campo);
    r[TamRespostaChip - 1] = 'Z';  // no terminator anywhere after the field
    ChipPosProcessaGoOnChip(r.get());
    EXPECT_EQ(std::string(r.get() + 42, c.esperado.size()), c.esperado) << c.titulo;
  }
  // The filter on its own with an end far past the buffer.
  auto r = Resposta(std::string(42, '0') + "003" "5A01AA" "001X");
  EXPECT_EQ(FiltraTagsChip(std::span<char>(r.get(), TamRespostaChip), 5000, 42), 3);
  EXPECT_EQ(FiltraTagsChip(std::span<char>(r.get(), TamRespostaChip), 10, 998), 0);
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

std::string Hex(const std::vector<uint8_t>& v, size_t n) {
  std::string s;
  char c[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(c, sizeof c, "%02X", v[i]);
    s += c;
  }
  return s;
}

TEST(RemoveDadosCartao, EmQualquerProfundidade) {
  struct Caso {
    const char* titulo;
    const char* entrada;
    const char* esperado;
  } casos[] = {
      {"topo", "9F2701805A0841111111111111119F3602AABB", "9F2701809F3602AABB"},
      {"trilha 2 e 1 e sem contato", "57094111111111111111D2" "56034142439F6B0211229501FF", "9501FF"},
      {"dentro de 70", "700E5A0841111111111111119F2701805A01FF", "700E9F270180"},
      {"dentro de E1 dentro de 70", "700CE10A5A084111111111111111", "700CE10A"},
      {"dentro de 73, que a busca do dicionario nao percorre", "730A5A084111111111111111", "730A"},
      {"template com tamanho errado: nada depois do cabecalho", "70205A0841111111111111119501FF", "7020"},
      {"5A com forma de tamanho nao suportada", "9501FF5A8308411111111111111111", "9501FF"},
      {"5A cortado no fim", "9501FF5A08411111", "9501FF"},
      {"tamanho 81", "5A81084111111111111111", ""},
      {"dentro de 80", "800A5A0841111111111111119501FF", "800A9501FF"},
      {"57, 56 e 9F6B dentro de 80", "801B57094111111111111111D25603414243" "9F6B0411111111" "9F2701809501FF",
       "801B9F2701809501FF"},
      {"dentro de 80 dentro de 70", "700C800A5A084111111111111111", "700C800A"},
  };
  for (auto& c : casos) {
    auto v = Bytes(c.entrada);
    size_t n = RemoveDadosCartao(v.data(), v.size());
    EXPECT_EQ(Hex(v, n), c.esperado) << c.titulo;
  }
}

// Tag and BER length of one entry around `valor` (hexadecimal).
std::string Envolve(const char* tag, const std::string& valor) {
  const size_t n = valor.size() / 2;
  char c[32];
  if (n < 0x80)
    std::snprintf(c, sizeof c, "%02zX", n);
  else if (n < 0x100)
    std::snprintf(c, sizeof c, "81%02zX", n);
  else
    std::snprintf(c, sizeof c, "82%04zX", n);
  return tag + std::string(c) + valor;
}

// Templates nested past any fixed depth: the walk is bounded by the data only.
TEST(RemoveDadosCartao, TemplatesAninhadosSemLimiteDeProfundidade) {
  const char* moldes[] = {"70", "80", "E1", "A5", "77", "BF0C"};
  for (int profundidade : {8, 9, 10, 40, 200}) {
    SCOPED_TRACE(profundidade);
    const std::string sensiveis[] = {"5A084111111111111111", "5709411111111111111111", "5603414243", "9F6B0411111111"};
    for (const std::string& sensivel : sensiveis) {
      std::string dados = sensivel + "9501FF";
      std::vector<std::string> cabecalhos;
      for (int i = 0; i < profundidade; ++i) {
        std::string e = Envolve(moldes[i % 6], dados);
        cabecalhos.push_back(e.substr(0, e.size() - dados.size()));
        dados = e;
      }
      std::string esperado;
      for (auto it = cabecalhos.rbegin(); it != cabecalhos.rend(); ++it) esperado += *it;
      esperado += "9501FF";
      auto v = Bytes(dados);
      size_t n = RemoveDadosCartao(v.data(), v.size());
      EXPECT_EQ(Hex(v, n), esperado) << sensivel;
    }
  }
}

}  // namespace
