#include "platform/share_logins.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

namespace zelo {
namespace {

std::string KeyOf(const std::string& server, const std::string& share)
{
    std::string key = server + '\n' + share;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return key;
}

struct Store {
    std::mutex lock;
    std::map<std::string, ShareCredentials> logins;
};

Store& Logins()
{
    static Store s;
    return s;
}

} // namespace

void WipeSecret(std::string& secret)
{
    // volatile keeps the overwrite from being dropped as a dead store.
    volatile char* bytes = secret.data();
    for (size_t i = 0; i < secret.size(); ++i)
        bytes[i] = 0;
    secret.clear();
}

void RememberShareCredentials(const std::string& server, const std::string& share, ShareCredentials credentials)
{
    auto& s = Logins();
    std::lock_guard guard(s.lock);
    auto& slot = s.logins[KeyOf(server, share)];
    WipeSecret(slot.password);
    slot = std::move(credentials);
}

std::optional<ShareCredentials> ShareCredentialsFor(const std::string& server, const std::string& share)
{
    auto& s = Logins();
    std::lock_guard guard(s.lock);
    const auto found = s.logins.find(KeyOf(server, share));
    if (found == s.logins.end()) return std::nullopt;
    return found->second;
}

void ForgetShareCredentials(const std::string& server, const std::string& share)
{
    auto& s = Logins();
    std::lock_guard guard(s.lock);
    const auto found = s.logins.find(KeyOf(server, share));
    if (found == s.logins.end()) return;
    WipeSecret(found->second.password);
    s.logins.erase(found);
}

} // namespace zelo
