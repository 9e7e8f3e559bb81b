// 7z AES: AES-256 in CBC mode. The coder properties hold the key derivation's cost (a power of two of
// SHA-256 rounds), the salt and the initial vector; the password comes from the caller.
#include "core/archive/aes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "core/archive/codecs.h"
#include "core/archive/sha256.h"

namespace orv::archive {

namespace aes {

namespace {

// GF(2^8) arithmetic modulo x^8 + x^4 + x^3 + x + 1, for building the tables at compile time.
constexpr uint8_t times2(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t multiply(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  for (; b; b >>= 1, a = times2(a))
    if (b & 1) product ^= a;
  return product;
}

constexpr uint8_t inverse(uint8_t x) {  // by square-and-multiply: x^254 = x^-1; zero maps to zero
  uint8_t result = 1, power = x;
  for (unsigned e = 254; e; e >>= 1, power = multiply(power, power))
    if (e & 1) result = multiply(result, power);
  return result;
}

constexpr uint8_t rotl8(uint8_t x, unsigned n) { return static_cast<uint8_t>((x << n) | (x >> (8 - n))); }

struct Tables {
  uint8_t sbox[256];
  uint8_t inverseSbox[256];
  // inverseRound[r][x]: column r of InvMixColumns times InvSubBytes(x), row 0 in the low byte.
  uint32_t inverseRound[4][256];
  // forwardRound[r][x]: column r of MixColumns times SubBytes(x), row 0 in the low byte.
  uint32_t forwardRound[4][256];
};

constexpr Tables makeTables() {
  Tables t{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t v = inverse(static_cast<uint8_t>(x));
    const uint8_t s = v ^ rotl8(v, 1) ^ rotl8(v, 2) ^ rotl8(v, 3) ^ rotl8(v, 4) ^ 0x63;
    t.sbox[x] = s;
    t.inverseSbox[s] = static_cast<uint8_t>(x);
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = t.inverseSbox[x];
    const uint32_t column = uint32_t(multiply(s, 0x0E)) | uint32_t(multiply(s, 0x09)) << 8 |
                            uint32_t(multiply(s, 0x0D)) << 16 | uint32_t(multiply(s, 0x0B)) << 24;
    for (int r = 0; r < 4; ++r) t.inverseRound[r][x] = r ? (column << (8 * r)) | (column >> (32 - 8 * r)) : column;
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = t.sbox[x];
    const uint32_t column = uint32_t(multiply(s, 2)) | uint32_t(s) << 8 | uint32_t(s) << 16 | uint32_t(multiply(s, 3)) << 24;
    for (int r = 0; r < 4; ++r) t.forwardRound[r][x] = r ? (column << (8 * r)) | (column >> (32 - 8 * r)) : column;
  }
  return t;
}

constexpr Tables kTables = makeTables();

uint32_t loadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t subWord(uint32_t w) {
  return uint32_t(kTables.sbox[w & 0xFF]) | uint32_t(kTables.sbox[(w >> 8) & 0xFF]) << 8 |
         uint32_t(kTables.sbox[(w >> 16) & 0xFF]) << 16 | uint32_t(kTables.sbox[w >> 24]) << 24;
}

uint32_t inverseMixColumn(uint32_t w) {
  const auto& t = kTables;
  return t.inverseRound[0][t.sbox[w & 0xFF]] ^ t.inverseRound[1][t.sbox[(w >> 8) & 0xFF]] ^
         t.inverseRound[2][t.sbox[(w >> 16) & 0xFF]] ^ t.inverseRound[3][t.sbox[w >> 24]];
}

// The key schedule: (rounds + 1) * 4 words in encryption order.
void expandKey(const Key& key, uint32_t* w) {
  constexpr int kWords = (14 + 1) * 4;
  for (int i = 0; i < 8; ++i) w[i] = loadLe32(key.data() + 4 * i);
  uint8_t rcon = 1;
  for (int i = 8; i < kWords; ++i) {
    uint32_t t = w[i - 1];
    if (i % 8 == 0) {
      t = subWord((t >> 8) | (t << 24)) ^ rcon;
      rcon = times2(rcon);
    } else if (i % 8 == 4) {
      t = subWord(t);
    }
    w[i] = w[i - 8] ^ t;
  }
}

}  // namespace

Aes256Decryptor::Aes256Decryptor(const Key& key) {
  uint32_t w[(kRounds + 1) * 4];
  expandKey(key, w);
  // Decryption runs the rounds backwards, with InvMixColumns folded into the inner round keys.
  for (int round = 0; round <= kRounds; ++round)
    for (int c = 0; c < 4; ++c) {
      const uint32_t k = w[4 * (kRounds - round) + c];
      roundKeys_[4 * round + c] = (round == 0 || round == kRounds) ? k : inverseMixColumn(k);
    }
}

void Aes256Decryptor::decryptBlock(const uint8_t in[16], uint8_t out[16]) const {
  const auto& T = kTables.inverseRound;
  const uint32_t* k = roundKeys_;
  uint32_t s0 = loadLe32(in) ^ k[0], s1 = loadLe32(in + 4) ^ k[1];
  uint32_t s2 = loadLe32(in + 8) ^ k[2], s3 = loadLe32(in + 12) ^ k[3];
  // Row r of output column c comes from input column c - r (InvShiftRows).
  for (int round = 1; round < kRounds; ++round) {
    k += 4;
    const uint32_t t0 = T[0][s0 & 0xFF] ^ T[1][(s3 >> 8) & 0xFF] ^ T[2][(s2 >> 16) & 0xFF] ^ T[3][s1 >> 24] ^ k[0];
    const uint32_t t1 = T[0][s1 & 0xFF] ^ T[1][(s0 >> 8) & 0xFF] ^ T[2][(s3 >> 16) & 0xFF] ^ T[3][s2 >> 24] ^ k[1];
    const uint32_t t2 = T[0][s2 & 0xFF] ^ T[1][(s1 >> 8) & 0xFF] ^ T[2][(s0 >> 16) & 0xFF] ^ T[3][s3 >> 24] ^ k[2];
    const uint32_t t3 = T[0][s3 & 0xFF] ^ T[1][(s2 >> 8) & 0xFF] ^ T[2][(s1 >> 16) & 0xFF] ^ T[3][s0 >> 24] ^ k[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  k += 4;
  const uint8_t* S = kTables.inverseSbox;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return uint32_t(S[a & 0xFF]) | uint32_t(S[(b >> 8) & 0xFF]) << 8 | uint32_t(S[(c >> 16) & 0xFF]) << 16 |
           uint32_t(S[d >> 24]) << 24;
  };
  storeLe32(out, last(s0, s3, s2, s1) ^ k[0]);
  storeLe32(out + 4, last(s1, s0, s3, s2) ^ k[1]);
  storeLe32(out + 8, last(s2, s1, s0, s3) ^ k[2]);
  storeLe32(out + 12, last(s3, s2, s1, s0) ^ k[3]);
}

Aes256Encryptor::Aes256Encryptor(const Key& key) { expandKey(key, roundKeys_); }

void Aes256Encryptor::encryptBlock(const uint8_t in[16], uint8_t out[16]) const {
  const auto& T = kTables.forwardRound;
  const uint32_t* k = roundKeys_;
  uint32_t s0 = loadLe32(in) ^ k[0], s1 = loadLe32(in + 4) ^ k[1];
  uint32_t s2 = loadLe32(in + 8) ^ k[2], s3 = loadLe32(in + 12) ^ k[3];
  // Row r of output column c comes from input column c + r (ShiftRows).
  for (int round = 1; round < kRounds; ++round) {
    k += 4;
    const uint32_t t0 = T[0][s0 & 0xFF] ^ T[1][(s1 >> 8) & 0xFF] ^ T[2][(s2 >> 16) & 0xFF] ^ T[3][s3 >> 24] ^ k[0];
    const uint32_t t1 = T[0][s1 & 0xFF] ^ T[1][(s2 >> 8) & 0xFF] ^ T[2][(s3 >> 16) & 0xFF] ^ T[3][s0 >> 24] ^ k[1];
    const uint32_t t2 = T[0][s2 & 0xFF] ^ T[1][(s3 >> 8) & 0xFF] ^ T[2][(s0 >> 16) & 0xFF] ^ T[3][s1 >> 24] ^ k[2];
    const uint32_t t3 = T[0][s3 & 0xFF] ^ T[1][(s0 >> 8) & 0xFF] ^ T[2][(s1 >> 16) & 0xFF] ^ T[3][s2 >> 24] ^ k[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  k += 4;
  const uint8_t* S = kTables.sbox;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return uint32_t(S[a & 0xFF]) | uint32_t(S[(b >> 8) & 0xFF]) << 8 | uint32_t(S[(c >> 16) & 0xFF]) << 16 |
           uint32_t(S[d >> 24]) << 24;
  };
  storeLe32(out, last(s0, s1, s2, s3) ^ k[0]);
  storeLe32(out + 4, last(s1, s2, s3, s0) ^ k[1]);
  storeLe32(out + 8, last(s2, s3, s0, s1) ^ k[2]);
  storeLe32(out + 12, last(s3, s0, s1, s2) ^ k[3]);
}

void CbcEncryptor::encrypt(uint8_t* data, size_t size) {
  for (size_t at = 0; at + 16 <= size; at += 16) {
    uint8_t* block = data + at;
    for (size_t i = 0; i < 16; ++i) block[i] ^= chain_[i];
    cipher_.encryptBlock(block, block);
    std::memcpy(chain_.data(), block, 16);
  }
}

std::vector<uint8_t> coderProperties(unsigned cyclesPower, std::span<const uint8_t> salt, std::span<const uint8_t> iv) {
  // First byte: the cost and one bit each for a salt and a vector; the second byte the rest of their sizes.
  const size_t saltSize = std::min<size_t>(salt.size(), 16), ivSize = std::min<size_t>(iv.size(), 16);
  const bool sizes = saltSize || ivSize;
  std::vector<uint8_t> props(1 + (sizes ? 1 : 0) + saltSize + ivSize);
  props[0] = static_cast<uint8_t>((cyclesPower & 0x3F) | (saltSize ? 0x80 : 0) | (ivSize ? 0x40 : 0));
  if (sizes) props[1] = static_cast<uint8_t>(((saltSize ? saltSize - 1 : 0) << 4) | (ivSize ? ivSize - 1 : 0));
  uint8_t* at = props.data() + (sizes ? 2 : 1);
  std::copy_n(salt.data(), saltSize, at);
  std::copy_n(iv.data(), ivSize, at + saltSize);
  return props;
}

Key deriveKey(unsigned cyclesPower, std::span<const uint8_t> salt, const std::u16string& password) {
  std::vector<uint8_t> prefix(salt.begin(), salt.end());
  for (const char16_t c : password) {
    prefix.push_back(static_cast<uint8_t>(c));
    prefix.push_back(static_cast<uint8_t>(c >> 8));
  }
  Key key{};
  if (cyclesPower == 0x3F) {
    std::copy_n(prefix.begin(), std::min(prefix.size(), key.size()), key.begin());
    return key;
  }
  Sha256 hash;
  uint8_t counter[8] = {};
  for (uint64_t round = 0, rounds = uint64_t(1) << cyclesPower; round < rounds; ++round) {
    hash.update(prefix.data(), prefix.size());
    hash.update(counter, sizeof counter);
    for (int i = 0; i < 8 && ++counter[i] == 0; ++i) {
    }
  }
  return hash.finish();
}

}  // namespace aes

namespace {

[[noreturn]] void corrupt(const char* what) { throw ArchiveError(ArchiveErrorKind::Corrupt, what); }

// 7-Zip writes 19 and reads up to 24; 63 takes the key as it is.
constexpr unsigned kMaxCyclesPower = 24;
constexpr unsigned kRawKey = 0x3F;

class AesSource final : public ByteSource {
 public:
  AesSource(std::span<const uint8_t> props, const std::u16string& password, ByteSource& in)
      : in_(in), buffer_(kBufferSize) {
    parseProperties(props);
    decryptor_.emplace(aes::deriveKey(cyclesPower_, {salt_, saltSize_}, password));
  }

  size_t read(uint8_t* dst, size_t size) override {
    if (ready_ == done_ && !refill()) return 0;
    const size_t n = std::min(size, done_ - ready_);
    std::memcpy(dst, buffer_.data() + ready_, n);
    ready_ += n;
    return n;
  }

 private:
  static constexpr size_t kBlock = 16;
  static constexpr size_t kBufferSize = size_t(64) << 10;

  void parseProperties(std::span<const uint8_t> props) {
    if (props.empty()) corrupt("bad AES properties");
    cyclesPower_ = props[0] & 0x3F;
    if (cyclesPower_ > kMaxCyclesPower && cyclesPower_ != kRawKey)
      throw ArchiveError(ArchiveErrorKind::Unsupported, "an AES key derivation of 2^" +
                                                            std::to_string(cyclesPower_) + " rounds");
    if ((props[0] & 0xC0) == 0) return;  // no salt, no initial vector
    if (props.size() < 2) corrupt("bad AES properties");
    saltSize_ = ((props[0] >> 7) & 1) + (props[1] >> 4);
    const size_t ivSize = ((props[0] >> 6) & 1) + (props[1] & 0x0F);
    if (props.size() != 2 + saltSize_ + ivSize) corrupt("bad AES properties");
    std::memcpy(salt_, props.data() + 2, saltSize_);
    std::memcpy(chain_, props.data() + 2 + saltSize_, ivSize);
  }

  // Decrypts the next whole blocks; false at the end of the data.
  bool refill() {
    const size_t carried = filled_ - done_;  // an incomplete block read last time
    std::memmove(buffer_.data(), buffer_.data() + done_, carried);
    filled_ = carried;
    ready_ = done_ = 0;
    while (filled_ < kBlock) {
      const size_t n = in_.read(buffer_.data() + filled_, buffer_.size() - filled_);
      if (n == 0) {
        if (filled_ != 0) corrupt("encrypted data that is not a whole number of blocks");
        return false;
      }
      filled_ += n;
    }
    done_ = filled_ - filled_ % kBlock;
    for (size_t at = 0; at < done_; at += kBlock) {
      uint8_t* block = buffer_.data() + at;
      uint8_t cipher[kBlock];
      std::memcpy(cipher, block, kBlock);
      decryptor_->decryptBlock(cipher, block);
      for (size_t i = 0; i < kBlock; ++i) block[i] ^= chain_[i];
      std::memcpy(chain_, cipher, kBlock);
    }
    return true;
  }

  ByteSource& in_;
  unsigned cyclesPower_ = 0;
  uint8_t salt_[16] = {};
  size_t saltSize_ = 0;
  uint8_t chain_[kBlock] = {};  // the initial vector, then the last ciphertext block
  std::optional<aes::Aes256Decryptor> decryptor_;
  std::vector<uint8_t> buffer_;
  size_t ready_ = 0, done_ = 0, filled_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> makeAesDecoder(std::span<const uint8_t> props, const std::u16string& password,
                                           ByteSource& in) {
  return std::make_unique<AesSource>(props, password, in);
}

}  // namespace orv::archive
