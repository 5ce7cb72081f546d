// zelo-cli: the engine's commands for scripts, tests and benchmarks.
// Takes Linux paths, works through the drive map like the windows do, prints messages to standard error.
#include "cli/cli.h"
#include "platform/drives.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zelo::cli {

namespace {

enum OptionId : int {
    kOptProgress = 256,
    kOptKeepRoot,
    kOptKeepReadOnly,
    kOptContentsOnly,
    kOptAll,
    kOptFreeCheck,
    kOptSet,
    kOptMaxDelete,
    kOptBackupDir,
    kOptMask,
    kOptUser,
    kOptHidden,
};

const option kOptions[] = {
    { "help", no_argument, nullptr, 'h' },
    { "version", no_argument, nullptr, 'V' },
    { "yes", no_argument, nullptr, 'y' },
    { "verbose", no_argument, nullptr, 'v' },
    { "progress", no_argument, nullptr, kOptProgress },
    { "keep-root", no_argument, nullptr, kOptKeepRoot },
    { "keep-readonly", no_argument, nullptr, kOptKeepReadOnly },
    { "contents-only", no_argument, nullptr, kOptContentsOnly },
    { "all", no_argument, nullptr, kOptAll },
    { "free-check", no_argument, nullptr, kOptFreeCheck },
    { "set", required_argument, nullptr, kOptSet },
    { "dry-run", no_argument, nullptr, 'n' },
    { "max-delete", required_argument, nullptr, kOptMaxDelete },
    { "backup-dir", required_argument, nullptr, kOptBackupDir },
    { "mask", required_argument, nullptr, kOptMask },
    { "user", required_argument, nullptr, kOptUser },
    { "hidden", no_argument, nullptr, kOptHidden },
    { nullptr, 0, nullptr, 0 },
};

void CommandUsage(std::FILE* out, const Command& command)
{
    std::fprintf(out, "  %s %s\n        %s\n", command.name, command.synopsis, command.summary);
}

void Usage(std::FILE* out)
{
    std::fprintf(out,
        "usage: zelo-cli [OPTION]... COMMAND [ARG]...\n"
        "       zelo-cli COMMAND --help | zelo-cli --help | zelo-cli --version\n"
        "Runs one of Zelo's commands on Linux paths; options may stand anywhere, \"--\" ends them.\n\n"
        "Options:\n"
        "  -y, --yes        answer Yes to the questions a command asks (else No)\n"
        "  -v, --verbose    list each entry acted on: created, copied, updated, moved, deleted,\n"
        "                   renamed, changed, converted, disconnected, skipped, refused\n"
        "      --progress   show bytes, files and rate on one line while copying (on a terminal)\n"
        "  -n, --dry-run    (copy-tree, move-tree, mirror, copy-files, move-files) print what would be\n"
        "                   done, each line marked (DRY RUN), and write nothing\n"
        "  -h, --help       show this help (after a command: that command's)\n"
        "  -V, --version    show the version\n\n"
        "Commands:\n");
    for (const auto& command : Commands())
        CommandUsage(out, command);
    std::fprintf(out,
        "\nExit status: 0 when everything was done, 1 when something failed or was left undone\n"
        "(each failure one line on standard error), 2 for a wrong command line.\n");
}

const Command* FindCommand(const std::string& name)
{
    for (const auto& command : Commands()) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

int Flush(int status)
{
    // Output that never arrived (a full disk, a closed pipe) is a failure like any other.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelo-cli: writing the output failed\n");
        return status == kExitOk ? kExitFailed : status;
    }
    return status;
}

} // namespace

// What the options asked for besides the command's own arguments.
struct Switches {
    bool help = false;
    bool version = false;
    bool yes = false;
    std::vector<std::string> given; // the command options as typed, checked once the command is known
};

// Reads the options into args and switches; -1 when they parse, else the exit status of the usage error told.
int ParseOptions(int argc, char** argv, Arguments& args, Switches& switches)
{
    opterr = 0; // the messages are ours: escaped, with the usage pointer
    int id;
    while ((id = getopt_long(argc, argv, ":hVyvn", kOptions, nullptr)) != -1) {
        const std::string typed = argv[optind - 1];
        // An option with a value: kept, and noted as given for the command to accept.
        const auto value = [&](auto& field, const char* name) {
            field = optarg;
            switches.given.push_back(name);
        };
        switch (id) {
        case 'h':
            switches.help = true;
            break;
        case 'V':
            switches.version = true;
            break;
        case 'y':
            switches.yes = true;
            break;
        case 'v':
            args.verbose = true;
            break;
        case kOptProgress:
            args.progress = true;
            break;
        case kOptSet:
            value(args.set, "set");
            break;
        case kOptMaxDelete:
            value(args.maxDelete, "max-delete");
            break;
        case kOptBackupDir:
            value(args.backupDir, "backup-dir");
            break;
        case kOptMask:
            value(args.mask, "mask");
            break;
        case kOptUser:
            value(args.user, "user");
            break;
        case ':':
            return UsageError("option requires an argument: " + typed);
        case '?':
            if (optopt != 0) return UsageError(std::string("invalid option -- '") + char(optopt) + "'");
            return UsageError("unrecognized option '" + typed + "'");
        default:
            for (const option* o = kOptions; o->name; ++o) {
                if (o->val == id) switches.given.push_back(o->name);
            }
        }
    }
    return -1;
}

int Main(int argc, char** argv)
{
    Arguments args;
    Switches switches;
    if (const int usage = ParseOptions(argc, argv, args, switches); usage != -1) return usage;
    const bool help = switches.help;
    const bool version = switches.version;
    const std::vector<std::string>& given = switches.given;
    args.operands.assign(argv + optind, argv + argc);

    if (version && !help) {
        std::printf("zelo-cli %s\n", ZELO_VERSION);
        return Flush(kExitOk);
    }
    const Command* command = nullptr;
    if (!args.operands.empty()) {
        command = FindCommand(args.operands.front());
        if (!command) return UsageError("unknown command '" + args.operands.front() + "'");
        args.operands.erase(args.operands.begin());
        SetUsageCommand(command);
    }
    if (help) {
        // Asked-for help is the program's output, as other command-line tools give it.
        if (command)
            std::printf(
                "usage: zelo-cli [OPTION]... %s %s\n        %s\n", command->name, command->synopsis, command->summary);
        else
            Usage(stdout);
        return Flush(kExitOk);
    }
    if (!command) {
        Usage(stderr);
        return kExitUsage;
    }
    for (const std::string& flag : given) {
        if (std::find(command->flags.begin(), command->flags.end(), flag) == command->flags.end())
            return UsageError(std::string(command->name) + ": unrecognized option '--" + flag + "'");
    }
    args.flags = given;
    if (args.operands.size() < command->minOperands || args.operands.size() > command->maxOperands)
        return UsageError(std::string(command->name) + ": wrong number of arguments");

    // A mistyped drive map never falls back to the mount table, where every command would act on "/".
    if (const auto bad = MalformedDriveEntryInEnvironment())
        return UsageError("ZELO_DRIVES: not a drive entry: '" + *bad + "' (LETTER=/DIRECTORY[,TYPE][,label=TEXT])");

    CliUi::SetDefaultAnswer(switches.yes ? kIdYes : kIdNo);
    SetListRefusals(args.verbose);
    return Flush(command->run(args));
}

} // namespace zelo::cli

int main(int argc, char** argv)
{
    return zelo::cli::Main(argc, argv);
}
