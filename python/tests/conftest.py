"""Shared fixtures: seeded random trees and the C library when it loads."""

from __future__ import annotations

import os
import pathlib
import random
import struct

import pytest

from vekcommon import stream as s

REPO = pathlib.Path(__file__).resolve().parents[2]


def random_key(rng: random.Random) -> str:
    # Keys the C library stores as they are: no dots (a dotted key is a
    # path there), no '[', no NUL, not empty.
    alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-:/é"
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 12)))


def random_float_bits(rng: random.Random, c_exact: bool) -> int:
    while True:
        bits = rng.getrandbits(32)
        if not c_exact:
            return bits
        # The library rebuilds floats arithmetically: exponent 255 reads back
        # as an infinity and -0.0 as +0.0.
        if (bits >> 23) & 0xFF != 0xFF and bits != 0x80000000:
            return bits


def random_value(rng: random.Random, depth: int, c_exact: bool) -> s.Value:
    codes = list(range(1, 11))
    if depth >= 4:
        codes.remove(2)
    if not c_exact:
        codes.append(-1)
        codes.append(99)
    code = rng.choice(codes)
    if code == 1:
        n = rng.choice([0, 1, 5, 40, 300])
        chars = "".join(chr(rng.choice([rng.randint(0x20, 0x7E), rng.randint(0xA0, 0x2FF)])) for _ in range(n))
        return s.Str(chars)
    if code == 2:
        return random_tree(rng, depth + 1, c_exact, rng.randint(0, 6))
    if code == 3:
        return s.Bin(rng.randbytes(rng.choice([0, 1, 7, 64, 1500])))
    if code == 4:
        return s.I32(rng.randint(-(2**31), 2**31 - 1))
    if code == 5:
        return s.I64(rng.randint(-(2**63), 2**63 - 1))
    if code == 6:
        return s.Float.from_bits(random_float_bits(rng, c_exact))
    if code == 7:
        return s.Bool(rng.random() < 0.5) if c_exact else s.Bool(rng.choice([0, 1, 2, 0xFFFFFFFF]))
    if code == 8:
        return s.U32(rng.getrandbits(32))
    if code == 9:
        return s.Double.from_bits(rng.getrandbits(64))
    if code == 10:
        return s.U64(rng.getrandbits(64))
    return s.Unknown(code)


def random_tree(rng: random.Random, depth: int = 0, c_exact: bool = True, size: int | None = None) -> s.Map:
    m = s.Map()
    keys: list[str] = []
    for _ in range(size if size is not None else rng.randint(0, 12)):
        key = rng.choice(keys) if keys and rng.random() < 0.2 else random_key(rng)
        keys.append(key)
        m.add(key, random_value(rng, depth, c_exact))
    return m


@pytest.fixture(scope="session")
def clib():
    """The binding with the C library loaded, or a skip when it cannot load."""
    from vekcommon import lib

    try:
        lib.library()
    except OSError as exc:
        if os.environ.get("VEK_REQUIRE_LIBRARY"):
            raise
        pytest.skip(f"libvekcommon not available: {exc}")
    return lib


def be32(v: int) -> bytes:
    return struct.pack(">I", v & 0xFFFFFFFF)
