#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

Each seed is a small, meaningful input in the layout that the target's
comment describes. Run it again after changing a layout; libFuzzer never
writes into these directories (scripts/fuzz.sh works on a copy).
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def bcc(text):
    x = 0
    for c in text.encode("latin-1"):
        x ^= c
    return "%02X" % x


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# fuzz_address: flags, data type, element count, text
def address(name, text, data_type=0, count=1, flags=0):
    body = bytes([flags, data_type & 0xFF])
    body += struct.pack("<i", count) if flags & 4 else bytes([count & 0xFF])
    write("fuzz_address", name, body + text)


address("d-word", b"01D00100")
address("d-word-suffix", b"01D00100_D", flags=1)
address("d-lower-suffix", b"01d00100_d", flags=1)
address("g-double", b"01G00010", data_type=3)
address("g-odd", b"01G00011", data_type=3)
address("x-bit", b"02X0001A", data_type=6)
address("y-word", b"02Y0010")
address("type-7", b"01D00100", data_type=7)
address("count-28", b"01D00100", count=28)
address("e-count-14", b"01E0010", count=14, flags=4)
address("invalid-char", b"01#00100")
address("empty", b"")
address("null-text", b"01D00100", flags=9)
address("after-nul", b"01D00100\x00tail bytes", flags=2)
address("plc-65", b"65D00100")
address("d-99999", b"01D99999")
address("nine-chars", b"01D001000", data_type=6)


# fuzz_station_file: length of "host|port", that text, the station file
def station(name, address_text, file_text):
    a = address_text.encode("latin-1")
    write("fuzz_station_file", name, bytes([len(a)]) + a + file_text.encode("latin-1"))


station("two-stations", "127.0.0.1|9094",
        'ZAVUR01 00\n01 "127.0.0.1" "9094"\n; a comment\n05 "localhost" "http"\n')
station("refusals", "localhost|http",
        'ZAVUR01 03\n03 "127.0.0.1" "9094"\n65 "127.0.0.1" "9094"\n07 "127.0.0.1\n'
        '08 "1234567890123456" "1"\n09 "127.0.0.1" "9094\n 10 "127.0.0.1" "1"\n')
station("forms", "0x7f.1|70000",
        'header 02\n02 "127.1" "9094"\n04 "0177.0.0.1" "echo"\n06 "0x7F000001" "9094"\n'
        '0A "127.0.0.2" "9094"\n11 "nosuchhost.invalid" "9094"\n')
station("unresolvable", "etlan-no-such-host-zz|",
        'ZAVUR01 1\n12 "etlan-no-such-host-zz" "9094"\n')
station("long-line", "1.2.3.4.5|",
        "ZAVUR01 00\n13 " + "x" * 300 + ' "127.0.0.1" "9094"\n14 "127.0.0.1" "' + "9" * 260 + '"\n')
station("station-0-and-dup", "10.1|echo",
        'ZAVUR01 64\n00 "127.0.0.1" "9094"\n64 "127.0.0.1" "9094"\n15 "127.0.0.1" "9094"\n'
        '15 "bad name" "9094"\n')
station("empty", "|", "")
station("no-newline", "255.255.255.255|0", 'ZAVUR01 00\n16 "255.255.255.255" "9094"')

# fuzz_exchange
LETTERS = "XYRLGDTCVSFHI0123456789MNOPQUEZ"
NO_FAIL = 7 << 1


def answer(flags, data=b"", seed=0, pause=0):
    return bytes([flags, seed, pause, len(data)]) + data


FRAMED, HEX, CLOSE, SILENT, RESET, LATE, STARS, BADBCC, MORE = 4, 64, 1, 2, 3, 32, 16, 8, 128


def exchange(name, op, plc, letter, size_sel, data_type, count, text, answers,
             address=0, bit=255, clock=0, flags=NO_FAIL, value=0, stray=b""):
    letter_byte = LETTERS.index(letter) if isinstance(letter, str) else letter
    body = bytes([op, plc & 0xFF, letter_byte, size_sel, data_type & 0xFF, count & 0xFF])
    body += struct.pack("<HBBB", address, bit, clock, flags)
    body += struct.pack("<I", value)
    body += bytes([len(text)]) + text + bytes([len(stray)]) + stray
    write("fuzz_exchange", name, body + b"".join(answers))


def raw(text, station=1):
    t = text + bcc(text) + "\r"
    header = bytes([0x10, 0, len(t) & 0xFF, len(t) >> 8, 0, 0, 0, 0, 0, 0, 0, station])
    return header + t.encode("latin-1")


exchange("read-d100", 0, 1, "D", 1, 0, 1, b"01D00100", [answer(FRAMED | HEX, b"\x34\x12")],
         address=100)
exchange("read-d100-pieces", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(FRAMED | HEX, b"\x34\x12", seed=7, pause=40)], address=100)
exchange("read-double", 0, 2, "D", 1, 3, 1, b"02D00100",
         [answer(FRAMED | HEX, b"\x78\x56\x34\x12")], address=100)
exchange("read-bit", 0, 1, "R", 0, 6, 1, b"01R00105", [answer(FRAMED | HEX, b"\x20\x00")],
         address=10, bit=5)
exchange("block-3", 1, 3, "D", 1, 0, 3, b"03D00200",
         [answer(FRAMED | HEX, b"\x01\x00\x02\x00\x03\x00")], address=200)
exchange("block-2x32", 1, 3, "D", 2, 3, 2, b"03D00200",
         [answer(FRAMED | HEX, b"\x01\x00\x02\x00\x03\x00\x04\x00")], address=200)
exchange("write-d100", 2, 1, "D", 1, 0, 1, b"01D00100", [answer(FRAMED)], address=100,
         value=0x12340000)
exchange("write-contact", 2, 1, "R", 0, 6, 1, b"01R00105", [answer(FRAMED)], address=10,
         bit=5, value=0x00010000)
exchange("negative-3x", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(0, raw("%01!42"))] * 3, address=100)
exchange("silent-then-positive", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(SILENT), answer(FRAMED | HEX | STARS, b"\xCD\xAB")], address=100)
exchange("late-then-positive", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(FRAMED | HEX | LATE, b"\x11\x11"), answer(FRAMED | HEX, b"\x22\x22")],
         address=100)
exchange("close-after-request", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(CLOSE)], address=100)
exchange("reset", 0, 1, "D", 1, 0, 1, b"01D00100", [answer(RESET)], address=100)
exchange("stray-before", 0, 1, "D", 1, 0, 1, b"01D00100", [answer(FRAMED | HEX, b"\x34\x12")],
         address=100, stray=b"\x10\x00\x09\x00garbage%01$RD3412")
exchange("bad-bcc", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(FRAMED | HEX | BADBCC, b"\x34\x12")] * 3, address=100)
exchange("short-answer", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(0, raw("%01$RD")[:16]), answer(FRAMED | HEX, b"\x34\x12")], address=100)
exchange("clock-wrap", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(SILENT), answer(FRAMED | HEX, b"\x34\x12", seed=3, pause=200)],
         address=100, clock=5)
exchange("refused", 0, 1, "D", 1, 0, 1, b"01D00100", [], address=100, flags=NO_FAIL | 1)
exchange("receive-fails", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(FRAMED | HEX, b"\x34\x12")] * 3, address=100, flags=(1 << 1) | (1 << 4))
exchange("parts-block-3", 1, 3, "D", 1, 0, 3, b"03D00200",
         [answer(FRAMED | HEX | MORE, b"\x01\x00\x02"), answer(FRAMED | HEX | MORE, b"\x00\x03"),
          answer(FRAMED | HEX, b"\x00")], address=200)
exchange("parts-bad-bcc", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(FRAMED | HEX | MORE, b"\x34"), answer(FRAMED | HEX | BADBCC, b"\x12")] * 3,
         address=100)
exchange("parts-too-many", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(FRAMED | HEX | MORE, b"\x34\x12"), answer(FRAMED | HEX, b"\x00\x00")] * 3,
         address=100)
exchange("parts-never-end", 1, 3, "D", 1, 0, 2, b"03D00200",
         [answer(FRAMED | HEX | MORE, b"\x01"), answer(SILENT)] * 3, address=200)
exchange("wrong-station", 0, 1, "D", 1, 0, 1, b"01D00100",
         [answer(0, raw("%02$RD3412"))] * 3, address=100)
exchange("unknown-letter", 0, 1, "E", 1, 0, 1, b"01E0010", [], address=10)
exchange("index-register", 0, 1, "5", 1, 0, 1, b"0150000", [answer(FRAMED | HEX, b"\x07\x00")])

# fuzz_sim_command: the station, then lines
def sim(name, station, lines):
    write("fuzz_sim_command", name, bytes([station]) + "\n".join(lines).encode("latin-1"))


sim("read-d", 1, ["%01#RDD0010000101**"])
sim("write-read", 1, ["%01#WDD00100001003412**", "%01#RDD0010000100**"])
sim("contact-write", 1, ["%01#WCSR0105" + "1" + bcc("%01#WCSR01051")])
sim("set-read", 1, ["D100=0x1234", "LD5=-1", "IX=7", "%01#RDD0010000100**"])
sim("global", 1, ["%EE#RCCX00000001**"])
sim("other-station", 2, ["%01#RDD0010000100**"])
sim("index", 1, ["%01#RDIX0000000000**", "%01#WDIA00000000000500**"])
sim("sv-ev", 1, ["%01#RS00000001**", "%01#WK000000001234**", "%01#RK00000000**"])
sim("bad-data", 1, ["%01#WDD0010000100ZZZZ**", "%01#RDD0010000099**", "%01#WCCX000000001234**"])
sim("too-long", 1, ["%01#RDD" + "0" * 120 + "**"])
sim("bcc", 1, ["%01#RDD0010000100" + bcc("%01#RDD0010000100"), "%01#RDD001000010000"])


# fuzz_read_sequence: reads of D registers on one connection
def sequence(name, addresses, timings):
    body = bytes([len(addresses) - 1]) + b"".join(struct.pack("<H", a) for a in addresses)
    for flags, seed, pause, delay_ms in timings:
        body += bytes([flags, seed, pause, delay_ms // 10])
    write("fuzz_read_sequence", name, body)


sequence("sequence-in-time", [100, 200], [(0, 0, 0, 0), (0, 5, 3, 0)])
# The answers to the first read come 1200 ms late, after its attempt's time.
sequence("sequence-late-answer", [100, 200, 300], [(0, 0, 0, 1200)] * 3 + [(0, 0, 0, 0)] * 3)
sequence("sequence-silent-then-late", [100, 200],
         [(2, 0, 0, 0), (2, 0, 0, 0), (0, 0, 0, 1500), (0, 0, 0, 0)])
sequence("sequence-reset", [100, 200], [(3, 0, 0, 0), (0, 0, 0, 0)])
