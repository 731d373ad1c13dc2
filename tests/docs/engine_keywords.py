"""The keywords of the built-in statement libraries, read from the dispatchers in
libs/script/src, so that the editor grammar and the language reference can be checked against
the engine itself."""

import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[2]
SOURCES = ROOT / "libs" / "script" / "src"

_COMPARE = re.compile(r'\b(keyword|name)\s*[!=]=\s*u"([^"]+)"')


def _function_body(text, start):
    """The text from start up to the line that closes the function ("}" alone on a line)."""
    end = text.index("\n}\n", start)
    return text[start:end]


def engine_keywords():
    """Every keyword that a built-in dispatcher accepts, lower-case."""
    keywords = set()
    for source in sorted(SOURCES.rglob("*.cpp")):
        text = source.read_text(encoding="utf-8")
        if "if (!isObj) {" in text:  # the object library's dispatcher
            keywords |= _object_keywords(text)
            continue
        for variable, word in _COMPARE.findall(text):
            if variable == "keyword":
                keywords.add(word)
    if not keywords:
        raise RuntimeError("no keywords found in " + str(SOURCES))
    return keywords


def _object_keywords(text):
    # The object dispatcher compares the keyword without its "obj_" or "ctxt_" prefix: the names
    # before "if (!isObj)" exist with both prefixes, those inside that block only with "ctxt_",
    # and those after it only with "obj_".
    start = text.index("statement* dispatch(")
    body = _function_body(text, start)
    both, rest = body.split("if (!isObj) {", 1)
    ctxt_only, obj_only = rest.split("}", 1)
    names = lambda part: [w for v, w in _COMPARE.findall(part) if v == "name"]
    found = set()
    for n in names(both):
        found |= {"obj_" + n, "ctxt_" + n}
    found |= {"ctxt_" + n for n in names(ctxt_only)}
    found |= {"obj_" + n for n in names(obj_only)}
    return found
