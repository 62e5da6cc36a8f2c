"""The pure-Python codec: golden bytes, round trips, refusals, plain data."""

from __future__ import annotations

import math
import random

import pytest

from vekcommon import StreamError, stream as s
from conftest import be32, random_tree

GOLDEN = [
    ("empty map", s.Map(), "00000000"),
    ("i32 -2", s.Map([("k", s.I32(-2))]), "00000001 00000001 6b 00000004 fffffffe"),
    ("float 1.5", s.Map([("f", s.Float(1.5))]), "00000001 00000001 66 00000006 3fc00000"),
    ("double 1.5", s.Map([("d", s.Double(1.5))]), "00000001 00000001 64 00000009 3ff8000000000000"),
    ("bool true", s.Map([("b", s.Bool(True))]), "00000001 00000001 62 00000007 00000001"),
    ("empty text", s.Map([("t", s.Str(""))]), "00000001 00000001 74 00000001 00000000"),
    ("text", s.Map([("t", s.Str("hi"))]), "00000001 00000001 74 00000001 00000002 6869"),
    ("bytes", s.Map([("x", s.Bin(b"\x00\xff"))]), "00000001 00000001 78 00000003 00000002 00ff"),
    ("u32", s.Map([("u", s.U32(0xFFFFFFFF))]), "00000001 00000001 75 00000008 ffffffff"),
    ("i64", s.Map([("q", s.I64(-1))]), "00000001 00000001 71 00000005 ffffffffffffffff"),
    ("u64", s.Map([("q", s.U64(2**64 - 2))]), "00000001 00000001 71 0000000a fffffffffffffffe"),
    ("nested", s.Map([("m", s.Map([("a", s.I32(1))]))]),
     "00000001 00000001 6d 00000002 00000000 00000001 00000001 61 00000004 00000001"),
    ("NONE entry", s.Map([("n", s.Unknown(-1)), ("a", s.I32(3))]),
     "00000002 00000001 6e ffffffff 00000001 61 00000004 00000003"),
]


@pytest.mark.parametrize("name,tree,hexbytes", GOLDEN, ids=[g[0] for g in GOLDEN])
def test_golden_bytes(name, tree, hexbytes):
    data = bytes.fromhex(hexbytes.replace(" ", ""))
    assert s.encode(tree) == data
    assert s.decode(data) == tree


def test_seeded_random_trees_round_trip_byte_for_byte():
    rng = random.Random(20261210)
    for _ in range(300):
        tree = random_tree(rng, c_exact=False)
        data = s.encode(tree)
        back = s.decode(data)
        assert back == tree
        assert s.encode(back) == data


def test_exact_types_are_kept():
    nan_payload = s.Float.from_bits(0x7FC01234)
    tree = s.Map([("f", nan_payload), ("d", s.Double.from_bits(0x8000000000000000)), ("b", s.Bool(2)),
                  ("u", s.U32(7)), ("i", s.I32(7)), ("x", s.Unknown(42))])
    back = s.decode(s.encode(tree))
    assert back["f"].bits == 0x7FC01234
    assert back["d"].bits == 0x8000000000000000 and math.copysign(1.0, back["d"].value) == -1.0
    assert back["b"].word == 2 and not back["b"]  # only the word 1 is true
    assert type(back["u"]) is s.U32 and type(back["i"]) is s.I32
    assert back["x"] == s.Unknown(42)


def test_repeated_keys_keep_order_and_first_match_wins():
    tree = s.Map().add("port", s.Map([("id", s.I32(1))])).add("port", s.Map([("id", s.I32(2))]))
    back = s.decode(s.encode(tree))
    assert back.keys() == ["port", "port"]
    assert back["port"]["id"] == s.I32(1)
    assert [p["id"].value for p in back.get_all("port")] == [1, 2]


def test_negative_count_is_an_empty_map_and_trailing_bytes_are_not_read():
    assert len(s.decode(be32(-5))) == 0
    tree, used = s.decode_prefix(bytes.fromhex("00000000") + b"tail")
    assert len(tree) == 0 and used == 4


REFUSALS = [
    ("no count", b"", 108),
    ("short count", b"\0\0\0", 108),
    ("key cut", be32(1) + be32(3) + b"ab", 108),
    ("key length past the end", be32(1) + be32(1000) + b"abc", 108),
    ("key length 0xFFFFFFFF", be32(1) + be32(0xFFFFFFFF), 2),
    ("no type", be32(1) + be32(1) + b"k", 108),
    ("i32 cut", be32(1) + be32(1) + b"k" + be32(4) + b"\0\0", 108),
    ("text length 0xFFFFFFFF", be32(1) + be32(1) + b"k" + be32(1) + be32(0xFFFFFFFF), 2),
    ("bytes length past the end", be32(1) + be32(1) + b"k" + be32(3) + be32(10) + b"abc", 108),
    ("second entry missing", be32(2) + be32(1) + b"k" + be32(4) + be32(1), 108),
    ("nested filler cut", be32(1) + be32(1) + b"m" + be32(2) + b"\0\0", 108),
]


@pytest.mark.parametrize("name,data,code", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_refusals_carry_the_library_status(name, data, code):
    with pytest.raises(StreamError) as exc:
        s.decode(data)
    assert exc.value.code == code
    assert exc.value.name == {2: "VEK_ST_NO_MEMORY", 108: "VEK_ST_MAP_CALLBACK_ERROR"}[code]


def nested(levels: int) -> s.Map:
    tree = s.Map([("leaf", s.I32(1))])
    for _ in range(levels):
        tree = s.Map([("m", tree)])
    return tree


def test_depth_limit_counts_maps_and_dots():
    assert s.decode(s.encode(nested(64))) == nested(64)
    deep = b"".join([be32(1) + be32(1) + b"m" + be32(2) + be32(0)] * 65) + be32(0)
    with pytest.raises(StreamError) as exc:
        s.decode(deep)
    assert exc.value.code == 102
    with pytest.raises(StreamError) as exc:
        s.encode(nested(65))
    assert exc.value.code == 102
    dotted = ".".join(["a"] * 65)  # 64 dots: level 64, accepted
    assert len(s.decode(s.encode(s.Map([(dotted, s.I32(1))])))) == 1
    with pytest.raises(StreamError) as exc:
        s.decode(s.encode(s.Map([(dotted + ".a", s.I32(1))])))
    assert exc.value.code == 102
    # Unknown type codes make no level, however many dots their keys hold.
    assert len(s.decode(s.encode(s.Map([(dotted + ".a", s.Unknown(-1))])))) == 1


def test_every_cut_of_a_stream_is_refused_not_misread():
    data = s.encode(random_tree(random.Random(7), size=8))
    for cut in range(len(data)):
        with pytest.raises(StreamError) as exc:
            s.decode(data[:cut])
        assert exc.value.code == 108


def test_plain_conversion():
    tree = s.Map.from_plain({"name": "eth0", "mtu": 1500, "big": 2**40, "huge": 2**64 - 1, "up": True,
                             "rate": 2.5, "mac": b"\x00\x01", "none": None,
                             "ports": [["port", {"id": 1}], ["port", {"id": 2}]]})
    assert [type(e.value).__name__ for e in tree] == ["Str", "I32", "I64", "U64", "Bool", "Double", "Bin", "Unknown",
                                                       "Map"]
    plain = s.decode(s.encode(tree)).plain()
    assert plain["ports"] == [["port", {"id": 1}], ["port", {"id": 2}]]
    assert plain["mtu"] == 1500 and plain["rate"] == 2.5 and plain["none"] is None and plain["mac"] == b"\x00\x01"
    with pytest.raises(TypeError):
        s.Map.from_plain([1, 2])
    with pytest.raises(ValueError):
        s.I32(2**31)
    with pytest.raises(StreamError) as exc:
        s.encode({"a": 1})
    assert exc.value.code == 103


def test_text_bytes_that_are_not_utf8_survive():
    data = be32(1) + be32(2) + b"k\xff" + be32(1) + be32(3) + b"a\xfe\x00"
    assert s.encode(s.decode(data)) == data


def doc_streams() -> dict[str, bytes]:
    """The hexadecimal test vectors of docs/map-format.md, by name."""
    from conftest import REPO

    import re

    text = (REPO / "docs" / "map-format.md").read_text()
    streams: dict[str, bytes] = {}
    for name, block in re.findall(r"<!-- stream: ([\w-]+) -->\s*```\n(.*?)```", text, re.S):
        data = bytearray()
        for line in block.strip().splitlines()[1:]:
            offset, _, tail = line.partition(" ")
            assert int(offset, 16) == len(data)
            data += bytes.fromhex(tail.split("#")[0])
        streams[name] = bytes(data)
    return streams


def test_the_format_description_worked_examples():
    streams = doc_streams()
    assert set(streams) >= {"worked-example", "dotted-keys", "dotted-keys-reencoded"}
    tree = s.decode(streams["worked-example"])
    assert len(streams["worked-example"]) == 205
    assert tree.keys() == ["name", "port", "mac", "offset", "budget", "serial", "gain", "ratio", "spare"]
    assert tree["name"] == s.Str("eth0")
    assert tree["port"] == s.Map([("id", s.U32(3)), ("up", s.Bool(True))])
    assert tree["mac"] == s.Bin(bytes.fromhex("02005e100001"))
    assert (tree["offset"], tree["budget"], tree["serial"]) == (s.I32(-2), s.I64(-5000000000),
                                                                  s.U64(0x0123456789ABCDEF))
    assert tree["gain"].value == 1.5 and tree["ratio"].value == 0.25
    assert tree["spare"] == s.Unknown(-1)
    for data in streams.values():
        assert s.encode(s.decode(data)) == data
    # Keys are literal here: the dotted keys stay two entries with dots.
    assert s.decode(streams["dotted-keys"]).keys() == ["port.id", "port.up"]
