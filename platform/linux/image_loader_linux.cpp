#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/base64.h"
#include "platform/image_loader.h"
#include "platform/url_text.h"

namespace VirelantDesktop::platform {

namespace {

constexpr const char* kFormats[] = {"png", "jpeg", "gif", "bmp", "webp", "ico", "tiff"};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct Bytes {
  std::vector<uint8_t> data;
  std::string error;
};

Bytes ReadImageFile(const std::string& path) {
  Bytes out;
  // Non-blocking open so a FIFO cannot stall the worker; only regular files are read.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    out.error = std::string("cannot open image file: ") + std::strerror(errno);
    return out;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    out.error = "image path is not a regular file";
    return out;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxEncodedImageBytes) {
    close(fd);
    out.error = "image file too large";
    return out;
  }
  out.data.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.data.size()) {
    const ssize_t n = read(fd, out.data.data() + done, out.data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  out.data.resize(done);  // a file that shrank while read
  if (out.data.empty()) out.error = "image file is empty";
  return out;
}

Bytes ReadDataUri(const std::string& uri) {
  Bytes out;
  const size_t comma = uri.find(',');
  if (comma == std::string::npos) {
    out.error = "malformed data URI";
    return out;
  }
  const std::string header = Lower(uri.substr(5, comma - 5));
  const bool base64 = header.size() >= 7 && header.compare(header.size() - 7, 7, ";base64") == 0;
  const std::string mediaType = header.substr(0, header.find(';'));
  if (!mediaType.empty() && !StartsWith(mediaType, "image/")) {
    out.error = "data URI is not an image";
    return out;
  }
  const std::string_view payload(uri.data() + comma + 1, uri.size() - comma - 1);
  if (payload.size() > kMaxEncodedImageBytes / 3 * 4 + 4 + 2 * kMaxEncodedImageBytes) {
    out.error = "data URI too large";
    return out;
  }
  std::string text = PercentDecode(payload);
  if (!base64) {
    out.data.assign(text.begin(), text.end());
  } else {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }),
               text.end());
    std::optional<std::vector<uint8_t>> decoded = Base64Decode(text);
    if (!decoded) {
      out.error = "data URI has malformed base64";
      return out;
    }
    out.data = std::move(*decoded);
  }
  if (out.data.size() > kMaxEncodedImageBytes) {
    out.data.clear();
    out.error = "data URI too large";
  } else if (out.data.empty()) {
    out.error = "data URI is empty";
  }
  return out;
}

struct Probe {
  std::string refusal;
  int width = 0;  // as the header says
  int height = 0;
  bool sizeOnly = false;  // stop once the header is read
  std::string format;
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
  gchar* name = format != nullptr ? gdk_pixbuf_format_get_name(format) : nullptr;
  probe->format = name != nullptr ? name : "";
  probe->width = width;
  probe->height = height;
  const bool known = name != nullptr && std::any_of(std::begin(kFormats), std::end(kFormats),
                                                    [name](const char* f) { return std::strcmp(f, name) == 0; });
  g_free(name);
  if (!known) {
    probe->refusal = "unsupported image format";
  } else if (width <= 0 || height <= 0) {
    probe->refusal = "image has no pixels";
  } else if (static_cast<int64_t>(width) * height > kMaxImagePixels) {
    probe->refusal = "image too large (" + std::to_string(width) + "x" + std::to_string(height) + ")";
  }
  // A zero size makes the format's loader stop before it allocates the pixels.
  if (!probe->refusal.empty() || probe->sizeOnly) gdk_pixbuf_loader_set_size(loader, 0, 0);
}

// Straight RGB(A) to cairo's native-endian premultiplied ARGB32.
std::shared_ptr<const CairoImage> ToSurface(GdkPixbuf* pixbuf, std::string& error) {
  const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB ||
      (channels != 3 && channels != 4)) {
    error = "unsupported pixel layout";
    return nullptr;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    error = "cannot hold an image of that size";
    return nullptr;
  }
  cairo_surface_flush(surface);
  const guchar* src = gdk_pixbuf_read_pixels(pixbuf);
  const int srcStride = gdk_pixbuf_get_rowstride(pixbuf);
  unsigned char* dst = cairo_image_surface_get_data(surface);
  const int dstStride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < h; ++y) {
    const guchar* s = src + static_cast<ptrdiff_t>(y) * srcStride;
    auto* d = reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(y) * dstStride);  // rows are 4-aligned
    for (int x = 0; x < w; ++x, s += channels) {
      const uint32_t a = channels == 4 ? s[3] : 255;
      auto pre = [a](uint32_t v) { return (v * a + 127) / 255; };
      d[x] = (a << 24) | (pre(s[0]) << 16) | (pre(s[1]) << 8) | pre(s[2]);
    }
  }
  cairo_surface_mark_dirty(surface);
  return std::make_shared<const CairoImage>(surface);
}

LoadedImage DecodeBytes(std::string uri, const std::vector<uint8_t>& bytes) {
  LoadedImage out{std::move(uri), nullptr, {}};
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  Probe probe;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &probe);
  GError* error = nullptr;
  // Fed in pieces so a refused header stops the reading early.
  constexpr size_t kChunk = 64 * 1024;
  bool ok = true;
  for (size_t at = 0; at < bytes.size() && ok && probe.refusal.empty(); at += kChunk) {
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(kChunk, bytes.size() - at), &error) != FALSE;
  }
  if (ok && probe.refusal.empty()) {
    ok = gdk_pixbuf_loader_close(loader, &error) != FALSE;
  } else {
    GError* ignored = nullptr;
    gdk_pixbuf_loader_close(loader, &ignored);
    g_clear_error(&ignored);
  }
  if (!probe.refusal.empty()) {
    out.error = probe.refusal;
  } else if (!ok) {
    out.error = std::string("not a readable image: ") + (error != nullptr ? error->message : "unknown error");
  } else if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) {
    GdkPixbuf* oriented = gdk_pixbuf_apply_embedded_orientation(pixbuf);
    if (oriented == nullptr) {
      out.error = "cannot orient image";
    } else {
      out.image = ToSurface(oriented, out.error);
      g_object_unref(oriented);
    }
  } else {
    out.error = "not a readable image";
  }
  g_clear_error(&error);
  g_object_unref(loader);
  return out;
}

}  // namespace

std::string ImagePathFromUri(const std::string& uri) {
  std::string path;
  if (StartsWith(Lower(uri.substr(0, 7)), "file://")) {
    std::string rest = uri.substr(7);
    if (StartsWith(Lower(rest.substr(0, 10)), "localhost/")) rest = rest.substr(9);
    if (!StartsWith(rest, "/")) return {};
    path = PercentDecode(rest);
  } else if (StartsWith(uri, "/")) {
    path = uri;
  } else {
    return {};
  }
  if (path.find('\0') != std::string::npos) return {};
  return path;
}

LoadedImage DecodeImageUri(const std::string& uri) {
  Bytes bytes;
  if (StartsWith(Lower(uri.substr(0, 5)), "data:")) {
    bytes = ReadDataUri(uri);
  } else {
    const std::string path = ImagePathFromUri(uri);
    if (path.empty()) return LoadedImage{uri, nullptr, "unsupported image source"};
    bytes = ReadImageFile(path);
  }
  if (!bytes.error.empty()) return LoadedImage{uri, nullptr, bytes.error};
  return DecodeBytes(uri, bytes.data);
}

ImageSizeResult ReadImageSize(const std::string& uri) {
  Bytes bytes;
  if (StartsWith(Lower(uri.substr(0, 5)), "data:")) {
    bytes = ReadDataUri(uri);
  } else {
    const std::string path = ImagePathFromUri(uri);
    if (path.empty()) return ImageSizeResult{0, 0, "unsupported image source"};
    bytes = ReadImageFile(path);
  }
  if (!bytes.error.empty()) return ImageSizeResult{0, 0, bytes.error};

  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  Probe probe;
  probe.sizeOnly = true;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &probe);
  constexpr size_t kChunk = 64 * 1024;
  bool ok = true;
  GError* error = nullptr;
  for (size_t at = 0; at < bytes.data.size() && ok && probe.width == 0 && probe.refusal.empty(); at += kChunk) {
    ok = gdk_pixbuf_loader_write(loader, bytes.data.data() + at, std::min(kChunk, bytes.data.size() - at), &error) !=
         FALSE;
  }
  GError* ignored = nullptr;
  gdk_pixbuf_loader_close(loader, &ignored);
  g_clear_error(&ignored);
  g_object_unref(loader);
  ImageSizeResult out;
  if (!probe.refusal.empty()) {
    out.error = probe.refusal;
  } else if (probe.width <= 0 || probe.height <= 0) {
    out.error = std::string("not a readable image: ") + (error != nullptr ? error->message : "no size in its header");
  } else if (probe.format == "jpeg") {
    // Only the pixels say how a photo is turned; decode it.
    LoadedImage decoded = DecodeBytes(uri, bytes.data);
    if (decoded.image) {
      out.width = decoded.image->PixelWidth();
      out.height = decoded.image->PixelHeight();
    } else {
      out.error = decoded.error;
    }
  } else {
    out.width = probe.width;
    out.height = probe.height;
  }
  g_clear_error(&error);
  return out;
}

ImageLoader::ImageLoader(size_t cacheBytes) : cacheBytes_(cacheBytes), worker_([this] { Run(); }) {}

ImageLoader::~ImageLoader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ImageLoader::Load(const std::string& uri, std::function<void(LoadedImage)> done) {
  std::shared_ptr<const CairoImage> cached;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = cache_.find(uri);
    if (it != cache_.end()) {
      lru_.splice(lru_.begin(), lru_, it->second.position);
      cached = it->second.image;
    } else {
      auto& waiters = waiting_[uri];
      waiters.push_back(std::move(done));
      if (waiters.size() == 1) queue_.push_back(uri);
    }
  }
  if (cached) {
    if (done) done(LoadedImage{uri, std::move(cached), {}});
    return;
  }
  wake_.notify_one();
}

std::shared_ptr<const CairoImage> ImageLoader::Cached(const std::string& uri) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = cache_.find(uri);
  if (it == cache_.end()) return nullptr;
  lru_.splice(lru_.begin(), lru_, it->second.position);
  return it->second.image;
}

size_t ImageLoader::CachedBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return cachedBytes_;
}

void ImageLoader::Remember(const LoadedImage& loaded) {
  // Called with mutex_ held.
  if (!loaded.image || cache_.count(loaded.uri)) return;
  const size_t bytes = loaded.image->ByteSize();
  if (bytes > cacheBytes_) return;
  while (cachedBytes_ + bytes > cacheBytes_ && !lru_.empty()) {
    auto victim = cache_.find(lru_.back());
    cachedBytes_ -= victim->second.image->ByteSize();
    cache_.erase(victim);
    lru_.pop_back();
  }
  lru_.push_front(loaded.uri);
  cache_[loaded.uri] = Entry{loaded.image, lru_.begin()};
  cachedBytes_ += bytes;
}

void ImageLoader::Run() {
  for (;;) {
    std::string uri;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      uri = std::move(queue_.front());
      queue_.pop_front();
    }
    LoadedImage loaded = DecodeImageUri(uri);
    std::vector<std::function<void(LoadedImage)>> waiters;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Remember(loaded);
      auto it = waiting_.find(uri);
      if (it != waiting_.end()) {
        waiters = std::move(it->second);
        waiting_.erase(it);
      }
    }
    for (auto& done : waiters) {
      if (done) done(loaded);
    }
  }
}

}  // namespace VirelantDesktop::platform
