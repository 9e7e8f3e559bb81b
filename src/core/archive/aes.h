// AES-256 decryption and the 7z key derivation behind makeAesDecoder.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace orv::archive::aes {

using Key = std::array<uint8_t, 32>;

class Aes256Decryptor {
 public:
  explicit Aes256Decryptor(const Key& key);
  void decryptBlock(const uint8_t in[16], uint8_t out[16]) const;

 private:
  static constexpr int kRounds = 14;
  uint32_t roundKeys_[(kRounds + 1) * 4];  // in decryption order, for the equivalent inverse cipher
};

// The 7z key: SHA-256 over 2^cyclesPower repetitions of salt + UTF-16LE password + 64-bit counter, or,
// with a power of 63, salt and password bytes used as the key directly.
Key deriveKey(unsigned cyclesPower, std::span<const uint8_t> salt, const std::u16string& password);

}  // namespace orv::archive::aes
