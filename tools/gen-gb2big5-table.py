#!/usr/bin/env python3
"""Generates src/services/Gb2Big5Table.cpp, the GB2312 -> Big5 table.

Sources, all from Debian packages: glibc's iconv tables (GB2312, BIG5 and, for
the kana of rows 4 and 5 only, BIG5-HKSCS, whose kana sit at the ETen positions)
and opencc's simplified-to-traditional character correspondence (s2t).

Entry rules, per GB2312 code (87 rows of 94):
  - hanzi (rows 16-87): the Big5 code of the first of opencc's traditional
    forms that Big5 has, each form followed by its Taiwan and Hong Kong
    standard variants (opencc gives 爲 for 为, which Big5 lacks; Taiwan's
    standard form 為 is Big5's); else of the character itself (simplified and
    traditional forms agree);
  - symbols (rows 1-9): the Big5 code of the same character; heavy and dashed
    box-drawing lines of row 9 fall back to the light line of the same shape;
  - no Big5 character, or no GB2312 character at all: 0x2020 (two spaces).
    The ideographic space is one of them: it shows as two ASCII spaces.
Prints the 0x2020 count of every row beside the figures the table was first
aimed at, and fails when a count drifts from the figure this generator last
produced (EXPECTED): a changed source package must be looked at, not absorbed.
Also checks the entries other code relies on.

Usage: tools/gen-gb2big5-table.py [output.cpp]
"""
import os
import subprocess
import tempfile
import sys
import unicodedata

ROWS, CELLS = 87, 94
NONE = 0x2020

TELLING = {0xA1A2: 0xA142, 0xA1A3: 0xA143, 0xA3A1: 0xA149, 0xA3B0: 0xA2AF, 0xA3C1: 0xA2CF,
           0xA6A1: 0xA344, 0xA9A4: 0xA277, 0xB0A1: 0xB0DA, 0xB1A3: 0xAB4F, 0xB2A2: 0xA8C3,
           0xB9D8: 0xC3F6, 0xB9FA: 0xB0EA, 0xD6D0: 0xA4A4, 0xF7A1: 0xC652,
           0xA1A1: NONE, 0xA7A1: NONE, 0xA8A1: NONE, 0xF7FE: NONE}
# The 0x2020 counts of rows 1-9 that the table was first aimed at; rows 10-15 are empty.
AIMED = [20, 84, 5, 11, 8, 48, 94, 57, 53]
AIMED_HANZI = 304
# What this generator produces from Debian 12's glibc and opencc, row by row
# (rows 1-9), then rows 10-15 together, then the hanzi rows 16-87.
EXPECTED = [29, 84, 6, 11, 8, 46, 94, 57, 46]
EXPECTED_EMPTY_ROWS = 564
EXPECTED_HANZI = 256
# Where the table's own entries choose another traditional form than opencc's
# first candidate: 鳌 is 鼇 (Big5 level 1) rather than 鰲.
PREFERRED = {"鳌": "鼇", "着": "著", "叁": "參", "硷": "鹼"}


def iconv_lines(lines, source, target):
    """Converts one item per line; an item without a counterpart comes back empty."""
    data = ("\n".join(lines) + "\n").encode("utf-8") if source == "UTF-8" else b"\n".join(lines) + b"\n"
    out = subprocess.run(["iconv", "-c", "-f", source, "-t", target], input=data,
                         capture_output=True, check=False).stdout
    parts = out.split(b"\n")[:-1]
    if len(parts) != len(lines):
        sys.exit(f"iconv {source}->{target}: {len(parts)} lines for {len(lines)}")
    return parts


def big5_codes(chars, charset="BIG5"):
    """The two-byte Big5 code of every character, or None."""
    encoded = iconv_lines([c or "" for c in chars], "UTF-8", charset)
    return [(b[0] << 8 | b[1]) if len(b) == 2 and b[0] >= 0x81 else None for b in encoded]


def opencc_table(name):
    """One of opencc's character tables: char -> [forms], in opencc's order."""
    with tempfile.TemporaryDirectory() as folder:
        text = os.path.join(folder, name + ".txt")
        subprocess.run(["opencc_dict", "-i", f"/usr/share/opencc/{name}.ocd2", "-o", text,
                        "-f", "ocd2", "-t", "text"], check=True)
        table = {}
        with open(text, encoding="utf-8") as f:
            for line in f:
                key, _, values = line.rstrip("\n").partition("\t")
                table[key] = values.split()
        return table


def traditional_candidates():
    """Per simplified character, its traditional forms, each followed by its
    Taiwan and Hong Kong standard variants, without repeats."""
    forms = opencc_table("STCharacters")
    variants = [opencc_table("TWVariants"), opencc_table("HKVariants")]
    table = {}
    for char, traditional in forms.items():
        chain = []
        for form in traditional:
            for candidate in [form] + [v for table_ in variants for v in table_.get(form, [])]:
                if len(candidate) == 1 and candidate not in chain:
                    chain.append(candidate)
        table[char] = chain
    return table


def light_box_line(char):
    """The light box-drawing line of the same shape as a heavy or dashed one."""
    if len(char) != 1:
        return None
    name = unicodedata.name(char, "")
    if not name.startswith("BOX DRAWINGS "):
        return None
    shape = name[len("BOX DRAWINGS "):]
    for dash in ("TRIPLE DASH ", "QUADRUPLE DASH ", "DOUBLE DASH "):
        shape = shape.replace(dash, "")
    words = [w for w in shape.replace("HEAVY", "LIGHT").split() if w != "LIGHT"]
    try:
        return unicodedata.lookup("BOX DRAWINGS LIGHT " + " ".join(words))
    except KeyError:
        return None


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "src/services/Gb2Big5Table.cpp"
    gb_codes = [((0xA1 + r) << 8) | (0xA1 + c) for r in range(ROWS) for c in range(CELLS)]
    decoded = iconv_lines([bytes([g >> 8, g & 0xFF]) for g in gb_codes], "GB2312", "UTF-8")
    chars = [d.decode("utf-8") if d else "" for d in decoded]

    candidates = traditional_candidates()
    same = big5_codes(chars)
    def candidates_of(char):
        return [PREFERRED[char]] if char in PREFERRED else candidates.get(char, [])

    # The first candidate, in order, that Big5 has.
    every = sorted({c for char in chars for c in candidates_of(char)})
    code_of = dict(zip(every, big5_codes(every)))
    traditional = [next((code_of[c] for c in candidates_of(char) if code_of.get(c)), None) for char in chars]
    kana = big5_codes(chars, "BIG5-HKSCS")
    light = big5_codes([light_box_line(c) or "" for c in chars])

    table = []
    for index, char in enumerate(chars):
        row = index // CELLS + 1
        entry = None
        if char and char != "\u3000":
            if row >= 16:
                entry = traditional[index] or same[index]
            elif row in (4, 5):
                entry = kana[index]
            else:
                entry = same[index] or (light[index] if row == 9 else None)
        table.append(entry or NONE)

    for gb, big5 in TELLING.items():
        got = table[((gb >> 8) - 0xA1) * CELLS + (gb & 0xFF) - 0xA1]
        if got != big5:
            sys.exit(f"entry {gb:04X} is {got:04X}, wanted {big5:04X}")

    counts = [sum(1 for e in table[r * CELLS:(r + 1) * CELLS] if e == NONE) for r in range(ROWS)]
    for r in range(9):
        print(f"row {r + 1}: {counts[r]} entries 0x2020 (aimed at {AIMED[r]})")
    print(f"rows 10-15: {sum(counts[9:15])} (all {6 * CELLS})")
    print(f"rows 16-87: {sum(counts[15:])} (aimed at {AIMED_HANZI})")
    print(f"total: {sum(counts)} (aimed at 1248)")
    measured = counts[:9] + [sum(counts[9:15]), sum(counts[15:])]
    expected = EXPECTED + [EXPECTED_EMPTY_ROWS, EXPECTED_HANZI]
    if measured != expected:
        sys.exit(f"the 0x2020 counts drifted: {measured}, expected {expected}")

    with open(output, "w", encoding="ascii") as f:
        f.write("// Generated by tools/gen-gb2big5-table.py; do not edit.\n")
        f.write("// GB2312 (rows 1-87, cells 1-94) to Big5; 0x2020 where Big5 has no character.\n\n")
        f.write('#include "services/Gb2Big5.h"\n\nnamespace nib {\n\n')
        f.write(f"const std::uint16_t kGbToBig5Table[kGbToBig5Entries] = {{\n")
        for r in range(ROWS):
            f.write(f"    // row {r + 1}\n")
            row = table[r * CELLS:(r + 1) * CELLS]
            for i in range(0, CELLS, 12):
                f.write("    " + ", ".join(f"0x{e:04X}" for e in row[i:i + 12]) + ",\n")
        f.write("};\n\n}  // namespace nib\n")


if __name__ == "__main__":
    main()
