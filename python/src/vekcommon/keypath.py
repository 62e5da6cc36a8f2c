"""Key paths and key comparison, as libvekcommon's typed map has them.

A key path is one or more components separated by '.'; a component is a
name, or a name with a selector `name[field=value]`. The path is split at
each '.' (no escaping), empty components are allowed, no blanks are
trimmed. The selector starts at the first '[' of the component, its value
ends at the first ']' after it (text after that ']' is ignored) and its
field at the first '=' before that ']'. A selector without its ']', or
without a '=' before it, is malformed.

Keys, names and fields are compared as the library compares them
(`vek_stricmp`): byte for byte after folding the ASCII letters, so `Speed`,
`speed` and `SPEED` are one key while `É` and `é` are two. The library's
keys are C strings: a key or path is compared up to its first NUL.

A selector value matches the first entry of the candidate map whose key
equals the field, and only that one: an i32 entry when the value text, read
as C's strtol reads it with base 0 and saturated at the 32-bit limits,
equals it; a u32 entry when the text read as strtoul with base 0 does (a
'-' negates modulo 2^32, a magnitude beyond 32 bits saturates); a text
entry when the texts are equal ignoring ASCII case. Entries of other types
never match.
"""

from __future__ import annotations

from typing import NamedTuple

_C_SPACE = " \t\n\v\f\r"
_I32_MIN, _I32_MAX = -(2**31), 2**31 - 1
_U32_MAX = 2**32 - 1


def c_text(text: str) -> str:
    """The text as the library holds it: up to its first NUL."""
    nul = text.find("\0")
    return text if nul < 0 else text[:nul]


def _c_bytes(text: str) -> bytes:
    try:
        return text.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:  # a surrogate no stream byte decodes to
        return text.encode("utf-8", "surrogatepass")


def fold(key: str) -> bytes:
    """The comparison form of a key: its bytes up to the first NUL, ASCII
    letters in lower case. Two keys are equal when their folds are."""
    return _c_bytes(c_text(key)).lower()


def keys_equal(a: str, b: str) -> bool:
    """True when the library takes `a` and `b` for the same key."""
    return fold(a) == fold(b)


def _digits(text: str, i: int) -> int:
    """The magnitude strtoull reads from text[i:] with base 0 (no sign, no
    blanks): hexadecimal after 0x, octal after a leading 0, decimal
    otherwise; reading stops at the first unusable character."""
    if text[i:i + 2] in ("0x", "0X") and i + 2 < len(text) and text[i + 2] in "0123456789abcdefABCDEF":
        base, i = 16, i + 2
    elif text[i:i + 1] == "0":
        base = 8
    else:
        base = 10
    usable = "0123456789abcdef"[:base]
    value = 0
    while i < len(text) and text[i].isascii() and text[i].lower() in usable:
        value = value * base + int(text[i], 16)
        i += 1
    return value


def _sign(text: str) -> tuple[int, bool]:
    i = 0
    while i < len(text) and text[i] in _C_SPACE:
        i += 1
    negative = text[i:i + 1] == "-"
    if text[i:i + 1] in ("-", "+"):
        i += 1
    return i, negative


def text_to_i32(text: str) -> int:
    """A selector value compared with an i32: strtol, base 0, saturated."""
    i, negative = _sign(text)
    if i >= len(text) or not text[i].isascii() or not text[i].isdigit():
        return 0
    value = -_digits(text, i) if negative else _digits(text, i)
    return max(_I32_MIN, min(_I32_MAX, value))


def text_to_u32(text: str) -> int:
    """A selector value compared with a u32: strtoul, base 0, on 32 bits."""
    i, negative = _sign(text)
    if i >= len(text) or not text[i].isascii() or not text[i].isdigit():
        return 0
    magnitude = _digits(text, i)
    if magnitude > _U32_MAX:
        return _U32_MAX
    return (-magnitude) & _U32_MAX if negative else magnitude


class Component(NamedTuple):
    """One path component. `name` is the text before '[' (the whole
    component without one); `selector` is (field, value) or None;
    `malformed` is True for a '[' without a usable selector."""

    text: str
    name: str
    selector: tuple[str, str] | None
    malformed: bool


def component(text: str) -> Component:
    """Parses one component (no '.' in it)."""
    bracket = text.find("[")
    if bracket < 0:
        return Component(text, text, None, False)
    rest = text[bracket + 1:]
    close = rest.find("]")
    eq = rest.find("=", 0, close) if close >= 0 else -1
    if eq < 0:
        return Component(text, text[:bracket], None, True)
    return Component(text, text[:bracket], (rest[:eq], rest[eq + 1:close]), False)


def split(path: str) -> list[str]:
    """The components of a path, as texts (the path is taken up to its first
    NUL, as the library's C string ends there)."""
    return c_text(path).split(".")


__all__ = ["Component", "c_text", "component", "fold", "keys_equal", "split", "text_to_i32", "text_to_u32"]
