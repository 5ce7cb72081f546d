// The logins a person typed for network shares this session: held in memory only, never written to a
// file, a log or a message, and handed to the mount tool and to the direct SMB client alike, so a share
// that wants a name and a password is asked once.
#pragma once

#include <optional>
#include <string>

namespace zelo {

struct ShareCredentials {
    std::string user;
    std::string domain; // empty: the server's default
    std::string password;
};

// server and share as the address names them ("nas", "backup"), matched without regard to case; the
// port is part of server where one is given ("127.0.0.1:4450").
void RememberShareCredentials(const std::string& server, const std::string& share, ShareCredentials credentials);
std::optional<ShareCredentials> ShareCredentialsFor(const std::string& server, const std::string& share);
// Overwrites a password's bytes and empties it, so it lives no longer than needed.
void WipeSecret(std::string& secret);
// Forgets a login (a refused password, a disconnected drive); its password bytes are overwritten.
void ForgetShareCredentials(const std::string& server, const std::string& share);

} // namespace zelo
