// zelo-cli's counterparts of the remaining menu commands: deleting files and *.BAK/*.VIX files,
// attributes, volume labels, directory creation, renaming and case changes, through the engine calls
// the windows make.
#include "cli/cli.h"
#include "cli/observed_fs.h"
#include "engine/delete_commands.h"
#include "engine/file_info.h"
#include "engine/folder_info.h"
#include "engine/messages.h"
#include "engine/options.h"
#include "engine/rename.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/types.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

namespace zelo::cli {

namespace {

// The windows' success reports: the command line is quiet on success (--verbose says what was done).
bool IsSuccessReport(const std::string& text, const std::string& caption)
{
    static const char* const kTexts[] = { "属性を変更しました", "大文字に変更しました", "小文字に変更しました" };
    if (caption == kCaptionReport) return true;
    for (const char* known : kTexts) {
        if (text == known) return true;
    }
    static const std::string kRenamed = "　に名前を変更しました";
    return text.size() >= kRenamed.size()
        && text.compare(text.size() - kRenamed.size(), kRenamed.size(), kRenamed) == 0;
}

bool IsDirectory(const std::string& drivePath)
{
    const uint32_t attributes = fs().GetAttributes(drivePath);
    return attributes != kInvalidAttributes && (attributes & kAttrDirectory) && !(attributes & kAttrReparsePoint);
}

// attrib's letters, in the order it prints them.
constexpr std::pair<char, uint32_t> kAttributeLetters[] = {
    { 'D', kAttrDirectory },
    { 'R', kAttrReadOnly },
    { 'H', kAttrHidden },
    { 'S', kAttrSystem },
    { 'A', kAttrArchive },
};

// The letters of attrib's --set: R, H, S and A, in any order and case; "-" or nothing clears them all.
std::optional<uint32_t> AttributeLetters(const std::string& text)
{
    uint32_t bits = 0;
    for (char c : text) {
        if (c == '-') continue;
        const char upper = char(std::toupper(static_cast<unsigned char>(c)));
        const auto* found = std::find_if(std::begin(kAttributeLetters) + 1, std::end(kAttributeLetters),
            [upper](const auto& letter) { return letter.first == upper; });
        if (found == std::end(kAttributeLetters)) return std::nullopt;
        bits |= found->second;
    }
    return bits;
}

std::string AttributeText(uint32_t attributes)
{
    std::string text;
    for (const auto& [letter, bit] : kAttributeLetters)
        text += (attributes & bit) ? letter : '-';
    return text;
}

// Runs one engine call per operand, the operand named in its messages; a failure goes on to the next.
template <typename Action>
int ForEachOperand(const Arguments& args, size_t first, CliUi::ReportTest isReport, Action action)
{
    CliUi ui(std::move(isReport), false);
    bool failed = false;
    for (size_t i = first; i < args.operands.size(); ++i) {
        const std::string& typed = args.operands[i];
        SetCurrentOperand(typed);
        const int before = ui.Failures();
        if (!action(typed) || ui.Failures() > before) failed = true;
    }
    SetCurrentOperand("");
    return failed ? kExitFailed : kExitOk;
}

} // namespace

int DeleteFilesCommand(const Arguments& args)
{
    CommandOptions options;
    options.clearReadOnly = !args.has("keep-readonly");
    return ForEachOperand(args, 0, IsSuccessReport, [&](const std::string& typed) {
        std::string why;
        const auto path = ExistingEntry(typed, &why);
        if (!path) return Failed(typed, why) == kExitOk;
        // Directories are the directory pane's (delete): the file pane deletes files and links.
        if (IsDirectory(*path)) return Failed(typed, "is a directory (delete removes trees)") == kExitOk;
        const auto [dir, name] = SplitDrivePath(*path);
        if (DeleteSelectedFiles(Selection::Of(dir, { name }, { true }), options) != 1) return false;
        Verbose(args, "deleted", typed);
        return true;
    });
}

int DeleteBackupsCommand(const Arguments& args)
{
    std::string why;
    const auto dir = ExistingDirectory(args.operands[0], &why);
    if (!dir) return Failed(args.operands[0], why);
    CommandOptions options;
    options.clearReadOnly = !args.has("keep-readonly");
    // The report of how many went and how many could not is the command's output.
    CliUi ui([](const std::string&, const std::string& caption) { return caption == kCaptionReport; }, true);
    SetCurrentOperand(args.operands[0]);
    const auto observed = args.verbose ? std::make_unique<ObservedFileSystem>(args) : nullptr;
    DeleteBackupFiles(*dir, options);
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

int AttribCommand(const Arguments& args)
{
    std::optional<uint32_t> bits;
    if (args.set) {
        bits = AttributeLetters(*args.set);
        if (!bits) return UsageError("attrib: --set takes the letters R, H, S and A: '" + *args.set + "'");
    }
    return ForEachOperand(args, 0, IsSuccessReport, [&](const std::string& typed) {
        std::string why;
        const auto path = ExistingEntry(typed, &why);
        if (!path) return Failed(typed, why) == kExitOk;
        const auto [dir, name] = SplitDrivePath(*path);
        const bool directory = IsDirectory(*path);
        if (!bits) {
            // As the information windows read them: the folder's entry, or the file pane's look-up.
            const auto attributes = directory ? DirectoryAttributes(*path)
                                              : GatherFileInfo(Selection::Of(dir, { name }, { true })).attributes;
            if (!attributes) return Failed(typed, "does not exist") == kExitOk;
            std::printf("%s  %s\n", AttributeText(*attributes).c_str(), EscapeName(typed).c_str());
            return true;
        }
        const bool changed = directory
            ? ChangeDirectoryAttributes(*path, *bits)
            : ApplyFileAttributes(Selection::Of(dir, { name }, { true }), *bits ? *bits : kAttrNormal) == 0;
        if (changed) Verbose(args, "changed", typed);
        return changed;
    });
}

int LabelCommand(const Arguments& args)
{
    std::string why;
    const auto path = ExistingDirectory(args.operands[0], &why);
    if (!path) return Failed(args.operands[0], why);
    const std::string root = path->substr(0, 3);
    CliUi ui(IsSuccessReport, false);
    SetCurrentOperand(args.operands[0]);
    if (args.set) {
        if (!ChangeVolumeLabel(root, *args.set)) return kExitFailed;
        Verbose(args, "changed", args.operands[0]);
        return ui.Failures() > 0 ? kExitFailed : kExitOk;
    }
    std::string label;
    std::string fileSystem;
    if (!GetVolumeInformation(root, label, fileSystem)) {
        ReportFileError(root, kContextOverwrite);
        return kExitFailed;
    }
    std::printf("%s\n", EscapeName(label).c_str());
    return kExitOk;
}

int MkdirCommand(const Arguments& args)
{
    return ForEachOperand(args, 0, IsSuccessReport, [&](const std::string& typed) {
        std::string why;
        const auto path = ToDrivePath(typed, &why);
        if (!path) return Failed(typed, why) == kExitOk;
        if (!MakeDirectory(*path)) return false;
        Verbose(args, "created", typed);
        return true;
    });
}

int RenameCommand(const Arguments& args)
{
    const std::string& typedOld = args.operands[0];
    const std::string& typedNew = args.operands[1];
    std::string why;
    const auto oldPath = ExistingEntry(typedOld, &why);
    if (!oldPath) return Failed(typedOld, why);
    const auto newPath = ToDrivePath(typedNew, &why);
    if (!newPath) return Failed(typedNew, why);
    CliUi ui(IsSuccessReport, false);
    SetCurrentOperand(typedOld);
    // The file pane renames files, the directory pane directories; neither replaces an existing name.
    bool renamed = false;
    if (!IsDirectory(*oldPath))
        renamed = RenameOneFile(*oldPath, *newPath);
    else if (DirectoryRenameAllowed(oldPath->size() == 3 ? 0 : 1))
        renamed = RenameDirectory(*oldPath, *newPath).has_value();
    if (renamed) Verbose(args, "renamed", typedOld + " -> " + typedNew);
    return renamed && ui.Failures() == 0 ? kExitOk : kExitFailed;
}

namespace {

int CaseCommand(const Arguments& args, int direction)
{
    return ForEachOperand(args, 0, IsSuccessReport, [&](const std::string& typed) {
        std::string why;
        const auto path = ExistingEntry(typed, &why);
        if (!path) return Failed(typed, why) == kExitOk;
        const auto [dir, name] = SplitDrivePath(*path);
        // A drive's root is the directory pane's first line, whose name never changes.
        const int item = path->size() == 3 ? 0 : 1;
        const bool changed = IsDirectory(*path)
            ? ChangeDirNameCase(direction, item, *path).has_value()
            : ChangeFileNamesCase(direction, Selection::Of(dir, { name }, { true })) == 1;
        if (changed) Verbose(args, "renamed", typed);
        return changed;
    });
}

} // namespace

int UpperCommand(const Arguments& args)
{
    return CaseCommand(args, 0);
}

int LowerCommand(const Arguments& args)
{
    return CaseCommand(args, 1);
}

} // namespace zelo::cli
