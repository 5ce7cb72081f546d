// The file error report and the two message boxes.
#include "engine/messages.h"

#include "platform/errors.h"
#include "platform/ui_services.h"

#include <array>
#include <utility>

namespace zelo {

namespace {

// Texts keyed by the last error code; access denied (5) is composed from its sub-messages.
constexpr std::array<std::pair<uint32_t, const char*>, 18> kMessages { {
    { 2, "File Not Found" },
    { 3, "Path Not Found" },
    { 16, "Curren Directory　を削除しようとした" },
    { 17, "別のドライブへは移せません" },
    { 19, "書き込み禁止になっている" },
    { 30, "ファイルを最後まで読めませんでした" },
    { 1117, "入出力エラーです（ディスクかネットワークの障害）" },
    { 32, "使用中のファイルは操作出来ません" },
    { 50, "このドライブでは出来ない操作です" },
    { 65, "アクセスが拒否されました" },
    { 80, "同じＤｉｓｋ上で上書きしようとした" },
    { 112, "ディスク容量を越えました" },
    { 145, "DIR　が空でない　！" },
    { 161, "Bad PathName !" },
    { 183, "同じ名前が既にあります" },
    // A name the destination's file system does not take (FAT, exFAT, SMB), or one too long for it.
    { 123, "このドライブでは使えない名前です" },
    { 206, "名前が長すぎます" },
    // A FIFO, socket or device: never opened, copied or written over.
    { 1920, "パイプ，ソケット，デバイスは扱えません" },
} };

const char* AccessDeniedDetail(int errorContext)
{
    switch (errorContext) {
    case 3:
        return "空でないフォルダーか, ＲｅａｄＯｎｌｙを削除しようとした";
    case 2:
    case 4:
        return "ＲｅａｄＯｎｌｙ　を削除しようとした";
    case 6:
        return "読み込みが許可されていません";
    case 7:
        return "書き込みが許可されていません";
    default:
        return "ＲｅａｄＯｎｌｙ　に上書きしようとした";
    }
}

} // namespace

std::string FileErrorMessage(uint32_t code, int errorContext)
{
    if (code == err::AccessDenied && errorContext == kContextAccess) return "Accesee Denied !";
    if (code == err::AccessDenied) return std::string("Accesee Denied !\n\r\n\r") + AccessDeniedDetail(errorContext);
    for (const auto& [key, text] : kMessages) {
        if (key == code) return text;
    }
    return "エラー番号　" + std::to_string(code);
}

std::string FileErrorText(const std::string& name, int errorContext)
{
    std::string message = FileErrorMessage(GetLastError(), errorContext);
    if (!name.empty()) message = name + "  :   " + message;
    return message;
}

void ReportFileError(const std::string& name, int errorContext)
{
    ShowPlainMessage(FileErrorText(name, errorContext));
}

std::string AnotherDriveMessage(const std::string& path)
{
    return path + "  :   別のドライブがマウントされています（入りません）";
}

void ShowPlainMessage(const std::string& text)
{
    ui().ShowPlainMessage(text);
}

int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags)
{
    return ui().AppMessageBox(text, caption, flags);
}

} // namespace zelo
