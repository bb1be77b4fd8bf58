#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into the given folder
(one sub-folder per target), built from the protocol's worked frames and the
test fixtures. fuzz/run.sh adds them to the committed corpora before a run;
`fuzz/run.sh --minimiza` merges everything back into fuzz/corpus."""
import os
import struct
import sys

SYN, ETB, ACK, NAK, EOT, CAN = 0x16, 0x17, 0x06, 0x15, 0x04, 0x18
STX, ETX, SI, SO = 0x02, 0x03, 0x0F, 0x0E


def crc16(dados):
    crc = 0
    for b in dados:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


def lrc(dados):
    x = 0
    for b in dados:
        x ^= b
    return x


def campo(texto):
    if isinstance(texto, str):
        texto = texto.encode('latin-1')
    return b'%03d' % len(texto) + texto


def resposta(codigo, status, *campos):
    corpo = codigo.encode() + b'%03d' % status + b''.join(campo(c) for c in campos) + bytes([ETB])
    c = crc16(corpo)
    return bytes([SYN]) + corpo + bytes([c >> 8, c & 0xFF])


def sc5000(texto, inicio=STX, fim=ETX):
    corpo = texto.encode('latin-1') + bytes([fim])
    return bytes([inicio]) + corpo + bytes([lrc(corpo)])


PAN = '5413330089010434'
TLV = '5A08' + PAN + '800A5A08' + PAN + '57115413330089010434D25122011234567890'
GOC = '0' * 42 + '%03d' % (len(TLV) // 2) + TLV + '000'
FNC = '0' + '%03d' % (len(TLV) // 2) + TLV + '00' + '000'


def seeds():
    s = {}
    # Framed receive: mode, four capacities, then the line.
    caps = struct.pack('>HHHH', 256, 16, 999, 1050)
    s['enlace'] = {
        'resposta': bytes([0x00]) + caps + resposta('OPN', 0),
        'resposta-campos': bytes([0x03]) + caps + resposta('GIN', 0, 'ABCDEFGH', '12', 'x' * 20),
        'ack-resposta': bytes([0x10]) + caps + bytes([ACK]) + resposta('GIN', 0, 'VERSAO'),
        'nak-ack': bytes([0x30]) + caps + bytes([NAK, ACK]) + resposta('GIN', 0, 'V'),
        'eot': bytes([0x10]) + caps + bytes([EOT]),
        'can-lixo': bytes([0x12]) + caps + bytes([ACK, 0x41, CAN]) + resposta('GIN', 13),
        'sondagem': bytes([0x18]) + caps + bytes([ACK]) + resposta('GCR', 2, 'INSIRA') + resposta('GCR', 0, 'A'),
        'ntm': bytes([0x08]) + caps + resposta('NTM', 0, 'MENSAGEM') + resposta('GPN', 0, '0' * 16),
        'crc-errado': bytes([0x00]) + caps + resposta('OPN', 0)[:-1] + b'\x00' + resposta('OPN', 0),
        'sc5000': bytes([0x11]) + struct.pack('>H', 64) + bytes([ACK]) + sc5000('72' + '1234567890123456'),
        'sc5000-si': bytes([0x15]) + struct.pack('>H', 64) + bytes([ACK]) + sc5000('7212345678', SI, SO),
        'sc5000-pin': bytes([0x13]) + struct.pack('>H', 32) + bytes([ACK, EOT]) + sc5000('09' + '0123456789ABCDEF'),
        'sc5000-eot': bytes([0x11]) + struct.pack('>H', 8) + bytes([ACK]) + bytes([EOT]),
        'sc5000-nak': bytes([0x01]) + struct.pack('>H', 8) + sc5000('72AB')[:-1] + b'\x00' + sc5000('72AB'),
    }
    # PP_* answers: mode, operation, arguments (length byte + bytes), the line.
    def pp(modo, op, args, linha):
        return bytes([modo, op, len(args)]) + args + linha
    a = bytes([ACK])
    s['pinpad'] = {
        'getinfo': pp(0x01, 0, b'00', a + resposta('GIN', 0, 'FABRICANTE     MODELO   ' + 'x' * 100)),
        'getcard': pp(0x01, 1, b'', a + resposta('GCR', 2, 'PASSE O CARTAO') + resposta('GCR', 0, '00' + '0' * 20 + '37' + '4111111111111111=25122010000000000000' + '0' * 30)),
        'getpin': pp(0x01, 2, b'', a + resposta('GPN', 2, 'SENHA:') + resposta('GPN', 0, '0123456789ABCDEF' + '0' * 20)),
        'checkevent': pp(0x01, 3, b'', a + resposta('CKE', 0, '0' + '002')),
        'chipdirect': pp(0x01, 4, b'00' + b'\x05' + bytes.fromhex('00A4040007'), a + resposta('CHP', 0, '9000' + '6F00')),
        'goonchip': pp(0x01, 5, b'\x02\x5a\x57' + b'\x02\x9f\x6b', a + resposta('GOC', 0, GOC)),
        'goonchip-contagem-grande': pp(0x01, 5, b'', a + resposta('GOC', 0, '0' * 42 + '999' + '5A08' + PAN)),
        'finishchip': pp(0x01, 6, b'0000' + b'\x02\x8a\x02' + b'\x00' + b'\x02\x5a\x57', a + resposta('FNC', 0, FNC)),
        'timestamp': pp(0x00, 7, b'', a + resposta('GTS', 0, '0123456789')),
        'generic': pp(0x00, 8, b'', a + resposta('GEN', 0, 'RESPOSTA')),
        'dukpt': pp(0x00, 9, b'', a + resposta('GDU', 0, '0' * 16 + '1' * 20)),
        'encrypt': pp(0x00, 10, b'', a + resposta('ENB', 0, '0123456789ABCDEF')),
        'removecard': pp(0x00, 11, b'', a + resposta('RMC', 2, 'RETIRE') + resposta('RMC', 0)),
        'getkey': pp(0x00, 12, b'', a + resposta('GKY', 13)),
        'wkpan': pp(0x00, 13, b'', a + resposta('DWK', 0, '0' * 264)),
        'open': pp(0x00, 14, b'', a + resposta('OPN', 0)),
        'emv-goonchip': pp(0x05, 5, b'', bytes([0x0a]) + b'INSIRA'.ljust(31, b' ') + GOC.encode()),
        'emv-finishchip': pp(0x05, 6, b'0000\x00\x00', bytes([0x00]) + b' ' * 31 + FNC.encode()),
        'emv-getcard': pp(0x04, 1, b'', bytes([0x02]) + b' ' * 31 + b'123456789'),
        'host-getinfo': pp(0x03, 0, b'00', struct.pack('>H', 6) + b'QX:OPN' + struct.pack('>H', 12) + b'QX:GIN000004ABCD'),
        'host-goonchip': pp(0x03, 5, b'', struct.pack('>H', 6) + b'QX:OPN' + struct.pack('>H', 9 + len(GOC)) + b'QX:GOC000' + campo(GOC)),
    }
    def sc(modo, op, args, linha):
        return bytes([modo, op]) + args.ljust(2, b'\x00') + linha
    dex = resposta('DEX', 0)
    s['sc5000'] = {
        'serie': sc(0x00, 0, b'', a + sc5000('06ABCDEF0123456789', SI, SO)),
        'serie-stx': sc(0x10, 0, b'', a + sc5000('061234', STX, ETX)),
        'serie-lrc-03': sc(0x00, 0, b'', a + sc5000('06000000000000000A', SI, SO)),
        'pin': sc(0x00, 1, b'\x01', a + bytes([EOT]) + a + a + sc5000('71000400' + '0123456789ABCDEF')),
        'cartao': sc(0x00, 2, b'', a + dex + a + sc5000('81' + '%02d' % 37 + '4111111111111111=25122010000000000000' + '00') + a + dex),
        'cartao-ex': sc(0x00, 3, b'\x10\x20', a + dex + a + sc5000('81' + '0' * 60) + a + dex),
        'mostra': sc(0x00, 4, b'', a + dex),
        'g42': sc(0x00, 5, b'', a + resposta('G42', 0)),
        'host-serie': sc(0x02, 0, b'', struct.pack('>H', 18) + b'06ABCDEF0123456789'),
    }
    s['tlv'] = {
        'busca-5a': struct.pack('>HH', 0x5A, 0x57) + bytes.fromhex(TLV),
        'texto': struct.pack('>HH', 0x5A, 0x9F27) + TLV.encode(),
        'aninhado': struct.pack('>HH', 0x5A, 0x80) + bytes.fromhex('7010' + '770E' + '800C' + '5A08' + PAN + '9F2701'),
        'lista': struct.pack('>HH', 0x9F26, 0x9F27) + b'9F269F279F108A5F34',
        'longo': struct.pack('>HH', 0x9F10, 0x5A) + bytes.fromhex('9F1081' + '90' + '00' * 0x90 + '8A023030'),
    }
    s['chip'] = {
        'campo': bytes.fromhex(TLV),
        'aninhado': bytes.fromhex('7010' + '770E' + '800C' + '5A08' + PAN + '9F2701'),
        'longo': bytes.fromhex('9F1081' + '90' + '00' * 0x90 + '5A08' + PAN),
        'sem-contato': bytes.fromhex('9F6B04' + PAN[:8] + '5603414243' + '570941111111111111111D'),
    }
    s['ini'] = {
        'leitura': bytes([0x10, 40]) + b'\x06PinPad' + b'\x0bChaveTrace\x0412AB' +
                   b'[PinPad]\r\n  ChaveTrace = 0123456789ABCDEF\n\tHabilitaTrace=1\n[Outra]\nx=y\n',
        'grava': bytes([0x18, 60]) + b'\x06PinPad' + b'\x05Chave\x05valor' + b'[PinPad]\nChave=velho\n',
        'nova-secao': bytes([0x18, 20]) + b'\x04Nova' + b'\x01k\x01v' + b'; comentario\n[A]\na=1\n{B}\nb=2\n',
        'apaga-secao': bytes([0x0a, 10]) + b'\x01A' + b'\x00\x00' + b'[A]\na=1\n[B]\nb=2\n',
        'sem-arquivo': bytes([0x98, 10]) + b'\x01A' + b'\x01a\x011',
    }
    s['parametros'] = {
        'lista': bytes([0x31, 32]) + b'\x0fNumCartaoCripto' + b'\x04novo' + b'TipoSlot=1, NumCartaoCripto = 4111111111111111,x="a,b"',
        'secoes': bytes([0x0d, 16, ord(',')]) + b'\x01b' + b'CAB' + b'\x03NEW' + b'CAB a=1,b=2<#>b=3,c="q\\"x"',
        'token': bytes([0x72, 8, ord(';'), ord(' ')]) + b'\x00' + b'\x00' + b'  "um\\tdois" tres // comentario',
        'comentario': bytes([0x00, 8]) + b'\x00\x00' + b'# nada aqui',
    }
    s['texto'] = {
        'trilha': bytes([0x02, 24]) + b'\x01,\x01.' + b';4111111111111111=2512201?',
        'valor': bytes([0x02, 24]) + b'\x01.\x00' + b'R$ 1.234,56',
        'moeda': bytes([0x03, 40]) + b'\x02\\r\x02XY' + b'123456789012\\r\\n  ',
        'hex': bytes([0x0a, 16]) + b'\x00\x00' + b'9F2701800A5A08zz',
    }
    s['cifra'] = {
        'curta': bytes([0x00, 0x00, 0x40]) + b'OPN000',
        'envelope': bytes([0x01, 0x01, 0x00, 3, 0x41, 0]) + b'GIN000004ABCD1234567890',
        'otimizada': bytes([0x03, 0x01, 0x00, 0, 0, 0]) + b'GPN000016' + b'0123456789ABCDEF',
        'completa': bytes([0x02, 0x00, 0x80, 0, 0, 0]) + b'GCR000037' + b'4111111111111111=2512201' + b'0' * 13,
        'danificada': bytes([0x33, 0x00, 0x80, 20, 0x7F, 5]) + b'GOC000' + campo(GOC),
        'qx-claro': bytes([0x00, 0x00, 0x40]) + b'QX:GIN000',
        'qx-trechos': bytes([0x00, 0x00, 0x40]) + b'QX:3:8;F;GIN' + b'0123456789ABCDEF',
        'compactado': bytes([0x00, 0x01, 0x00]) + bytes([0x8C, 0x17, 0x65, 0xA0, 0xC1, 0x00, 0x00, 0x00]),
    }
    s['chaves'] = {
        'vazio': b'',
        'zeros': bytes(2048),
        'curto': b'\xff' + bytes(99),
    }
    s['simpinpad'] = {
        'comando': bytes([0x00]) + bytes([SYN]) + b'GIN002' + b'00' + bytes([ETB]) + bytes.fromhex('EECA')[:0] +
                   (lambda c: bytes([c >> 8, c & 0xFF]))(crc16(b'GIN00200' + bytes([ETB]))),
        'opn': bytes([0x02]) + bytes.fromhex('164F504E17A8A9') + bytes([ACK, NAK, EOT, CAN]),
        'sc5000': bytes([0x01]) + sc5000('123') + sc5000('72ABC', SI, SO) + b'lixo',
        'crc-ruim': bytes([0x03]) + bytes.fromhex('164F504E17A8AA') + bytes.fromhex('164F504E17A8A9'),
    }
    return s


def main():
    destino = sys.argv[1]
    for alvo, casos in seeds().items():
        pasta = os.path.join(destino, alvo)
        os.makedirs(pasta, exist_ok=True)
        for nome, dados in casos.items():
            with open(os.path.join(pasta, 'semente-' + nome), 'wb') as f:
                f.write(dados)


if __name__ == '__main__':
    main()
