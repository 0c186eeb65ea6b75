#include "modules/attach/image_source.h"

#include <algorithm>
#include <cstring>

namespace VirelantDesktop::attach {

ImageSource ImageSource::FromMemory(std::string_view bytes) noexcept {
  ImageSource source;
  source.memory_ = bytes;
  return source;
}

std::optional<ImageSource> ImageSource::OpenFile(const std::string& path) {
  ImageSource source;
  source.fromFile_ = true;
  if (!source.file_.Open(path)) return std::nullopt;
  return source;
}

std::string_view ImageSource::Peek(size_t size) noexcept {
  if (!fromFile_) return memory_.substr(0, size);
  if (head_.size() < size && !failed_) {
    const size_t had = head_.size();
    try {
      head_.resize(size);
    } catch (...) {
      head_.resize(had);
      return head_;
    }
    const auto got = file_.ReadBlock(head_.data() + had, size - had);
    if (!got) failed_ = true;
    head_.resize(had + (got ? *got : 0));
  }
  return std::string_view(head_).substr(0, size);
}

size_t ImageSource::Read(void* out, size_t size) noexcept {
  auto* dest = static_cast<char*>(out);
  if (!fromFile_) {
    const size_t n = std::min(size, memory_.size());
    if (n > 0) std::memcpy(dest, memory_.data(), n);
    memory_.remove_prefix(n);
    return n;
  }
  size_t filled = 0;
  if (headPos_ < head_.size()) {
    filled = std::min(size, head_.size() - headPos_);
    std::memcpy(dest, head_.data() + headPos_, filled);
    headPos_ += filled;
  }
  if (filled < size && !failed_) {
    const auto got = file_.ReadBlock(dest + filled, size - filled);
    if (got) {
      filled += *got;
    } else {
      failed_ = true;
    }
  }
  return filled;
}

std::optional<std::string_view> ImageSource::ReadAll(uint64_t maxBytes) {
  if (!fromFile_) {
    if (memory_.size() > maxBytes) return std::nullopt;
    const std::string_view rest = memory_;
    memory_ = {};
    return rest;
  }
  whole_.assign(head_, std::min(headPos_, head_.size()));
  head_.clear();
  headPos_ = 0;
  constexpr size_t kBlock = size_t{1} << 20;
  while (!failed_) {
    const size_t had = whole_.size();
    if (had > maxBytes) return std::nullopt;
    whole_.resize(had + kBlock);
    const auto got = file_.ReadBlock(whole_.data() + had, kBlock);
    if (!got) {
      failed_ = true;
      break;
    }
    whole_.resize(had + *got);
    if (*got < kBlock) break;
  }
  if (failed_ || whole_.size() > maxBytes) return std::nullopt;
  return std::string_view(whole_);
}

}  // namespace VirelantDesktop::attach
