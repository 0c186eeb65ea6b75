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

IngestResult Failure(const char* error) { return IngestResult::Failed(error); }

}  // namespace

void PrepareStagingBatch() {
  media::WipeStagingOnce();
  PruneStaging();
}

JSValue StageClipboardSnapshot(const platform::ClipboardSnapshot& snapshot, size_t count) {
  if (!snapshot.available) return One(Failure("copy_failed"));
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
  if (snapshot.imageTooLarge) return One(Failure("too_large"));
  std::string bytes;
  const char* extension = "png";
  if (!snapshot.png.empty()) {
    bytes = snapshot.png;
  } else if (!snapshot.bmp.empty()) {
    bytes = snapshot.bmp;
    extension = "bmp";
  } else if (!snapshot.dib.empty()) {
    if (snapshot.dib.size() >= 40) {
      // A picture over the pixel bound is too large, not unreadable.
      const auto dimension = [&](size_t at) {
        int32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<int32_t>(static_cast<unsigned char>(snapshot.dib[at + i])) << (8 * i);
        return static_cast<uint64_t>(v < 0 ? -static_cast<int64_t>(v) : v);
      };
      if (dimension(4) * dimension(8) > kMaxClipboardPixels) return One(Failure("too_large"));
    }
    bytes = DibToBmp(snapshot.dib);
    if (bytes.empty()) return One(Failure("unsupported"));
    extension = "bmp";
  } else {
    return JSValueArray{};
  }
  PrepareStagingBatch();
  return One(StageClipboardImage(bytes, extension, "image"));
}

}  // namespace VirelantDesktop::attach
