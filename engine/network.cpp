// Network drives: connect, disconnect, and the disconnection at exit.
#include "engine/network.h"

#include "engine/messages.h"
#include "model/drive_list.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/shell.h"
#include "platform/types.h"

namespace zelo {

std::vector<char> FreeDriveLetters()
{
    const uint32_t used = GetLogicalDrives();
    std::vector<char> letters;
    for (char letter = 'Z'; letter >= 'A'; --letter)
        if (!(used & (1u << (letter - 'A')))) letters.push_back(letter);
    return letters;
}

std::vector<RemoteDriveItem> RemoteDrives()
{
    std::vector<RemoteDriveItem> drives;
    const uint32_t used = GetLogicalDrives();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (!(used & (1u << (letter - 'A')))) continue;
        const std::string root { letter, ':', '\\' };
        if (GetDriveType(root) != kDriveRemote) continue;
        RemoteDriveItem item { root.substr(0, 2), {} };
        GetUniversalName(root, item.universalName);
        drives.push_back(item);
    }
    return drives;
}

std::string NetworkErrorMessage(uint32_t code)
{
    static const std::pair<uint32_t, const char*> kCauses[] = {
        { err::BadNetName, "共有が見つからないか，接続できません" },
        { err::LogonFailure, "ユーザー名またはパスワードが正しくありません" },
        { err::BadNetPath, "ネットワークのパスが見つかりません" },
        { err::AlreadyAssigned, "そのドライブ文字は既に使われています" },
        { err::SemTimeout, "ネットワークドライブが応答しません" },
        { err::NotConnected, "ネットワークドライブではありません" },
        { err::OpenFiles, "使用中のファイルがあるため切断できません" },
    };
    for (const auto& [key, cause] : kCauses)
        if (key == code) return std::string(cause) + "（エラー番号　" + std::to_string(code) + "）";
    return FileErrorMessage(code, kContextOverwrite);
}

namespace {

void ReportNetworkError(const std::string& name)
{
    ShowPlainMessage(name + "  :   " + NetworkErrorMessage(GetLastError()));
}

} // namespace

bool ConnectShare(const std::string& share, char letter, const ShareLogin* login)
{
    if (ConnectNetworkDrive(share, letter, login)) return true;
    ReportNetworkError(share);
    return false;
}

ShareConnection ConnectShareAskingLogin(const std::string& share, char letter, const ShareLogin* login)
{
    if (ConnectNetworkDrive(share, letter, login)) return ShareConnection::Connected;
    if (!login && GetLastError() == err::LogonFailure) return ShareConnection::LoginNeeded;
    ReportNetworkError(share);
    return ShareConnection::Failed;
}

bool DisconnectDrive(const std::string& localName)
{
    if (DisconnectNetworkDrive(localName)) return true;
    ReportNetworkError(localName);
    return false;
}

int DisconnectNetworkDrives(const std::vector<std::string>& netDrives)
{
    int disconnected = 0;
    for (const std::string& root : netDrives)
        if (DisconnectNetworkDrive(root.substr(0, 2))) ++disconnected; // silent at exit
    return disconnected;
}

std::string ProgramDriveSelectorText()
{
    // The program's own drive; a program outside every drive counts as on the system drive, as at start.
    return ComputeStartPath().substr(0, 3) + "[]";
}

} // namespace zelo
