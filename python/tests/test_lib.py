"""The ctypes binding, and the pure-Python codec checked against the C library."""

from __future__ import annotations

import random
import threading

import pytest

from vekcommon import StreamError, VekError, stream as s
from conftest import REPO, be32, random_tree


def c_status(clib, data: bytes) -> int:
    try:
        with clib.CMap.decode(data):
            return 0
    except VekError as exc:
        return exc.code


def py_status(data: bytes) -> int:
    try:
        s.decode(data)
        return 0
    except StreamError as exc:
        return exc.code


def test_status_names(clib):
    assert clib.status_name(0) == "VEK_ST_SUCCESS"
    assert clib.status_name(108) == "VEK_ST_MAP_CALLBACK_ERROR"
    assert clib.status_name(65536) == "ERROR: Status Code Out of Bounds"
    assert clib.status_name(-1) == "ERROR: Status Code Out of Bounds"


def test_seeded_random_trees_cross_both_ways(clib):
    rng = random.Random(1210)
    for _ in range(150):
        tree = random_tree(rng)
        data = s.encode(tree)
        with clib.CMap.decode(data) as m:  # Python -> C
            assert m.encode() == data
            assert len(m) == len(tree)
            with m.copy() as c:  # C -> C -> Python
                assert s.decode(c.encode()) == tree
        assert clib.decode(data) == tree
        assert clib.encode(tree) == data


def test_ten_thousand_entry_tree_round_trips(clib):
    rng = random.Random(10000)
    tree = s.Map()
    while sum(1 for _ in _walk(tree)) < 10000:
        tree.add(f"k{len(tree)}", random_tree(rng, 1, size=rng.randint(1, 20)))
    data = s.encode(tree)
    with clib.CMap.decode(data) as m:
        assert m.encode() == data
    assert s.decode(data) == tree


def _walk(tree: s.Map):
    for e in tree:
        yield e
        if isinstance(e.value, s.Map):
            yield from _walk(e.value)


def golden_streams() -> list:
    found = sorted(REPO.glob("tests/data/streams/*.bin")) + sorted(REPO.glob("examples/**/*.vekmap")) + \
        sorted(REPO.glob("examples/**/*.bin"))
    return found


@pytest.mark.parametrize("path", golden_streams(), ids=lambda p: str(getattr(p, "name", p)))
def test_repository_streams_read_the_same_in_python_and_c(clib, path):
    data = path.read_bytes()
    tree = s.decode(data)
    assert s.encode(tree) == data
    # The library skips entries of unknown type codes (NONE included).
    assert clib.decode(data) == without_unknown(tree)


def without_unknown(tree: s.Map) -> s.Map:
    out = s.Map()
    for e in tree:
        if isinstance(e.value, s.Map):
            out.add(e.key, without_unknown(e.value))
        elif not isinstance(e.value, s.Unknown):
            out.add(e.key, e.value)
    return out


def test_truncated_and_corrupted_streams_get_the_c_status(clib):
    rng = random.Random(4242)
    checked = 0
    for _ in range(40):
        data = s.encode(random_tree(rng, size=rng.randint(1, 8)))
        for cut in range(len(data)):
            assert py_status(data[:cut]) == c_status(clib, data[:cut]) == 108
        for _ in range(60):
            bad = bytearray(data)
            for _ in range(rng.randint(1, 3)):
                pos = rng.randrange(len(bad))
                bad[pos] = rng.choice([0x00, 0xFF, 0x80, 0x2E, rng.getrandbits(8)])
            bad = bytes(bad)
            assert py_status(bad) == c_status(clib, bad), bad.hex()
            checked += 1
    assert checked > 0


def test_limits_match_the_library(clib):
    cases = [
        be32(1) + be32(0xFFFFFFFF),
        be32(1) + be32(1) + b"k" + be32(1) + be32(0xFFFFFFFF),
        b"".join([be32(1) + be32(1) + b"m" + be32(2) + be32(0)] * 65) + be32(0),
        b"".join([be32(1) + be32(1) + b"m" + be32(2) + be32(0)] * 64) + be32(0),
        s.encode(s.Map([(".".join(["a"] * 66), s.I32(1))])),
        be32(0x7FFFFFFF) + be32(1) + b"k" + be32(4) + be32(1),
    ]
    assert [py_status(d) for d in cases] == [c_status(clib, d) for d in cases] == [2, 2, 102, 0, 102, 108]


@pytest.mark.parametrize("text,kind,expected", [
    ("b,a,c", "string", ["a", "b", "c"]),
    ("3-5, 1", "int32", [1, 3, 4, 5]),
    ("x, 2", "int64", [0, 2]),
])
def test_parse_list(clib, text, kind, expected):
    assert clib.parse_list(text, type=kind) == expected


def test_parse_list_errors_and_custom_values(clib):
    assert clib.parse_list("7;9", type="int32", sep=";") == [7, 9]
    assert clib.parse_list("a, bb", conv=lambda t: t.upper().encode()) == [b"A", b"BB"]
    with pytest.raises(ValueError):
        clib.parse_list("1", type="float")


def test_registry_allocate_free_query_and_errors(clib, capfd):
    with clib.Registry() as reg:
        res = reg.create(1, "vlans", 100, 1000)
        first = res.allocate(3)
        assert first == 1000 and res.is_set(1001)
        res.allocate_fixed(1050, 2)
        assert res.query() == {"kind": 1, "name": "vlans", "baseId": 1000, "numElems": 100, "numElemsFree": 95}
        res.free(first, 3)
        assert not res.is_set(1001)
        with pytest.raises(VekError) as exc:
            res.allocate_fixed(1050, 1)
        assert exc.value.code != 0 and exc.value.name.startswith("VEK_ST_")
        assert reg.find(1, "vlans") is res
        with pytest.raises(VekError):
            reg.find(1, "nothing")
        reg.dump()
        out = capfd.readouterr().out
        assert "vlans" in out and out.startswith("Kind Name")
        other = reg.create(2, "tmp", 10)
        other.destroy()
        with pytest.raises(ValueError):
            other.allocate()
    with pytest.raises(ValueError):
        res.allocate()


def test_registry_shared_by_threads(clib):
    with clib.Registry() as reg:
        res = reg.create(0, "shared", 4000, 0)
        got: list[list[int]] = [[] for _ in range(4)]
        errors: list[BaseException] = []
        all_allocated = threading.Barrier(4)

        def worker(slot: int) -> None:
            try:
                for _ in range(500):
                    got[slot].append(res.allocate(2))
                all_allocated.wait()
                for start in got[slot][::2]:
                    res.free(start, 2)
            except BaseException as exc:  # pragma: no cover - reported below
                errors.append(exc)

        threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not errors
        starts = [x for g in got for x in g]
        assert len(set(starts)) == len(starts) == 2000  # no identifier handed out twice
        assert res.query()["numElemsFree"] == 4000 - 2 * 1000  # half of them freed again
        assert all(res.is_set(x) for g in got for x in g[1::2])


@pytest.fixture()
def live_blocks(clib):
    """Heap and robust blocks alive in the stand-in platform library (skips
    when the loaded platform library is not the stand-in)."""
    import ctypes

    try:
        sal = ctypes.CDLL("libVekSalIf.so.1")
        heap, robust = sal.vek_saltest_heap_live, sal.vek_saltest_robust_live
    except (OSError, AttributeError):
        pytest.skip("the platform library has no block counters")
    heap.restype = robust.restype = ctypes.c_long
    return lambda: (heap(), robust())


def test_nothing_leaks_also_on_failures(clib, live_blocks):
    import gc

    before = live_blocks()
    rng = random.Random(99)
    for _ in range(20):
        data = s.encode(random_tree(rng))
        with clib.CMap.decode(data) as m, m.copy():
            pass
        with pytest.raises(VekError):
            clib.CMap.decode(data[: len(data) - 1])
        clib.parse_list("5-9, 1", type="int32")
        clib.parse_list("a,b", conv=str.encode)
        with pytest.raises(VekError):
            clib.parse_list("1--2", type="int32")
    with clib.Registry() as reg:
        reg.create(1, "a", 64).allocate(4)
        reg.create(2, "b", 64)
    dropped = clib.CMap.decode(s.encode(random_tree(rng)))  # released by collection
    del dropped
    gc.collect()
    assert live_blocks() == before


def test_the_format_description_examples_in_c(clib):
    from test_stream import doc_streams

    streams = doc_streams()
    worked = streams["worked-example"]
    # The library skips the NONE entry: the same bytes, count 8, without it.
    expected = b"\0\0\0\x08" + worked[4:0xC0]
    assert clib.CMap.decode(worked).encode() == expected
    assert clib.CMap.decode(streams["dotted-keys"]).encode() == streams["dotted-keys-reencoded"]
