// What the program and its SMB helper (zelo-smb-helper) say to each other over the helper's socket: one
// request, one reply, each a 32-bit length and then its fields. Logins travel here and nowhere else (never
// in an argument or the environment). Shared by both ends; no libsmbclient here.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

namespace zelo::smb {

enum class Op : uint8_t {
    Login = 1, // server, share, user, domain, password: kept in the helper's memory for its logins
    Stat, // url -> Entry
    List, // url -> count, then Entry per name (with its name)
    Open, // url, flags, temporary (u8: removed by the helper if it ends before a rename) -> handle, Entry
    Read, // handle, count -> bytes
    Write, // handle, bytes -> count
    Seek, // handle, position
    Truncate, // handle, size
    Close, // handle (the close's own failure is the reply's)
    Unlink, // url
    Rename, // from, to: never replaces (the same entry under another case is renamed in place)
    Replace, // from, to, aside: the old "to" moves aside, "from" takes its name, the old one goes
    Mkdir, // url
    Rmdir, // url
    SetTimes, // url, access and write time in microseconds since 1970 (INT64_MIN: left alone), u8: keep the
              // attribute word (which setting times by name resets)
    GetDos, // url -> attribute word as the share keeps it
    SetDos, // url, attribute word (ReadOnly, Hidden, System, Archive; the times are left alone)
    // A whole small file in one request: folder, to, u8 replace (0: a rename that never replaces), u8 times
    // given, access and write time in microseconds, u8 attributes given, attribute word, bytes. A failure's
    // errno is followed by the PutStep that failed.
    Put,
    // A whole small file made beside the in-order commit: folder, u8 times given, access and write time in
    // microseconds, bytes -> the hidden name it was made, written, closed and dated under (removed again on
    // a failure). The commit then only names it (Rename or Replace).
    Stage,
};

// Where a Put failed: before Place nothing is left on the share; at Attributes the file is in place.
enum class PutStep : uint8_t { Create, Write, Place, Attributes };

// The most bytes one Read or Write moves: a stop is seen between two of them.
inline constexpr uint32_t kMostPerRequest = 1u << 20;
// The most bytes of a file the program holds before the file is made on the share: a file up to this
// size goes in one Put.
inline constexpr uint32_t kMostHeld = kMostPerRequest;
// A frame longer than this is taken for a broken peer (a Put carries two URLs beside its bytes).
inline constexpr uint32_t kMostFrame = kMostPerRequest + 65536;
inline constexpr int64_t kTimeLeftAlone = INT64_MIN;

// One entry as a listing or a stat reports it: times in nanoseconds since 1970 (0: not kept).
struct Entry {
    std::string name;
    uint32_t mode = 0; // the Unix mode libsmbclient derives (S_IFDIR, S_IFREG)
    uint32_t dosAttributes = 0; // the share's own (ReadOnly, Hidden, System, Directory, Archive)
    uint64_t size = 0;
    uint64_t inode = 0;
    uint64_t device = 0;
    int64_t accessNs = 0;
    int64_t writeNs = 0;
    int64_t creationNs = 0;
};

// A free name for a new file or an old one moved aside: hidden, and never a name the user gave.
inline std::string RandomHiddenName()
{
    thread_local std::mt19937_64 random { std::random_device {}() };
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".zelo-";
    for (int i = 0; i < 6; ++i)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return name + ".tmp";
}

class Writer {
public:
    Writer() { m_bytes.assign(4, '\0'); }
    Writer& U8(uint8_t v) { return Raw(&v, 1); }
    Writer& U32(uint32_t v) { return Raw(&v, 4); }
    Writer& U64(uint64_t v) { return Raw(&v, 8); }
    Writer& I64(int64_t v) { return Raw(&v, 8); }
    Writer& Bytes(std::string_view v)
    {
        U32(uint32_t(v.size()));
        return Raw(v.data(), v.size());
    }
    Writer& Put(const Entry& e)
    {
        Bytes(e.name).U32(e.mode).U32(e.dosAttributes).U64(e.size).U64(e.inode).U64(e.device);
        return I64(e.accessNs).I64(e.writeNs).I64(e.creationNs);
    }
    Writer& Append(std::string_view bytes) { return Raw(bytes.data(), bytes.size()); }
    // The fields written so far, without the frame's length.
    std::string_view Fields() const { return std::string_view(m_bytes).substr(4); }
    // The frame with its length in front.
    const std::string& Frame()
    {
        const uint32_t length = uint32_t(m_bytes.size() - 4);
        std::memcpy(m_bytes.data(), &length, 4);
        return m_bytes;
    }

private:
    Writer& Raw(const void* p, size_t n)
    {
        m_bytes.append(static_cast<const char*>(p), n);
        return *this;
    }
    std::string m_bytes;
};

// Reads a frame's fields; a field past the end reads as zero and marks the frame bad.
class Reader {
public:
    explicit Reader(std::string_view body)
        : m_rest(body)
    {
    }
    uint8_t U8() { return Scalar<uint8_t>(); }
    uint32_t U32() { return Scalar<uint32_t>(); }
    uint64_t U64() { return Scalar<uint64_t>(); }
    int64_t I64() { return Scalar<int64_t>(); }
    std::string_view Bytes()
    {
        const uint32_t n = U32();
        if (n > m_rest.size()) return Bad();
        const std::string_view v = m_rest.substr(0, n);
        m_rest.remove_prefix(n);
        return v;
    }
    Entry GetEntry()
    {
        Entry e;
        e.name = std::string(Bytes());
        e.mode = U32();
        e.dosAttributes = U32();
        e.size = U64();
        e.inode = U64();
        e.device = U64();
        e.accessNs = I64();
        e.writeNs = I64();
        e.creationNs = I64();
        return e;
    }
    bool Ok() const { return m_ok; }

private:
    template <typename T> T Scalar()
    {
        T v {};
        if (m_rest.size() < sizeof v) {
            Bad();
            return v;
        }
        std::memcpy(&v, m_rest.data(), sizeof v);
        m_rest.remove_prefix(sizeof v);
        return v;
    }
    std::string_view Bad()
    {
        m_ok = false;
        m_rest = {};
        return {};
    }
    std::string_view m_rest;
    bool m_ok = true;
};

} // namespace zelo::smb
