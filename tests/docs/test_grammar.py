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
# Tokenizer

class Rule:
    def __init__(self, raw, grammar):
        self.raw = raw
        self.grammar = grammar
        self.name = raw.get("name")
        self.content_name = raw.get("contentName")
        self.match = re.compile(raw["match"]) if "match" in raw else None
        self.begin = re.compile(raw["begin"]) if "begin" in raw else None
        self.end = re.compile(raw["end"]) if "end" in raw else None
        if (self.begin is None) != (self.end is None):
            raise ValueError("begin without end: %r" % raw)
        self.captures = raw.get("captures", {})
        self.begin_captures = raw.get("beginCaptures", self.captures)
        self.end_captures = raw.get("endCaptures", self.captures)
        self._patterns = None

    def patterns(self):
        """The match and begin/end rules this rule holds, includes resolved."""
        if self._patterns is None:
            self._patterns = []
            for p in self.raw.get("patterns", []):
                self._patterns.extend(self.grammar.resolve(p))
        return self._patterns


class Grammar:
    def __init__(self, raw):
        self.raw = raw
        self.repository = {}
        self.root = Rule({"patterns": raw["patterns"]}, self)

    def resolve(self, raw):
        if "include" in raw:
            ref = raw["include"]
            if ref == "$self":
                return self.root.patterns()
            if not ref.startswith("#") or ref[1:] not in self.raw["repository"]:
                raise ValueError("unknown include " + ref)
            key = ref[1:]
            if key not in self.repository:
                self.repository[key] = Rule(self.raw["repository"][key], self)
            rule = self.repository[key]
            if rule.match is None and rule.begin is None:
                return rule.patterns()
            return [rule]
        return [Rule(raw, self)]


class Tokenizer:
    """Tokenises line after line; begin/end regions may run on over several lines."""

    def __init__(self, grammar):
        self.grammar = grammar
        self.stack = []  # open regions: (rule, scopes of the region, compiled end)

    def scopes(self):
        s = ["source.ztscript"]
        for rule, _ in self.stack:
            if rule.name:
                s.append(rule.name)
            if rule.content_name:
                s.append(rule.content_name)
        return s

    @staticmethod
    def _emit(tokens, start, end, scopes):
        if end > start:
            tokens.append((start, end, tuple(scopes)))

    def _captured(self, tokens, m, captures, base):
        """Tokens of one match, with the scopes of its capture groups (nested by position)."""
        pos = m.start()
        marks = []
        for key, value in captures.items():
            g = int(key)
            if g <= (m.re.groups) and m.start(g) != -1 and m.end(g) > m.start(g):
                marks.append((m.start(g), m.end(g), value["name"]))
        if not marks:
            self._emit(tokens, m.start(), m.end(), base)
            return
        if any(s == m.start() and e == m.end() for s, e, _ in marks):
            whole = [n for s, e, n in marks if s == m.start() and e == m.end()]
            base = base + whole
            marks = [x for x in marks if not (x[0] == m.start() and x[1] == m.end())]
        marks.sort()
        for s, e, n in marks:
            if s < pos:
                raise ValueError("overlapping captures are not supported")
            self._emit(tokens, pos, s, base)
            self._emit(tokens, s, e, base + [n])
            pos = e
        self._emit(tokens, pos, m.end(), base)

    def line(self, text):
        """Tokens (start, end, scopes) covering text (given without its line break)."""
        text += "\n"
        tokens = []
        pos = 0
        guard = 0
        while pos < len(text):
            guard += 1
            if guard > 10 * len(text) + 100:
                raise RuntimeError("the tokenizer makes no progress at column %d" % pos)
            patterns = (self.stack[-1][0].patterns() if self.stack else self.grammar.root.patterns())
            best = None  # (start, order, kind, rule, match)
            if self.stack:
                m = self.stack[-1][0].end.search(text, pos)
                if m:
                    best = (m.start(), -1, "end", self.stack[-1][0], m)
            for order, rule in enumerate(patterns):
                m = (rule.match or rule.begin).search(text, pos)
                if m and (best is None or m.start() < best[0]):
                    best = (m.start(), order, "match" if rule.match else "begin", rule, m)
                    if m.start() == pos:
                        break
            if best is None:
                self._emit(tokens, pos, len(text), self.scopes())
                break
            start, _, kind, rule, m = best
            self._emit(tokens, pos, start, self.scopes())
            if kind == "end":
                region, _ = self.stack[-1]
                self._captured(tokens, m, region.end_captures, self.scopes())
                self.stack.pop()
            elif kind == "match":
                base = self.scopes() + ([rule.name] if rule.name else [])
                self._captured(tokens, m, rule.captures, base)
            else:
                base = self.scopes() + ([rule.name] if rule.name else [])
                self._captured(tokens, m, rule.begin_captures, base)
                self.stack.append((rule, None))
            if m.end() == pos and kind != "begin":
                # An empty match: step over one character so that the scan goes on.
                self._emit(tokens, pos, pos + 1, self.scopes())
                pos += 1
            else:
                pos = m.end()
        # Drop the line break again.
        out = []
        for s, e, sc in tokens:
            e = min(e, len(text) - 1)
            if e > s:
                out.append((s, e, sc))
        return out


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
    strings = []
    params = None
    i = 0
    d = DEFINITION.match(code)
    if d:
        i = d.end()
        in_quote = escaped = False
        q_start = None
        while i < len(code):
            c = code[i]
            if c == ")" and not in_quote:
                break
            if c == "\\" and in_quote:
                escaped = True
            else:
                if c == '"' and not escaped:
                    if in_quote:
                        strings.append((q_start, i + 1))
                    else:
                        q_start = i
                    in_quote = not in_quote
                escaped = False
            i += 1
        if in_quote:
            strings.append((q_start, len(code)))
        params = (d.end(), i)
        i += 1
    can_open = True
    in_string = escape = False
    s_start = None
    while i < len(code):
        c = code[i]
        if in_string:
            if c == '"' and not escape:
                in_string = False
                strings.append((s_start, i + 1))
                can_open = False
            escape = c == "\\"  # any other character, a quotation mark included, ends an escape
        else:
            if c == '"':
                if can_open:
                    in_string = True
                    s_start = i
                can_open = False
            elif c in ",(":
                can_open = True
            elif c in " \t":
                pass
            elif c in "{};":
                can_open = True  # a new statement starts
            else:
                can_open = False
        i += 1
    if in_string:
        strings.append((s_start, len(code)))
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
    """(text, innermost interesting scopes) for the last of lines, blanks left out."""
    tokens = tokenise_file(grammar, lines)[-1]
    line = lines[-1]
    out = []
    for s, e, sc in tokens:
        text = line[s:e]
        if text.strip() == "":
            continue
        out.append((text, [x for x in sc if x != "source.ztscript"]))
    return out


PICKED = [
    # (lines, expected tokens of the last line: (text, scopes without source.ztscript))
    (['scrdef greet(in<string> name = "World")'], [
        ("scrdef", ["meta.function.definition.ztscript", "storage.type.function.ztscript"]),
        ("greet", ["meta.function.definition.ztscript", "entity.name.function.ztscript"]),
        ("(", ["meta.function.definition.ztscript", "punctuation.definition.parameters.begin.ztscript"]),
        ("in", ["meta.function.definition.ztscript", "storage.modifier.direction.ztscript"]),
        ("<", ["meta.function.definition.ztscript", "meta.type-list.ztscript",
               "punctuation.definition.type-list.begin.ztscript"]),
        ("string", ["meta.function.definition.ztscript", "meta.type-list.ztscript", "storage.type.ztscript"]),
        (">", ["meta.function.definition.ztscript", "meta.type-list.ztscript",
               "punctuation.definition.type-list.end.ztscript"]),
        ("name", ["meta.function.definition.ztscript", "variable.parameter.ztscript"]),
        ("=", ["meta.function.definition.ztscript", "keyword.operator.assignment.ztscript"]),
        ('"', ["meta.function.definition.ztscript", "string.quoted.double.ztscript",
               "punctuation.definition.string.begin.ztscript"]),
        ("World", ["meta.function.definition.ztscript", "string.quoted.double.ztscript"]),
        ('"', ["meta.function.definition.ztscript", "string.quoted.double.ztscript",
               "punctuation.definition.string.end.ztscript"]),
        (")", ["meta.function.definition.ztscript", "punctuation.definition.parameters.end.ztscript"]),
    ]),
    (['  setvar(Sum, add<INT>(sum, "1"));'], [
        ("setvar", ["keyword.other.statement.variables.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("Sum", ["variable.other.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ("add", ["keyword.operator.word.ztscript"]),
        ("<", ["meta.type-list.ztscript", "punctuation.definition.type-list.begin.ztscript"]),
        ("INT", ["meta.type-list.ztscript", "storage.type.ztscript"]),
        (">", ["meta.type-list.ztscript", "punctuation.definition.type-list.end.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("sum", ["variable.other.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.begin.ztscript"]),
        ("1", ["string.quoted.double.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.end.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (";", ["punctuation.terminator.statement.ztscript"]),
    ]),
    # "//" cuts the line also inside a text; an escaped quotation mark stays in the text.
    (['return(strcat("say \\"hi\\"", "http://x"))'], [
        ("return", ["keyword.control.flow.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("strcat", ["keyword.other.statement.strings.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.begin.ztscript"]),
        ("say ", ["string.quoted.double.ztscript"]),
        ('\\"', ["string.quoted.double.ztscript", "constant.character.escape.ztscript"]),
        ("hi", ["string.quoted.double.ztscript"]),
        ('\\"', ["string.quoted.double.ztscript", "constant.character.escape.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.end.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.begin.ztscript"]),
        ("http:", ["string.quoted.double.ztscript"]),
        ("//", ["comment.line.double-slash.ztscript", "punctuation.definition.comment.ztscript"]),
        ('x"))', ["comment.line.double-slash.ztscript"]),
    ]),
    # Symbols, a code call, blocks, an unknown statement, a date type list.
    (['  if(!(x), {callfunction(script$hello$greet, "a")}, mystatement<date,days>(d))'], [
        ("if", ["keyword.control.flow.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("!", ["keyword.operator.symbol.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("x", ["variable.other.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ("{", ["punctuation.section.block.begin.ztscript"]),
        ("callfunction", ["keyword.control.flow.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("script$hello$greet", ["string.unquoted.code-call.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.begin.ztscript"]),
        ("a", ["string.quoted.double.ztscript"]),
        ('"', ["string.quoted.double.ztscript", "punctuation.definition.string.end.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        ("}", ["punctuation.section.block.end.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ("mystatement", ["entity.name.function.call.ztscript"]),
        ("<", ["meta.type-list.ztscript", "punctuation.definition.type-list.begin.ztscript"]),
        ("date", ["meta.type-list.ztscript", "storage.type.ztscript"]),
        (",", ["meta.type-list.ztscript", "punctuation.separator.type-list.ztscript"]),
        ("days", ["meta.type-list.ztscript", "storage.type.other.ztscript"]),
        (">", ["meta.type-list.ztscript", "punctuation.definition.type-list.end.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("d", ["variable.other.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
    ]),
    # A keyword is one only where it is called: a bare word "red" reads a variable, and a
    # quotation mark inside a word opens no text.
    (['  Return(add<int>(red, Red())); f(ab"c)'], [
        ("Return", ["keyword.control.flow.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("add", ["keyword.operator.word.ztscript"]),
        ("<", ["meta.type-list.ztscript", "punctuation.definition.type-list.begin.ztscript"]),
        ("int", ["meta.type-list.ztscript", "storage.type.ztscript"]),
        (">", ["meta.type-list.ztscript", "punctuation.definition.type-list.end.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ("red", ["variable.other.ztscript"]),
        (",", ["punctuation.separator.arguments.ztscript"]),
        ("Red", ["keyword.other.statement.math.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
        (";", ["punctuation.terminator.statement.ztscript"]),
        ("f", ["entity.name.function.call.ztscript"]),
        ("(", ["punctuation.definition.arguments.begin.ztscript"]),
        ('ab', ["variable.other.ztscript"]),
        ('"', []),
        ('c', ["variable.other.ztscript"]),
        (")", ["punctuation.definition.arguments.end.ztscript"]),
    ]),
    # A test comment is a comment like any other.
    (['// test greet("x") -> Hello, x!'], [
        ("//", ["comment.line.double-slash.ztscript", "punctuation.definition.comment.ztscript"]),
        (' test greet("x") -> Hello, x!', ["comment.line.double-slash.ztscript"]),
    ]),
]


def check_picked(grammar, checker):
    for lines, expected in PICKED:
        checker.counts["picked lines"] += 1
        got = token_list(grammar, lines)
        if got != expected:
            detail = []
            for i in range(max(len(got), len(expected))):
                g = got[i] if i < len(got) else None
                e = expected[i] if i < len(expected) else None
                if g != e:
                    detail.append("token %d: expected %s, got %s" % (i + 1, e, g))
                    break
            checker.fail("picked line %r" % lines[-1], "; ".join(detail))


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
             + ["picked line %r" % l[-1] for l, _ in PICKED])
    failed = {u for u in units if any(f.startswith(u + ":") for f in checker.failures)}
    print("%d passed, %d failed" % (len(units) - len(failed), len(failed)))
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
