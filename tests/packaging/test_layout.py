#!/usr/bin/env python3
"""The layout's two rules, read from the source tree.

1. The libraries' arrows run one way: each library links only libraries of a lower layer, so no
   library links one of its own layer, and none links a program's own library.
2. Only store/ holds SQL: no statement in the other folders of the programs.
   (kaviosim prints INSERT statements for its user to feed to sqlite3: text it writes out, not
   a statement it runs.)

Usage: test_layout.py SOURCE_DIR
"""
import pathlib
import re
import sys

# The layers, lowest first; a library links only libraries of the layers below its own.
LAYERS = [
    {"common_core", "unitsim"},
    {"store", "editors_core", "common"},
    {"command_core", "lcd", "editors"},
    {"command", "scheduler_core"},
    {"serving", "scheduler"},
    # The programs' own libraries: nothing links them but their program and the tests.
    {"kavioapp", "kaviod_core", "kavioctl_core"},
]
LAYER_OF = {name: number for number, names in enumerate(LAYERS) for name in names}
PROGRAM_FOLDERS = ["app", "command", "common", "editors", "lcd", "scheduler", "service",
                   "serving", "tools"]
SQL = re.compile(r'"\s*(SELECT|INSERT|UPDATE|DELETE|CREATE|PRAGMA|BEGIN)\s+\S'
                 r'|"\s*(COMMIT|ROLLBACK)\s*"'
                 r'|\b(SELECT .* FROM|INSERT INTO|DELETE FROM|UPDATE "\w+" SET)\b')
SQL_ALLOWED = {"tools/unitsim/SqlExport.cpp", "tools/unitsim/SqlExport.h"}


def links(source: pathlib.Path) -> dict:
    """Library -> the libraries of this project it links, from every CMakeLists.txt."""
    found = {}
    for cmake in source.rglob("CMakeLists.txt"):
        relative = cmake.relative_to(source).parts
        if relative[0] in ("tests", "bench", "build") or relative[0].startswith("build"):
            continue
        text = re.sub(r"#.*", "", cmake.read_text())
        for target, body in re.findall(r"target_link_libraries\(\s*(\S+)([^)]*)\)", text):
            words = [w for w in body.split() if w in LAYER_OF]
            found.setdefault(target, set()).update(words)
    return found


def main() -> int:
    source = pathlib.Path(sys.argv[1])
    faults = []
    graph = links(source)
    for library in LAYER_OF:
        if library not in graph and library != "common_core":
            faults.append(f"{library}: no target_link_libraries found (renamed?)")
    for target, linked in sorted(graph.items()):
        if target not in LAYER_OF:
            continue  # a program: it may link its own library
        for other in sorted(linked):
            if LAYER_OF[other] >= LAYER_OF[target]:
                faults.append(f"{target} links {other}, which is not below it")
    for folder in PROGRAM_FOLDERS:
        for path in sorted((source / folder).rglob("*")):
            relative = path.relative_to(source).as_posix()
            if path.suffix not in (".cpp", ".h") or relative in SQL_ALLOWED:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                if SQL.search(line):
                    faults.append(f"{relative}:{number}: SQL outside store/: {line.strip()}")
    for fault in faults:
        print("FAIL:", fault)
    print(f"{len(graph)} link lists read, {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
