#!/usr/bin/env python3
"""Checks that every relative link in README.md and docs/*.md leads somewhere.

A relative link or image ([text](path), ![alt](path), [name]: path) must name a
file or folder inside the tree; a link with a #fragment into a Markdown file
(or a bare #fragment) must also name one of that file's headings, spelled as
the heading's anchor (lower case, punctuation dropped, spaces as hyphens).
Links with a scheme (https:, mailto:) are not followed, and code (indented or
fenced blocks, `spans`) is skipped. Exit status 0 when every link resolves, 1
(with one line per broken link) when one does not, 2 when no guide is found.

    tools/check_links.py [--root DIR]
"""
import argparse
import glob
import os
import re
import sys

# [text](target) and ![alt](target); the target ends at a space (a title may follow) or ")".
INLINE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
# [name]: target, a reference definition on a line of its own.
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")


def guides(root):
    """Returns the Markdown files to check: README.md and docs/*.md, those that exist."""
    files = [os.path.join(root, "README.md")]
    files += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    return [f for f in files if os.path.isfile(f)]


def prose_lines(text):
    """Yields (line number, line) for the lines outside code, with code spans blanked."""
    in_fence = False
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            in_fence = not in_fence
            continue
        if in_fence:
            continue
        blank = not line.strip()
        # An indented block starts after a blank line and runs until a line that is not indented.
        indented = line.startswith("    ") or line.startswith("\t")
        if indented and (previous_blank or in_indented):
            in_indented = True
            previous_blank = blank
            continue
        if not blank:
            in_indented = False
        previous_blank = blank
        yield number, CODE_SPAN.sub("", line)


def anchor(heading):
    """Returns the anchor a heading gets: lower case, punctuation dropped, spaces as hyphens."""
    text = re.sub(r"[`*_]", "", heading.strip().lower())
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path, cache):
    """Returns the set of heading anchors of a Markdown file."""
    if path not in cache:
        found = set()
        with open(path, encoding="utf-8") as f:
            for _, line in prose_lines(f.read()):
                m = re.match(r"^\s{0,3}#{1,6}\s+(.*?)\s*#*\s*$", line)
                if m:
                    found.add(anchor(m.group(1)))
        cache[path] = found
    return cache[path]


def check_file(path, root, cache):
    """Returns one line per broken relative link of one Markdown file."""
    faults = []
    shown = os.path.relpath(path, root)
    real_root = os.path.realpath(root)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for number, line in prose_lines(text):
        targets = [m.group(1) for m in INLINE.finditer(line)]
        ref = REFERENCE.match(line)
        if ref:
            targets.append(ref.group(1))
        for target in targets:
            if SCHEME.match(target) or target.startswith("//"):
                continue
            file_part, _, fragment = target.partition("#")
            goal = path if not file_part else os.path.normpath(
                os.path.join(os.path.dirname(path), file_part))
            where = f"{shown}:{number}: {target}"
            if not os.path.realpath(goal).startswith(real_root + os.sep):
                faults.append(f"{where}: leads out of the tree")
            elif not os.path.exists(goal):
                faults.append(f"{where}: no such file")
            elif fragment and goal.endswith(".md") and fragment not in anchors(goal, cache):
                faults.append(f"{where}: no heading #{fragment} in {os.path.relpath(goal, root)}")
    return faults


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.dirname(here), help="the tree to check")
    args = parser.parse_args()
    files = guides(args.root)
    if not files:
        print(f"{args.root}: no README.md or docs/*.md", file=sys.stderr)
        return 2
    cache = {}
    faults = []
    for path in files:
        faults += check_file(path, args.root, cache)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"{len(faults)} broken link(s) in the guides", file=sys.stderr)
        return 1
    print(f"every relative link resolves ({len(files)} files)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
