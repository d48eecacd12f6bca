#!/usr/bin/env python3
"""Counts the public surface of the engine's central types from clang's AST.

Reads the JSON AST that `clang++ -Xclang -ast-dump=json -Xclang -ast-dump-filter=kestrovan::`
prints for a source that includes the types' headers (on standard input, or the file given), and
checks it against the limits below. For `Terminal` it counts the public member functions (the
constructors, the destructor and member templates included) and looks for handler and print-road
names among them; for every checked type it counts the public data members against its limit.
Prints the counts, one line per finding, and exits with 1 when a limit is broken.

    tools/surface/count.py [--list] [AST.json]

`--list` also prints the public member functions of `Terminal`, one name a line.
"""
import collections
import json
import re
import sys

# The most public member functions `Terminal` may have. Lower it when the surface shrinks.
MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS = 115

# The most public data members each checked type may have: none, every one keeps its state behind
# methods.
MAXIMUM_PUBLIC_FIELDS = {"Terminal": 0, "Buffer": 0, "SelectionService": 0, "BufferLine": 0}
TYPES_CHECKED = tuple(MAXIMUM_PUBLIC_FIELDS)

# Names that belong to the terminal's inside: the control-function handlers and routers (cmd*,
# csi*, osc*), the parser's callbacks and the print roads. None of them may be public.
INSIDE_NAME = re.compile(r"^(cmd|csi|osc)[A-Za-z0-9_]|^dispatch|[Pp]rint")

FUNCTION_KINDS = {"CXXMethodDecl", "FunctionTemplateDecl", "CXXConstructorDecl", "CXXDestructorDecl",
                  "CXXConversionDecl"}


def read_declarations(text):
    """The top-level declarations of the dump: one JSON object after another."""
    decoder = json.JSONDecoder()
    index = 0
    while True:
        while index < len(text) and text[index].isspace():
            index += 1
        if index >= len(text):
            return
        declaration, index = decoder.raw_decode(text, index)
        yield declaration


def members_by_access(record):
    """(access, declaration) for each explicit member of a class or struct."""
    access = "private" if record.get("tagUsed") == "class" else "public"
    for member in record.get("inner", []):
        if member.get("kind") == "AccessSpecDecl":
            access = member["access"]
            continue
        if member.get("isImplicit"):
            continue
        yield access, member


def main(arguments):
    listing = "--list" in arguments
    paths = [argument for argument in arguments if not argument.startswith("--")]
    text = open(paths[0]).read() if paths else sys.stdin.read()

    records = {}
    for declaration in read_declarations(text):
        if declaration.get("kind") == "CXXRecordDecl" and declaration.get("completeDefinition"):
            if declaration.get("name") in TYPES_CHECKED:
                records[declaration["name"]] = declaration

    failures = []
    for name in TYPES_CHECKED:
        if name not in records:
            failures.append(f"{name}: no definition found in the AST")

    terminal = records.get("Terminal")
    if terminal:
        public_functions = [member.get("name", "") for access, member in members_by_access(terminal)
                            if access == "public" and member.get("kind") in FUNCTION_KINDS]
        print(f"Terminal: {len(public_functions)} public member functions "
              f"({len(set(public_functions))} names), at most {MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS}")
        if len(public_functions) > MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS:
            failures.append(f"Terminal: {len(public_functions)} public member functions, more than "
                            f"{MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS}")
        for function in sorted(set(public_functions)):
            if INSIDE_NAME.search(function):
                failures.append(f"Terminal: the handler or print road {function} is public")
        if listing:
            for function, count in sorted(collections.Counter(public_functions).items()):
                print(f"  {function}" + (f" ({count} overloads)" if count > 1 else ""))

    for name, record in records.items():
        fields = [member.get("name", "") for access, member in members_by_access(record)
                  if access == "public" and member.get("kind") == "FieldDecl"]
        limit = MAXIMUM_PUBLIC_FIELDS[name]
        print(f"{name}: {len(fields)} public data members, at most {limit}")
        if len(fields) > limit:
            failures.append(f"{name}: {len(fields)} public data members, more than {limit}: "
                            + ", ".join(fields))

    for failure in failures:
        print(f"surface: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
