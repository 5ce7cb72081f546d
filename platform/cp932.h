// The code page of the text conversions, CP932 (Windows-31J), to and from UTF-8.
// Both directions work on a block of a larger buffer so that a caller can stream a file's
// converted bytes out in pieces; the wrappers below convert a whole text at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelo {

// What a CP932 sequence that the code page does not map becomes: the code page's default
// character "・" (U+30FB). What CP932 lacks of a UTF-8 text becomes "?".
inline constexpr char32_t kCp932DecodeDefault = 0x30FB;
inline constexpr uint8_t kCp932EncodeDefault = '?';

struct CodecStep {
    size_t consumed = 0; // input bytes converted (whole characters)
    size_t produced = 0; // bytes written to out
    bool malformed = false; // UTF-8 only: the input is not well-formed
};

// Worst-case output bytes per input byte of each direction.
inline constexpr size_t kUtf8ToCp932Growth = 1;
inline constexpr size_t kCp932ToUtf8Growth = 3;

// Converts whole characters from in[0] on until at least `atLeast` bytes are consumed or the input
// ends (a character is never cut: up to 3 bytes more may be consumed). out must hold
// (atLeast + 3) x growth bytes. UTF-8 is accepted in sequences of one to three bytes (U+0000 to
// U+FFFF); an overlong form, a surrogate, a lone continuation byte, a four-byte sequence or a
// sequence cut off at the end is malformed, and the step stops there with malformed set.
CodecStep Utf8ToCp932Block(const uint8_t* in, size_t inSize, size_t atLeast, uint8_t* out);
CodecStep Cp932ToUtf8Block(const uint8_t* in, size_t inSize, size_t atLeast, uint8_t* out);

// Whole texts: nullopt for malformed UTF-8.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);
std::string Cp932ToUtf8(std::string_view cp932);

} // namespace zelo
