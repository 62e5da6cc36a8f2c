"""The libvekcommon map stream format, in pure Python.

A stream holds one map: a 4-byte big-endian signed entry count, then each
entry as key length (4 bytes), key bytes, type code (4 bytes) and a value
whose layout follows from the type; a nested map is 4 filler bytes and then
a whole map. All numbers are big-endian.

`decode` gives a `Map` that keeps everything the stream says: entry order,
repeated keys, keys as written (a key with dots stays one key here; the C
library turns it into a path when it decodes), the exact type of every
value (a float keeps its 32-bit pattern, a u32 stays a u32, a bool keeps its
stream word) and entries of unknown type codes (the C library skips them).
`encode` writes such a tree back, so `encode(decode(s)) == s` for every
stream that `decode` accepts and whose count is not negative.

Refusals carry the status the C library's `vek_map_decode` gives for the
same bytes (`StreamError.code`):

- 108 `VEK_ST_MAP_CALLBACK_ERROR`: the data ends inside a field, or a key,
  text or byte-block length is larger than the bytes left;
- 2 `VEK_ST_NO_MEMORY`: a key, text or byte-block length of 0xFFFFFFFF;
- 102 `VEK_ST_MAP_INTERNAL_ERROR`: an entry deeper than `MAX_DEPTH` levels,
  counting one level per nested map and one per dot in a key.

Bytes after the map are not read, as in the library.

Lookups and `Map.set` take the library's key paths (`port[id=2].speed`)
and follow its key rules: keys match without regard to ASCII letter case,
the first matching entry wins, and `set` replaces an existing value in place
(see `Map` and `vekcommon.keypath`).
"""

from __future__ import annotations

import math
import struct
from dataclasses import dataclass
from typing import Any, Iterable, Iterator, NamedTuple

from . import keypath
from .errors import (
    INVALID_PARAMETER,
    MAP_CALLBACK_ERROR,
    MAP_INTERNAL_ERROR,
    MAP_INVALID_MAP,
    MAP_INVALID_SEARCH,
    MAP_INVALID_TYPE,
    MAP_KEY_NOT_EXIST,
    NO_MEMORY,
    PathError,
    StreamError,
)

#: Map levels a stream may hold below the map it fills.
MAX_DEPTH = 64

TYPE_NONE = -1
TYPE_STR = 1
TYPE_MAP = 2
TYPE_BIN = 3
TYPE_I32 = 4
TYPE_I64 = 5
TYPE_FLOAT = 6
TYPE_BOOL = 7
TYPE_U32 = 8
TYPE_DOUBLE = 9
TYPE_U64 = 10

_NO_LENGTH = 0xFFFFFFFF
_TEXT = ("utf-8", "surrogateescape")


def _text_bytes(text: str) -> bytes:
    return text.encode(*_TEXT)


def _bytes_text(data: bytes) -> str:
    return data.decode(*_TEXT)


class Value:
    """A typed value of a map entry. `code` is its stream type code."""

    code: int = 0
    __slots__ = ()

    def plain(self) -> Any:  # pragma: no cover - overridden
        raise NotImplementedError


def _ranged(name: str, lo: int, hi: int):
    def check(value: int) -> int:
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"{name} takes an int, not {type(value).__name__}")
        if not lo <= value <= hi:
            raise ValueError(f"{value} is out of the {name} range [{lo}, {hi}]")
        return value

    return check


@dataclass(frozen=True, slots=True)
class _Int(Value):
    value: int

    def __post_init__(self) -> None:
        self._check(self.value)

    def __int__(self) -> int:
        return self.value

    def plain(self) -> int:
        return self.value


@dataclass(frozen=True, slots=True)
class I32(_Int):
    """Signed 32-bit integer (type 4)."""

    code = TYPE_I32
    _check = staticmethod(_ranged("i32", -(2**31), 2**31 - 1))


@dataclass(frozen=True, slots=True)
class U32(_Int):
    """Unsigned 32-bit integer (type 8)."""

    code = TYPE_U32
    _check = staticmethod(_ranged("u32", 0, 2**32 - 1))


@dataclass(frozen=True, slots=True)
class I64(_Int):
    """Signed 64-bit integer (type 5)."""

    code = TYPE_I64
    _check = staticmethod(_ranged("i64", -(2**63), 2**63 - 1))


@dataclass(frozen=True, slots=True)
class U64(_Int):
    """Unsigned 64-bit integer (type 10)."""

    code = TYPE_U64
    _check = staticmethod(_ranged("u64", 0, 2**64 - 1))


class Float(Value):
    """Single-precision float (type 6), kept as its 32-bit IEEE-754 pattern.

    `Float(1.5)` rounds a Python float to single precision;
    `Float.from_bits(0x3FC00000)` keeps any pattern, NaN payloads included.
    """

    code = TYPE_FLOAT
    __slots__ = ("bits",)

    def __init__(self, value: float) -> None:
        try:
            packed = struct.pack(">f", value)
        except OverflowError:
            packed = struct.pack(">f", math.copysign(math.inf, value))
        object.__setattr__(self, "bits", struct.unpack(">I", packed)[0])

    @classmethod
    def from_bits(cls, bits: int) -> "Float":
        obj = cls.__new__(cls)
        object.__setattr__(obj, "bits", _ranged("float pattern", 0, 2**32 - 1)(bits))
        return obj

    @property
    def value(self) -> float:
        return struct.unpack(">f", struct.pack(">I", self.bits))[0]

    def plain(self) -> float:
        return self.value

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError("Float is immutable")

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Float) and other.bits == self.bits

    def __hash__(self) -> int:
        return hash((Float, self.bits))

    def __repr__(self) -> str:
        return f"Float.from_bits(0x{self.bits:08x})  # {self.value!r}"


class Double(Value):
    """Double-precision float (type 9), kept as its 64-bit IEEE-754 pattern."""

    code = TYPE_DOUBLE
    __slots__ = ("bits",)

    def __init__(self, value: float) -> None:
        object.__setattr__(self, "bits", struct.unpack(">Q", struct.pack(">d", value))[0])

    @classmethod
    def from_bits(cls, bits: int) -> "Double":
        obj = cls.__new__(cls)
        object.__setattr__(obj, "bits", _ranged("double pattern", 0, 2**64 - 1)(bits))
        return obj

    @property
    def value(self) -> float:
        return struct.unpack(">d", struct.pack(">Q", self.bits))[0]

    def plain(self) -> float:
        return self.value

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError("Double is immutable")

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Double) and other.bits == self.bits

    def __hash__(self) -> int:
        return hash((Double, self.bits))

    def __repr__(self) -> str:
        return f"Double.from_bits(0x{self.bits:016x})  # {self.value!r}"


@dataclass(frozen=True, slots=True)
class Bool(Value):
    """Boolean (type 7), kept as its 32-bit stream word.

    `Bool(True)` is the word 1 and `Bool(False)` the word 0. A stream may
    carry any word; like the C library, only the word 1 is true.
    """

    word: int

    code = TYPE_BOOL

    def __init__(self, value: bool | int) -> None:
        word = (1 if value else 0) if isinstance(value, bool) else _ranged("bool word", 0, 2**32 - 1)(value)
        object.__setattr__(self, "word", word)

    def __bool__(self) -> bool:
        return self.word == 1

    def plain(self) -> bool:
        return self.word == 1


@dataclass(frozen=True, slots=True)
class Str(Value):
    """Text (type 1). The stream's bytes are UTF-8; other bytes survive as
    surrogate escapes, so any stream text round-trips. An empty text is the
    stream length 0 (a text without storage in the C library)."""

    text: str

    code = TYPE_STR

    def __post_init__(self) -> None:
        if not isinstance(self.text, str):
            raise TypeError("Str takes a str")

    def plain(self) -> str:
        return self.text


@dataclass(frozen=True, slots=True)
class Bin(Value):
    """Byte block (type 3)."""

    data: bytes

    code = TYPE_BIN

    def __init__(self, data: bytes | bytearray | memoryview) -> None:
        object.__setattr__(self, "data", bytes(data))

    def plain(self) -> bytes:
        return self.data


@dataclass(frozen=True, slots=True)
class Unknown(Value):
    """An entry whose type code is not one of the ten value types (for
    example -1, `VEK_MAP_TYPE_NONE`): the stream holds its key and type code
    only. The C library skips such entries when it decodes."""

    type_code: int

    def __post_init__(self) -> None:
        _ranged("type code", -(2**31), 2**31 - 1)(self.type_code)
        if TYPE_STR <= self.type_code <= TYPE_U64:
            raise ValueError(f"type code {self.type_code} is a value type")

    @property
    def code(self) -> int:  # type: ignore[override]
        return self.type_code

    def plain(self) -> None:
        return None


class Entry(NamedTuple):
    key: str
    value: "Value | Map"


class Map(Value):
    """A map (type 2): an ordered list of entries; keys may repeat.

    The entries are kept exactly as built or decoded: iteration, `keys()`,
    `entries()`, `add()` and `==` see the keys as written, letter case
    included. Lookups and `set()` follow the library's key rules (see
    `vekcommon.keypath`): they take key paths (`port[id=2].speed`), match
    keys without regard to ASCII letter case and take the first matching
    entry; `set()` with `check_for_key` (the default) replaces an existing
    value in place and adds only what is missing, as vek_map_set_*_ll with
    checkForKey 1 does.
    """

    code = TYPE_MAP
    __slots__ = ("_entries",)

    def __init__(self, entries: Iterable[tuple[str, "Value | Map"]] = ()) -> None:
        self._entries: list[Entry] = []
        for key, value in entries:
            self.add(key, value)

    # building
    def add(self, key: str, value: "Value | Map") -> "Map":
        """Appends an entry with this key as it is (no path, no lookup): a
        repeated key appends another entry, a key with '.' stays one key."""
        if not isinstance(key, str):
            raise TypeError("keys are str")
        _check_value(value, self)
        self._entries.append(Entry(key, value))
        return self

    def set(self, path: str, value: "Value | Map", check_for_key: bool = True) -> "Map":
        """Sets the value at a key path, as vek_map_set_*_ll does.

        With `check_for_key` (checkForKey 1), each component is looked up
        first: an existing entry is reused (a value found at the end is
        replaced in place; the entry keeps its key as stored and its
        position), a missing one is appended (a component with a selector
        that matches nothing, or is malformed, appends an entry under the
        bare name), and an entry on the way that holds no map is turned into
        an empty map. Without it (checkForKey 0) nothing is looked up: every
        component appends a new entry, under its text as written. Returns
        the map. Raises TypeError for a value that is not one of this
        module's, and ValueError for a map that holds this map (a cycle);
        then nothing changes."""
        if not isinstance(path, str):
            raise TypeError("key paths are str")
        _check_value(value, None)
        self._resolve(path, lookup=bool(check_for_key), create=True, value=value)
        return self

    # reading
    def __len__(self) -> int:
        return len(self._entries)

    def __iter__(self) -> Iterator[Entry]:
        return iter(self._entries)

    def __getitem__(self, path: str) -> "Value | Map":
        """The value at a key path (as vek_map_get_value finds it); raises
        PathError (a KeyError) with the library's status otherwise."""
        st, found = self._lookup(path)
        if st:
            raise PathError(st, path)
        return found

    def __contains__(self, path: object) -> bool:
        """True when the key path leads to a value; a malformed selector
        raises PathError (107)."""
        if not isinstance(path, str):
            return False
        st, _ = self._lookup(path)
        if st == MAP_INVALID_SEARCH:
            raise PathError(st, path)
        return st == 0

    def get(self, path: str, default: Any = None) -> Any:
        """The value at a key path, or `default` when the path leads to none
        (104: no such entry; 102: an entry on the way holds no map; 103: a
        selector's name first names an entry that holds no map). A
        malformed selector raises PathError (107)."""
        st, found = self._lookup(path)
        if st == 0:
            return found
        if st == MAP_INVALID_SEARCH:
            raise PathError(st, path)
        return default

    def get_typed(self, path: str, kind: type) -> Any:
        """The value at a key path as the library's typed getter of `kind`
        gives it, as a plain Python value: `I32`, `I64`, `Float`, `Double`,
        `Bool`, `Str`, `Bin` and `Map` take exactly their type; `U32` also
        takes an I32 and `U64` an I64 (their bits as unsigned). Raises
        PathError with the path status, or 105 (VEK_ST_MAP_INVALID_TYPE)
        for a value of another type."""
        accepted = _TYPED.get(kind)
        if accepted is None:
            raise TypeError(f"no typed getter for {kind!r}")
        st, found = self._lookup(path)
        if st:
            raise PathError(st, path)
        if not isinstance(found, accepted):
            raise PathError(MAP_INVALID_TYPE, path, f"key path {path!r} holds {type(found).__name__}, "
                            f"not {kind.__name__}")
        if kind is U32 or kind is U64:
            return found.value & (0xFFFFFFFF if kind is U32 else 0xFFFFFFFFFFFFFFFF)
        if kind is Map:
            return found
        return found.plain()

    def get_all(self, key: str) -> list["Value | Map"]:
        """The values of every entry of this map whose key equals `key`
        ignoring ASCII case, in entry order (vek_map_get_all_values; no
        path: '.' and '[' are plain characters here)."""
        want = keypath.fold(key)
        return [e.value for e in self._entries if keypath.fold(e.key) == want]

    def count_keys(self, key: str) -> int:
        """The number of entries whose key equals `key` ignoring ASCII case
        (vek_map_count_keys; no path)."""
        return len(self.get_all(key))

    def keys(self) -> list[str]:
        return [e.key for e in self._entries]

    def entries(self) -> list[Entry]:
        return list(self._entries)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Map) and other._entries == self._entries

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"Map({self._entries!r})"

    # key paths
    def _lookup(self, path: str) -> tuple[int, Any]:
        if not isinstance(path, str):
            raise TypeError("key paths are str")
        return self._resolve(path, lookup=True, create=False)

    def _resolve(self, path: str, lookup: bool, create: bool, value: Any = None) -> tuple[int, Any]:
        """Path resolution as the library does it, level by level. Without
        `create`: (0, the value found) or (status, None). With `create`:
        places `value` at the path and returns (0, value); before the first
        change it makes, the map it changes is checked against `value` (a
        map holding it would make a cycle), so a refusal changes nothing."""
        parts = keypath.split(path)
        cur = self
        changed = False
        for n, part in enumerate(parts):
            last = n == len(parts) - 1
            st, i, head = _find_component(cur, part) if lookup else (0, None, part)
            if i is None:
                if not create:
                    return st, None
                if not changed:
                    _check_value(value, cur)
                    changed = True
                cur._entries.append(Entry(head, value if last else Map()))
                i = len(cur._entries) - 1
            entry = cur._entries[i]
            if last:
                if create and entry.value is not value:
                    if not changed:
                        _check_value(value, cur)
                    cur._entries[i] = Entry(entry.key, value)
                return 0, cur._entries[i].value
            if not isinstance(entry.value, Map):
                if not create:
                    return MAP_INTERNAL_ERROR, None
                if not changed:
                    _check_value(value, cur)
                    changed = True
                cur._entries[i] = Entry(entry.key, Map())
            cur = cur._entries[i].value
        raise AssertionError("a path has at least one component")  # pragma: no cover

    # plain Python data
    def plain(self) -> Any:
        """The tree as plain Python data: a dict when the keys of a map are
        unique, else a list of [key, value] pairs (order kept either way).
        Exact types are lost: integers become int, floats float, unknown
        type codes None."""
        values = [(e.key, e.value.plain()) for e in self._entries]
        keys = [k for k, _ in values]
        if len(set(keys)) == len(keys):
            return dict(values)
        return [[k, v] for k, v in values]

    to_plain = plain

    @classmethod
    def from_plain(cls, data: Any) -> "Map":
        """Builds a map from a dict or from a list of [key, value] pairs.

        Types follow the Python values: bool -> Bool, int -> I32 when it
        fits, else I64, else U64; float -> Double; str -> Str; bytes -> Bin;
        dict or list of pairs -> Map; None -> Unknown(-1); values of this
        module are kept as they are."""
        if isinstance(data, dict):
            items = data.items()
        elif isinstance(data, (list, tuple)):
            items = []
            for pair in data:
                if not isinstance(pair, (list, tuple)) or len(pair) != 2:
                    raise TypeError("a list converts to a map only as [key, value] pairs")
                items.append((pair[0], pair[1]))
        else:
            raise TypeError(f"cannot make a map of {type(data).__name__}")
        return cls((str(k), _from_plain_value(v)) for k, v in items)


def _find_component(m: Map, text: str) -> tuple[int, int | None, str]:
    """One component in one map: (status, index of the entry or None, the
    component as a new entry would be named: cut at '[' when it has one)."""
    comp = keypath.component(text)
    want = keypath.fold(comp.name)
    if comp.selector is None and not comp.malformed:
        for i, e in enumerate(m._entries):
            if keypath.fold(e.key) == want:
                return 0, i, text
        return MAP_KEY_NOT_EXIST, None, text
    if comp.malformed:
        return MAP_INVALID_SEARCH, None, comp.name
    field, wanted = comp.selector
    for i, e in enumerate(m._entries):
        if keypath.fold(e.key) != want:
            continue
        if not isinstance(e.value, Map):
            return MAP_INVALID_MAP, None, comp.name
        if _selector_matches(e.value, field, wanted):
            return 0, i, comp.name
    return MAP_KEY_NOT_EXIST, None, comp.name


def _selector_matches(child: Map, field: str, text: str) -> bool:
    # Only the first entry named `field` is examined.
    want = keypath.fold(field)
    for e in child._entries:
        if keypath.fold(e.key) == want:
            v = e.value
            if isinstance(v, I32):
                return keypath.text_to_i32(text) == v.value
            if isinstance(v, U32):
                return keypath.text_to_u32(text) == v.value
            if isinstance(v, Str):
                return keypath.keys_equal(v.text, text)
            return False
    return False


def _check_value(value: Any, into: "Map | None") -> None:
    """Refuses what is not a value, and a map that holds `into` (or is it)."""
    if not isinstance(value, Value):
        raise TypeError(f"values are vekcommon.stream values, not {type(value).__name__}")
    if into is None or not isinstance(value, Map):
        return
    seen: set[int] = set()
    todo = [value]
    while todo:
        m = todo.pop()
        if m is into:
            raise ValueError("the map would hold itself")
        if id(m) in seen:
            continue
        seen.add(id(m))
        todo.extend(e.value for e in m._entries if isinstance(e.value, Map))


_TYPED: dict[type, tuple[type, ...]] = {
    I32: (I32,), U32: (U32, I32), I64: (I64,), U64: (U64, I64), Float: (Float,), Double: (Double,),
    Bool: (Bool,), Str: (Str,), Bin: (Bin,), Map: (Map,),
}



def _from_plain_value(v: Any) -> Value:
    if isinstance(v, Value):
        return v
    if isinstance(v, bool):
        return Bool(v)
    if isinstance(v, int):
        if -(2**31) <= v < 2**31:
            return I32(v)
        if -(2**63) <= v < 2**63:
            return I64(v)
        return U64(v)
    if isinstance(v, float):
        return Double(v)
    if isinstance(v, str):
        return Str(v)
    if isinstance(v, (bytes, bytearray, memoryview)):
        return Bin(v)
    if isinstance(v, (dict, list, tuple)):
        return Map.from_plain(v)
    if v is None:
        return Unknown(TYPE_NONE)
    raise TypeError(f"no stream type for {type(v).__name__}")


# ---------------------------------------------------------------- encoding

_U32 = struct.Struct(">I")
_I32 = struct.Struct(">i")
_U64 = struct.Struct(">Q")
_I64 = struct.Struct(">q")


def encode(tree: Map) -> bytes:
    """Encodes a map into a stream.

    Raises StreamError 103 for something that is not a Map, 102 for a map
    nested deeper than MAX_DEPTH levels (the library refuses both), and
    StreamError 7 for a key or text longer than 2^32 - 2 bytes."""
    if not isinstance(tree, Map):
        raise StreamError(103, "not a map")
    out: list[bytes] = []
    # Explicit stack of entry iterators: no recursion.
    stack: list[Iterator[Entry]] = [iter(tree._entries)]
    out.append(_I32.pack(len(tree._entries)))
    while stack:
        entry = next(stack[-1], None)
        if entry is None:
            stack.pop()
            continue
        key = _text_bytes(entry.key)
        if len(key) >= _NO_LENGTH:
            raise StreamError(INVALID_PARAMETER, "key too long")
        value = entry.value
        code = value.code
        out.append(_U32.pack(len(key)))
        out.append(key)
        out.append(_I32.pack(code))
        if code == TYPE_MAP:
            if len(stack) >= MAX_DEPTH + 1:
                raise StreamError(MAP_INTERNAL_ERROR, f"map nested deeper than {MAX_DEPTH} levels")
            out.append(b"\0\0\0\0")
            out.append(_I32.pack(len(value._entries)))
            stack.append(iter(value._entries))
        elif code == TYPE_STR or code == TYPE_BIN:
            data = _text_bytes(value.text) if code == TYPE_STR else value.data
            if len(data) >= _NO_LENGTH:
                raise StreamError(INVALID_PARAMETER, "text or byte block too long")
            out.append(_U32.pack(len(data)))
            out.append(data)
        elif code == TYPE_I32:
            out.append(_I32.pack(value.value))
        elif code == TYPE_U32:
            out.append(_U32.pack(value.value))
        elif code == TYPE_I64:
            out.append(_I64.pack(value.value))
        elif code == TYPE_U64:
            out.append(_U64.pack(value.value))
        elif code == TYPE_FLOAT:
            out.append(_U32.pack(value.bits))
        elif code == TYPE_DOUBLE:
            out.append(_U64.pack(value.bits))
        elif code == TYPE_BOOL:
            out.append(_U32.pack(value.word))
        # any other code: the entry ends after its type
    return b"".join(out)


# ---------------------------------------------------------------- decoding


class _Reader:
    __slots__ = ("data", "pos", "end")

    def __init__(self, data: bytes) -> None:
        self.data = data
        self.pos = 0
        self.end = len(data)

    def take(self, n: int) -> bytes:
        if self.end - self.pos < n:
            raise StreamError(MAP_CALLBACK_ERROR, f"the stream ends inside a field at byte {self.pos}")
        b = self.data[self.pos : self.pos + n]
        self.pos += n
        return b

    def word(self) -> int:
        return _U32.unpack(self.take(4))[0]

    def block(self, n: int) -> bytes:
        if n == _NO_LENGTH:
            raise StreamError(NO_MEMORY, f"length 0xFFFFFFFF at byte {self.pos - 4}")
        if n > self.end - self.pos:
            raise StreamError(MAP_CALLBACK_ERROR, f"length {n} at byte {self.pos - 4} passes the end of the stream")
        return self.take(n)


def _signed(word: int) -> int:
    return word - (1 << 32) if word & 0x80000000 else word


def _dots(key: bytes) -> int:
    # The library counts the dots of a key up to its first NUL.
    nul = key.find(b"\0")
    return (key if nul < 0 else key[:nul]).count(b".")


def decode_prefix(data: bytes | bytearray | memoryview) -> tuple[Map, int]:
    """Decodes the map at the start of `data`; returns it and the number of
    bytes it took. Raises StreamError as `decode` does."""
    r = _Reader(bytes(data))
    root = Map()
    count = _signed(r.word())
    # Frames: (map being filled, entries left, depth)
    stack: list[list[Any]] = [[root, max(count, 0), 0]]
    while stack:
        frame = stack[-1]
        if frame[1] == 0:
            stack.pop()
            continue
        frame[1] -= 1
        m, _, depth = frame
        key_bytes = r.block(r.word())
        code = _signed(r.word())
        key = _bytes_text(key_bytes)
        if not TYPE_STR <= code <= TYPE_U64:
            m._entries.append(Entry(key, Unknown(code)))
            continue
        level = depth + _dots(key_bytes) + (1 if code == TYPE_MAP else 0)
        if level > MAX_DEPTH:
            raise StreamError(MAP_INTERNAL_ERROR, f"entry {key!r} sits deeper than {MAX_DEPTH} levels")
        if code == TYPE_MAP:
            r.take(4)  # filler
            child = Map()
            child_count = _signed(r.word())
            m._entries.append(Entry(key, child))
            stack.append([child, max(child_count, 0), level])
            continue
        if code == TYPE_I32:
            value: Value = I32(_I32.unpack(r.take(4))[0])
        elif code == TYPE_U32:
            value = U32(r.word())
        elif code == TYPE_I64:
            value = I64(_I64.unpack(r.take(8))[0])
        elif code == TYPE_U64:
            value = U64(_U64.unpack(r.take(8))[0])
        elif code == TYPE_DOUBLE:
            value = Double.from_bits(_U64.unpack(r.take(8))[0])
        elif code == TYPE_FLOAT:
            value = Float.from_bits(r.word())
        elif code == TYPE_BOOL:
            value = Bool(r.word())
        else:  # text or byte block
            n = r.word()
            payload = r.block(n) if n != 0 else b""
            value = Str(_bytes_text(payload)) if code == TYPE_STR else Bin(payload)
        m._entries.append(Entry(key, value))
    return root, r.pos


def decode(data: bytes | bytearray | memoryview) -> Map:
    """Decodes a stream into a Map (see the module's description)."""
    return decode_prefix(data)[0]
