#include "modules/attach/ingest_result.h"

namespace VirelantDesktop::attach {

JSValue IngestResultToJson(const IngestResult& result) {
  if (!result.ok) return JSValue{{"error", result.error}};
  JSValue json = JSValueObject{};
  json["path"] = result.path;
  json["name"] = result.name;
  json["size"] = result.size;
  json["mime"] = result.mime;
  if (result.width != 0 && result.height != 0) {
    json["width"] = result.width;
    json["height"] = result.height;
  }
  if (!result.thumb.empty()) json["thumb"] = result.thumb;
  return json;
}

}  // namespace VirelantDesktop::attach
