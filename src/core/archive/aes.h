// AES-256 and the 7z key derivation: decryption behind makeAesDecoder, encryption for archive writers.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

class Aes256Encryptor {
 public:
  explicit Aes256Encryptor(const Key& key);
  void encryptBlock(const uint8_t in[16], uint8_t out[16]) const;

 private:
  static constexpr int kRounds = 14;
  uint32_t roundKeys_[(kRounds + 1) * 4];
};

// AES-256 in CBC mode over whole 16-byte blocks, the chain carried from one call to the next.
class CbcEncryptor {
 public:
  using Block = std::array<uint8_t, 16>;
  CbcEncryptor(const Key& key, const Block& iv) : cipher_(key), chain_(iv) {}
  // Encrypts `size` bytes in place; `size` is a multiple of 16.
  void encrypt(uint8_t* data, size_t size);

 private:
  Aes256Encryptor cipher_;
  Block chain_;
};

// The 7z AES coder properties for a key derived with 2^cyclesPower rounds from `salt` (0 to 16 bytes)
// and the initial vector `iv` (1 to 16 bytes).
std::vector<uint8_t> coderProperties(unsigned cyclesPower, std::span<const uint8_t> salt, std::span<const uint8_t> iv);

// The 7z key: SHA-256 over 2^cyclesPower repetitions of salt + UTF-16LE password + 64-bit counter, or,
// with a power of 63, salt and password bytes used as the key directly.
Key deriveKey(unsigned cyclesPower, std::span<const uint8_t> salt, const std::u16string& password);

}  // namespace orv::archive::aes
