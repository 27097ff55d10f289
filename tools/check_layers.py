#!/usr/bin/env python3
"""The layering check: every #include of ours stays inside the file's own module or reaches a
module its CMake target links, and the portable modules include nothing but the standard
library. The module graph comes from the build (module_graph.txt, written by CMake).

    check_layers.py GRAPH SOURCE_ROOT [--plant FILE:INCLUDE]...

--plant pretends that FILE also includes INCLUDE ("app/program.h", or "<unistd.h>"), so that a
test can show the check failing on a violation. Exit status 0 when the tree keeps its layers.
"""
import argparse
import pathlib
import re
import sys

# Modules that must build anywhere, with nothing but the language's own library.
PORTABLE = {"transfer", "record", "link", "app", "display", "platform"}

# Folders whose files are not a module's: they may use anything.
UNCHECKED = ("tests/", "bench/", "build")

STANDARD_HEADERS = set("""
algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono cinttypes
climits clocale cmath compare complex concepts condition_variable csetjmp csignal cstdarg
cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution
expected filesystem format forward_list fstream functional future initializer_list iomanip ios
iosfwd iostream istream iterator limits list locale map memory memory_resource mutex new
numbers numeric optional ostream queue random ranges ratio regex scoped_allocator set
shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
string_view syncstream system_error thread tuple type_traits typeindex typeinfo
unordered_map unordered_set utility valarray variant vector version
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def read_graph(path):
    """The targets of the build, and the module folders it leaves out."""
    targets, absent = [], []
    for line in pathlib.Path(path).read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        name, folder, kind, uses, sources = line.split("|")
        if kind == "ABSENT":
            absent.append(folder)
            continue
        targets.append({
            "name": name,
            "folder": folder,
            "executable": kind == "EXECUTABLE",
            "uses": set(filter(None, uses.split(","))),
            "sources": set(filter(None, sources.split(","))),
        })
    return targets, absent


def module_of(path, folders):
    """The deepest module folder holding `path`, or None."""
    best = None
    for folder in folders:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def allowed_for(path, folder, targets):
    """The folders a file may include: its own, and what its target links. A header may use
    what the folder's libraries link. None for a source this build does not compile (one for
    another OS): the build that compiles it checks it."""
    owners = [t for t in targets if path in t["sources"]]
    if not owners and path.endswith(".cpp"):
        return None
    if not owners:
        here = [t for t in targets if t["folder"] == folder]
        owners = [t for t in here if not t["executable"]] or here
    allowed = {folder}
    for target in owners:
        allowed |= target["uses"]
    return allowed


def includes_of(file, plants):
    lines = file.read_text(errors="replace").splitlines()
    found = [(n, m.group(1), m.group(2)) for n, line in enumerate(lines, 1)
             if (m := INCLUDE.match(line))]
    return found + plants


def check(root, targets, absent, planted):
    folders = {t["folder"] for t in targets}
    problems = []
    files = sorted(p for p in root.rglob("*") if p.suffix in (".h", ".cpp") and p.is_file())
    for file in files:
        path = file.relative_to(root).as_posix()
        if path.startswith(UNCHECKED) or any(path.startswith(a + "/") for a in absent):
            continue
        folder = module_of(path, folders)
        if folder is None:
            problems.append(f"{path}: lies in no module")
            continue
        allowed = allowed_for(path, folder, targets)
        if allowed is None:
            continue
        plants = [(0, "<" if inc.startswith("<") else '"', inc.strip('<>"'))
                  for (f, inc) in planted if f == path]
        for line, kind, name in includes_of(file, plants):
            where = f"{path}:{line}" if line else f"{path} (planted)"
            if kind == "<":
                if folder in PORTABLE and name not in STANDARD_HEADERS:
                    problems.append(f"{where}: the portable module {folder} includes <{name}>")
                continue
            target = module_of(name, folders)
            if target is None and any(name.startswith(a + "/") for a in absent):
                continue
            if target is None:
                if not (root / folder / name).exists():
                    problems.append(f'{where}: includes "{name}", which lies in no module')
            elif target not in allowed:
                problems.append(f'{where}: {folder} includes "{name}" of {target}, '
                                f"which it does not link")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph")
    parser.add_argument("root")
    parser.add_argument("--plant", action="append", default=[], metavar="FILE:INCLUDE")
    args = parser.parse_args()
    planted = [tuple(p.split(":", 1)) for p in args.plant]
    targets, absent = read_graph(args.graph)
    problems = check(pathlib.Path(args.root), targets, absent, planted)
    for problem in problems:
        print(problem)
    modules = len({t["folder"] for t in targets})
    print(f"layering: {modules} modules, {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
