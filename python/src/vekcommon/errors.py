"""Errors that carry a libvekcommon status code and its name."""

from __future__ import annotations

# The names of the codes that the pure-Python code can report; the
# binding (vekcommon.lib) names any code through the library itself.
_NAMES = {
    0: "VEK_ST_SUCCESS",
    2: "VEK_ST_NO_MEMORY",
    4: "VEK_ST_INVALID_VALUE",
    7: "VEK_ST_INVALID_PARAMETER",
    101: "VEK_ST_MAP_ERROR",
    102: "VEK_ST_MAP_INTERNAL_ERROR",
    103: "VEK_ST_MAP_INVALID_MAP",
    104: "VEK_ST_MAP_KEY_NOT_EXIST",
    105: "VEK_ST_MAP_INVALID_TYPE",
    106: "VEK_ST_MAP_INVALID_INDEX",
    107: "VEK_ST_MAP_INVALID_SEARCH",
    108: "VEK_ST_MAP_CALLBACK_ERROR",
}

SUCCESS = 0
NO_MEMORY = 2
INVALID_VALUE = 4
INVALID_PARAMETER = 7
MAP_ERROR = 101
MAP_INTERNAL_ERROR = 102
MAP_INVALID_MAP = 103
MAP_KEY_NOT_EXIST = 104
MAP_INVALID_TYPE = 105
MAP_INVALID_INDEX = 106
MAP_INVALID_SEARCH = 107
MAP_CALLBACK_ERROR = 108


class VekError(Exception):
    """A failure with the library's status code (`code`) and name (`name`)."""

    def __init__(self, code: int, message: str = "", name: str | None = None):
        self.code = int(code)
        self.name = name if name is not None else _NAMES.get(self.code, f"status {self.code}")
        text = f"{self.name} ({self.code})"
        super().__init__(f"{text}: {message}" if message else text)


class StreamError(VekError):
    """A stream the codec refuses, with the status the C library gives for it."""


class PathError(VekError, KeyError):
    """A key path that leads to no value, with the status the library's get
    gives for it: 104 (no such entry), 102 (an entry on the way holds no
    map), 103 (a selector's name first names an entry that holds no map),
    107 (a malformed selector), or 105 (a typed get of another type).
    A KeyError, so that `map[path]` fails as a mapping's lookup does."""

    def __init__(self, code: int, path: str, message: str = "", name: str | None = None):
        self.path = path
        super().__init__(code, message or f"key path {path!r}", name=name)

    __str__ = Exception.__str__
