"""The numbers and layouts copied into the package, checked against the
library's public headers with the C compiler.

The package carries copies of status codes, type codes and other constants
(errors.py, stream.py, lib.py), ctypes Structures and Unions of the public
structures, and the prototypes of the functions it calls. A small C program,
generated here and compiled against the headers, prints what the compiler
knows of each (values; sizes, alignments, offsets; the kind, size and
signedness of every member, argument and result, and what each pointer
points to), and every copy must agree. The members of each structure and
the arguments of each function are read from the headers, so a member or
argument the package does not know of fails too, and every constant,
Structure and callback type defined in the package must be listed here.

The headers are those of VEK_INCLUDE_DIR (the directory holding vek/), which
scripts/test-python.sh points at the build's generated/include: the very
files `cmake --install` installs (vek_status.h generated from the status
table, the others copied beside it). The compiler is $CC, else cc.
"""

from __future__ import annotations

import ast
import ctypes
import inspect
import os
import pathlib
import re
import shutil
import subprocess

import pytest

from vekcommon import errors, keypath, lib, stream

MODULES = [errors, stream, lib, keypath]

# Python constant -> the C expression it copies.
CONSTANTS = {
    **{(errors, n): f"VEK_ST_{n}" for n in [
        "SUCCESS", "NO_MEMORY", "INVALID_VALUE", "INVALID_PARAMETER", "MAP_ERROR", "MAP_INTERNAL_ERROR",
        "MAP_INVALID_MAP", "MAP_KEY_NOT_EXIST", "MAP_INVALID_TYPE", "MAP_INVALID_INDEX", "MAP_INVALID_SEARCH",
        "MAP_CALLBACK_ERROR"]},
    **{(stream, f"TYPE_{n}"): f"VEK_MAP_TYPE_{n}" for n in [
        "NONE", "STR", "MAP", "BIN", "I32", "I64", "FLOAT", "BOOL", "U32", "DOUBLE", "U64"]},
    (stream, "MAX_DEPTH"): "VEK_MAP_DECODE_MAX_DEPTH",
    **{(lib, f"STRLIST_{n}"): f"VEK_STRLIST_{n}" for n in ["STRING", "INT32", "INT64", "CUSVAL"]},
    (lib, "HDL_MAGIC"): "VEK_HDL_MAGIC",
    (lib, "RSRC_MAX_KIND"): "VEK_RSRC_MAX_KIND",
    (lib, "RSRC_KIND_ALL"): "VEK_RSRC_KIND_ALL",
}

# ctypes Structures and Unions -> the C type they lay out.
STRUCTS = {
    lib._Hdl: "vek_hdl_t",
    lib._RsrcInfo: "vek_rsrc_info_t",
    lib._StrlistPayload: "vek_strlist_payload_t",
    lib._StrlistVal: "vek_strlist_val_t",
    lib._StrlistNode: "vek_strlist_node_t",
    lib._MapBin: "vek_map_bin_t",
    lib._MapPayload: "vek_map_payload_t",
    lib._MapValue: "vek_map_value_t",
}

# ctypes callback types -> the C typedef they stand for.
CALLBACKS = {
    lib._CONV_FN: "vek_strlist_conv_fn",
    lib._CMP_FN: "vek_strlist_cmp_fn",
}

# ctypes types named in the package -> the C type they stand for.
TYPES = {"vek_st_t": lib.vek_st_t}

_INTS = [ctypes.c_int8, ctypes.c_uint8, ctypes.c_int16, ctypes.c_uint16, ctypes.c_int32, ctypes.c_uint32,
         ctypes.c_int64, ctypes.c_uint64, ctypes.c_int, ctypes.c_uint, ctypes.c_long, ctypes.c_ulong,
         ctypes.c_longlong, ctypes.c_ulonglong, ctypes.c_size_t, ctypes.c_ssize_t, ctypes.c_byte, ctypes.c_ubyte,
         ctypes.c_short, ctypes.c_ushort]


# ---------------------------------------------------------------- the headers


def include_dir() -> pathlib.Path:
    where = os.environ.get("VEK_INCLUDE_DIR")
    if not where:
        if os.environ.get("VEK_REQUIRE_LIBRARY"):
            pytest.fail("VEK_INCLUDE_DIR is not set (the directory holding vek/vekcommon.h)")
        pytest.skip("VEK_INCLUDE_DIR is not set")
    path = pathlib.Path(where)
    assert (path / "vek" / "vekcommon.h").is_file(), f"no vek/vekcommon.h under {path}"
    assert (path / "vek" / "vek_status.h").is_file(), f"no generated vek/vek_status.h under {path}"
    return path


def header_text(inc: pathlib.Path) -> str:
    text = "\n".join(p.read_text(encoding="utf-8") for p in sorted((inc / "vek").glob("*.h")))
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    return re.sub(r"\s+", " ", text)


def c_members(text: str) -> dict[str, list[str]]:
    """Member names, in order, of every struct and union of the headers, by
    typedef name and by tag."""
    bodies: dict[str, list[str]] = {}
    for m in re.finditer(r"(?:typedef )?(?:struct|union) (\w+) ?\{([^{}]*)\} ?(\w*) ?;", text):
        names = []
        for decl in m.group(2).split(";"):
            decl = decl.strip()
            if decl:
                names.append(re.search(r"(\w+) ?(\[[^\]]*\])? ?$", decl).group(1))
        bodies[m.group(1)] = names
        if m.group(3):
            bodies[m.group(3)] = names
    for m in re.finditer(r"typedef (?:struct|union) (\w+) (\w+) ?;", text):
        if m.group(1) in bodies:
            bodies[m.group(2)] = bodies[m.group(1)]
    return bodies


def _split_params(params: str) -> list[str]:
    params = params.strip()
    if params in ("", "void"):
        return []
    out = []
    for p in params.split(","):
        p = p.strip()
        m = re.fullmatch(r"(.*?[\w\*]) ?\b(\w+)", p)
        out.append(m.group(1).strip() if m and m.group(1).strip() not in ("", "const", "struct") else p)
    return out


def c_prototypes(text: str) -> dict[str, tuple[str, list[str]]]:
    """Result and argument types of every exported function."""
    return {m.group(2): (m.group(1).strip(), _split_params(m.group(3)))
            for m in re.finditer(r"VEK_API ([\w \*]+?) ?\b(\w+) ?\(([^;]*?)\) ?;", text)}


def c_callbacks(text: str) -> dict[str, tuple[str, list[str]]]:
    return {m.group(2): (m.group(1).strip(), _split_params(m.group(3)))
            for m in re.finditer(r"typedef ([\w \*]+?) ?\( ?\* ?(\w+) ?\) ?\(([^;]*?)\) ?;", text)}


# ---------------------------------------------------------------- what the package says


class Probe:
    """Pairs of (what the package expects, a C expression giving the fact)."""

    def __init__(self) -> None:
        self.expected: dict[str, object] = {}
        self.exprs: dict[str, str] = {}

    def fact(self, key: str, want: object, expr: str) -> None:
        self.expected[key] = want
        self.exprs[key] = expr

    def type(self, key: str, tt: str, ct) -> None:
        """The C type `tt` against the ctypes type `ct` (None: void)."""
        if ct is None:
            self.fact(f"{key} is void", 1, f"__builtin_types_compatible_p({tt}, void)")
            return
        lit = f"(({tt}){{0}})"
        self.fact(f"{key} size", ctypes.sizeof(ct), f"sizeof({tt})")
        if ct in _INTS or ct is ctypes.c_char or ct is ctypes.c_bool:
            self.fact(f"{key} kind", "int", f"__builtin_classify_type({lit})")
            if ct in _INTS:
                self.fact(f"{key} signed", int(ct(-1).value < 0), f"(({tt})-1 < ({tt})0)")
        elif ct in (ctypes.c_float, ctypes.c_double):
            self.fact(f"{key} kind", "real", f"__builtin_classify_type({lit})")
        elif isinstance(ct, type) and issubclass(ct, (ctypes.Structure, ctypes.Union)):
            assert ct in STRUCTS, f"{ct.__name__} is not listed in STRUCTS"
            self.fact(f"{key} kind", "record" if issubclass(ct, ctypes.Structure) else "union",
                      f"__builtin_classify_type({lit})")
            self.fact(f"{key} is {STRUCTS[ct]}", 1, f"__builtin_types_compatible_p({tt}, {STRUCTS[ct]})")
        else:
            self.fact(f"{key} kind", "pointer", f"__builtin_classify_type({lit})")
            pointee = f"__typeof__(*({tt}){{0}})"
            if ct is ctypes.c_char_p:
                self.fact(f"{key} points to char or void", 1,
                          f"(__builtin_types_compatible_p({pointee}, char) || "
                          f"__builtin_types_compatible_p({pointee}, void))")
            elif isinstance(ct, type) and issubclass(ct, ctypes._CFuncPtr):
                assert ct in CALLBACKS, "a callback type of the package is not listed in CALLBACKS"
                self.fact(f"{key} is {CALLBACKS[ct]}", 1, f"__builtin_types_compatible_p({tt}, {CALLBACKS[ct]})")
            elif isinstance(ct, type) and issubclass(ct, ctypes._Pointer):
                self.type(f"{key} ->", pointee, ct._type_)
            else:
                assert ct is ctypes.c_void_p, f"{key}: no rule for {ct!r}"

    def program(self) -> str:
        lines = ["#include <stdio.h>", "#include <stddef.h>", "#include <vek/vekcommon.h>",
                 "static struct vek_probe_s { int a; } probe_s;", "static union vek_probe_u { int a; } probe_u;",
                 "int main(void) {",
                 '    printf("kind int %d\\n", __builtin_classify_type(0));',
                 '    printf("kind real %d\\n", __builtin_classify_type(0.0));',
                 '    printf("kind pointer %d\\n", __builtin_classify_type((void *)0));',
                 '    printf("kind record %d\\n", __builtin_classify_type(probe_s));',
                 '    printf("kind union %d\\n", __builtin_classify_type(probe_u));']
        for key, expr in self.exprs.items():
            lines.append(f'    printf("%s=%lld\\n", "{key}", (long long)({expr}));')
        lines += ["    return 0;", "}"]
        return "\n".join(lines) + "\n"


def package_constants() -> dict[tuple[object, str], int]:
    """Every upper-case int constant assigned at the top of a module (names
    imported from another module are that module's)."""
    found = {}
    for mod in MODULES:
        tree = ast.parse(inspect.getsource(mod))
        for node in tree.body:
            targets = node.targets if isinstance(node, ast.Assign) else [node.target] \
                if isinstance(node, ast.AnnAssign) else []
            for t in targets:
                if isinstance(t, ast.Name) and re.fullmatch(r"[A-Z][A-Z0-9_]*", t.id):
                    value = getattr(mod, t.id)
                    if isinstance(value, int) and not isinstance(value, bool):
                        found[(mod, t.id)] = value
    return found


def package_structs() -> set:
    found = set()
    for mod in MODULES:
        for value in vars(mod).values():
            if isinstance(value, type) and issubclass(value, (ctypes.Structure, ctypes.Union)) and \
                    value.__module__ == mod.__name__:
                found.add(value)
    return found


def package_callbacks() -> set:
    return {v for mod in MODULES for v in vars(mod).values()
            if isinstance(v, type) and issubclass(v, ctypes._CFuncPtr)}


def build_probe(text: str) -> Probe:
    probe = Probe()
    for (mod, name), value in package_constants().items():
        probe.fact(f"{mod.__name__}.{name}", value, CONSTANTS[(mod, name)])
    for code, name in errors._NAMES.items():
        probe.fact(f"errors._NAMES[{code}]", code, name)
    for cname, ct in TYPES.items():
        probe.type(cname, cname, ct)
    members = c_members(text)
    for cls, cname in STRUCTS.items():
        probe.fact(f"{cname} size", ctypes.sizeof(cls), f"sizeof({cname})")
        probe.fact(f"{cname} align", ctypes.alignment(cls), f"_Alignof({cname})")
        assert [f[0] for f in cls._fields_] == members.get(cname), \
            f"{cls.__name__} has the fields {[f[0] for f in cls._fields_]}, {cname} the members {members.get(cname)}"
        for field, ct in cls._fields_:
            probe.fact(f"{cname}.{field} offset", getattr(cls, field).offset, f"offsetof({cname}, {field})")
            probe.type(f"{cname}.{field}", f"__typeof__((({cname} *)0)->{field})", ct)
    callbacks = c_callbacks(text)
    for ct, cname in CALLBACKS.items():
        ret, params = callbacks[cname]
        argtypes = list(ct._argtypes_)
        assert len(params) == len(argtypes), f"{cname} takes {len(params)} arguments, the package's {len(argtypes)}"
        probe.type(f"{cname} result", ret, ct._restype_)
        for i, (tt, at) in enumerate(zip(params, argtypes)):
            probe.type(f"{cname} argument {i + 1}", tt, at)
    prototypes = c_prototypes(text)
    for fn, (restype, argtypes) in lib._PROTOTYPES.items():
        assert fn in prototypes, f"{fn} is not declared in the headers"
        ret, params = prototypes[fn]
        assert len(params) == len(argtypes), \
            f"{fn} takes {len(params)} arguments ({params}), the package {len(argtypes)}"
        probe.type(f"{fn} result", ret, restype)
        for i, (tt, at) in enumerate(zip(params, argtypes)):
            probe.type(f"{fn} argument {i + 1}", tt, at)
    return probe


# ---------------------------------------------------------------- the checks


def test_every_copy_is_listed_for_checking():
    assert set(package_constants()) == set(CONSTANTS), "a constant of the package is not listed, or one listed is gone"
    assert package_structs() == set(STRUCTS)
    assert package_callbacks() == set(CALLBACKS)


def compiler() -> str:
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if not cc:
        pytest.fail("no C compiler (cc) to read the headers with")
    return cc


def headers_say(probe: Probe, inc: pathlib.Path, workdir: pathlib.Path) -> dict[str, object]:
    """Compiles and runs the probe; what it printed, by key."""
    src = workdir / "probe.c"
    src.write_text(probe.program())
    exe = workdir / "probe"
    run = subprocess.run([compiler(), "-std=gnu11", "-Wall", "-Wextra", "-Wno-missing-field-initializers",
                          "-Wno-missing-braces", "-Wno-type-limits", f"-I{inc}", str(src), "-o", str(exe)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise ProbeError(f"the probe does not compile against {inc} (a type of the package is no type "
                         f"of the headers there):\n{run.stderr}")
    out = subprocess.run([str(exe)], capture_output=True, text=True, check=True).stdout.splitlines()
    kinds = {int(line.split()[2]): line.split()[1] for line in out if line.startswith("kind ")}
    assert len(kinds) == 5, out[:5]
    got: dict[str, object] = {}
    for line in out:
        if not line.startswith("kind "):
            key, value = line.rsplit("=", 1)
            got[key] = kinds.get(int(value), f"class {value}") if key.endswith(" kind") else int(value)
    assert set(got) == set(probe.expected)
    return got


class ProbeError(AssertionError):
    """The probe program does not compile."""


def differences(probe: Probe, got: dict[str, object]) -> dict[str, tuple[object, object]]:
    return {k: (v, got[k]) for k, v in probe.expected.items() if got[k] != v}


def test_the_copies_agree_with_the_headers(tmp_path):
    inc = include_dir()
    probe = build_probe(header_text(inc))
    wrong = differences(probe, headers_say(probe, inc, tmp_path))
    assert not wrong, "package copies that differ from the headers (key: (package, headers)):\n" + \
        "\n".join(f"  {k}: {v}" for k, v in wrong.items())
    # The probe covered every kind of fact.
    assert {k.rsplit(" ", 1)[-1] for k in probe.expected} >= {"size", "align", "offset", "kind", "signed"}


def test_the_status_names_are_the_librarys(clib):
    for code, name in errors._NAMES.items():
        assert clib.status_name(code) == name


def _fake(name: str, fields: list) -> type:
    return type(name, (ctypes.Structure,), {"_fields_": fields})


@pytest.mark.parametrize("mutate", ["constant", "status name", "offset", "member", "member type", "argument",
                                    "argument count", "signedness", "result", "callback"])
def test_a_wrong_copy_is_seen(tmp_path, monkeypatch, mutate):
    inc = include_dir()
    u32, i32, vp = ctypes.c_uint32, ctypes.c_int32, ctypes.c_void_p
    if mutate == "constant":
        monkeypatch.setattr(stream, "TYPE_U64", 11)
    elif mutate == "status name":
        monkeypatch.setitem(errors._NAMES, 105, "VEK_ST_MAP_INVALID_INDEX")
    elif mutate == "offset":
        monkeypatch.setitem(STRUCTS, _fake("_RsrcInfo", [("kind", u32), ("name", ctypes.c_char_p),
                                                         ("baseId", ctypes.c_uint64), ("numElems", u32),
                                                         ("numElemsFree", u32)]), "vek_rsrc_info_t")
    elif mutate == "member":
        monkeypatch.setitem(STRUCTS, _fake("_Hdl", [("magic", u32)]), "vek_hdl_t")
    elif mutate == "member type":
        monkeypatch.setitem(STRUCTS, _fake("_MapValue", [("type", u32), ("payload", lib._MapPayload)]),
                            "vek_map_value_t")
    elif mutate == "argument":
        monkeypatch.setitem(lib._PROTOTYPES, "vek_rsrc_free", (lib.vek_st_t, [vp, u32, ctypes.c_uint64]))
    elif mutate == "argument count":
        monkeypatch.setitem(lib._PROTOTYPES, "vek_rsrc_free", (lib.vek_st_t, [vp, u32]))
    elif mutate == "signedness":
        monkeypatch.setitem(lib._PROTOTYPES, "vek_map_set_i32_ll", (lib.vek_st_t, [vp, ctypes.c_char_p, u32,
                                                                                   ctypes.c_uint8]))
    elif mutate == "result":
        monkeypatch.setitem(lib._PROTOTYPES, "vek_map_free", (i32, [vp]))
    elif mutate == "callback":
        monkeypatch.setitem(CALLBACKS, ctypes.CFUNCTYPE(ctypes.c_int, vp), "vek_strlist_cmp_fn")
    try:
        probe = build_probe(header_text(inc))
    except AssertionError:
        assert mutate in ("member", "argument count", "callback")  # refused while reading the headers
        return
    try:
        seen = differences(probe, headers_say(probe, inc, tmp_path))
    except ProbeError:
        assert mutate == "result"  # an int where the header has void: no such value to look at
        return
    assert seen, f"a wrong {mutate} went unnoticed"
