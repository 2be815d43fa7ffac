#pragma once
// The scrambled form in which one registry setting is kept: the text hidden
// between random bytes, byte pairs swapped, zlib-compressed. Portable.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nib {

inline constexpr size_t kScrambleLead = 217;
inline constexpr size_t kScrambleTail = 295;
inline constexpr size_t kScrambleRandom = kScrambleLead + kScrambleTail;  // 512
// A stored value longer than this is not ours and reads as empty.
inline constexpr size_t kScrambleMaxStored = 2025;

// 512 random bytes, each from 1 to 254.
std::vector<std::uint8_t> ScrambleRandomBytes();

// `random` must hold kScrambleRandom bytes.
std::vector<std::uint8_t> ScrambleText(std::string_view text, const std::vector<std::uint8_t>& random);
// The text back; empty when the bytes are not a scrambled value.
std::string UnscrambleText(const std::vector<std::uint8_t>& stored);

}  // namespace nib
