#!/usr/bin/env python3
"""Every hanzi of every text the system shows has a real Big5 character in the
GB2312-to-Big5 table: on a traditional-Chinese system no message may show a
blank where a word was.

The texts are the Chinese string literals of the product's sources (src/);
the table is read from the generated Gb2Big5Table.cpp.
Usage: messages_big5_test.py <source root>
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
table_text = (root / "src/services/Gb2Big5Table.cpp").read_text(encoding="ascii")
table = [int(v, 16) for v in re.findall(r"0x([0-9A-F]{4})", table_text.split("= {", 1)[1])]
if len(table) != 87 * 94:
    sys.exit(f"the table has {len(table)} entries, wanted {87 * 94}")

literal = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
failures, checked = [], set()
for path in sorted(root.glob("src/**/*")):
    if path.suffix not in (".cpp", ".h") or path.name == "Gb2Big5Table.cpp":
        continue
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        for text in literal.findall(line):
            try:
                text.encode("gb2312")
            except UnicodeEncodeError:
                continue  # a traditional text of a fixed caption pair, shown as it is
            for char in text:
                if not "\u4e00" <= char <= "\u9fff":
                    continue
                checked.add(char)
                where = f"{path.relative_to(root)}:{number} {char!r} in {text!r}"
                gb = char.encode("gb2312")
                entry = table[(gb[0] - 0xA1) * 94 + gb[1] - 0xA1]
                try:
                    shown = bytes([entry >> 8, entry & 0xFF]).decode("big5") if entry != 0x2020 else None
                except UnicodeDecodeError:
                    shown = None
                if not shown:
                    failures.append(f"{where}: no Big5 character (entry {entry:04X})")

print(f"{len(checked)} different hanzi checked")
for failure in failures:
    print(failure)
sys.exit(1 if failures or not checked else 0)
