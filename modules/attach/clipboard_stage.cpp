#include "modules/attach/clipboard_stage.h"

#include <cstdint>
#include <string>
#include <vector>

#include "modules/attach/dib_to_bmp.h"
#include "modules/attach/drop_target.h"
#include "modules/attach/ingest.h"
#include "modules/attach/ingest_result.h"
#include "modules/attach/staging_ops.h"
#include "modules/media/media_root.h"

namespace VirelantDesktop::attach {
namespace {

JSValue One(const IngestResult& result) {
  JSValue items = JSValueArray{};
  items.push_back(IngestResultToJson(result));
  return items;
}

}  // namespace

void PrepareStagingBatch() {
  media::WipeStagingOnce();
  PruneStaging();
}

JSValue StageClipboardSnapshot(const platform::ClipboardSnapshot& snapshot, size_t count) {
  if (!snapshot.available) return One(IngestResult::Failed("copy_failed"));
  if (snapshot.text) return JSValueArray{};
  if (!snapshot.uriList.empty()) {
    const std::vector<std::string> paths = snapshot.copiedFiles
                                               ? filedrop::PathsFromCopiedFiles(snapshot.uriList, count)
                                               : filedrop::PathsFromUriList(snapshot.uriList, count);
    JSValue items = JSValueArray{};
    if (paths.empty()) return items;
    PrepareStagingBatch();
    for (const std::string& path : paths) items.push_back(IngestResultToJson(IngestLocalPath(path)));
    return items;
  }
  if (snapshot.imageTooLarge) return One(IngestResult::Failed("too_large"));
  std::string bytes;
  const char* extension = "png";
  if (!snapshot.png.empty()) {
    bytes = snapshot.png;
  } else if (!snapshot.bmp.empty()) {
    bytes = snapshot.bmp;
    extension = "bmp";
  } else if (!snapshot.dib.empty()) {
    // A picture over the pixel bound is too large, not unreadable.
    if (DibPixelCount(snapshot.dib) > kMaxClipboardPixels) return One(IngestResult::Failed("too_large"));
    bytes = DibToBmp(snapshot.dib);
    if (bytes.empty()) return One(IngestResult::Failed("unsupported"));
    extension = "bmp";
  } else {
    return JSValueArray{};
  }
  PrepareStagingBatch();
  return One(StageClipboardImage(bytes, extension, "image"));
}

}  // namespace VirelantDesktop::attach
