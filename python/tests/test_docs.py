"""The Python examples of the documentation run as written."""

from __future__ import annotations

import re

import pytest

from conftest import REPO

PAGES = [REPO / "docs" / "python.md", REPO / "python" / "README.md"]


def python_blocks(text: str) -> list[str]:
    return re.findall(r"^```python\n(.*?)^```", text, flags=re.S | re.M)


@pytest.mark.parametrize("page", PAGES, ids=lambda p: str(p.relative_to(REPO)))
def test_the_examples_run(clib, page, capfd):
    blocks = python_blocks(page.read_text(encoding="utf-8"))
    assert blocks, f"no Python example in {page}"
    namespace: dict = {}
    for i, block in enumerate(blocks):
        exec(compile(block, f"{page.name} example {i + 1}", "exec"), namespace)
    out = capfd.readouterr().out
    # The values the examples' comments promise.
    for line in block_prints(blocks):
        assert line in out, f"{page.name}: the output lacks {line!r}"


def block_prints(blocks: list[str]) -> list[str]:
    """The outputs promised by `print(...)  # value` lines (a promise is the
    comment up to a ':' or ' (' that explains it, without a trailing '...')."""
    promised = []
    for block in blocks:
        for m in re.finditer(r"^\s*print\(.*\)\s+# (.+)$", block, flags=re.M):
            text = re.split(r": | \(", m.group(1))[0].rstrip(".").rstrip(", ")
            promised.append(text)
    return promised
