"""The build backend of the vekcommon package (PEP 517, PEP 660).

It builds the wheel, the source archive and the editable wheel with the
standard library alone, so that

    python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-index --no-build-isolation ./python

works with any Python 3.11 or later, whether or not setuptools or wheel
are installed for it: pyproject.toml names this module through
`backend-path`, and it needs nothing but tomllib, zipfile and tarfile.

The package is pure Python: every `.py` file under src/vekcommon goes into
the wheel as it is. Nothing is written into the source tree; archives carry
fixed time stamps (SOURCE_DATE_EPOCH when set), so a build is reproducible.
"""

from __future__ import annotations

import base64
import gzip
import hashlib
import io
import os
import re
import tarfile
import time
import tomllib
import zipfile
from pathlib import Path

_ROOT = Path(__file__).resolve().parent.parent
_PACKAGE = "vekcommon"
_SOURCES = _ROOT / "src" / _PACKAGE
_TAG = "py3-none-any"
# The earliest time a zip archive can hold.
_ZIP_EPOCH = 315532800


def _project() -> dict:
    with open(_ROOT / "pyproject.toml", "rb") as f:
        project = tomllib.load(f)["project"]
    name, version = project["name"], project["version"]
    if name != _PACKAGE:
        raise ValueError(f"pyproject.toml names the project {name!r}, the sources are {_PACKAGE!r}")
    if not re.fullmatch(r"[0-9]+(\.[0-9]+)*", version):
        raise ValueError(f"version {version!r} is not of the form N.N.N")
    return project


def _timestamp() -> int:
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    return max(int(epoch), _ZIP_EPOCH) if epoch and epoch.isdigit() else _ZIP_EPOCH


def _dist_info(project: dict) -> str:
    return f"{project['name']}-{project['version']}.dist-info"


def _metadata(project: dict) -> bytes:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    for dep in project.get("dependencies", []):
        lines.append(f"Requires-Dist: {dep}")
    readme = project.get("readme")
    body = ""
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        body = (_ROOT / readme).read_text(encoding="utf-8")
    return ("\n".join(lines) + "\n\n" + body).encode("utf-8")


def _wheel_file() -> bytes:
    return (f"Wheel-Version: 1.0\nGenerator: {_PACKAGE}_backend\nRoot-Is-Purelib: true\nTag: {_TAG}\n").encode()


def _package_files() -> list[tuple[str, bytes]]:
    files = sorted(p for p in _SOURCES.rglob("*.py") if "__pycache__" not in p.parts)
    if not files:
        raise FileNotFoundError(f"no Python sources under {_SOURCES}")
    return [(p.relative_to(_SOURCES.parent).as_posix(), p.read_bytes()) for p in files]


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory: str, files: list[tuple[str, bytes]], project: dict) -> str:
    info = _dist_info(project)
    files = files + [
        (f"{info}/METADATA", _metadata(project)),
        (f"{info}/WHEEL", _wheel_file()),
        (f"{info}/top_level.txt", f"{_PACKAGE}\n".encode()),
    ]
    record = "\n".join([_record_line(n, d) for n, d in files] + [f"{info}/RECORD,,"]) + "\n"
    files.append((f"{info}/RECORD", record.encode()))
    name = f"{project['name']}-{project['version']}-{_TAG}.whl"
    stamp = time.gmtime(_timestamp())[:6]
    with zipfile.ZipFile(Path(directory) / name, "w", compression=zipfile.ZIP_DEFLATED) as zf:
        for arcname, data in files:
            zi = zipfile.ZipInfo(arcname, date_time=stamp)
            zi.compress_type = zipfile.ZIP_DEFLATED
            zi.external_attr = 0o644 << 16
            zf.writestr(zi, data)
    return name


# ---------------------------------------------------------------- PEP 517


def get_requires_for_build_wheel(config_settings=None) -> list[str]:
    return []


def get_requires_for_build_sdist(config_settings=None) -> list[str]:
    return []


def get_requires_for_build_editable(config_settings=None) -> list[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str, config_settings=None) -> str:
    project = _project()
    info = Path(metadata_directory) / _dist_info(project)
    info.mkdir(parents=True, exist_ok=True)
    (info / "METADATA").write_bytes(_metadata(project))
    (info / "WHEEL").write_bytes(_wheel_file())
    (info / "top_level.txt").write_bytes(f"{_PACKAGE}\n".encode())
    return info.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory: str, config_settings=None, metadata_directory=None) -> str:
    return _write_wheel(wheel_directory, _package_files(), _project())


def build_editable(wheel_directory: str, config_settings=None, metadata_directory=None) -> str:
    """A wheel whose .pth file puts src/ on the path: the sources are used in place."""
    _package_files()  # the sources must be there
    pth = (str(_SOURCES.parent) + "\n").encode()
    return _write_wheel(wheel_directory, [(f"__editable__.{_PACKAGE}.pth", pth)], _project())


def build_sdist(sdist_directory: str, config_settings=None) -> str:
    project = _project()
    base = f"{project['name']}-{project['version']}"
    members: list[tuple[str, bytes]] = [("PKG-INFO", _metadata(project))]
    for top in ("pyproject.toml", "README.md"):
        members.append((top, (_ROOT / top).read_bytes()))
    for sub in ("build_backend", "src", "tests", "tools"):
        for p in sorted((_ROOT / sub).rglob("*")):
            rel = p.relative_to(_ROOT)
            if p.is_file() and not any(part == "__pycache__" or part.startswith(".") for part in rel.parts):
                members.append((rel.as_posix(), p.read_bytes()))
    name = f"{base}.tar.gz"
    stamp = _timestamp()
    with open(Path(sdist_directory) / name, "wb") as raw, \
            gzip.GzipFile(fileobj=raw, mode="wb", mtime=stamp, filename="") as gz, \
            tarfile.open(fileobj=gz, mode="w", format=tarfile.PAX_FORMAT) as tf:
        for arcname, data in members:
            ti = tarfile.TarInfo(f"{base}/{arcname}")
            ti.size = len(data)
            ti.mtime = stamp
            ti.mode = 0o644
            tf.addfile(ti, io.BytesIO(data))
    return name
