"""Errors that carry a libvekcommon status code and its name."""

from __future__ import annotations

# The names of the codes that the pure-Python codec can report; the
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
    108: "VEK_ST_MAP_CALLBACK_ERROR",
}

NO_MEMORY = 2
INVALID_PARAMETER = 7
MAP_INTERNAL_ERROR = 102
MAP_INVALID_MAP = 103
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
