// What the link writes to the trace on its success and failure paths.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Fixtura.h"
#include "link/Enlace.h"
#include "tools/letrace/DecodificaTrace.h"
#include "trace/FormatoTrace.h"
#include "trace/FuncoesTrace.h"

using namespace testlink;

namespace {

struct Marca {
  std::string tag, rotulo, valor;
  bool operator==(const Marca&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Marca& m) { return o << m.tag << "/" << m.rotulo << "=" << m.valor; }

// The pty fixture with a trace open (key valid, so frames are written too).
class TraceEnlace : public LinkPty {
 protected:
  void SetUp() override {
    LinkPty::SetUp();
    char chave[17];
    ValidadeParaChaveTrace("20000101", "20991231", chave);
    const std::string parametros = std::string("NivelTrace=1,ChaveTrace=") + chave;
    ASSERT_NE(TraceAbre(12, dir.caminho().c_str(), "link.trc", nullptr, nullptr, 1, parametros.c_str()), nullptr);
  }
  void TearDown() override {
    if (LibState.trace.contextoTrace) TraceFecha(LibState.trace.contextoTrace);
    LinkPty::TearDown();
  }

  // Tag, label and value of every record (numbers as decimal text, binary
  // values as hexadecimal).
  std::vector<Marca> Marcas() {
    const std::string conteudo = testutil::LeArquivo(dir.arquivo("link.trc"));
    std::span<const uint8_t> dados(reinterpret_cast<const uint8_t*>(conteudo.data()), conteudo.size());
    std::vector<RegistroLido> lidos;
    std::string motivo;
    if (!LeTodosRegistros(dados, lidos, motivo)) ADD_FAILURE() << motivo;
    std::vector<Marca> r;
    for (const RegistroLido& reg : lidos) {
      std::string valor;
      if (reg.especie == 0) {
        valor.assign(reg.valor.begin(), reg.valor.end());
      } else if (reg.especie == 1 && reg.valor.size() == 4) {
        int32_t n;
        std::memcpy(&n, reg.valor.data(), 4);
        valor = std::to_string(n);
      } else {
        valor = Hex(Bytes(reg.valor.begin(), reg.valor.end()));
      }
      r.push_back({reg.tag, reg.rotulo, valor});
    }
    return r;
  }

  testutil::DiretorioTemp dir;
};

TEST_F(TraceEnlace, SendRecords) {
  peer.EsperaQuadro().Envia({kNAK}).EsperaQuadro().Envia({kNAK}).EsperaQuadro().Envia({kNAK}).Inicia();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  ASSERT_TRUE(peer.Termina());
  const std::vector<Marca> esperado = {
      {"TxM", "BufferTxPinPad", "16 4F 50 4E 17 A8 A9"},
      {"TxMensagem", "Recebeu NACK", ""},
      {"TxMensagem", "Recebeu NACK", ""},
      {"TxMensagem", "Recebeu NACK", ""},
      {"TxMensagem", "Excedeu tentativas de envio", ""},
  };
  EXPECT_EQ(Marcas(), esperado);
}

TEST_F(TraceEnlace, ReceiveRecords) {
  Bytes ruim = Quadro("OPN000");
  ruim.back() ^= 1;
  peer.EsperaQuadro()
      .Envia(Concatena({{kACK}, {'x', 'y', 'z'}, ruim}))
      .EsperaBytes(1)
      .Envia(Quadro("OPN000"))
      .Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  std::vector<Marca> marcas = Marcas();
  // Steps that found the frame incomplete may add "ETB recebido" records
  // depending on how the bytes arrived; keep the rest.
  std::erase_if(marcas, [](const Marca& m) { return m.rotulo == "ETB recebido" || m.rotulo == "CRC nao recebido"; });
  const std::vector<Marca> esperado = {
      {"TxM", "BufferTxPinPad", "16 4F 50 4E 17 A8 A9"},
      {"TxMensagem", "Recebeu ACK", ""},
      {"RxMensagem", "Num. carac. descartados", "3"},
      {"RxM", "BufferRxPinPad", Hex(ruim)},
      {"RxMensagem", "Enviando NACK", ""},
      {"RxM", "BufferRxPinPad", Hex(Quadro("OPN000"))},
  };
  EXPECT_EQ(marcas, esperado);
}

TEST_F(TraceEnlace, CutFrameRecords) {
  Bytes q = Quadro("OPN000");
  q.resize(6);
  peer.EsperaQuadro().Envia(Concatena({{kACK}, q})).Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  ASSERT_TRUE(peer.Termina());
  const auto marcas = Marcas();
  ASSERT_GE(marcas.size(), 2u);
  // What came, marked with ETB and an empty CRC, then the reason.
  EXPECT_EQ(marcas[marcas.size() - 2], (Marca{"RxM", "BufferRxPinPad.err", Hex(Concatena({q, {kETB, 0, 0}}))}));
  EXPECT_EQ(marcas.back(), (Marca{"RxMensagem", "Excedeu tentativas de recepcao", ""}));
}

TEST_F(TraceEnlace, WriteAndAckFailureRecords) {
  const Bytes quadro = Quadro("OPN");
  const int32_t n = static_cast<int32_t>(quadro.size());
  // The last write below leaves the body of a frame on the line.
  peer.EsperaBytes(quadro.size() - 1).EsperaQuadro().FechaMestre().Inicia();
  {
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 1, EIO);
    EXPECT_EQ(PortaEscreve(quadro.data(), n), PPCOMP_COMMERR);
    sis.Falha(Chamada::write, 1, EIO);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, -1), 0);
    sis.Falha(Chamada::write, 2, EIO);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, -1), n - 1);
  }
  for (int i = 0; i < 500 && peer.Recebido().size() < quadro.size() - 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  peer.Termina();
  const std::string eio = std::to_string(EIO) + ": " + std::strerror(EIO);
  const std::vector<Marca> esperado = {
      {"Tx", "Retorno", "0"},
      {"Serial", "TxSerial.1", eio},
      {"Serial", "TxSerial.2", eio},
      {"TxM", "BufferTxPinPad", "16 4F 50 4E 17 A8 A9"},
      {"TxMensagem", "Timeout ACK", ""},
  };
  EXPECT_EQ(Marcas(), esperado);
}

}  // namespace
