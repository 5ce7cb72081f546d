#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace zelo {
namespace {

struct MappingCase {
    const char* what;
    int errnoValue;
    ErrnoCall call;
    bool parentMissing;
    bool isCurrentDir;
    uint32_t expected;
};

TEST(ErrnoMapping, EveryErrnoAndCallPairGivesTheSystemCode)
{
    const MappingCase cases[] = {
        { "missing file", ENOENT, ErrnoCall::Generic, false, false, 2 },
        { "missing parent", ENOENT, ErrnoCall::Generic, true, false, 3 },
        { "component not a directory", ENOTDIR, ErrnoCall::Generic, false, false, 3 },
        { "no access", EACCES, ErrnoCall::Generic, false, false, 5 },
        { "not permitted", EPERM, ErrnoCall::Generic, false, false, 5 },
        { "busy", EBUSY, ErrnoCall::Generic, false, false, 32 },
        { "busy rmdir elsewhere", EBUSY, ErrnoCall::RemoveDirectory, false, false, 32 },
        { "busy rmdir of the current dir", EBUSY, ErrnoCall::RemoveDirectory, false, true, 16 },
        { "current-dir flag only counts for rmdir", EBUSY, ErrnoCall::Generic, false, true, 32 },
        { "text busy", ETXTBSY, ErrnoCall::Generic, false, false, 32 },
        { "read-only file system", EROFS, ErrnoCall::Generic, false, false, 19 },
        { "exists, exclusive create", EEXIST, ErrnoCall::CreateNoReplace, false, false, 80 },
        { "exists, move", EEXIST, ErrnoCall::Move, false, false, 183 },
        { "exists, mkdir", EEXIST, ErrnoCall::MakeDirectory, false, false, 183 },
        { "exists, rmdir means not empty", EEXIST, ErrnoCall::RemoveDirectory, false, false, 145 },
        { "disk full", ENOSPC, ErrnoCall::Generic, false, false, 112 },
        { "quota", EDQUOT, ErrnoCall::Generic, false, false, 112 },
        { "not empty", ENOTEMPTY, ErrnoCall::RemoveDirectory, false, false, 145 },
        { "bad name", EINVAL, ErrnoCall::Generic, false, false, 161 },
        { "name refused by the destination, file", EINVAL, ErrnoCall::CreateNoReplace, false, false, 123 },
        { "name refused by the destination, directory", EINVAL, ErrnoCall::MakeDirectory, false, false, 123 },
        { "bytes a name there cannot hold", EILSEQ, ErrnoCall::Generic, false, false, 123 },
        { "name too long, directory", ENAMETOOLONG, ErrnoCall::MakeDirectory, false, false, 206 },
        { "name too long", ENAMETOOLONG, ErrnoCall::Generic, false, false, 206 },
        { "other device", EXDEV, ErrnoCall::Move, false, false, 17 },
        { "unlisted errno keeps its number", ELOOP, ErrnoCall::Generic, false, false, uint32_t(ELOOP) },
        { "unlisted errno keeps its number (2)", EMFILE, ErrnoCall::Generic, false, false, uint32_t(EMFILE) },
        // Own numbers that would read as another message get codes of their own.
        { "I/O error is not access denied", EIO, ErrnoCall::Generic, false, false, 1117 },
        { "no device is not write protect", ENODEV, ErrnoCall::Generic, false, false, 21 },
        { "broken pipe is not sharing violation", EPIPE, ErrnoCall::Generic, false, false, 109 },
        { "host down is not disk full", EHOSTDOWN, ErrnoCall::Generic, false, false, 53 },
        { "not supported is said in words", EOPNOTSUPP, ErrnoCall::Generic, false, false, 50 },
        { "success", 0, ErrnoCall::Generic, false, false, 0 },
    };
    for (const MappingCase& c : cases)
        EXPECT_EQ(MapErrno(c.errnoValue, c.call, c.parentMissing, c.isCurrentDir), c.expected) << c.what;
}

TEST(ErrnoMapping, LastErrorIsPerThreadAndSetFromErrno)
{
    EXPECT_EQ(SetLastErrorFromErrno(EEXIST, ErrnoCall::Move), 183u);
    EXPECT_EQ(GetLastError(), 183u);
    uint32_t seenByOtherThread = 1;
    std::thread([&] { seenByOtherThread = GetLastError(); }).join();
    EXPECT_EQ(seenByOtherThread, 0u);
    SetLastError(0);
    EXPECT_EQ(GetLastError(), 0u);
}

} // namespace
} // namespace zelo
