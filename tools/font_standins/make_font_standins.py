#!/usr/bin/env python3
"""Makes the eight product font files from free Debian fonts.

The product ships its own sans family (six weights) and a Japanese family
(two weights) in Fonts/ beside the executable. Builds without those files
(TALVEK_FONT_DIR unset) get stand-ins instead: DejaVu Sans and IPAGothic
glyphs under the product's family, style and weight, so fontconfig and Pango
resolve the product's face names exactly as they will with the real files.

Every name record of the source is dropped except its copyright and licence
(nameIDs 0, 13 and 14, which the source licences require to travel with the
font). The output depends only on the input files: timestamps are kept from
the source, so the known-fonts table built from these files is stable.

Usage: make_font_standins.py --sans DejaVuSans.ttf --sans-bold DejaVuSans-Bold.ttf
                             --jp ipag.ttf --out DIR
"""

import argparse
import os
import sys

from fontTools.ttLib import TTFont

SANS = "TALVEK Sans"
SANS_JP = "TALVEK Sans JP"

# (file, family, style, usWeightClass, source: "sans", "sans-bold" or "jp")
STANDINS = (
    ("SUIT-Variable.ttf", SANS, "Regular", 400, "sans"),
    ("SUIT-Variable_medium.ttf", SANS, "Medium", 500, "sans"),
    ("SUIT-Variable_semibold.ttf", SANS, "SemiBold", 600, "sans-bold"),
    ("SUIT-Variable_bold.ttf", SANS, "Bold", 700, "sans-bold"),
    ("SUIT-Variable_extrabold.ttf", SANS, "ExtraBold", 800, "sans-bold"),
    ("SUIT-Variable_black.ttf", SANS, "Black", 900, "sans-bold"),
    ("NotoSansJP-VF.ttf", SANS_JP, "Regular", 400, "jp"),
    ("NotoSansJP-VF_bold.ttf", SANS_JP, "Bold", 700, "jp"),
)

KEPT_NAME_IDS = (0, 13, 14)  # copyright, licence, licence URL

FS_SELECTION_ITALIC = 1 << 0
FS_SELECTION_BOLD = 1 << 5
FS_SELECTION_REGULAR = 1 << 6
MAC_STYLE_BOLD = 1 << 0
MAC_STYLE_ITALIC = 1 << 1


def legacy_names(family, style):
    """The four-style (regular/bold) family and subfamily of nameIDs 1 and 2:
    any other weight forms a family of its own in which it is the regular."""
    if style in ("Regular", "Bold"):
        return family, style
    return f"{family} {style}", "Regular"


def rename(font, family, style, weight):
    legacy_family, legacy_style = legacy_names(family, style)
    full_name = f"{family} {style}"
    names = {
        1: legacy_family,
        2: legacy_style,
        3: f"{full_name} stand-in",
        4: full_name,
        5: "Version 1.000",
        6: f"{family.replace(' ', '')}-{style}",
        16: family,
        17: style,
    }

    table = font["name"]
    table.names = [r for r in table.names if r.nameID in KEPT_NAME_IDS]
    for name_id, value in names.items():
        table.setName(value, name_id, 3, 1, 0x409)  # Windows, Unicode BMP, en-US
        table.setName(value, name_id, 1, 0, 0)  # Macintosh, Roman, English

    bold = legacy_style == "Bold"
    os2 = font["OS/2"]
    os2.usWeightClass = weight
    selection = os2.fsSelection & ~(FS_SELECTION_ITALIC | FS_SELECTION_BOLD | FS_SELECTION_REGULAR)
    os2.fsSelection = selection | (FS_SELECTION_BOLD if bold else FS_SELECTION_REGULAR)

    head = font["head"]
    mac_style = head.macStyle & ~(MAC_STYLE_BOLD | MAC_STYLE_ITALIC)
    head.macStyle = mac_style | (MAC_STYLE_BOLD if bold else 0)


def make(source_path, out_path, family, style, weight):
    # recalcBBoxes off: the glyphs are untouched, so glyf/loca/head bounds are
    # carried over byte for byte instead of being recompiled.
    font = TTFont(source_path, recalcBBoxes=False, recalcTimestamp=False)
    rename(font, family, style, weight)
    temporary = out_path + ".tmp"
    font.save(temporary, reorderTables=True)
    font.close()
    os.replace(temporary, out_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sans", required=True, help="the regular sans source (DejaVuSans.ttf)")
    parser.add_argument("--sans-bold", required=True, help="the bold sans source (DejaVuSans-Bold.ttf)")
    parser.add_argument("--jp", required=True, help="the Japanese source (ipag.ttf)")
    parser.add_argument("--out", required=True, help="the folder to write the eight files into")
    args = parser.parse_args()

    sources = {"sans": args.sans, "sans-bold": args.sans_bold, "jp": args.jp}
    for path in sources.values():
        if not os.path.isfile(path):
            print(f"make_font_standins: no source font at {path}", file=sys.stderr)
            return 1

    os.makedirs(args.out, exist_ok=True)
    for file_name, family, style, weight, source in STANDINS:
        make(sources[source], os.path.join(args.out, file_name), family, style, weight)
    return 0


if __name__ == "__main__":
    sys.exit(main())
