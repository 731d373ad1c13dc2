#!/usr/bin/env python3
"""Runs the examples of docs/language.md as script tests.

Every fenced block whose info string starts with "ztscr" is written to a file of its own in a
temporary folder and run with "ztscript test"; a block must hold at least one test comment.
"```ztscr file=NAME" names the file NAME.ztscr (so that other examples can call it with
callfunction(script$NAME$...)); other blocks are named doc_L<line>.ztscr after the line of the
document where they start. Blocks "```json file=NAME.json" are written beside them: the host
objects that test comments pass as @NAME.json.

The document must also show every keyword of the engine in at least one example.

Usage: run_doc_examples.py [--runner PROGRAM] ZTSCRIPT_TOOL [DOCUMENT]
--runner runs the tool through PROGRAM (wine for a Windows build)."""

import pathlib
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree free of caches
from engine_keywords import ROOT, engine_keywords

TEST_COMMENT = re.compile(r"^\s*//\s*test\s+[^\s(]+\(")
CALL = re.compile(r'(?<![A-Za-z0-9_])(&?[A-Za-z_][A-Za-z0-9_]*|==|!=|<=|>=|&&|\|\||[-+*/<>!])[ \t]*(?:<[^<>()"]*>)?[ \t]*\(')


class Block:
    def __init__(self, kind, line, name, text):
        self.kind = kind
        self.line = line  # line of the opening fence
        self.name = name
        self.text = text


def read_blocks(document):
    blocks = []
    lines = document.read_text(encoding="utf-8").split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^```(\S*)\s*(.*)$", lines[i])
        if not m or not m.group(1):
            i += 1
            continue
        kind, info = m.group(1), m.group(2)
        start = i + 1
        j = start
        while j < len(lines) and not lines[j].startswith("```"):
            j += 1
        if j == len(lines):
            raise SystemExit("%s:%d: the block is not closed" % (document.name, start))
        named = re.search(r"\bfile=(\S+)", info)
        if kind in ("ztscr", "json"):
            blocks.append(Block(kind, start, named.group(1) if named else None, "\n".join(lines[start:j]) + "\n"))
        i = j + 1
    return blocks


def main():
    args = sys.argv[1:]
    runner = []
    if args[:1] == ["--runner"] and len(args) > 1:
        runner, args = [args[1]], args[2:]
    if not args:
        print(__doc__)
        return 2
    tool = pathlib.Path(args[0]).resolve()
    document = pathlib.Path(args[1]) if len(args) > 1 else ROOT / "docs" / "language.md"
    blocks = read_blocks(document)
    problems = []
    scripts = [b for b in blocks if b.kind == "ztscr"]
    if not scripts:
        problems.append("%s: no ```ztscr example found" % document.name)

    shown = set()
    keywords = engine_keywords()
    files = {}  # file name -> line in the document where its block starts
    with tempfile.TemporaryDirectory(prefix="ztscript-doc-") as folder:
        for b in blocks:
            if b.kind == "json":
                if not b.name:
                    continue  # a JSON block that is only shown
                files[b.name] = b.line
                (pathlib.Path(folder) / b.name).write_text(b.text, encoding="utf-8")
                continue
            name = (b.name or "doc_L%d" % b.line) + ".ztscr"
            if name in files:
                problems.append("%s:%d: a second block named %s" % (document.name, b.line, name))
                continue
            files[name] = b.line
            if not any(TEST_COMMENT.match(line) for line in b.text.split("\n")):
                problems.append("%s:%d: the example has no test comment" % (document.name, b.line))
            for line in b.text.split("\n"):
                code = line.split("//", 1)[0]
                shown |= {m.group(1).lower() for m in CALL.finditer(code)}
            # Script files are Windows-1252 text.
            (pathlib.Path(folder) / name).write_bytes(b.text.encode("cp1252"))

        for k in sorted(keywords - shown):
            problems.append("%s: no example uses the keyword %s" % (document.name, k))

        names = [n for n in files if n.endswith(".ztscr")]
        result = subprocess.run(runner + [str(tool), "test"] + names, cwd=folder, capture_output=True, text=True,
                                encoding="utf-8", errors="replace")

    # Point the runner's FILE:LINE at the document's lines.
    def to_document(m):
        start = files.get(m.group(1))
        if start is None:
            return m.group(0)
        return "%s:%d" % (document.name, start + int(m.group(2)))

    output = re.sub(r"([\w.-]+\.ztscr):(\d+)", to_document, result.stdout)
    sys.stdout.write(output)
    sys.stderr.write(result.stderr)
    for p in problems:
        print("FAIL " + p)
    summary = re.search(r"^(\d+) passed, (\d+) failed", result.stdout, re.M)
    print("doc examples: %d blocks, %d keywords shown of %d" % (len(scripts), len(shown & keywords), len(keywords)))
    if problems or result.returncode != 0 or not summary or summary.group(2) != "0":
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
