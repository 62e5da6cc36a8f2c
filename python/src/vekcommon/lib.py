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
from typing import Callable

from .errors import MAP_INVALID_SEARCH, NO_MEMORY, PathError, VekError
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

class _MapBin(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("len", ctypes.c_uint32)]


class _MapPayload(ctypes.Union):
    _fields_ = [("str", ctypes.c_void_p), ("map", ctypes.c_void_p), ("bin", _MapBin), ("i32", ctypes.c_int32),
                ("i64", ctypes.c_int64), ("f32", ctypes.c_float), ("boolean", ctypes.c_uint8),
                ("u32", ctypes.c_uint32), ("f64", ctypes.c_double), ("u64", ctypes.c_uint64)]


class _MapValue(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int32), ("payload", _MapPayload)]


_NODE_P = ctypes.POINTER(_MapValue)

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
    "vek_map_malloc": (ctypes.c_void_p, [ctypes.c_size_t]),
    "vek_map_strdup": (ctypes.c_void_p, [ctypes.c_char_p]),
    "vek_map_set_i32_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_uint8]),
    "vek_map_set_u32_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint32, ctypes.c_uint8]),
    "vek_map_set_i64_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int64, ctypes.c_uint8]),
    "vek_map_set_u64_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint64, ctypes.c_uint8]),
    "vek_map_set_float_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_float, ctypes.c_uint8]),
    "vek_map_set_double_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_double, ctypes.c_uint8]),
    "vek_map_set_bool_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_uint8, ctypes.c_uint8]),
    "vek_map_set_str_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_uint8]),
    "vek_map_set_map_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_uint8]),
    "vek_map_set_bin_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_uint32,
                                      ctypes.c_uint8]),
    "vek_map_set_value_ll": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, _NODE_P, ctypes.c_uint8]),
    "vek_map_get_i32": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32)]),
    "vek_map_get_u32": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_uint32)]),
    "vek_map_get_i64": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int64)]),
    "vek_map_get_u64": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_uint64)]),
    "vek_map_get_float": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_float)]),
    "vek_map_get_double": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_double)]),
    "vek_map_get_bool": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_uint8)]),
    "vek_map_get_str": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]),
    "vek_map_get_map": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]),
    "vek_map_get_bin": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p),
                                   ctypes.POINTER(ctypes.c_uint32)]),
    "vek_map_get_value": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(_NODE_P)]),
    "vek_map_get_type": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32)]),
    "vek_map_count_keys": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_uint32)]),
    "vek_map_get_all_values": (vek_st_t, [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(_NODE_P), ctypes.c_uint32,
                                          ctypes.POINTER(ctypes.c_uint32), ctypes.c_uint32]),
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
        return _encode_ptr(self._lib, self._handle())

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

    # key paths, through the library's own get and set operations

    def set(self, path: str, value: _stream.Value, check_for_key: bool = True) -> "CMap":
        """Sets a value at a key path with vek_map_set_<type>_ll (checkForKey
        1 or 0); the rules are those of stream.Map.set. A text is copied up
        to its first NUL (a C string); a map value is copied in through its
        stream (vek_map_decode: dotted keys become paths, entries of unknown
        type codes are left out); Unknown(-1) stores an entry without a
        node (vek_map_set_value_ll with NULL). Returns the map."""
        lib, h, key, flag = self._lib, self._handle(), _c_path(path), 1 if check_for_key else 0
        v = value
        if isinstance(v, _stream.Unknown):
            if v.type_code != _stream.TYPE_NONE:
                raise ValueError(f"the library holds no value of type code {v.type_code}")
            st = lib.vek_map_set_value_ll(h, key, None, flag)
        elif isinstance(v, _stream.Map):
            child = CMap.decode(_stream.encode(v))
            ptr, child._ptr = child._ptr, None
            st = lib.vek_map_set_map_ll(h, key, ptr, flag)
            if st != 0:
                lib.vek_map_destroy(ptr)
        elif isinstance(v, _stream.Str):
            block = lib.vek_map_strdup(v.text.encode("utf-8", "surrogateescape"))
            if not block:
                _check(NO_MEMORY, "vek_map_strdup")
            st = lib.vek_map_set_str_ll(h, key, block, flag)
            if st != 0:
                lib.vek_map_free(block)
        elif isinstance(v, _stream.Bin):
            block = None
            if v.data:
                block = lib.vek_map_malloc(len(v.data))
                if not block:
                    _check(NO_MEMORY, "vek_map_malloc")
                ctypes.memmove(block, v.data, len(v.data))
            st = lib.vek_map_set_bin_ll(h, key, block, len(v.data), flag)
            if st != 0 and block:
                lib.vek_map_free(block)
        elif isinstance(v, _stream.Float):
            st = lib.vek_map_set_float_ll(h, key, ctypes.c_float.from_buffer_copy(v.bits.to_bytes(4, sys.byteorder)),
                                          flag)
        elif isinstance(v, _stream.Double):
            st = lib.vek_map_set_double_ll(h, key,
                                           ctypes.c_double.from_buffer_copy(v.bits.to_bytes(8, sys.byteorder)), flag)
        elif isinstance(v, _stream.Bool):
            st = lib.vek_map_set_bool_ll(h, key, 1 if v else 0, flag)
        elif isinstance(v, (_stream.I32, _stream.U32, _stream.I64, _stream.U64)):
            name = {_stream.I32: "i32", _stream.U32: "u32", _stream.I64: "i64", _stream.U64: "u64"}[type(v)]
            st = getattr(lib, f"vek_map_set_{name}_ll")(h, key, v.value, flag)
        else:
            raise TypeError(f"values are vekcommon.stream values, not {type(v).__name__}")
        _check(st, "vek_map_set")
        return self

    def _get_node(self, path: str) -> tuple[int, _stream.Value | None]:
        node = _NODE_P()
        st = self._lib.vek_map_get_value(self._handle(), _c_path(path), ctypes.byref(node))
        return (st, None) if st else (0, self._node_value(node))

    def _node_value(self, node) -> _stream.Value:
        """A copy of a node's value as a stream value (Unknown(-1) for none)."""
        if not node:
            return _stream.Unknown(_stream.TYPE_NONE)
        t, p = node.contents.type, node.contents.payload
        if t == _stream.TYPE_STR:
            return _stream.Str(ctypes.string_at(p.str).decode("utf-8", "surrogateescape") if p.str else "")
        if t == _stream.TYPE_MAP:
            return _stream.decode(_encode_ptr(self._lib, p.map))
        if t == _stream.TYPE_BIN:
            return _stream.Bin(ctypes.string_at(p.bin.data, p.bin.len) if p.bin.data and p.bin.len else b"")
        if t == _stream.TYPE_FLOAT:
            return _stream.Float.from_bits(p.u32)
        if t == _stream.TYPE_DOUBLE:
            return _stream.Double.from_bits(p.u64)
        if t == _stream.TYPE_BOOL:
            return _stream.Bool(p.boolean != 0)
        scalar = {_stream.TYPE_I32: (_stream.I32, "i32"), _stream.TYPE_U32: (_stream.U32, "u32"),
                  _stream.TYPE_I64: (_stream.I64, "i64"), _stream.TYPE_U64: (_stream.U64, "u64")}
        if t in scalar:
            cls, member = scalar[t]
            return cls(getattr(p, member))
        return _stream.Unknown(t)

    def __getitem__(self, path: str) -> _stream.Value:
        """A copy of the value at a key path (vek_map_get_value); PathError
        with the library's status otherwise."""
        st, value = self._get_node(path)
        if st:
            raise PathError(st, path, name=status_name(st))
        return value

    def get(self, path: str, default=None):
        """As stream.Map.get, through vek_map_get_value."""
        st, value = self._get_node(path)
        if st == 0:
            return value
        if st == MAP_INVALID_SEARCH:
            raise PathError(st, path, name=status_name(st))
        return default

    def __contains__(self, path: object) -> bool:
        if not isinstance(path, str):
            return False
        st, _ = self._get_node(path)
        if st == MAP_INVALID_SEARCH:
            raise PathError(st, path, name=status_name(st))
        return st == 0

    def get_typed(self, path: str, kind: type):
        """The value at a key path from the library's typed getter of `kind`
        (vek_map_get_i32 for stream.I32, ...), as stream.Map.get_typed
        gives it; PathError with the library's status otherwise."""
        getter = _TYPED_GETTERS.get(kind)
        if getter is None:
            raise TypeError(f"no typed getter for {kind!r}")
        name, ctype = getter
        out = ctype()
        key = _c_path(path)
        if kind is _stream.Bin:
            length = ctypes.c_uint32()
            st = self._lib.vek_map_get_bin(self._handle(), key, ctypes.byref(out), ctypes.byref(length))
        else:
            st = getattr(self._lib, name)(self._handle(), key, ctypes.byref(out))
        if st:
            raise PathError(st, path, name=status_name(st))
        if kind is _stream.Str:
            return ctypes.string_at(out.value).decode("utf-8", "surrogateescape") if out.value else ""
        if kind is _stream.Bin:
            return ctypes.string_at(out.value, length.value) if out.value and length.value else b""
        if kind is _stream.Map:
            return _stream.decode(_encode_ptr(self._lib, out.value))
        if kind is _stream.Float:
            return _stream.Float.from_bits(int.from_bytes(bytes(out), sys.byteorder)).value
        if kind is _stream.Bool:
            return out.value != 0
        return out.value

    def count_keys(self, key: str) -> int:
        """vek_map_count_keys: entries of this map whose key equals `key`
        ignoring case (no path)."""
        n = ctypes.c_uint32()
        _check(self._lib.vek_map_count_keys(self._handle(), _c_path(key), ctypes.byref(n)), "vek_map_count_keys")
        return n.value

    def get_all(self, key: str) -> list[_stream.Value]:
        """Copies of the values of every entry whose key equals `key`
        ignoring case, in entry order (vek_map_get_all_values; no path)."""
        n = self.count_keys(key)
        if n == 0:
            return []
        nodes = (_NODE_P * n)()
        found = ctypes.c_uint32()
        _check(self._lib.vek_map_get_all_values(self._handle(), _c_path(key), nodes, n, ctypes.byref(found), 0),
               "vek_map_get_all_values")
        return [self._node_value(nodes[i]) for i in range(found.value)]

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


def _c_path(path: str) -> bytes:
    if not isinstance(path, str):
        raise TypeError("key paths are str")
    return path.encode("utf-8", "surrogateescape")


def _encode_ptr(lib: ctypes.CDLL, ptr: int) -> bytes:
    """The stream of the map at `ptr` (vek_map_encode)."""
    buf = ctypes.c_void_p()
    length = ctypes.c_int32()
    st = lib.vek_map_encode(ptr, ctypes.byref(buf), ctypes.byref(length))
    try:
        _check(st, "vek_map_encode")
        return ctypes.string_at(buf.value, length.value) if length.value > 0 else b""
    finally:
        if buf.value:
            lib.vek_map_free(buf.value)


_TYPED_GETTERS: dict[type, tuple[str, type]] = {
    _stream.I32: ("vek_map_get_i32", ctypes.c_int32), _stream.U32: ("vek_map_get_u32", ctypes.c_uint32),
    _stream.I64: ("vek_map_get_i64", ctypes.c_int64), _stream.U64: ("vek_map_get_u64", ctypes.c_uint64),
    _stream.Float: ("vek_map_get_float", ctypes.c_float), _stream.Double: ("vek_map_get_double", ctypes.c_double),
    _stream.Bool: ("vek_map_get_bool", ctypes.c_uint8), _stream.Str: ("vek_map_get_str", ctypes.c_void_p),
    _stream.Map: ("vek_map_get_map", ctypes.c_void_p), _stream.Bin: ("vek_map_get_bin", ctypes.c_void_p),
}


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


__all__ = ["CMap", "PathError", "Registry", "Resource", "VekError", "decode", "encode", "library", "library_path",
           "parse_list", "status_name"]
