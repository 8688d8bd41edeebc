#!/usr/bin/env python3
"""Checks the tree's #include "..." lines against the Layout table of docs/development.md.

Each row of the table names a folder and the folders its files may include
(besides its own). A file is ruled by the row of its nearest listed folder; a
source file in a folder no row covers is an error too, so a new folder is
placed on the map before it is used. Exit status 0 when every include keeps
the rules, 1 (with one line per fault) when one does not, 2 when the table
cannot be read.

    tools/check_includes.py [--root DIR] [--table FILE]
"""
import argparse
import os
import re
import sys

SOURCE_SUFFIXES = (".cpp", ".cc", ".h", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
# A table row: | `folder/` | library | purpose | may include |
ROW = re.compile(r"^\|\s*`([^`]+)/`\s*\|[^|]*\|[^|]*\|([^|]*)\|\s*$")
ANY = "anything"


def read_rules(table):
    """Returns {folder: set of allowed folders, or None for anything} from the Layout section."""
    rules = {}
    in_layout = False
    with open(table, encoding="utf-8") as f:
        for line in f:
            if line.startswith("## "):
                in_layout = line.strip() == "## Layout"
                continue
            m = ROW.match(line) if in_layout else None
            if not m:
                continue
            folder, allowed = m.group(1), m.group(2).strip()
            if allowed == ANY:
                rules[folder] = None
            else:
                rules[folder] = {folder} | set(re.findall(r"`([^`]+)/`", allowed))
    return rules


def rule_for(folder, rules):
    """Returns the listed folder ruling files in folder (the nearest one above it), or None."""
    while folder:
        if folder in rules:
            return folder
        folder = os.path.dirname(folder)
    return None


def source_files(root):
    """Yields the relative paths of the source files below root, leaving out build trees."""
    for here, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith(".") and
                         not os.path.exists(os.path.join(here, d, "CMakeCache.txt")))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(here, name), root)


def check(root, rules, table):
    """Returns one line per include that breaks the rules of the table file."""
    faults = []
    for path in source_files(root):
        folder = os.path.dirname(path)
        ruler = rule_for(folder, rules)
        if ruler is None:
            faults.append(f"{path}: its folder is not in the Layout table of {table}")
            continue
        allowed = rules[ruler]
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m or allowed is None:
                    continue
                target = os.path.dirname(m.group(1))
                if not target:
                    faults.append(f"{path}:{number}: \"{m.group(1)}\" is not named by its path "
                                  "from the top folder")
                elif target not in allowed:
                    faults.append(f"{path}:{number}: {ruler}/ may not include {target}/ "
                                  f"(\"{m.group(1)}\")")
    return faults


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.dirname(here), help="the tree to check")
    parser.add_argument("--table", help="the file holding the Layout table "
                        "(ROOT/docs/development.md)")
    args = parser.parse_args()
    table = args.table or os.path.join(args.root, "docs", "development.md")
    try:
        rules = read_rules(table)
    except OSError as e:
        print(f"{table}: cannot read it: {e.strerror}", file=sys.stderr)
        return 2
    if not rules:
        print(f"{table}: no Layout table found", file=sys.stderr)
        return 2
    faults = check(args.root, rules, table)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"{len(faults)} include(s) break the Layout rules of {table}", file=sys.stderr)
        return 1
    print(f"includes keep the Layout rules ({len(rules)} folders)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
