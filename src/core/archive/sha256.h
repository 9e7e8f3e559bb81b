// SHA-256, for the 7z AES key derivation.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::archive {

class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;

  Sha256();
  void update(const uint8_t* data, size_t size);
  void update(std::span<const uint8_t> data) { update(data.data(), data.size()); }
  Digest finish();  // the object is spent afterwards

  static Digest of(std::span<const uint8_t> data);

 private:
  void compress(const uint8_t* block);

  uint32_t state_[8];
  uint8_t block_[64];
  size_t blockUsed_ = 0;
  uint64_t length_ = 0;  // bytes hashed
};

}  // namespace orv::archive
