#!/usr/bin/env python3
"""List the English texts the program looks up, and check the translation tables.

A key is the string-literal first argument of Loc::text(...), Loc::fill(...) or
Loc::mark(...) or textKey(...) in Recorder/**/*.h and *.cpp (adjacent literals are joined, a
QStringLiteral/QString/u"..."_s wrapper is looked through). Every table in
Recorder/resources/lang/ must hold every key, except the English one (en.json):
it holds only the texts whose key names another platform's programs or places,
in Linux words, and each of its keys must be one the program looks up.

    scripts/lang_keys.py            report keys missing from any table (exit 1 if any)
    scripts/lang_keys.py --list     print every key, one JSON string a line
    scripts/lang_keys.py --unused   also report table keys no lookup uses
"""

import argparse
import json
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCES = ROOT / "Recorder"
TABLES = ROOT / "Recorder" / "resources" / "lang"
LOOKUPS = {"text", "fill", "mark"}
WRAPPERS = {"QStringLiteral", "QString", "QLatin1String", "QLatin1StringView", "QStringView", "fromUtf8"}

SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "?": "?",
                  "a": "\a", "b": "\b", "f": "\f", "v": "\v", "0": "\0"}


def unescape(body, narrow=True):
    """The text of an ordinary C++ string literal's body. In a narrow (UTF-8)
    literal, \\x and octal escapes are bytes; in a wide one, code units."""
    out, i = bytearray(), 0

    def put(code, raw_byte):
        out.extend(bytes([code]) if raw_byte and narrow else chr(code).encode("utf-8", "surrogatepass"))

    while i < len(body):
        c = body[i]
        if c != "\\":
            out.extend(c.encode("utf-8"))
            i += 1
            continue
        e = body[i + 1]
        if e in "01234567":
            m = re.match(r"[0-7]{1,3}", body[i + 1:])
            put(int(m.group(0), 8), True)
            i += 1 + len(m.group(0))
        elif e == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
            put(int(m.group(0), 16), True)
            i += 2 + len(m.group(0))
        elif e in "uU":
            n = 4 if e == "u" else 8
            put(int(body[i + 2:i + 2 + n], 16), False)
            i += 2 + n
        else:
            out.extend(SIMPLE_ESCAPES.get(e, e).encode("utf-8"))
            i += 2
    return out.decode("utf-8", errors="replace")


TOKEN = re.compile(r"""
    (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<raw>(?:u8|u|U|L)?R"(?P<delim>[^()\\\s]{0,16})\((?P<rawbody>.*?)\)(?P=delim)")(?P<rawsuffix>[A-Za-z_]\w*)?
  | (?P<string>(?P<prefix>u8|u|U|L)?"(?P<body>(?:[^"\\\n]|\\.)*)")(?P<suffix>[A-Za-z_]\w*)?
  | (?P<char>(?:u8|u|U|L)?'(?:[^'\\\n]|\\.)*')
  | (?P<ident>[A-Za-z_]\w*)
  | (?P<scope>::)
  | (?P<punct>\S)
""", re.VERBOSE | re.DOTALL)


def tokens(source):
    """(kind, value) pairs; comments dropped, literals decoded."""
    for m in TOKEN.finditer(source):
        if m.group("comment") or m.group("char"):
            continue
        if m.group("raw"):
            yield "str", m.group("rawbody")
        elif m.group("string"):
            yield "str", unescape(m.group("body"), m.group("prefix") in (None, "u8"))
        elif m.group("ident"):
            yield "id", m.group("ident")
        elif m.group("scope"):
            yield "op", "::"
        else:
            yield "op", m.group("punct")


def first_literal(toks, i):
    """The plain literal that starts the argument at toks[i], or None."""
    closers = 0
    while toks[i][0] == "id" and toks[i][1] in WRAPPERS or toks[i] == ("op", "::"):
        i += 1
        if toks[i] == ("op", "("):
            closers += 1
            i += 1
    parts = []
    while i < len(toks) and toks[i][0] == "str":
        parts.append(toks[i][1])
        i += 1
    if not parts:
        return None
    for _ in range(closers):
        if toks[i] != ("op", ")"):
            return None
        i += 1
    return "".join(parts) if toks[i] in (("op", ","), ("op", ")")) else None


def keys_in(path):
    toks = list(tokens(path.read_text(encoding="utf-8")))
    toks += [("op", ";")] * 4
    found = []
    for i in range(len(toks) - 4):
        if (toks[i] == ("id", "Loc") and toks[i + 1] == ("op", "::") and toks[i + 2][0] == "id"
                and toks[i + 2][1] in LOOKUPS and toks[i + 3] == ("op", "(")):
            key = first_literal(toks, i + 4)
            if key is not None:
                found.append(key)
        # textKey("...") marks a text kept in the tables where Loc is out of reach.
        elif toks[i] == ("id", "textKey") and toks[i + 1] == ("op", "("):
            key = first_literal(toks, i + 2)
            if key is not None:
                found.append(key)
    return found


def program_keys():
    keys = {}
    for path in sorted(SOURCES.rglob("*")):
        if path.suffix in (".h", ".cpp") and path.is_file():
            for key in keys_in(path):
                keys.setdefault(key, path.relative_to(ROOT))
    return keys


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", action="store_true", help="print every key the program looks up")
    parser.add_argument("--unused", action="store_true", help="also report table keys no lookup uses")
    args = parser.parse_args()

    keys = program_keys()
    if args.list:
        for key in sorted(keys):
            print(json.dumps(key, ensure_ascii=False))
        return 0

    tables = {path.stem: json.loads(path.read_text(encoding="utf-8")) for path in sorted(TABLES.glob("*.json"))}
    english = tables.pop("en", {})
    missing_any = False
    for key in sorted(set(english) - set(keys)):
        missing_any = True
        print(f"en: {json.dumps(key, ensure_ascii=False)} is no key the program looks up")
    for key in sorted(keys):
        lacking = [code for code, table in tables.items() if key not in table]
        if lacking:
            missing_any = True
            where = "every table" if len(lacking) == len(tables) else ", ".join(lacking)
            print(f"missing {json.dumps(key, ensure_ascii=False)} ({keys[key]}) in {where}")
    if args.unused:
        for code, table in tables.items():
            for key in sorted(set(table) - set(keys)):
                print(f"{code}: unused {json.dumps(key, ensure_ascii=False)}")
    if not missing_any:
        print(f"{len(keys)} keys, every table complete, {len(english)} English texts in Linux words")
    return 1 if missing_any else 0


if __name__ == "__main__":
    sys.exit(main())
