// What "readClipboard" stages from a clipboard snapshot, on a worker: text
// gives nothing (the page pastes it), a file list its first `count` paths,
// an image one staged "image.png". Each staged item ends in an IngestResult.
#pragma once

#include <cstddef>

#include "bridge/js_value.h"
#include "platform/clipboard_reader.h"

namespace VirelantDesktop::attach {

// The housekeeping before a batch is staged: the staging area's one wipe per
// process, then the pruning of old entries.
void PrepareStagingBatch();

// The IngestResult objects for `snapshot`, in order (an array).
JSValue StageClipboardSnapshot(const platform::ClipboardSnapshot& snapshot, size_t count);

}  // namespace VirelantDesktop::attach
