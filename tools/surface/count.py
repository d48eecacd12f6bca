#!/usr/bin/env python3
"""Counts the public surface of the engine's central types from clang's AST.

Reads the JSON AST that `clang++ -Xclang -ast-dump=json -Xclang -ast-dump-filter=kestrovan::`
prints for a source that includes the types' headers (on standard input, or the file given), and
checks it against the limits below. For `Terminal` it counts the public member functions (the
constructors, the destructor and member templates included) and those reachable through its public
bases, directly or through their public bases in turn (their constructors and destructors aside,
which make and end the base and give no way into the terminal), and looks for handler and
print-road names among them all: a callback of a public base is reachable through a base reference
whatever access the terminal's override has. For every checked type it counts the public data
members against its limit. Prints the counts, one line per finding, and exits with 1 when a limit is
broken.

    tools/surface/count.py [--list] [AST.json ...]
    tools/surface/count.py --outside-bases [AST.json ...]

`--list` also prints the public member functions of `Terminal`, one name a line, those of a base
with the base's name. A base outside the engine's namespace (a standard library template) is not in
the engine's dump: `--outside-bases` prints the qualified name of each such template, one a line,
for the caller to dump with that name as the filter and pass as a further file.
"""
import collections
import json
import re
import sys

# The most public member functions `Terminal` may have, its own and those reachable through its
# public bases together. Lower it when the surface shrinks.
MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS = 119

# The most public data members each checked type may have: none, every one keeps its state behind
# methods.
MAXIMUM_PUBLIC_FIELDS = {"Terminal": 0, "Buffer": 0, "SelectionService": 0, "BufferLine": 0}
TYPES_CHECKED = tuple(MAXIMUM_PUBLIC_FIELDS)

# Names that belong to the terminal's inside: the control-function handlers and routers (cmd*,
# csi*, osc*), the parser's callbacks and the print roads. None of them may be public.
INSIDE_NAME = re.compile(r"^(cmd|csi|osc)[A-Za-z0-9_]|^dispatch|[Pp]rint")

FUNCTION_KINDS = {"CXXMethodDecl", "FunctionTemplateDecl", "CXXConstructorDecl", "CXXDestructorDecl",
                  "CXXConversionDecl"}
# What a base's public surface leaves out.
BASE_LIFETIME_KINDS = {"CXXConstructorDecl", "CXXDestructorDecl"}

# The namespaces in front of a type's name: `std::` of `std::enable_shared_from_this<kestrovan::T>`.
NAMESPACE_PREFIX = re.compile(r"^(?:\w+::)*")


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


def base_type(base):
    """The written type of a base, with its namespaces and template arguments spelled out."""
    return base["type"].get("desugaredQualType", base["type"]["qualType"])


def unqualified(type_name):
    """A type's name without the namespaces in front: `enable_shared_from_this<kestrovan::T>`."""
    return NAMESPACE_PREFIX.sub("", type_name)


def index_records(declarations):
    """Complete class definitions by unqualified name, template specializations (found inside
    their template's declaration) with their arguments: `enable_shared_from_this<kestrovan::T>`."""
    records = {}
    for declaration in declarations:
        kind = declaration.get("kind")
        if kind == "CXXRecordDecl" and declaration.get("completeDefinition"):
            records.setdefault(declaration["name"], declaration)
        elif kind == "ClassTemplateDecl":
            for inner in declaration.get("inner", []):
                if inner.get("kind") != "ClassTemplateSpecializationDecl" or not inner.get("completeDefinition"):
                    continue
                arguments = [argument["type"]["qualType"] for argument in inner.get("inner", [])
                             if argument.get("kind") == "TemplateArgument" and "type" in argument]
                records.setdefault(f"{inner['name']}<{', '.join(arguments)}>", inner)
    return records


def public_bases(record, records):
    """(name, record) of each base reachable as public from `record`, nearest first; a record
    missing from the dump comes as None."""
    found = []
    pending = [record]
    while pending:
        for base in pending.pop(0).get("bases", []):
            if base.get("access") != "public":
                continue
            name = base_type(base)
            base_record = records.get(unqualified(name))
            found.append((name, base_record))
            if base_record:
                pending.append(base_record)
    return found


def main(arguments):
    listing = "--list" in arguments
    paths = [argument for argument in arguments if not argument.startswith("--")]
    declarations = []
    for text in ([open(path).read() for path in paths] if paths else [sys.stdin.read()]):
        declarations.extend(read_declarations(text))

    all_records = index_records(declarations)
    records = {name: all_records[name] for name in TYPES_CHECKED if name in all_records}

    if "--outside-bases" in arguments:
        outside = set()
        for record in records.values():
            for name, base_record in public_bases(record, all_records):
                if base_record is None and not name.startswith("kestrovan::"):
                    outside.add(name.split("<", 1)[0])
        for name in sorted(outside):
            print(name)
        return 0

    failures = []
    for name in TYPES_CHECKED:
        if name not in records:
            failures.append(f"{name}: no definition found in the AST")

    terminal = records.get("Terminal")
    if terminal:
        public_functions = [member.get("name", "") for access, member in members_by_access(terminal)
                            if access == "public" and member.get("kind") in FUNCTION_KINDS]
        own = len(public_functions)
        listed = [(function, "") for function in public_functions]
        for base_name, base_record in public_bases(terminal, all_records):
            if base_record is None:
                failures.append(f"Terminal: the public base {base_name} is not in the dump")
                continue
            for access, member in members_by_access(base_record):
                if access == "public" and member.get("kind") in FUNCTION_KINDS - BASE_LIFETIME_KINDS:
                    public_functions.append(member.get("name", ""))
                    listed.append((member.get("name", ""), base_name))
        print(f"Terminal: {len(public_functions)} public member functions "
              f"({own} its own, {len(public_functions) - own} through public bases; "
              f"{len(set(public_functions))} names), at most {MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS}")
        if len(public_functions) > MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS:
            failures.append(f"Terminal: {len(public_functions)} public member functions, more than "
                            f"{MAXIMUM_TERMINAL_PUBLIC_FUNCTIONS}")
        for function in sorted(set(public_functions)):
            if INSIDE_NAME.search(function):
                failures.append(f"Terminal: the handler or print road {function} is public")
        if listing:
            for (function, base_name), count in sorted(collections.Counter(listed).items()):
                print(f"  {function}" + (f" ({count} overloads)" if count > 1 else "")
                      + (f" (through {base_name})" if base_name else ""))

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
