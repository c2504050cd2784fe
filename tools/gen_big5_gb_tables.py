#!/usr/bin/env python3
"""Generates codec/big5_gb_tables.cpp, the two constant tables of CBig5ToGB.

Big5 to GB: 94 rows (lead bytes 0xA1..0xFE) of 191 columns (trail bytes 0x40..0xFE, the unused
trail bytes 0x7F..0xA0 included), entry at (lead - 0xA1) * 191 + (trail - 0x40).
GB to Big5: 88 rows of 94 columns (trail bytes 0xA1..0xFE); rows 0..8 are the lead bytes
0xA1..0xA9, rows 9..87 the lead bytes 0xB0..0xFE; entry at row * 94 + (trail - 0xA1).

Each entry is found as follows:
1. A code that Python's codec of the source set does not decode (gap columns, unassigned codes,
   the user-defined areas) maps to the fill value of the target set: GB 0xA1A1 or Big5 0xA140,
   the ideographic space of each.
2. A character the target set holds maps to its code there, as Python's codec of the target set
   encodes it (Big5 codes two characters twice; the codec's choice wins).
3. Otherwise its counterparts are gathered from Unihan_Variants.txt: for Big5 to GB, the
   kSimplifiedVariant values of the character together with every character whose
   kTraditionalVariant lists it; for GB to Big5, the kTraditionalVariant values together with
   every character whose kSimplifiedVariant lists it. Of the counterparts the target set holds,
   the one with the lowest code in the target set is taken: both sets place their frequently
   used characters first (Big5 level 1 before level 2, GB2312 level 1 before level 2), so this
   prefers the commoner form, and the result does not depend on the order of the file.
4. A character without such a counterpart maps to the fill value.

The output depends only on the codecs and the variants file, so running the generator again
gives an identical file.

Usage: gen_big5_gb_tables.py [--unihan PATH] [--output PATH]
"""

import argparse
import bz2
import os
import sys

BIG5_FILL = 0xA140
GB_FILL = 0xA1A1
BIG5_LEADS = range(0xA1, 0xFF)
BIG5_TRAILS = range(0x40, 0xFF)
GB_LEADS = list(range(0xA1, 0xAA)) + list(range(0xB0, 0xFF))
GB_TRAILS = range(0xA1, 0xFF)
ENTRIES_PER_LINE = 12

UNIHAN_CANDIDATES = [
    "/usr/share/unicode/Unihan_Variants.txt",
    "/usr/share/unicode/Unihan_Variants.txt.bz2",
]


def open_text(path):
    if path.endswith(".bz2"):
        return bz2.open(path, "rt", encoding="utf-8")
    return open(path, "rt", encoding="utf-8")


def read_variants(path):
    """Returns (simplified, traditional, version): character -> set of characters."""
    simplified, traditional = {}, {}
    version = "unknown"
    with open_text(path) as lines:
        for line in lines:
            if line.startswith("# Unicode version:"):
                version = line.split(":", 1)[1].strip()
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 3:
                continue
            if fields[1] == "kSimplifiedVariant":
                target = simplified
            elif fields[1] == "kTraditionalVariant":
                target = traditional
            else:
                continue
            source = chr(int(fields[0][2:], 16))
            for value in fields[2].split():
                target.setdefault(source, set()).add(chr(int(value.split("<")[0][2:], 16)))
    return simplified, traditional, version


def inverse(relation):
    result = {}
    for source, values in relation.items():
        for value in values:
            result.setdefault(value, set()).add(source)
    return result


def decode(code, codec):
    try:
        text = bytes([code >> 8, code & 0xFF]).decode(codec)
    except UnicodeDecodeError:
        return None
    return text if len(text) == 1 else None


def encode(char, codec):
    try:
        data = char.encode(codec)
    except UnicodeEncodeError:
        return None
    return data[0] << 8 | data[1] if len(data) == 2 else None


def build_table(leads, trails, source_codec, target_codec, forward, backward, fill):
    table = []
    for lead in leads:
        for trail in trails:
            char = decode(lead << 8 | trail, source_codec)
            if char is None:
                table.append(fill)
                continue
            direct = encode(char, target_codec)
            if direct is not None:
                table.append(direct)
                continue
            counterparts = (forward.get(char, set()) | backward.get(char, set())) - {char}
            codes = [c for c in (encode(x, target_codec) for x in counterparts) if c is not None]
            table.append(min(codes) if codes else fill)
    return table


def format_table(name, size, table, leads, columns, label):
    lines = ["const uint16_t CBig5ToGB::%s[%s] = {" % (name, size)]
    for row, lead in enumerate(leads):
        lines.append("    // %s lead byte 0x%02X" % (label, lead))
        entries = table[row * columns:(row + 1) * columns]
        for start in range(0, columns, ENTRIES_PER_LINE):
            chunk = entries[start:start + ENTRIES_PER_LINE]
            lines.append("    " + " ".join("0x%04X," % value for value in chunk))
    lines.append("};")
    return lines


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Generate the Big5/GB2312 conversion tables.")
    parser.add_argument("--unihan", help="path of Unihan_Variants.txt (plain or .bz2)")
    parser.add_argument("--output", default=os.path.join(root, "codec", "big5_gb_tables.cpp"))
    args = parser.parse_args()

    unihan = args.unihan or next((p for p in UNIHAN_CANDIDATES if os.path.exists(p)), None)
    if unihan is None or not os.path.exists(unihan):
        sys.exit("Unihan_Variants.txt not found: install unicode-data or pass --unihan")
    simplified, traditional, version = read_variants(unihan)

    big5_to_gb = build_table(BIG5_LEADS, BIG5_TRAILS, "big5", "gb2312", simplified,
                             inverse(traditional), GB_FILL)
    gb_to_big5 = build_table(GB_LEADS, GB_TRAILS, "gb2312", "big5", traditional,
                             inverse(simplified), BIG5_FILL)
    assert len(big5_to_gb) == 17954 and len(gb_to_big5) == 8272

    out = [
        "// Generated by tools/gen_big5_gb_tables.py from Python's big5 and gb2312 codecs and",
        "// Unihan_Variants.txt (Unicode %s). Do not edit; run the generator again." % version,
        "#include \"codec/big5_gb.h\"",
        "",
        "namespace qarn {",
        "",
        "// clang-format off",
    ]
    out += format_table("kBig5ToGb", "kBig5ToGbSize", big5_to_gb, BIG5_LEADS, len(BIG5_TRAILS),
                        "Big5")
    out.append("")
    out += format_table("kGbToBig5", "kGbToBig5Size", gb_to_big5, GB_LEADS, len(GB_TRAILS), "GB")
    out += ["// clang-format on", "", "} // namespace qarn", ""]

    with open(args.output, "w", encoding="ascii", newline="\n") as output:
        output.write("\n".join(out))


if __name__ == "__main__":
    main()
