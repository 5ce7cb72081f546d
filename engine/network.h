// The work of the network commands: connecting a share as a drive letter, disconnecting remote drives
// (one chosen in the disconnect dialog, or every one the drive selector recorded, at exit).
#pragma once

#include "platform/shell.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelo {

// The letters a share can be connected as (those no drive uses), from Z down to A.
std::vector<char> FreeDriveLetters();

struct RemoteDriveItem {
    std::string localName; // "X:"
    std::string universalName; // "\\host\share" (empty when it has none)
};
// The remote drives, in letter order.
std::vector<RemoteDriveItem> RemoteDrives();

// The failure of a network call in words, with its code ("...（エラー番号　67）"); other codes read as
// the file error report reads them.
std::string NetworkErrorMessage(uint32_t code);

// Connects share (smb://host/share, \\host\share, or what the mount tool understands) as letter,
// with login where given (zelo-cli's, whose password is asked only when the share wants one).
// A failure is reported with the share's address. Returns success.
bool ConnectShare(const std::string& share, char letter, const ShareLogin* login = nullptr);

// The connect window's connection: without a login, a share that refuses a guest is not reported but
// answered LoginNeeded, so the window can ask for a name and a password; every other failure, and a
// login refused, is reported as ConnectShare reports it.
enum class ShareConnection { Connected, LoginNeeded, Failed };
ShareConnection ConnectShareAskingLogin(const std::string& share, char letter, const ShareLogin* login);

// Disconnects a remote drive ("X:") without forcing it when files are open. A failure is reported
// with the drive's name. Returns success.
bool DisconnectDrive(const std::string& localName);

// The disconnection at exit: each root ("X:\") in order is disconnected without force; a failure is
// ignored and the next drive is still disconnected. Returns the number disconnected.
int DisconnectNetworkDrives(const std::vector<std::string>& netDrives);

// What the disconnect command puts in the drive selector after the dialog when the selector showed a
// remote drive: the root of the drive that holds the program, followed by "[]" ("C:\[]").
std::string ProgramDriveSelectorText();

} // namespace zelo
