// The user.DOSATTRIB extended attribute, in the forms Samba and Wine write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zelo::dosattrib {

inline constexpr const char* kName = "user.DOSATTRIB";

struct Value {
    uint32_t attributes = 0;
    std::optional<uint64_t> creationTime; // 100 ns since 1601, when the blob records a valid one
};

// Reads the text form ("0x22", with or without a trailing NUL) and the binary versions 1 to 5.
// nullopt for a blob that is none of them.
std::optional<Value> parse(const char* data, size_t size);

// Version 3 with its "0x.." text prefix: the one form both Samba and Wine read.
std::string encode(const Value& value);

} // namespace zelo::dosattrib
