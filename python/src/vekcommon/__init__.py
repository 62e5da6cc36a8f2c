"""libvekcommon for Python.

- `vekcommon.stream`: the map stream format in pure Python (no C library
  needed): decode a stream into a `Map` tree that keeps entry order,
  repeated keys, exact types and unknown type codes, and encode it back to
  the same bytes.
  Lookups and `Map.set` take the library's key paths
  (`port[id=2].speed`) and match keys as the library does, without regard
  to letter case (`vekcommon.keypath`).
- `vekcommon.lib`: a ctypes binding of the installed libvekcommon (status
  names, list parsing, encoding and decoding through the library, and the
  resource registry). Imported on demand, so the codec works without the
  shared library.
"""

from .errors import PathError, StreamError, VekError
from .stream import (
    Bin,
    Bool,
    Double,
    Entry,
    Float,
    I32,
    I64,
    Map,
    MAX_DEPTH,
    Str,
    U32,
    U64,
    Unknown,
    decode,
    decode_prefix,
    encode,
)

__version__ = "1.0.0"

__all__ = [
    "Bin", "Bool", "Double", "Entry", "Float", "I32", "I64", "Map", "MAX_DEPTH", "Str", "U32", "U64",
    "Unknown", "PathError", "StreamError", "VekError", "decode", "decode_prefix", "encode", "__version__",
]
