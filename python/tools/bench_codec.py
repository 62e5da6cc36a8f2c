"""Times the pure-Python codec beside the C library on a 10,000-entry tree.

    VEK_LIBRARY=build/src/libvekcommon.so.1 python3 python/tools/bench_codec.py
"""

from __future__ import annotations

import random
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))

from conftest import random_tree  # noqa: E402
from vekcommon import lib, stream as s  # noqa: E402


def best(fn, rounds: int = 5) -> float:
    times = []
    for _ in range(rounds):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main() -> None:
    rng = random.Random(10000)
    tree = s.Map()
    entries = 0
    while entries < 10000:
        child = random_tree(rng, 1, size=rng.randint(1, 20))
        tree.add(f"k{len(tree)}", child)
        stack = [child]
        entries += 1
        while stack:
            m = stack.pop()
            for e in m:
                entries += 1
                if isinstance(e.value, s.Map):
                    stack.append(e.value)
    data = s.encode(tree)
    cmap = lib.CMap.decode(data)
    assert cmap.encode() == data

    def c_decode() -> None:
        with lib.CMap.decode(data):
            pass

    rows = [
        ("python encode", best(lambda: s.encode(tree))),
        ("python decode", best(lambda: s.decode(data))),
        ("C encode (vek_map_encode, via ctypes)", best(cmap.encode)),
        ("C decode + destroy (vek_map_decode, via ctypes)", best(c_decode)),
    ]
    print(f"tree: {entries} entries, stream {len(data)} bytes")
    for name, t in rows:
        print(f"{name:50s} {t * 1000:9.2f} ms")
    cmap.close()


if __name__ == "__main__":
    main()
