// Value scrambling, the trace key and frame masking: pure functions.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "trace/FormatoTrace.h"
#include "trace/FuncoesTrace.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(EmbaralhaValorTrace, ExemplosConhecidos) {
  std::vector<uint8_t> zero{0x00};
  EmbaralhaValorTrace(zero);
  EXPECT_EQ(zero, (std::vector<uint8_t>{0x04}));

  auto abc = Bytes("abc");
  EmbaralhaValorTrace(abc);
  EXPECT_EQ(abc, (std::vector<uint8_t>{0x9C, 0xDD, 0x9B}));

  std::vector<uint8_t> seq{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  TrocaPosicoesTrace(seq);
  EXPECT_EQ(seq, (std::vector<uint8_t>{9, 8, 2, 7, 4, 5, 6, 3, 1, 0}));
}

TEST(EmbaralhaValorTrace, DesembaralhaDevolveOOriginalEmQualquerTamanho) {
  std::mt19937 gerador(1234);
  for (size_t n = 0; n <= 300; ++n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gerador());
    auto w = v;
    EmbaralhaValorTrace(w);
    DesembaralhaValorTrace(w);
    ASSERT_EQ(w, v) << n;
  }
}

TEST(ChaveTrace, ChaveGeradaDevolveOPeriodo) {
  const char* periodos[][2] = {{"20261201", "20261231"}, {"19990101", "20991231"}, {"20240229", "20240229"}};
  for (auto& p : periodos) {
    char chave[17];
    ASSERT_EQ(ValidadeParaChaveTrace(p[0], p[1], chave), 0);
    EXPECT_EQ(std::strlen(chave), 16u);
    EXPECT_EQ(std::strspn(chave, "0123456789ABCDEF"), 16u) << chave;
    char inicio[9], fim[9];
    ChaveTraceParaValidade(chave, inicio, fim);
    EXPECT_STREQ(inicio, p[0]);
    EXPECT_STREQ(fim, p[1]);
  }
  char chave[17];
  EXPECT_EQ(ValidadeParaChaveTrace("2026120", "20261231", chave), -1);
}

TEST(ChaveTrace, ChaveCurtaNulaOuMalFormadaNaoEstouraEDaPeriodoDeOitoCaracteres) {
  char inicio[9], fim[9];
  ChaveTraceParaValidade(nullptr, inicio, fim);
  EXPECT_STREQ(inicio, "");
  EXPECT_STREQ(fim, "");
  for (const char* chave : {"", "12", "ZZZZZZZZZZZZZZZZ", "0123456789ABCDEF0123456789"}) {
    ChaveTraceParaValidade(chave, inicio, fim);
    EXPECT_EQ(std::strlen(inicio), 8u);
    EXPECT_EQ(std::strlen(fim), 8u);
  }
}

// ---- Frame masking -----------------------------------------------------------

std::string Mascara(const std::string& quadro, int32_t direcao, size_t capacidade = TAM_QUADRO_MASCARA) {
  std::vector<uint8_t> saida(capacidade);
  size_t n = MascaraQuadroPinPad(reinterpret_cast<const uint8_t*>(quadro.data()), quadro.size(), saida.data(),
                                 saida.size(), direcao);
  return std::string(saida.begin(), saida.begin() + static_cast<long>(n));
}

// SYN + payload + ETB + two check bytes.
std::string Enquadra(const std::string& payload) { return "\x16" + payload + "\x17" + "\x41\x42"; }

TEST(MascaraQuadroPinPad, GpnRecebidoEscondeOs36BytesDepoisDoPrefixo) {
  const std::string campos = "1234567890123456789012345678901234567890XYZ";  // 43 bytes
  const std::string payload = "GPN000043" + campos;
  // Bare payload: the code at byte 0.
  EXPECT_EQ(Mascara(payload, 2), "GPN000043" + std::string(36, '*') + "7890XYZ");
  // Whole frame: code at byte 1, tail left alone.
  EXPECT_EQ(Mascara(Enquadra(payload), 2), "\x16GPN000043" + std::string(36, '*') + "7890XYZ" + "\x17" + "AB");
  // Non-printable bytes inside the field stay as they are.
  std::string comControle = payload;
  comControle[9] = '\x01';
  EXPECT_EQ(Mascara(comControle, 2)[9], '\x01');
}

TEST(MascaraQuadroPinPad, GpnEnviadoEscondeSenhaEDadosDoCartao) {
  // Sent: fields after 6 characters; rows at 3 (16 bytes) and 43 (13 bytes).
  const std::string campos(60, 'd');
  const std::string saida = Mascara("GPN060" + campos, 1);
  EXPECT_EQ(saida.substr(0, 9), "GPN060ddd");
  EXPECT_EQ(saida.substr(9, 16), std::string(16, '*'));
  EXPECT_EQ(saida.substr(25, 24), std::string(24, 'd'));
  EXPECT_EQ(saida.substr(49, 13), std::string(13, '*'));
  EXPECT_EQ(saida.substr(62), std::string(4, 'd'));
}

TEST(MascaraQuadroPinPad, CodigoDesconhecidoEscondeTudoComCerquilha) {
  EXPECT_EQ(Mascara("XYZ005hello", 1), "XYZ########");
  EXPECT_EQ(Mascara(Enquadra("XYZ005hello"), 2), "\x16XYZ########\x17" "AB");
  // Direction unknown to the table: nothing of a known code may leak either.
  EXPECT_EQ(Mascara("GPN000004" "1234", 3), "GPN" + std::string(10, '#'));
}

TEST(MascaraQuadroPinPad, CodigosSemCamposSensiveisPassamInalterados) {
  for (const char* q : {"OPN000", "CLO000", "DSP032Ola mundo                      ", "GIN00201", "DEX003abc", "GKY000",
                        "RMC006RETIRE", "FNC007abcdefg", "TLI012abcdefghijkl", "TLR005abcde", "TLE000", "GDU003abc",
                        "GTS00201", "NTM005aviso", "DWK036abcdefghijklmnopqrstuvwxyz0123456789",
                        "CNG006abcdef"})
    EXPECT_EQ(Mascara(q, 1), q);
  EXPECT_EQ(Mascara(Enquadra("OPN000"), 2), Enquadra("OPN000"));
  // Shorter than a code: nothing to match, nothing to mask.
  EXPECT_EQ(Mascara("GP", 1), "GP");
}

// Every row of the masking table, one case each: in a whole frame, exactly the
// bytes of the row's field become '*', and the byte before and the byte after
// keep their filler (unless another row of the same code and direction covers
// them). Only that stretch holds printable filler; the other bytes are control
// bytes, which no row changes, so each case sees its own row alone.
TEST(MascaraQuadroPinPad, CadaLinhaDaTabelaEscondeExatamenteSeuCampo) {
  struct Linha {
    const char* codigo;
    int32_t direcao;
    size_t deslocamento;  // from the start of the fields
    size_t maximo;
  };
  static constexpr Linha kLinhas[] = {
      {"GPN", 2, 0, 36},   {"GPN", 1, 3, 16},   {"GPN", 1, 43, 13},   {"GCR", 2, 18, 69},  {"GCR", 2, 95, 31},
      {"GCR", 2, 129, 104}, {"GCR", 2, 241, 13}, {"GCR", 2, 315, 13},  {"ENB", 1, 3, 32},   {"ENB", 1, 37, 14},
      {"ENB", 2, 0, 16},   {"GOC", 1, 30, 32},  {"GOC", 2, 6, 36},    {"CKE", 2, 10, 69},  {"CKE", 2, 87, 31},
      {"CKE", 2, 121, 104}, {"CHP", 2, 3, 999},  {"CHP", 1, 5, 999},   {"GEN", 2, 3, 999},  {"GEN", 1, 5, 999},
      // The chip answers' TLV data, which may carry the card number and track 2.
      {"GOC", 2, 42, 999}, {"FNC", 2, 1, 999},
  };
  auto outraLinhaCobre = [](const Linha& l, size_t deslocamento) {
    for (const Linha& o : kLinhas)
      if (&o != &l && std::strcmp(o.codigo, l.codigo) == 0 && o.direcao == l.direcao && deslocamento >= o.deslocamento &&
          deslocamento < o.deslocamento + o.maximo)
        return true;
    return false;
  };
  for (const Linha& l : kLinhas) {
    SCOPED_TRACE(std::string(l.codigo) + " direcao " + std::to_string(l.direcao) + " deslocamento " +
                 std::to_string(l.deslocamento));
    const size_t prefixo = l.direcao == 1 ? 6 : 9;  // code and length; code, status and length
    const size_t campo = 1 + prefixo + l.deslocamento;  // in the frame, after SYN
    std::string payload = l.codigo + std::string(prefixo - 3 + l.deslocamento + l.maximo + 1, '\x01');
    std::string quadro = Enquadra(payload);
    quadro[quadro.size() - 2] = quadro[quadro.size() - 1] = '\x02';  // check bytes out of the way too
    for (size_t i = campo - 1; i <= campo + l.maximo; ++i) quadro[i] = static_cast<char>('a' + i % 26);
    std::string esperado = quadro;
    for (size_t i = campo; i < campo + l.maximo; ++i) esperado[i] = '*';
    if (l.deslocamento > 0 && outraLinhaCobre(l, l.deslocamento - 1)) esperado[campo - 1] = '*';
    if (outraLinhaCobre(l, l.deslocamento + l.maximo)) esperado[campo + l.maximo] = '*';
    EXPECT_EQ(Mascara(quadro, l.direcao, quadro.size()), esperado);
  }
}

TEST(MascaraQuadroPinPad, QuadroMaiorQueOBufferECortadoDepoisDeMascarado) {
  // A CHP frame longer than the buffer: its field (999 bytes from offset 5)
  // is masked as in the whole frame, then the copy ends at the buffer size.
  std::string payload = "CHP000" + std::string(1200, 'c');
  const std::string saida = Mascara(Enquadra(payload), 1);
  ASSERT_EQ(saida.size(), TAM_QUADRO_MASCARA);
  EXPECT_EQ(saida.substr(0, 12), "\x16" "CHP000ccccc");
  EXPECT_EQ(saida.substr(12, 999), std::string(999, '*'));
  EXPECT_EQ(saida.substr(1011), std::string(TAM_QUADRO_MASCARA - 1011, 'c'));
  // An unknown long frame is masked with '#' to the end of the copy.
  const std::string desconhecido = Mascara(Enquadra("ABC" + std::string(2000, 'x')), 2);
  ASSERT_EQ(desconhecido.size(), TAM_QUADRO_MASCARA);
  EXPECT_EQ(desconhecido.find('x'), std::string::npos);
}

}  // namespace
