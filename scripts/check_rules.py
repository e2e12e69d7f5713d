#!/usr/bin/env python3
"""The layering rules of the source tree, checked on the files themselves.

  python3 scripts/check_rules.py [ROOT]
      checks every source file under ROOT (default: the repository) for an include of a folder its
      own folder may not use, a Qt header where Qt is not allowed, and a non-test source over 600
      lines; prints one line per violation (file:line: rule) and exits 1 when there is any.
Function sizes are clang-tidy's to count (readability-function-size in .clang-tidy, run by
scripts/check-tidy.sh), so a data table at namespace scope is no function.

Standard library only, so the check runs wherever the tests run.
"""

import os
import re
import sys

ANY = None  # bench/ and fuzz/ may include anything.

# What each part of the tree may include; a part may always include itself. A part ending in "/" is
# a folder, any other a file name prefix; a file falls under the longest part it begins with. The
# Qt-free parts are what kdbtool, the generators and the store and ledger tests build on without a
# display. A file with no part is reported, so a new folder gets its rule when it gets its code.
RULES = [
    # (part, parts it may include besides itself, may include Qt)
    ("ui/template/", ["runtime/", "platform/"], False),
    ("ui/skin_format.", ["runtime/", "platform/"], False),
    ("ui/skin_host.h", ["runtime/", "platform/"], False),
    ("ledger/", ["store/", "runtime/", "platform/"], False),
    ("platform/", [], False),
    ("runtime/", ["platform/"], False),
    ("store/", ["runtime/", "platform/"], False),
    ("loader/", ["runtime/", "platform/"], False),
    ("ui/", ["runtime/", "platform/"], True),
    # Charts from plain figures; chart_svg.h and chart_figures.h keep Qt out, so kdbtool can draw.
    ("charts/", ["platform/"], True),
    # The second window: Qt Widgets and Charts directly, the ledger for every bill; of ui/ only where
    # program text meets Qt text, the file watch and the call queue, never the template runtime.
    ("books/", ["ui/text_codec.h", "ui/file_follower.h", "ui/call_queue.h", "charts/", "ledger/", "store/", "runtime/",
                "platform/"], True),
    ("app/", ["ui/", "charts/", "ledger/", "store/", "loader/", "runtime/", "platform/"], True),
    # What make_carried_data needs from ui/: the skin format and the skin host's exports, both Qt-free.
    ("generators/",
     ["loader/", "ui/template/", "ui/skin_format.h", "ui/skin_host.h", "runtime/", "platform/"], False),
    ("tools/", ["ledger/", "charts/chart_svg.h", "charts/chart_figures.h", "store/", "runtime/", "platform/"], False),
    ("testing/", ["runtime/", "platform/"], False),
    ("bench/", ANY, True),
    ("fuzz/", ANY, True),
]

TOP_FOLDERS = {part.split("/")[0] for part, _, _ in RULES}
SOURCE_SUFFIXES = (".cpp", ".h", ".cc", ".hpp", ".c")
MAX_FILE_LINES = 600
# Test support headers (and everything in a testing/ folder) serve tests only.
TEST_SUPPORT = re.compile(r"(test_support|test_writer|samples)[^/]*\.h$")
QUOTED_INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
QT_INCLUDE = re.compile(r"^\s*#\s*include\s*<(Q[A-Za-z][^>]*)>")


def rule_for(path):
    """The most specific rule covering a path relative to the root, or None."""
    best = None
    for rule in RULES:
        if path.startswith(rule[0]) and (best is None or len(rule[0]) > len(best[0])):
            best = rule
    return best


def is_test_file(path):
    return path.endswith("_test.cpp")


def is_test_header(path):
    """Test support: shared by tests, never by the program."""
    return bool(TEST_SUPPORT.search(path)) or path.startswith("testing/") or "/testing/" in path


def may_include(path, target):
    """Whether the file at path may include target (both relative to the root)."""
    part, allowed, _ = rule_for(path)
    if allowed is ANY:
        return True
    testish = is_test_file(path) or is_test_header(path)
    if is_test_header(target) and not testish:
        return False
    if target.startswith(part) or any(target.startswith(a) for a in allowed):
        return True
    # Tests may use the shared test library, and the test support of the parts their part may use.
    return testish and target.startswith("testing/")


def source_files(root):
    for folder, dirs, files in os.walk(root):
        rel_folder = os.path.relpath(folder, root)
        # Build folders, hidden folders and fuzz corpora hold no sources of ours.
        dirs[:] = sorted(d for d in dirs
                         if not d.startswith(".")
                         and not (rel_folder == "." and d.startswith("build"))
                         and not (rel_folder == "fuzz" and (d.startswith("corpus") or d.startswith("crash"))))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.normpath(os.path.join(rel_folder, name)).replace(os.sep, "/")


def check_file(root, path):
    problems = []
    rule = rule_for(path)
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if rule is None:
        top = path.split("/")[0] + "/" if "/" in path else path
        return [f"{path}:1: {top} has no include rule in scripts/check_rules.py"]
    part, _, qt_allowed = rule
    name = part + "*" if part.endswith(".") else part  # ui/skin_format.*
    for number, line in enumerate(lines, 1):
        match = QUOTED_INCLUDE.match(line)
        if match:
            target = match.group(1)
            if target.split("/")[0] not in TOP_FOLDERS:  # relative to the including file
                target = os.path.normpath(os.path.join(os.path.dirname(path), target)).replace(os.sep, "/")
            if not may_include(path, target):
                what = "test support" if is_test_header(target) else target.split("/")[0] + "/"
                problems.append(f"{path}:{number}: {name} may not include {what} (\"{match.group(1)}\")")
        match = QT_INCLUDE.match(line)
        if match and not qt_allowed:
            problems.append(f"{path}:{number}: {name} is Qt-free, includes <{match.group(1)}>")
    if not is_test_file(path) and len(lines) > MAX_FILE_LINES:
        problems.append(f"{path}:{MAX_FILE_LINES + 1}: {len(lines)} lines, a non-test source has at most "
                        f"{MAX_FILE_LINES}")
    return problems


def check_tree(root):
    problems = []
    for path in source_files(root):
        problems.extend(check_file(root, path))
    return problems


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    problems = check_tree(root)
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
