// For fuzz targets whose input is JSON: most byte-level mutations of JSON
// are no longer JSON and would be skipped, so a mutation is retried a few
// times until it is. Include in exactly one file of a fuzz target.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int /*seed*/) {
  const std::vector<uint8_t> original(data, data + size);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const size_t mutated = LLVMFuzzerMutate(data, size, maxSize);
    if (nlohmann::json::accept(data, data + mutated)) return mutated;
    std::copy(original.begin(), original.end(), data);
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}
