#include "services/Scramble.h"

#include <zlib.h>

#include <chrono>
#include <random>

namespace nib {
namespace {

void SwapPairs(std::vector<std::uint8_t>& bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
}

}  // namespace

std::vector<std::uint8_t> ScrambleRandomBytes() {
  // Reseeded from the clock at every call; the bytes only hide the text.
  std::mt19937 generator(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> byte(1, 254);
  std::vector<std::uint8_t> random(kScrambleRandom);
  for (auto& b : random) b = static_cast<std::uint8_t>(byte(generator));
  return random;
}

std::vector<std::uint8_t> ScrambleText(std::string_view text, const std::vector<std::uint8_t>& random) {
  std::vector<std::uint8_t> plain(random.begin(), random.begin() + kScrambleLead);
  plain.insert(plain.end(), text.begin(), text.end());
  plain.insert(plain.end(), random.begin() + kScrambleLead, random.begin() + kScrambleRandom);
  SwapPairs(plain);
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::vector<std::uint8_t> packed(size);
  if (compress2(packed.data(), &size, plain.data(), static_cast<uLong>(plain.size()), Z_BEST_COMPRESSION) != Z_OK)
    return {};
  packed.resize(size);
  return packed;
}

std::string UnscrambleText(const std::vector<std::uint8_t>& stored) {
  if (stored.empty() || stored.size() > kScrambleMaxStored) return {};
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return {};
  std::vector<std::uint8_t> plain;
  std::uint8_t chunk[4096];
  stream.next_in = const_cast<Bytef*>(stored.data());
  stream.avail_in = static_cast<uInt>(stored.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    plain.insert(plain.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    if (plain.size() > (1u << 20)) result = Z_DATA_ERROR;  // never ours
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END || plain.size() < kScrambleRandom) return {};
  SwapPairs(plain);
  return std::string(plain.begin() + kScrambleLead, plain.end() - kScrambleTail);
}

}  // namespace nib
