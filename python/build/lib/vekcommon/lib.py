"""A ctypes binding of the installed libvekcommon.

The shared library is found through `VEK_LIBRARY` (a path to
libvekcommon.so.1) when it is set, else through the usual library search
path (`libvekcommon.so.1`, as the dynamic loader finds it).

Every C object is owned by one Python object that releases it: `CMap`
(a `vek_map_t`), `Registry` (a device handle with its resource registry)
and the lists that `parse_list` builds (released before it returns). Use
them as context managers, or call `close()`; an object that is collected
still releases what it owns. Failures raise `VekError` with the library's
status code and name.

Thread-safety follows the library's: a `Registry` and its `Resource`s may
be used from several threads at once (the library locks them); a `CMap`
may not.
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from typing import Callable, Iterable

from .errors import VekError
from . import stream as _stream

_lib: ctypes.CDLL | None = None
_libc = ctypes.CDLL(None)
_load_lock = threading.Lock()

vek_st_t = ctypes.c_uint32

STRLIST_STRING = 1
STRLIST_INT32 = 2
STRLIST_INT64 = 3
STRLIST_CUSVAL = 4
_LIST_TYPES = {"string": STRLIST_STRING, "int32": STRLIST_INT32, "int64": STRLIST_INT64}

HDL_MAGIC = 0x2456454B
RSRC_MAX_KIND = 7
RSRC_KIND_ALL = 8


class _Hdl(ctypes.Structure):
    _fields_ = [("magic", ctypes.c_uint32), ("rsrcRegistry", ctypes.c_void_p)]


class _RsrcInfo(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_uint32),
        ("name", ctypes.c_char_p),
        ("baseId", ctypes.c_uint32),
        ("numElems", ctypes.c_uint32),
        ("numElemsFree", ctypes.c_uint32),
    ]


class _StrlistPayload(ctypes.Union):
    _fields_ = [("str", ctypes.c_char_p), ("i32", ctypes.c_int32), ("i64", ctypes.c_int64),
                ("cusval", ctypes.c_size_t)]


class _StrlistVal(ctypes.Structure):
    _fields_ = [("type", ctypes.c_uint32), ("payload", _StrlistPayload)]


class _StrlistNode(ctypes.Structure):
    pass


_StrlistNode._fields_ = [("next", ctypes.POINTER(_StrlistNode)), ("value", ctypes.POINTER(_StrlistVal))]

_CONV_FN = ctypes.CFUNCTYPE(ctypes.c_size_t, ctypes.c_char_p)
_CMP_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)

_PROTOTYPES: dict[str, tuple[object, list[object]]] = {
    "vek_status_get": (ctypes.c_char_p, [vek_st_t]),
    "vek_strlist_list_build": (vek_st_t, [ctypes.c_char_p, ctypes.c_uint32, ctypes.c_char, ctypes.c_char,
                                          _CONV_FN, _CMP_FN, ctypes.POINTER(ctypes.POINTER(_StrlistNode))]),
    "vek_strlist_list_free": (vek_st_t, [ctypes.POINTER(_StrlistNode)]),
    "vek_strlist_malloc": (ctypes.c_void_p, [ctypes.c_size_t]),
    "vek_map_create": (vek_st_t, [ctypes.POINTER(ctypes.c_void_p)]),
    "vek_map_destroy": (vek_st_t, [ctypes.c_void_p]),
    "vek_map_encode": (vek_st_t, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_int32)]),
    "vek_map_decode": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32]),
    "vek_map_copy": (vek_st_t, [ctypes.c_void_p, ctypes.c_void_p]),
    "vek_map_free": (None, [ctypes.c_void_p]),
    "vek_map_length": (vek_st_t, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int32)]),
    "vek_rsrc_init": (vek_st_t, [ctypes.POINTER(_Hdl)]),
    "vek_rsrc_release": (vek_st_t, [ctypes.POINTER(_Hdl)]),
    "vek_rsrc_create": (vek_st_t, [ctypes.POINTER(_Hdl), ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32,
                                   ctypes.c_uint32, ctypes.POINTER(ctypes.c_void_p)]),
    "vek_rsrc_destroy": (vek_st_t, [ctypes.POINTER(_Hdl), ctypes.c_void_p]),
    "vek_rsrc_find": (vek_st_t, [ctypes.POINTER(_Hdl), ctypes.c_uint32, ctypes.c_char_p,
                                 ctypes.POINTER(ctypes.c_void_p)]),
    "vek_rsrc_allocate": (vek_st_t, [ctypes.c_void_p, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]),
    "vek_rsrc_allocate_fixed": (vek_st_t, [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32]),
    "vek_rsrc_free": (vek_st_t, [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32]),
    "vek_rsrc_issetv2": (vek_st_t, [ctypes.c_void_p, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint8)]),
    "vek_rsrc_query": (vek_st_t, [ctypes.c_void_p, ctypes.POINTER(_RsrcInfo)]),
    "vek_rsrc_dump": (vek_st_t, [ctypes.POINTER(_Hdl), ctypes.c_uint32]),
}


def library_path() -> str:
    """The path or name the binding loads: VEK_LIBRARY, else libvekcommon.so.1."""
    return os.environ.get("VEK_LIBRARY") or "libvekcommon.so.1"


def library() -> ctypes.CDLL:
    """The loaded libvekcommon (loaded on first use)."""
    global _lib
    with _load_lock:
        if _lib is None:
            path = library_path()
            try:
                lib = ctypes.CDLL(path)
            except OSError as exc:
                raise OSError(f"cannot load libvekcommon ({path}): {exc}; set VEK_LIBRARY to its path") from None
            for name, (restype, argtypes) in _PROTOTYPES.items():
                fn = getattr(lib, name)
                fn.restype = restype
                fn.argtypes = argtypes
            _lib = lib
        return _lib


def status_name(code: int) -> str:
    """The name of a status code ("ERROR: Status Code Out of Bounds" when it has none)."""
    return library().vek_status_get(code & 0xFFFFFFFF).decode("ascii")


def _check(st: int, what: str) -> None:
    if st != 0:
        raise VekError(st, what, name=status_name(st))


def _flush_c_stdout() -> None:
    _libc.fflush(None)


# ---------------------------------------------------------------- lists


def parse_list(text: str | bytes, type: str = "string", sep: str = ",", range_mark: str = "-",
               conv: Callable[[str], bytes] | None = None) -> list:
    """Parses a list text with vek_strlist_list_build and returns its items.

    `type` is "string", "int32" or "int64" (the 64-bit type holds 32-bit
    values). With `conv`, the items are custom values: `conv` turns each
    item's text into bytes, which the binding hands to the library as a
    NUL-terminated block from vek_strlist_malloc (the list owns and releases
    custom values), and the items come back as those bytes. Items that are
    not numbers become 0 in the integer types, as in the library.
    """
    lib = library()
    if isinstance(text, str):
        text = text.encode()
    if conv is not None:
        list_type = STRLIST_CUSVAL

        def _conv(raw: bytes) -> int:
            data = bytes(conv(raw.decode(errors="surrogateescape")))
            block = lib.vek_strlist_malloc(len(data) + 1)
            if not block:
                return 0
            ctypes.memmove(block, data + b"\0", len(data) + 1)
            return block

        conv_fn = _CONV_FN(_conv)
    else:
        if type not in _LIST_TYPES:
            raise ValueError(f"type must be one of {sorted(_LIST_TYPES)}")
        list_type = _LIST_TYPES[type]
        conv_fn = _CONV_FN()
    head = ctypes.POINTER(_StrlistNode)()
    st = lib.vek_strlist_list_build(text, list_type, sep.encode(), range_mark.encode(), conv_fn, _CMP_FN(),
                                    ctypes.byref(head))
    items: list = []
    try:
        _check(st, "vek_strlist_list_build")
        node = head
        while node:
            val = node.contents.value.contents
            if val.type == STRLIST_STRING:
                items.append(val.payload.str.decode(errors="surrogateescape"))
            elif val.type == STRLIST_INT32:
                items.append(val.payload.i32)
            elif val.type == STRLIST_INT64:
                items.append(val.payload.i64)
            else:
                items.append(ctypes.string_at(val.payload.cusval) if val.payload.cusval else None)
            node = node.contents.next
    finally:
        if head:
            lib.vek_strlist_list_free(head)
    return items


# ---------------------------------------------------------------- maps


class CMap:
    """A vek_map_t owned by this object (released by close() or collection)."""

    def __init__(self) -> None:
        self._lib = library()
        p = ctypes.c_void_p()
        _check(self._lib.vek_map_create(ctypes.byref(p)), "vek_map_create")
        self._ptr: int | None = p.value

    @classmethod
    def decode(cls, data: bytes) -> "CMap":
        """A new map decoded from a stream by vek_map_decode."""
        m = cls()
        try:
            m.decode_into(data)
        except BaseException:
            m.close()
            raise
        return m

    def decode_into(self, data: bytes) -> None:
        """Decodes a stream into this map (entries are appended)."""
        data = bytes(data)
        if len(data) > 0x7FFFFFFF:
            raise VekError(7, "stream longer than 2^31 - 1 bytes", name=status_name(7))
        _check(self._lib.vek_map_decode(self._handle(), data, len(data)), "vek_map_decode")

    def encode(self) -> bytes:
        """The map's stream, from vek_map_encode."""
        buf = ctypes.c_void_p()
        length = ctypes.c_int32()
        st = self._lib.vek_map_encode(self._handle(), ctypes.byref(buf), ctypes.byref(length))
        try:
            _check(st, "vek_map_encode")
            return ctypes.string_at(buf.value, length.value) if length.value > 0 else b""
        finally:
            if buf.value:
                self._lib.vek_map_free(buf.value)

    def copy(self) -> "CMap":
        """A deep copy made by vek_map_copy."""
        other = CMap()
        try:
            _check(self._lib.vek_map_copy(self._handle(), other._handle()), "vek_map_copy")
        except BaseException:
            other.close()
            raise
        return other

    def __len__(self) -> int:
        n = ctypes.c_int32()
        _check(self._lib.vek_map_length(self._handle(), ctypes.byref(n)), "vek_map_length")
        return n.value

    def to_stream_map(self) -> _stream.Map:
        """The tree as a vekcommon.stream.Map (through the encoded stream)."""
        return _stream.decode(self.encode())

    def _handle(self) -> int:
        if self._ptr is None:
            raise ValueError("the map is closed")
        return self._ptr

    def close(self) -> None:
        if self._ptr is not None:
            ptr, self._ptr = self._ptr, None
            self._lib.vek_map_destroy(ptr)

    def __enter__(self) -> "CMap":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass


def encode(tree: _stream.Map) -> bytes:
    """Encodes a stream.Map with the C library: the tree is written by the
    pure-Python encoder, decoded by vek_map_decode and encoded again by
    vek_map_encode. (Keys with dots become paths and entries of unknown type
    codes are dropped by the library's decoder.)"""
    with CMap.decode(_stream.encode(tree)) as m:
        return m.encode()


def decode(data: bytes) -> _stream.Map:
    """Decodes a stream with the C library and returns the tree it built."""
    with CMap.decode(data) as m:
        return m.to_stream_map()


# ---------------------------------------------------------------- resources


class Resource:
    """A resource of a Registry: a named range of identifiers."""

    def __init__(self, registry: "Registry", ptr: int, kind: int, name: str) -> None:
        self._registry = registry
        self._ptr: int | None = ptr
        self.kind = kind
        self.name = name

    def _handle(self) -> int:
        if self._ptr is None or self._registry._closed:
            raise ValueError("the resource is destroyed")
        return self._ptr

    def allocate(self, count: int = 1) -> int:
        """Reserves `count` consecutive identifiers; returns the first."""
        start = ctypes.c_uint32()
        _check(self._registry._lib.vek_rsrc_allocate(self._handle(), count, ctypes.byref(start)), "vek_rsrc_allocate")
        return start.value

    def allocate_fixed(self, start: int, count: int = 1) -> None:
        """Reserves `count` identifiers from `start`."""
        _check(self._registry._lib.vek_rsrc_allocate_fixed(self._handle(), count, start), "vek_rsrc_allocate_fixed")

    def free(self, start: int, count: int = 1) -> None:
        """Releases `count` identifiers from `start`."""
        _check(self._registry._lib.vek_rsrc_free(self._handle(), start, count), "vek_rsrc_free")

    def is_set(self, ident: int) -> bool:
        """True when the identifier is reserved."""
        res = ctypes.c_uint8()
        _check(self._registry._lib.vek_rsrc_issetv2(self._handle(), ident, ctypes.byref(res)), "vek_rsrc_issetv2")
        return res.value != 0

    def query(self) -> dict:
        """kind, name, baseId, numElems and numElemsFree of the resource."""
        info = _RsrcInfo()
        _check(self._registry._lib.vek_rsrc_query(self._handle(), ctypes.byref(info)), "vek_rsrc_query")
        return {"kind": info.kind, "name": info.name.decode(errors="surrogateescape") if info.name else None,
                "baseId": info.baseId, "numElems": info.numElems, "numElemsFree": info.numElemsFree}

    def destroy(self) -> None:
        """Destroys the resource (its identifiers are gone with it)."""
        if self._ptr is not None and not self._registry._closed:
            ptr, self._ptr = self._ptr, None
            self._registry._resources.pop(ptr, None)
            _check(self._registry._lib.vek_rsrc_destroy(ctypes.byref(self._registry._hdl), ptr), "vek_rsrc_destroy")


class Registry:
    """A device handle with its resource registry (vek_rsrc_init).

    close() (or leaving a `with` block, or collection) releases the registry
    and with it every resource still in it (vek_rsrc_release)."""

    def __init__(self) -> None:
        self._lib = library()
        self._hdl = _Hdl(HDL_MAGIC, None)
        self._closed = True
        self._resources: dict[int, Resource] = {}
        _check(self._lib.vek_rsrc_init(ctypes.byref(self._hdl)), "vek_rsrc_init")
        self._closed = False

    def create(self, kind: int, name: str, count: int, base: int = 0) -> Resource:
        """Creates a resource of `count` identifiers from `base`."""
        self._check_open()
        p = ctypes.c_void_p()
        _check(self._lib.vek_rsrc_create(ctypes.byref(self._hdl), kind, name.encode(), count, base, ctypes.byref(p)),
               "vek_rsrc_create")
        res = Resource(self, p.value, kind, name)
        self._resources[p.value] = res
        return res

    def find(self, kind: int, name: str) -> Resource:
        """The resource of this kind and name."""
        self._check_open()
        p = ctypes.c_void_p()
        _check(self._lib.vek_rsrc_find(ctypes.byref(self._hdl), kind, name.encode(), ctypes.byref(p)), "vek_rsrc_find")
        return self._resources.get(p.value) or Resource(self, p.value, kind, name)

    def dump(self, kind: int = RSRC_KIND_ALL) -> None:
        """Prints the resource table (vek_rsrc_dump) on the process's standard output."""
        self._check_open()
        sys.stdout.flush()
        st = self._lib.vek_rsrc_dump(ctypes.byref(self._hdl), kind)
        _flush_c_stdout()
        _check(st, "vek_rsrc_dump")

    def _check_open(self) -> None:
        if self._closed:
            raise ValueError("the registry is released")

    def close(self) -> None:
        if not self._closed:
            self._closed = True
            for res in self._resources.values():
                res._ptr = None
            self._resources.clear()
            _check(self._lib.vek_rsrc_release(ctypes.byref(self._hdl)), "vek_rsrc_release")

    def __enter__(self) -> "Registry":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass


__all__ = ["CMap", "Registry", "Resource", "VekError", "decode", "encode", "library", "library_path",
           "parse_list", "status_name"]
