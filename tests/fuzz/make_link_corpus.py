#!/usr/bin/env python3
"""Writes the seed corpus of link_fuzzer into corpus/link_fuzzer/ beside this
script: one input for each path of the link worth starting from. The input
layout is described at the top of link_fuzzer.cpp.

    python3 tests/fuzz/make_link_corpus.py
"""
import pathlib
import struct

FIXED = bytes([0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x00])
CMD_CHECK = 0x00

RATE_9600 = 3
CHECK, UNLOCK_ASKING, UNLOCK_GIVEN, SECOND, MINUTE, DAY = range(6)
SHOW_MESSAGE = 8
RAW_STREAM = 2


def checksum(data):
    s = 0
    for x in data:
        s ^= x
        s = ((s >> 1) | (s << 7)) & 0xFF
        if s & 0x80:
            s ^= 0x1E
    return s ^ 0xEB


def header(command=0, device=0, status=0):
    return struct.pack('<HBBHBBH', 0, 0, 0, 0, command, 0, device) + FIXED + struct.pack('<H', status)


def answer(status, tail=False):
    """A reply without payload; its checksum is never compared."""
    return header(status=status) + b'\x00' + (b'\x00' if tail else b'')


def echo(tail=False):
    """The check request to device 1, sent back."""
    request = header(CMD_CHECK, device=1)
    return request + bytes([checksum(request)]) + (b'\x7e' if tail else b'')


def data_reply(size):
    """Status 0, size data bytes and a checksum: filled with zeros after the header."""
    return header(status=0), 24 + size + 1


def setup(calls, answers=(), yes=(), given=b'', flags=0, refused_open=0, cancel_at=0, device=1):
    b = bytes([RATE_9600]) + struct.pack('<H', device) + bytes([flags, refused_open])
    b += struct.pack('<H', cancel_at)
    b += bytes([len(answers)])
    for level, password in answers:
        b += bytes([level, len(password)]) + password
    b += bytes([len(yes), sum(1 << i for i, y in enumerate(yes) if y)])
    b += bytes([len(given)]) + given
    b += bytes([len(calls) - 1]) + bytes(calls)
    return b


def reply(data, delay_ms=0, fill_to=None):
    """One reply record: the data at once, delay_ms after the request; with
    fill_to, padded with zeros to that length."""
    flags = 2 if fill_to else 0
    length = fill_to or len(data)
    assert not fill_to or len(data) <= 32
    return bytes([flags, delay_ms // 8]) + struct.pack('<H', length) + data


def with_late_byte(data, gap_ms, delay_ms=0):
    """One reply record in two pieces: the data delay_ms after the request,
    then one byte gap_ms after them."""
    return (bytes([1, delay_ms // 8]) + struct.pack('<H', len(data)) + bytes([gap_ms // 4]) + struct.pack('<H', 1)
            + data + b'\x00')


def filled(pair):
    data, length = pair
    return reply(data, fill_to=length)


FIRST_LEVEL = [(0, b'')]

SEEDS = {
    'second_after_unlock': setup([SECOND], FIRST_LEVEL) + reply(answer(0)) + filled(data_reply(1036)),
    'busy': setup([SECOND], FIRST_LEVEL) + reply(answer(0)) + reply(answer(7)),
    'locked_then_data': setup([SECOND], [(1, b'2222')]) + reply(answer(0)) + reply(answer(15, tail=True))
    + reply(answer(0)) + filled(data_reply(1036)),
    'locked_three_times': setup([SECOND], [(1, b'2222')]) + reply(answer(0))
    + (reply(answer(15, tail=True)) + reply(answer(0))) * 3,
    'refused_three_times': setup([UNLOCK_ASKING | SHOW_MESSAGE], [(0, b'x'), (1, b'y'), (0, b'z')], yes=(True, True))
    + reply(answer(17)) * 3,
    'refused_given_then_no': setup([UNLOCK_GIVEN], given=b'9999', yes=(False,)) + reply(answer(17)),
    'check_echo': setup([CHECK]) + reply(echo()),
    'check_echo_tail_then_minute': setup([CHECK, UNLOCK_GIVEN | SHOW_MESSAGE, MINUTE], given=b'1111')
    + reply(echo(tail=True)) + reply(answer(0, tail=True)) + filled(data_reply(500)),
    'raw_stream_minute': setup([MINUTE], FIRST_LEVEL, flags=RAW_STREAM)
    + answer(0, tail=True) + header(status=0) + bytes(500) + b'\x00',
    'late_unlock_tail_minute': setup([MINUTE], FIRST_LEVEL) + with_late_byte(answer(0), 60, delay_ms=104)
    + reply(header(status=0), delay_ms=104, fill_to=525),
    'stray_after_minute': setup([MINUTE], FIRST_LEVEL) + reply(answer(0, tail=True))
    + with_late_byte(header(status=0) + bytes(501), 4, delay_ms=104),
    'day_late_header': setup([DAY], FIRST_LEVEL) + reply(answer(0)) + reply(header(status=0), delay_ms=800, fill_to=2229),
    'silent_after_unlock': setup([SECOND], FIRST_LEVEL) + reply(answer(0)),
    'wait_cancelled': setup([SECOND], FIRST_LEVEL, cancel_at=3),
    'open_refused': setup([CHECK, SECOND], FIRST_LEVEL, refused_open=1) + reply(answer(0)) + reply(answer(7)),
}


def main():
    folder = pathlib.Path(__file__).resolve().parent / 'corpus' / 'link_fuzzer'
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in SEEDS.items():
        (folder / name).write_bytes(data)


if __name__ == '__main__':
    main()
