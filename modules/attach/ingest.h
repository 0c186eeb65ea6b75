// The staging pipeline: a user's file (or a clipboard image) copied into a
// fresh GUID folder of the staging area under a cleaned name, after its type
// and size checks; images that are large or unusual are decoded upright,
// scaled to 2048 pixels and written again as PNG or JPEG. Each item ends in
// an IngestResult; a failed item leaves nothing behind in the staging area.
//
// Worker threads only (files and image work); several batches may run at
// once, as every item gets its own folder. The 1 GiB staging budget is
// checked before the copy, not atomically with it, so parallel batches may
// together pass it slightly.
#pragma once

#include <string>
#include <string_view>

#include "modules/attach/attach_types.h"
#include "modules/attach/ingest_result.h"

namespace VirelantDesktop::attach {

// Stages the file `source` (links followed; a folder, a missing path or
// anything but a regular file is "not_found"). Kind "media" takes images
// only.
IngestResult IngestFile(const std::string& source, IngestKind kind);

// For paths from drops and the clipboard: an absolute path is staged as kind
// "file", anything else is "not_found".
IngestResult IngestLocalPath(const std::string& source);

// Stages clipboard image data: PNG bytes ("png") as they are, BMP file bytes
// ("bmp") converted to PNG first; named after `stem`. The bytes are written
// to a temporary "stage-" folder, which is gone again when this returns.
IngestResult StageClipboardImage(std::string_view bytes, std::string_view extension, std::string_view stem);

}  // namespace VirelantDesktop::attach
