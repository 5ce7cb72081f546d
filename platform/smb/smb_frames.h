// Sending and receiving the frames of smb_protocol.h over a stream socket, whole or not at all.
#pragma once

#include "platform/smb/smb_protocol.h"

#include <cerrno>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace zelo::smb {

// Writes every byte; MSG_NOSIGNAL so a peer that is gone fails the call instead of raising SIGPIPE.
inline bool SendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Reads exactly size bytes; false at the end of the stream or on a failure. retryOnSignal false lets
// a signal (the helper's stop) end the wait.
inline bool ReceiveAll(int fd, char* data, size_t size, bool retryOnSignal = true)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR && retryOnSignal) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// One frame's body (without its length); false at the end of the stream, a failure or a frame too long.
inline bool ReceiveFrame(int fd, std::string& body, bool retryOnSignal = true)
{
    uint32_t length = 0;
    if (!ReceiveAll(fd, reinterpret_cast<char*>(&length), sizeof length, retryOnSignal)) return false;
    if (length > kMostFrame) return false;
    body.resize(length);
    return ReceiveAll(fd, body.data(), length, retryOnSignal);
}

inline bool SendFrame(int fd, Writer& frame)
{
    const std::string& bytes = frame.Frame();
    return SendAll(fd, bytes.data(), bytes.size());
}

} // namespace zelo::smb
