// The file name an attachment is saved under, made from whatever name the
// sender gave it.
//
// The rules were first written for UTF-16 names, so every length below is in
// UTF-16 code units (a character above U+FFFF counts 2). In order:
//
//  - Invalid UTF-8 in the input: each invalid byte becomes U+FFFD (one per
//    byte, not one per ill-formed sequence).
//  - Dropped: characters below U+0020, U+007F, / \ : * ? " < > |, and the
//    invisible and direction characters U+061C, U+200B, U+200E, U+200F,
//    U+2028-U+202E, U+2060, U+2066-U+2069, U+FEFF.
//  - Leading, then trailing dots and spaces (U+0020) are removed.
//  - The extension runs from the last dot (never the first character). One
//    longer than 40 units is cut to 40, never inside a surrogate pair; spaces
//    left at the end of a cut extension are removed, and one that is then a
//    bare dot is dropped and the rest of the name split again.
//  - Device names: when the part of the stem before its first dot, without
//    trailing spaces, is CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9 (any
//    case), the stem becomes "file" and the extension stays:
//    "Com1.tar.gz" -> "file.gz".
//  - The stem keeps at most 100 minus the extension's length units, never
//    splitting a character; trailing dots and spaces are then removed.
//  - The whole name is at most 255 UTF-8 bytes: the stem loses whole
//    characters from its end until it fits.
//  - The device-name check runs once more on the shortened stem, and an empty
//    stem becomes "file".
//
// The result is valid UTF-8, non-empty, at most 100 UTF-16 units and 255
// bytes, holds no "/" or NUL, never starts or ends with a dot or space, and
// sanitizing it again returns it unchanged. No I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace VirelantDesktop::attach {

inline constexpr size_t kMaxNameUnits = 100;       // UTF-16 code units
inline constexpr size_t kMaxExtensionUnits = 40;   // dot included
inline constexpr size_t kMaxNameBytes = 255;       // UTF-8, the Linux limit

std::string SanitizeFileName(std::string_view utf8Name);

// A cleaned name (a SanitizeFileName result) with "." + `extension` added,
// the extension kept whole: the name loses whole characters from its end
// (then trailing dots and spaces) until the result fits 255 bytes. The
// extension is cleaned like a name's (dropped characters, at most 39 units,
// no trailing dots or spaces); an empty one leaves the name as it is. The
// 100-unit rule is not applied again.
std::string WithExtension(std::string_view name, std::string_view extension);

}  // namespace VirelantDesktop::attach
