"""The documented install commands, run as written with every Python 3.11+
of the machine, and the in-tree build backend that makes them work.

The interpreters: the `python3` found first on PATH (a pyenv or other
non-Debian Python when the machine puts one there), Debian's
/usr/bin/python3, `python3.N` on PATH and the versions of a pyenv tree
($PYENV_ROOT or ~/.pyenv). VEK_TEST_PYTHONS (paths separated by ':')
replaces the search.
"""

from __future__ import annotations

import base64
import functools
import glob
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import zipfile

import pytest

from conftest import REPO

PYTHON_DIR = REPO / "python"
DEBIAN_PYTHON = "/usr/bin/python3"


def _block_after(text: str, marker: str) -> list[str]:
    """The lines of the first indented code block after `marker`."""
    lines = text[text.index(marker):].splitlines()
    block: list[str] = []
    for line in lines[1:]:
        if line.startswith("    "):
            block.append(line[4:])
        elif block and line.strip() == "":
            continue
        elif block:
            break
    return block


def readme_commands() -> list[str]:
    """The install commands of the README's Python section (the test script's
    own line, which would run these tests, left out)."""
    block = _block_after((REPO / "README.md").read_text(encoding="utf-8"), "\n## Python\n")
    return [line for line in block if not line.startswith("bash scripts/")]


def _interpreter_info(path: str) -> tuple[str, tuple[int, int]] | None:
    try:
        out = subprocess.run([path, "-c", "import sys; print(sys.executable); print(*sys.version_info[:2])"],
                             capture_output=True, text=True, timeout=60, env=_clean_env(os.environ["PATH"]))
    except (OSError, subprocess.TimeoutExpired):
        return None
    if out.returncode != 0:
        return None
    exe, version = out.stdout.splitlines()[:2]
    major, minor = (int(v) for v in version.split())
    return os.path.realpath(exe), (major, minor)


def _candidates() -> list[str]:
    if os.environ.get("VEK_TEST_PYTHONS"):
        return [p for p in os.environ["VEK_TEST_PYTHONS"].split(":") if p]
    found = [shutil.which("python3"), DEBIAN_PYTHON]
    found += [shutil.which(f"python3.{minor}") for minor in range(11, 30)]
    pyenv = os.environ.get("PYENV_ROOT") or os.path.expanduser("~/.pyenv")
    found += sorted(glob.glob(os.path.join(pyenv, "versions", "*", "bin", "python3")))
    found += sorted(glob.glob("/usr/local/bin/python3.[0-9]*"))
    return [p for p in found if p and os.path.exists(p)]


@functools.cache
def interpreters() -> tuple[tuple[str, str, str], ...]:
    """(path as found, real executable, label) of every distinct Python
    3.11+; the first path found for an interpreter is the one kept."""
    seen: dict[str, tuple[str, str, str]] = {}
    for path in _candidates():
        info = _interpreter_info(path)
        if info is None or info[1] < (3, 11) or info[0] in seen:
            continue
        seen[info[0]] = (path, info[0], f"{path} ({info[1][0]}.{info[1][1]})")
    return tuple(seen.values())


def _clean_env(path: str) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items()
           if k not in ("VIRTUAL_ENV", "PYTHONHOME", "PYTHONPATH", "PYTHONDONTWRITEBYTECODE", "PIP_REQUIRE_VIRTUALENV")}
    env["PATH"] = path
    return env


def _copy_package(dest: pathlib.Path) -> pathlib.Path:
    target = dest / "python"
    shutil.copytree(PYTHON_DIR, target, ignore=shutil.ignore_patterns("__pycache__", ".*", "*.egg-info", "build"))
    return target


def _tree(root: pathlib.Path) -> dict[str, bytes]:
    """The files under `root`, byte code caches left out (importing the
    backend writes one, as importing any module does; git ignores them)."""
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in sorted(root.rglob("*"))
            if p.is_file() and "__pycache__" not in p.parts}


def _run_documented(workdir: pathlib.Path, python: str, commands: list[str]) -> None:
    """Runs the commands in `workdir` with `python` as the python3 of PATH."""
    bindir = workdir / "bin"
    bindir.mkdir()
    (bindir / "python3").symlink_to(python)
    env = _clean_env(f"{bindir}{os.pathsep}{os.environ['PATH']}")
    for cmd in commands:
        run = subprocess.run(["bash", "-c", cmd], cwd=workdir, env=env, capture_output=True, text=True,
                             timeout=600)
        assert run.returncode == 0, f"`{cmd}` with {python} failed ({run.returncode}):\n{run.stdout}\n{run.stderr}"


def test_the_install_commands_agree_everywhere_they_are_written():
    commands = readme_commands()
    assert commands == ["python3 -m venv --system-site-packages venv",
                        "venv/bin/pip install --no-index --no-build-isolation ./python"]
    guide = (REPO / "docs" / "python.md").read_text(encoding="utf-8")
    assert _block_after(guide, "\n## Installing\n") == commands
    package_readme = (PYTHON_DIR / "README.md").read_text(encoding="utf-8")
    assert _block_after(package_readme, "# vekcommon for Python\n") == commands


def test_debians_python_is_among_those_tried():
    if not os.path.exists(DEBIAN_PYTHON) or os.environ.get("VEK_TEST_PYTHONS"):
        pytest.skip("no /usr/bin/python3 here, or the interpreters are chosen by VEK_TEST_PYTHONS")
    assert _interpreter_info(DEBIAN_PYTHON)[0] in {exe for _, exe, _ in interpreters()}


@pytest.mark.parametrize("python", [p for p, _, _ in interpreters()], ids=[label for _, _, label in interpreters()])
def test_the_documented_commands_install_the_package(tmp_path, python):
    source = _copy_package(tmp_path)
    before = _tree(source)
    _run_documented(tmp_path, python, readme_commands())
    venv_python = tmp_path / "venv" / "bin" / "python"
    probe = ("import importlib.metadata as md, sys, vekcommon\n"
             "from vekcommon import stream as s\n"
             "m = s.Map().add('port', s.Map([('id', s.U32(2))])).add('mtu', s.U32(9216))\n"
             "assert s.decode(s.encode(m)) == m\n"
             "print(vekcommon.__file__); print(md.version('vekcommon')); print(vekcommon.__version__)\n")
    run = subprocess.run([str(venv_python), "-c", probe], cwd=tmp_path, capture_output=True, text=True,
                         env=_clean_env(os.environ["PATH"]), timeout=120)
    assert run.returncode == 0, run.stderr
    where, dist_version, version = run.stdout.split()
    assert pathlib.Path(where).is_relative_to(tmp_path / "venv"), where
    assert dist_version == version
    after = _tree(source)
    assert after == before, f"the build wrote into the source tree: {sorted(set(after) ^ set(before))}"


def test_an_editable_install_uses_the_sources_in_place(tmp_path):
    if not os.path.exists(DEBIAN_PYTHON):
        pytest.skip("no /usr/bin/python3 on this machine")
    source = _copy_package(tmp_path)
    _run_documented(tmp_path, DEBIAN_PYTHON, [readme_commands()[0],
                                              "venv/bin/pip install --no-index --no-build-isolation -e ./python"])
    probe = "import vekcommon; print(vekcommon.__file__)"
    run = subprocess.run([str(tmp_path / "venv" / "bin" / "python"), "-c", probe], cwd="/", capture_output=True,
                         text=True, env=_clean_env(os.environ["PATH"]), timeout=120)
    assert run.returncode == 0, run.stderr
    assert pathlib.Path(run.stdout.strip()) == source / "src" / "vekcommon" / "__init__.py"


@pytest.fixture()
def backend(monkeypatch):
    monkeypatch.syspath_prepend(str(PYTHON_DIR / "build_backend"))
    import vekcommon_backend

    return vekcommon_backend


def test_the_wheel_holds_the_sources_and_a_true_record(backend, tmp_path):
    name = backend.build_wheel(str(tmp_path))
    assert name == "vekcommon-1.0.0-py3-none-any.whl"
    with zipfile.ZipFile(tmp_path / name) as zf:
        names = zf.namelist()
        sources = sorted(p.name for p in (PYTHON_DIR / "src" / "vekcommon").glob("*.py"))
        assert sorted(n.split("/")[1] for n in names if n.startswith("vekcommon/")) == sources
        record = zf.read("vekcommon-1.0.0.dist-info/RECORD").decode().splitlines()
        assert sorted(line.split(",")[0] for line in record) == sorted(names)
        for line in record:
            path, digest, size = line.split(",")
            if path.endswith("RECORD"):
                assert digest == size == ""
                continue
            data = zf.read(path)
            assert size == str(len(data))
            assert digest == "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        meta = zf.read("vekcommon-1.0.0.dist-info/METADATA").decode()
        assert "Name: vekcommon\nVersion: 1.0.0\n" in meta and "Requires-Python: >=3.11\n" in meta
    again = tmp_path / "again"
    again.mkdir()
    backend.build_wheel(str(again))
    assert (again / name).read_bytes() == (tmp_path / name).read_bytes(), "the build is not reproducible"


def test_the_source_archive_builds_again(backend, tmp_path):
    name = backend.build_sdist(str(tmp_path))
    with tarfile.open(tmp_path / name) as tf:
        # The extraction filters came with 3.11.4; the archive is our own.
        tf.extractall(tmp_path / "x", **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
    unpacked = tmp_path / "x" / "vekcommon-1.0.0"
    assert (unpacked / "PKG-INFO").is_file()
    out = tmp_path / "out"
    out.mkdir()
    run = subprocess.run([sys.executable, "-c", "import sys, vekcommon_backend as b; print(b.build_wheel(sys.argv[1]))",
                          str(out)], cwd=unpacked / "build_backend", capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert (out / "vekcommon-1.0.0-py3-none-any.whl").read_bytes() == \
        (tmp_path / pathlib.Path(backend.build_wheel(str(tmp_path)))).read_bytes()
