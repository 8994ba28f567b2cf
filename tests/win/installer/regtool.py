#!/usr/bin/env python3
"""Reads registry exports (regedit format, as "reg export" writes them) and compares them.

  regtool.py ours EXPORT                 the top-level keys under Software\\Classes that
                                         belong to PELTRA44: its ProgIDs, its class and
                                         AppID, its type library and the interfaces that
                                         name that type library (one per line)
  regtool.py added BEFORE AFTER [AREA]   what AFTER holds that BEFORE does not: one line
                                         per key added ("KEY") and per value added or
                                         changed ("KEY\\tNAME=DATA"); AREA is "classes"
                                         (Software\\Classes without the installer's own
                                         Installer subtree) or "all" (the default)
  regtool.py products EXPORT             the installed packages named PELTRA44: product code
                                         and DisplayVersion, one per line, from the
                                         Uninstall list
  regtool.py leftover BEFORE AFTER       keys and values of AFTER not in BEFORE, leaving out
                                         empty keys that only hold the installer's
                                         bookkeeping lists (Classes\\Installer\\Products and
                                         the like, which Windows Installer keeps once made)

Key paths are compared without regard to case (the registry ignores it) and printed in
lower case, relative to HKEY_LOCAL_MACHINE\\Software. The output is sorted, so two runs
can be compared with diff. Exit status 0; 2 on bad usage or an unreadable export.
"""
import sys

CLSID = "{00eb5842-c9c8-11dc-bd0b-001d6055e581}"
LIBID = "{00eb5840-c9c8-11dc-bd0b-001d6055e581}"
ROOT = "hkey_local_machine\\software\\"
# Containers of the installer's own records that stay, empty, once a package was installed.
BOOKKEEPING = (
    "classes\\installer",
    "classes\\installer\\features",
    "classes\\installer\\products",
    "classes\\installer\\upgradecodes",
    "microsoft\\windows\\currentversion\\installer\\upgradecodes",
    "microsoft\\windows\\currentversion\\installer\\userdata",
    "microsoft\\windows\\currentversion\\installer\\userdata\\s-1-5-18",
    "microsoft\\windows\\currentversion\\installer\\userdata\\s-1-5-18\\components",
    "microsoft\\windows\\currentversion\\installer\\userdata\\s-1-5-18\\products",
)


def read(path):
    """{key: {name: data}}, key relative to HKLM\\Software in lower case, name "@" for
    the default value; data as the export writes it (continuation lines joined)."""
    raw = open(path, "rb").read()
    if raw.startswith(b"\xff\xfe"):
        text = raw.decode("utf-16-le")[1:]
    else:
        text = raw.decode("utf-8", errors="replace")
    keys = {}
    current = None
    pending = ""
    for line in text.splitlines():
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and current is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1].lower()
            if name.startswith(ROOT):
                name = name[len(ROOT):]
            current = name
            keys.setdefault(current, {})
        elif current is not None and "=" in line:
            if line.startswith("@="):
                keys[current]["@"] = line[2:]
            elif line.startswith('"'):
                # "name"="data": the name ends at the first unescaped quote.
                i = 1
                while i < len(line):
                    if line[i] == "\\":
                        i += 2
                        continue
                    if line[i] == '"':
                        break
                    i += 1
                keys[current][line[1:i]] = line[i + 2:]
    return keys


def in_area(key, area):
    if area == "all":
        return True
    return key.startswith("classes\\") and not (key == "classes\\installer" or key.startswith("classes\\installer\\"))


def added(before, after, area):
    out = []
    for key, values in after.items():
        if not in_area(key, area):
            continue
        old = before.get(key)
        if old is None:
            out.append(key)
            old = {}
        for name, data in values.items():
            if old.get(name) != data:
                out.append("%s\t%s=%s" % (key, name, data))
    return sorted(out)


def ours(export):
    out = set()
    for key, values in export.items():
        parts = key.split("\\")
        if len(parts) < 2 or parts[0] != "classes":
            continue
        top = parts[1]
        if top in ("peltra44.fiscalprinter", "peltra44.fiscalprinter.1"):
            out.add("classes\\" + top)
        elif len(parts) >= 3 and top in ("clsid", "appid") and parts[2] == CLSID:
            out.add("\\".join(parts[:3]))
        elif len(parts) >= 3 and top == "typelib" and parts[2] == LIBID:
            out.add("\\".join(parts[:3]))
        elif len(parts) == 4 and top == "interface" and parts[3] == "typelib" and values.get("@", "").lower() == '"%s"' % LIBID:
            out.add("\\".join(parts[:3]))
    return sorted(out)


def products(export):
    out = []
    prefix = "microsoft\\windows\\currentversion\\uninstall\\"
    for key, values in export.items():
        if key.startswith(prefix) and "\\" not in key[len(prefix):] and values.get("DisplayName") == '"PELTRA44"':
            out.append("%s\t%s" % (key[len(prefix):].upper(), values.get("DisplayVersion", "").strip('"')))
    return sorted(out)


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "ours":
            lines = ours(read(argv[2]))
        elif len(argv) in (4, 5) and argv[1] == "added":
            area = argv[4] if len(argv) == 5 else "all"
            if area not in ("all", "classes"):
                raise ValueError("AREA is classes or all")
            lines = added(read(argv[2]), read(argv[3]), area)
        elif len(argv) == 3 and argv[1] == "products":
            lines = products(read(argv[2]))
        elif len(argv) == 4 and argv[1] == "leftover":
            after = read(argv[3])
            lines = [l for l in added(read(argv[2]), after, "all")
                     if not ("\t" not in l and l in BOOKKEEPING and not after.get(l))]
        else:
            raise ValueError("usage: regtool.py ours EXPORT | added BEFORE AFTER [AREA] | products EXPORT | "
                             "leftover BEFORE AFTER")
    except (OSError, ValueError) as e:
        print("regtool.py: %s" % e, file=sys.stderr)
        return 2
    for line in lines:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
