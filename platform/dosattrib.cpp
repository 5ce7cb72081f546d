#include "platform/dosattrib.h"

#include <cstdio>
#include <cstring>

namespace zelo::dosattrib {

namespace {

// valid_flags bits of the binary versions 3 to 5.
constexpr uint32_t kValidAttrib = 0x01;
constexpr uint32_t kValidCreateTime = 0x10;

std::optional<uint32_t> parseHex(const char* text, size_t size)
{
    size_t i = 0;
    while (i < size && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i + 1 < size && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < size; ++i, ++digits) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        value = (value << 4) | uint64_t(d);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    return uint32_t(value);
}

class Reader {
public:
    Reader(const char* data, size_t size)
        : m_data(reinterpret_cast<const uint8_t*>(data))
        , m_size(size)
    {
    }
    bool has(size_t offset, size_t bytes) const { return offset <= m_size && bytes <= m_size - offset; }
    uint16_t u16(size_t offset) const { return uint16_t(m_data[offset] | m_data[offset + 1] << 8); }
    uint32_t u32(size_t offset) const { return uint32_t(u16(offset)) | uint32_t(u16(offset + 2)) << 16; }
    uint64_t u64(size_t offset) const { return uint64_t(u32(offset)) | uint64_t(u32(offset + 4)) << 32; }

private:
    const uint8_t* m_data;
    size_t m_size;
};

size_t alignUp(size_t offset, size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

void putU16(std::string& out, uint16_t v)
{
    out += char(v & 0xFF);
    out += char(v >> 8);
}

void putU32(std::string& out, uint32_t v)
{
    putU16(out, uint16_t(v & 0xFFFF));
    putU16(out, uint16_t(v >> 16));
}

void putU64(std::string& out, uint64_t v)
{
    putU32(out, uint32_t(v & 0xFFFFFFFFu));
    putU32(out, uint32_t(v >> 32));
}

} // namespace

std::optional<Value> parse(const char* data, size_t size)
{
    const void* nul = std::memchr(data, '\0', size);
    const size_t textSize = nul ? size_t(static_cast<const char*>(nul) - data) : size;
    const std::optional<uint32_t> textAttributes = parseHex(data, textSize);
    auto textForm = [&]() -> std::optional<Value> {
        if (!textAttributes) return std::nullopt;
        return Value { *textAttributes, std::nullopt };
    };
    if (!nul) return textForm();

    // Binary forms: the hex text, padding to 2, the version twice as 16-bit values, padding to 4, the info.
    Reader in(data, size);
    size_t offset = alignUp(textSize + 1, 2);
    if (!in.has(offset, 4)) return textForm();
    const uint16_t version = in.u16(offset);
    if (in.u16(offset + 2) != version) return textForm();
    offset = alignUp(offset + 4, 4);

    std::optional<uint32_t> attrib;
    std::optional<uint64_t> created;
    auto time = [&](size_t at) {
        if (in.has(at, 8) && in.u64(at) != 0) created = in.u64(at);
    };
    switch (version) {
    case 1: // attrib, ea_size, size, alloc_size, create_time, change_time
        if (in.has(offset, 4)) attrib = in.u32(offset);
        time(offset + 24);
        break;
    case 2: // flags, attrib, ea_size, size, alloc_size, create_time, change_time, write_time, name
        if (in.has(offset, 8)) attrib = in.u32(offset + 4);
        time(offset + 28);
        break;
    case 3: // valid_flags, attrib, ea_size, size, alloc_size, create_time, change_time
    case 4: // valid_flags, attrib, itime, create_time
    case 5: { // valid_flags, attrib, create_time
        if (!in.has(offset, 8)) break;
        const uint32_t valid = in.u32(offset);
        if (valid & kValidAttrib) attrib = in.u32(offset + 4);
        if (valid & kValidCreateTime) time(offset + (version == 3 ? 28 : version == 4 ? 16 : 8));
        break;
    }
    default:
        break;
    }
    if (!attrib) attrib = textAttributes;
    if (!attrib) return std::nullopt;
    return Value { *attrib, created };
}

std::string encode(const Value& value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value.attributes);
    std::string out(text);
    out += '\0';
    out.resize(alignUp(out.size(), 2), '\0');
    putU16(out, 3);
    putU16(out, 3);
    out.resize(alignUp(out.size(), 4), '\0');
    putU32(out, kValidAttrib | (value.creationTime ? kValidCreateTime : 0));
    putU32(out, value.attributes);
    putU32(out, 0); // ea_size
    putU64(out, 0); // size
    putU64(out, 0); // alloc_size
    putU64(out, value.creationTime.value_or(0));
    putU64(out, 0); // change_time
    return out;
}

} // namespace zelo::dosattrib
