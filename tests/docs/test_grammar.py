#!/usr/bin/env python3
"""Checks the editor grammar editors/ztscript.tmLanguage.json.

A small TextMate-style tokenizer (match rules, begin/end regions, includes, captures) runs the
grammar over every script file of examples/ and tests/scripts/ and checks that
- the grammar's keywords are exactly the keywords the engine's dispatchers accept;
- every line tokenises: the tokens cover the line, the tokenizer always makes progress;
- every call of a built-in keyword gets a keyword scope, every text in quotation marks a string
  scope and every comment a comment scope, as an independent scan of the line finds them with
  the engine's own rules (comment cut, argument scanner);
- a few hand-picked lines get exactly the expected scopes.
Exit status 0 when every check passed."""

import json
import pathlib
import re
import sys

sys.dont_write_bytecode = True  # keep the source tree free of caches
from engine_keywords import ROOT, engine_keywords
from run_doc_examples import read_blocks

GRAMMAR = ROOT / "editors" / "ztscript.tmLanguage.json"


# ---------------------------------------------------------------------------------------------
# A TextMate-style tokenizer: match rules, begin/end regions (over several lines), includes and
# captures.

class Rule:
    def __init__(self, raw, grammar):
        self.raw, self.grammar, self._patterns = raw, grammar, None
        self.name, self.content_name = raw.get("name"), raw.get("contentName")
        self.match, self.begin, self.end = (re.compile(raw[k]) if k in raw else None for k in ("match", "begin", "end"))
        if (self.begin is None) != (self.end is None):
            raise ValueError("begin without end: %r" % raw)
        self.begin_captures = raw.get("beginCaptures", raw.get("captures", {}))
        self.end_captures = raw.get("endCaptures", raw.get("captures", {}))

    def patterns(self):
        """The match and begin/end rules this rule holds, includes resolved."""
        if self._patterns is None:
            self._patterns = [r for p in self.raw.get("patterns", []) for r in self.grammar.resolve(p)]
        return self._patterns


class Grammar:
    def __init__(self, raw):
        self.raw, self.repository = raw, {}
        self.root = Rule({"patterns": raw["patterns"]}, self)

    def resolve(self, raw):
        if "include" not in raw:
            return [Rule(raw, self)]
        ref = raw["include"]
        if ref == "$self":
            return self.root.patterns()
        if not ref.startswith("#") or ref[1:] not in self.raw["repository"]:
            raise ValueError("unknown include " + ref)
        rule = self.repository.setdefault(ref[1:], Rule(self.raw["repository"][ref[1:]], self))
        return [rule] if rule.match or rule.begin else rule.patterns()


def captured(tokens, m, captures, base):
    """Adds the tokens of one match, with the scopes of its capture groups (nested by position)."""
    marks = sorted((m.start(int(g)), m.end(int(g)), c["name"]) for g, c in captures.items()
                   if int(g) <= m.re.groups and m.start(int(g)) != -1 and m.end(int(g)) > m.start(int(g)))
    base = base + [n for s, e, n in marks if (s, e) == m.span()]
    pos = m.start()
    for s, e, n in (x for x in marks if x[:2] != m.span()):
        if s < pos:
            raise ValueError("overlapping captures are not supported")
        tokens += [(pos, s, tuple(base)), (s, e, tuple(base + [n]))]
        pos = e
    tokens.append((pos, m.end(), tuple(base)))


class Tokenizer:
    """Tokenises line after line; a region left open goes on in the next line."""

    def __init__(self, grammar):
        self.grammar, self.stack = grammar, []

    def scopes(self):
        return ["source.ztscript"] + [n for r in self.stack for n in (r.name, r.content_name) if n]

    def line(self, text):
        """Tokens (start, end, scopes) covering text (given without its line break)."""
        text += "\n"
        tokens, pos, guard = [], 0, 0
        while pos < len(text):
            guard += 1
            if guard > 10 * len(text) + 100:
                raise RuntimeError("the tokenizer makes no progress at column %d" % pos)
            best = None  # (start, kind, rule, match)
            if self.stack:
                m = self.stack[-1].end.search(text, pos)
                best = m and (m.start(), "end", self.stack[-1], m)
            for rule in (self.stack[-1] if self.stack else self.grammar.root).patterns():
                m = (rule.match or rule.begin).search(text, pos)
                if m and (not best or m.start() < best[0]):
                    best = (m.start(), "match" if rule.match else "begin", rule, m)
                    if m.start() == pos:
                        break
            if not best:
                tokens.append((pos, len(text), tuple(self.scopes())))
                break
            start, kind, rule, m = best
            tokens.append((pos, start, tuple(self.scopes())))
            if kind == "end":
                captured(tokens, m, rule.end_captures, self.scopes())
                self.stack.pop()
            else:
                captured(tokens, m, rule.begin_captures if rule.begin else rule.raw.get("captures", {}),
                         self.scopes() + ([rule.name] if rule.name else []))
                if rule.begin:
                    self.stack.append(rule)
            if m.end() == pos and kind != "begin":  # an empty match: step over one character
                tokens.append((pos, pos + 1, tuple(self.scopes())))
                pos += 1
            else:
                pos = m.end()
        # Empty tokens and the line break go.
        return [(s, min(e, len(text) - 1), sc) for s, e, sc in tokens if min(e, len(text) - 1) > s]


def tokenise_file(grammar, lines):
    t = Tokenizer(grammar)
    return [t.line(line) for line in lines]


def scopes_at(tokens, column):
    for s, e, sc in tokens:
        if s <= column < e:
            return sc
    return ()


# ---------------------------------------------------------------------------------------------
# What the engine sees in a line, found independently of the grammar

WORD_CALL = re.compile(r'([A-Za-z_&][A-Za-z0-9_]*|==|!=|<=|>=|&&|\|\||[-+*/<>!])[ \t]*(?:<[^<>()"]*>)?[ \t]*\(')
DEFINITION = re.compile(r'^[ \t]*(?i:scrdef) +[^ \t(/]*\(')


def engine_view(line):
    """(code columns, string spans, comment column, definition parameters span) of one line.
    The comment starts at the first "//", inside quotation marks too. Texts in quotation marks
    follow the statement parser's argument scanner: a quotation mark opens a text at the start
    of an argument only, and one after a backslash does not close it. On a scrdef line the
    parameter list follows the definition reader: a backslash in a quoted text escapes the next
    character."""
    comment = line.find("//")
    code = line if comment < 0 else line[:comment]
    strings, params, i = [], None, 0
    d = DEFINITION.match(code)
    if d:
        i, start, escaped = d.end(), None, False
        while i < len(code) and (code[i] != ")" or start is not None):
            if code[i] == "\\" and start is not None:
                escaped = True
                i += 1
                continue
            if code[i] == '"' and not escaped:
                if start is None:
                    start = i
                else:
                    strings.append((start, i + 1))
                    start = None
            escaped = False
            i += 1
        if start is not None:
            strings.append((start, len(code)))
        params, i = (d.end(), i), i + 1
    can_open, start, escape = True, None, False
    for i in range(i, len(code)):
        c = code[i]
        if start is not None:  # inside a text
            if c == '"' and not escape:
                strings.append((start, i + 1))
                start, can_open = None, False
            escape = c == "\\"  # any other character, a quotation mark included, ends an escape
        elif c == '"':
            start = i if can_open else None
            can_open = False
        elif c not in " \t":
            can_open = c in ",({};"  # after these a new argument or statement starts
    if start is not None:
        strings.append((start, len(code)))
    return code, strings, (comment if comment >= 0 else None), params


def inside(spans, column):
    return any(s <= column < e for s, e in spans)


# ---------------------------------------------------------------------------------------------
# Checks

class Checker:
    def __init__(self):
        self.failures = []
        self.counts = {"scripts": 0, "lines": 0, "keyword calls": 0, "texts": 0, "comments": 0, "picked lines": 0}

    def fail(self, where, message):
        self.failures.append("%s: %s" % (where, message))


def grammar_keywords(raw):
    """Keywords the grammar's keyword rules list (the alternatives of the (?i:...) groups)."""
    found = set()
    for rule in raw["repository"]["keywords"]["patterns"]:
        pattern = rule["match"]
        body = pattern.split("(?=")[0]
        m = re.search(r"\(\?i:([^)]*)\)", body)
        if m:
            prefix = body[: body.index("(?i:")].replace("\\b", "").replace("(?:", "")
            for w in m.group(1).split("|"):
                found.add((prefix + w).lower())
        else:
            alternatives = body[3:-1] if body.startswith("(?:") else body
            for part in re.findall(r"\\\|\\\||\[[^\]]*\]|[^|]+", alternatives):
                if part.startswith("["):
                    found |= {c for c in part[1:-1].replace("\\", "")}
                else:
                    found.add(part.replace("\\", ""))
    return found


def check_keyword_lists(raw, keywords, checker):
    listed = grammar_keywords(raw)
    for k in sorted(keywords - listed):
        checker.fail("grammar", "the engine keyword %r is not in the grammar" % k)
    for k in sorted(listed - keywords):
        checker.fail("grammar", "the grammar lists %r, which no engine library accepts" % k)


def check_file(grammar, path, keywords, checker):
    data = path.read_bytes()
    lines = data.decode("cp1252", errors="replace").replace("\r\n", "\n").replace("\r", "\n").split("\n")
    check_lines(grammar, lines, str(path.relative_to(ROOT)), 0, keywords, checker)


def check_lines(grammar, lines, rel, offset, keywords, checker):
    """Checks the lines of one file; offset is added to the line numbers of reports."""
    try:
        all_tokens = tokenise_file(grammar, lines)
    except Exception as e:  # noqa: BLE001 - reported as a failure of this file
        checker.fail(rel, "tokenising failed: %s" % e)
        return
    checker.counts["scripts"] += 1
    for n, (line, tokens) in enumerate(zip(lines, all_tokens), 1):
        where = "%s:%d" % (rel, n + offset)
        checker.counts["lines"] += 1
        covered = 0
        for s, e, _ in tokens:
            if s != covered:
                checker.fail(where, "the tokens leave a gap at column %d" % covered)
                break
            covered = e
        else:
            if covered != len(line):
                checker.fail(where, "the tokens end at column %d of %d" % (covered, len(line)))
        code, strings, comment, params = engine_view(line)
        if comment is not None:
            checker.counts["comments"] += 1
            for col in range(comment, len(line)):
                if not any(sc.startswith("comment.line.double-slash") for sc in scopes_at(tokens, col)):
                    checker.fail(where, "column %d of the comment lacks the comment scope" % (col + 1))
                    break
        for s, e in strings:
            checker.counts["texts"] += 1
            for col in range(s, e):
                if not any(sc.startswith("string.quoted.double") for sc in scopes_at(tokens, col)):
                    checker.fail(where, "column %d of the text %r lacks the string scope" % (col + 1, line[s:e]))
                    break
        for m in WORD_CALL.finditer(code):
            word = m.group(1)
            col = m.start(1)
            if word.lower() not in keywords or inside(strings, col):
                continue
            if params and col < params[1]:
                continue  # the definition's name and parameter list
            if col > 0 and re.match(r"[A-Za-z0-9_]", line[col - 1]) and word[0].isalpha():
                continue  # part of a longer word
            checker.counts["keyword calls"] += 1
            sc = scopes_at(tokens, col)
            end_sc = scopes_at(tokens, col + len(word) - 1)
            if not any(x.startswith("keyword.") for x in sc) or sc != end_sc:
                checker.fail(where, "the keyword %r at column %d has the scopes %s" % (word, col + 1, list(sc)))
            # every character of a call's keyword and nothing in front of it
            if col > 0 and any(x.startswith("keyword.") for x in scopes_at(tokens, col - 1)) \
                    and not line[col - 1] in " \t,;({":
                checker.fail(where, "the keyword scope of %r starts before the keyword" % word)


def token_list(grammar, lines):
    """The tokens of the last of lines as "text=scope/scope" (blanks left out, the scopes without
    source.ztscript and without their ".ztscript" ending)."""
    tokens = tokenise_file(grammar, lines)[-1]
    out = []
    for s, e, sc in tokens:
        text = lines[-1][s:e]
        if text.strip():
            out.append(text + "=" + "/".join(x[:-9] if x.endswith(".ztscript") else x
                                              for x in sc if x != "source.ztscript"))
    return out


# Punctuation written alone in the expectations below has these scopes.
PUNCTUATION = {"(": "punctuation.definition.arguments.begin", ")": "punctuation.definition.arguments.end",
               ",": "punctuation.separator.arguments", ";": "punctuation.terminator.statement",
               "{": "punctuation.section.block.begin", "}": "punctuation.section.block.end"}


def quoted(text, outer=""):
    """The tokens of a text in quotation marks."""
    s = outer + "string.quoted.double"
    return ['"=%s/punctuation.definition.string.begin' % s, "%s=%s" % (text, s),
            '"=%s/punctuation.definition.string.end' % s]


def types(outer, *names):
    """The tokens of a type list: names given as "name=scope" ("storage.type" when alone)."""
    t = outer + "meta.type-list"
    out = ["<=%s/punctuation.definition.type-list.begin" % t]
    for i, n in enumerate(names):
        if i:
            out.append(",=%s/punctuation.separator.type-list" % t)
        name, _, scope = n.partition("=")
        out.append("%s=%s/%s" % (name, t, scope or "storage.type"))
    return out + [">=%s/punctuation.definition.type-list.end" % t]


DEF = "meta.function.definition/"
PICKED = [
    # (line, expected tokens)
    ('scrdef greet(in<string> name = "World")',
     ["scrdef=" + DEF + "storage.type.function", "greet=" + DEF + "entity.name.function",
      "(=" + DEF + "punctuation.definition.parameters.begin", "in=" + DEF + "storage.modifier.direction",
      *types(DEF, "string"), "name=" + DEF + "variable.parameter", "==" + DEF + "keyword.operator.assignment",
      *quoted("World", DEF), ")=" + DEF + "punctuation.definition.parameters.end"]),
    ('  setvar(Sum, add<INT>(sum, "1"));',
     ["setvar=keyword.other.statement.variables", "(", "Sum=variable.other", ",", "add=keyword.operator.word",
      *types("", "INT"), "(", "sum=variable.other", ",", *quoted("1"), ")", ")", ";"]),
    # "//" cuts the line also inside a text; an escaped quotation mark stays in the text.
    ('return(strcat("say \\"hi\\"", "http://x"))',
     ["return=keyword.control.flow", "(", "strcat=keyword.other.statement.strings", "(",
      '"=string.quoted.double/punctuation.definition.string.begin', "say =string.quoted.double",
      '\\"=string.quoted.double/constant.character.escape', "hi=string.quoted.double",
      '\\"=string.quoted.double/constant.character.escape',
      '"=string.quoted.double/punctuation.definition.string.end', ",",
      '"=string.quoted.double/punctuation.definition.string.begin', "http:=string.quoted.double",
      "//=comment.line.double-slash/punctuation.definition.comment", 'x"))=comment.line.double-slash']),
    # Symbols, a code call, blocks, an unknown statement, a date type list.
    ('  if(!(x), {callfunction(script$hello$greet, "a")}, mystatement<date,days>(d))',
     ["if=keyword.control.flow", "(", "!=keyword.operator.symbol", "(", "x=variable.other", ")", ",", "{",
      "callfunction=keyword.control.flow", "(", "script$hello$greet=string.unquoted.code-call", ",",
      *quoted("a"), ")", "}", ",", "mystatement=entity.name.function.call",
      *types("", "date", "days=storage.type.other"), "(", "d=variable.other", ")", ")"]),
    # A keyword is one only where it is called: a bare word "red" reads a variable, and a
    # quotation mark inside a word opens no text.
    ('  Return(add<int>(red, Red())); f(ab"c)',
     ["Return=keyword.control.flow", "(", "add=keyword.operator.word", *types("", "int"), "(",
      "red=variable.other", ",", "Red=keyword.other.statement.math", "(", ")", ")", ")", ";",
      "f=entity.name.function.call", "(", "ab=variable.other", '"=', "c=variable.other", ")"]),
    # A test comment is a comment like any other.
    ('// test greet("x") -> Hello, x!',
     ["//=comment.line.double-slash/punctuation.definition.comment",
      ' test greet("x") -> Hello, x!=comment.line.double-slash']),
]


def check_picked(grammar, checker):
    for line, expected in PICKED:
        checker.counts["picked lines"] += 1
        expected = [t if "=" in t[1:] else t + "=" + PUNCTUATION[t] for t in expected]
        got = token_list(grammar, [line])
        for i, (g, e) in enumerate(zip(got + [None] * len(expected), expected + [None] * len(got))):
            if g != e:
                checker.fail("picked line %r" % line, "token %d: expected %s, got %s" % (i + 1, e, g))
                break


def main():
    raw = json.loads(GRAMMAR.read_text(encoding="utf-8"))
    if raw.get("scopeName") != "source.ztscript":
        print("FAIL: the grammar's scopeName is not source.ztscript")
        return 1
    grammar = Grammar(raw)
    keywords = engine_keywords()
    checker = Checker()
    check_keyword_lists(raw, keywords, checker)
    files = sorted((ROOT / "examples").glob("*.ztscr")) + sorted((ROOT / "tests" / "scripts").rglob("*.ztscr"))
    if not files:
        checker.fail("files", "no script files found")
    for path in files:
        check_file(grammar, path, keywords, checker)
    # The examples of the language reference.
    document = ROOT / "docs" / "language.md"
    examples = [b for b in read_blocks(document) if b.kind == "ztscr"]
    for b in examples:
        check_lines(grammar, b.text.rstrip("\n").split("\n"), "docs/language.md", b.line, keywords, checker)
    check_picked(grammar, checker)
    for f in checker.failures:
        print("FAIL " + f)
    print("checked: " + ", ".join("%d %s" % (v, k) for k, v in checker.counts.items())
          + "; %d grammar keywords" % len(keywords))
    # One check per file, per picked line and for the keyword list.
    units = (["grammar", "docs/language.md"] + [str(p.relative_to(ROOT)) for p in files]
             + ["picked line %r" % l for l, _ in PICKED])
    failed = {u for u in units if any(f.startswith(u + ":") for f in checker.failures)}
    print("%d passed, %d failed" % (len(units) - len(failed), len(failed)))
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
