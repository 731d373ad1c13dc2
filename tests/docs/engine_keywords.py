"""The keywords of the built-in statement libraries, read from the keyword tables of the
dispatchers below libs/script/src, so that the editor grammar and the language reference can be
checked against the engine itself."""

import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[2]
SOURCES = ROOT / "libs" / "script" / "src"

_TABLE = re.compile(r'keywordEntry<[^>]*>\s+(\w+)\[\]\s*=\s*\{(.*?)\n\};', re.S)
_ENTRY = re.compile(r'\{u"([^"]+)"')
_COMPARE = re.compile(r'\bkeyword\s*[!=]=\s*u"([^"]+)"')
# The object library's tables list the keywords without their prefix "obj_" or "ctxt_".
_PREFIXES = {"kBothFamilies": ("obj_", "ctxt_"), "kContextOnly": ("ctxt_",), "kObjectOnly": ("obj_",)}


def engine_keywords():
    """Every keyword that a built-in dispatcher accepts, lower-case."""
    keywords = set()
    for source in sorted(SOURCES.rglob("*.cpp")):
        text = source.read_text(encoding="utf-8")
        for name, body in _TABLE.findall(text):
            for word in _ENTRY.findall(body):
                keywords |= {p + word for p in _PREFIXES.get(name, ("",))}
        keywords |= set(_COMPARE.findall(text))  # keywords compared outside a table
    if not keywords:
        raise RuntimeError("no keywords found in " + str(SOURCES))
    return keywords
