// Decoding image sources off the UI thread: "file://" URIs, absolute paths
// and "data:" URIs (base64 or percent-encoded), into cairo image surfaces.
// Anything over kMaxImagePixels is refused from its header, before any
// pixels are allocated; so is anything that is not a raster image in a
// known format (PNG, JPEG, GIF, BMP, WebP, ICO, TIFF).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/cairo_canvas.h"

namespace VirelantDesktop::platform {

inline constexpr int64_t kMaxImagePixels = int64_t{1} << 27;
// Encoded bytes read for one image at most (a file or a data URI's payload).
inline constexpr size_t kMaxEncodedImageBytes = size_t{64} << 20;

struct LoadedImage {
  std::string uri;
  std::shared_ptr<const CairoImage> image;  // null on failure
  std::string error;                        // why, when image is null
};

// The synchronous decode the loader's worker runs; any thread.
LoadedImage DecodeImageUri(const std::string& uri);

// An image's size in pixels as drawn (EXIF orientation applied), read
// without decoding the pixels where the format allows; any thread.
struct ImageSizeResult {
  int width = 0;
  int height = 0;
  std::string error;  // why there is no size
};
ImageSizeResult ReadImageSize(const std::string& uri);

// The file path a "file://" URI or an absolute path names (percent escapes
// decoded); empty when the URI is neither or the path is unusable.
std::string ImagePathFromUri(const std::string& uri);

class ImageLoader {
 public:
  explicit ImageLoader(size_t cacheBytes = size_t{64} << 20);
  // Stops the worker; requests not yet decoded are dropped without a call.
  ~ImageLoader();
  ImageLoader(const ImageLoader&) = delete;
  ImageLoader& operator=(const ImageLoader&) = delete;

  // Decodes `uri` on the loader's worker thread and calls `done` there
  // (post it to the UI thread yourself). A cached image is handed back at
  // once, on the calling thread. Requests for a URI already being decoded
  // wait for that decode.
  void Load(const std::string& uri, std::function<void(LoadedImage)> done);

  // The cached image, or null.
  std::shared_ptr<const CairoImage> Cached(const std::string& uri);
  size_t CachedBytes();

 private:
  void Run();
  void Remember(const LoadedImage& loaded);

  const size_t cacheBytes_;
  // Guards queue_, waiting_, stopping_, and the cache (cache_, lru_, cachedBytes_).
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::unordered_map<std::string, std::vector<std::function<void(LoadedImage)>>> waiting_;
  bool stopping_ = false;
  std::list<std::string> lru_;  // most recent first
  struct Entry {
    std::shared_ptr<const CairoImage> image;
    std::list<std::string>::iterator position;
  };
  std::unordered_map<std::string, Entry> cache_;
  size_t cachedBytes_ = 0;
  std::thread worker_;  // last: starts once everything above exists
};

}  // namespace VirelantDesktop::platform
