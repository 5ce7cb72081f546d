// The decision of one entry, from the two listings alone: the date rules and the kind rule as a table.
#include "engine/transfer_decision.h"

#include <gtest/gtest.h>

#include <optional>

namespace zelo {
namespace {

FindData Entry(const char* kind, int64_t unixSeconds, uint32_t size = 10)
{
    FindData entry;
    entry.name = "x";
    entry.lastWriteTime = FileTime { uint64_t(unixSeconds + 11'644'473'600) * 10'000'000 };
    entry.sizeLow = size;
    const std::string k = kind;
    entry.attributes = k == "dir" ? kAttrDirectory : k == "link" ? kAttrReparsePoint : kAttrArchive;
    entry.special = k == "fifo";
    return entry;
}

TEST(TransferDecision, DateAndKindRules)
{
    constexpr int64_t t = 1'600'000'000;
    using A = TransferAction;
    const struct {
        const char* what;
        FindData source;
        std::optional<FindData> destination;
        bool newerOnly;
        WriteTimeStep step;
        A action;
    } cases[] = {
        { "missing", Entry("file", t), std::nullopt, true, WriteTimeStep::Second, A::CopyNew },
        { "new off", Entry("file", t), Entry("file", t + 9), false, WriteTimeStep::Second, A::CopyNew },
        { "source newer", Entry("file", t + 1), Entry("file", t), true, WriteTimeStep::Second, A::Update },
        { "same second", Entry("file", t), Entry("file", t), true, WriteTimeStep::Second, A::UpToDate },
        { "destination newer", Entry("file", t), Entry("file", t + 1), true, WriteTimeStep::Second,
            A::NewerAtDestination },
        { "FAT odd second", Entry("file", t + 1), Entry("file", t), true, WriteTimeStep::FatTwoSeconds, A::UpToDate },
        { "FAT daylight saving", Entry("file", t + 3600), Entry("file", t), true, WriteTimeStep::FatTwoSeconds,
            A::UpToDate },
        { "links compare their times", Entry("link", t + 1), Entry("link", t), true, WriteTimeStep::Second, A::Update },
        // Another kind under the name is never up to date, "new" or not.
        { "directory there", Entry("file", t), Entry("dir", t + 9), true, WriteTimeStep::Second, A::KindMismatch },
        { "link there", Entry("file", t + 9), Entry("link", t), false, WriteTimeStep::Second, A::KindMismatch },
        { "fifo there", Entry("file", t), Entry("fifo", t), true, WriteTimeStep::Second, A::KindMismatch },
        { "file where a link was", Entry("link", t), Entry("file", t), true, WriteTimeStep::Second, A::KindMismatch },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DecideTransfer(c.source, c.destination ? &*c.destination : nullptr, c.newerOnly, c.step), c.action);
    }
    // A move drops an uncopied source only when the destination is the same size and time.
    EXPECT_TRUE(MoveMayDropUncopied(Entry("file", t), Entry("file", t), WriteTimeStep::Second));
    EXPECT_FALSE(MoveMayDropUncopied(Entry("file", t, 10), Entry("file", t, 11), WriteTimeStep::Second));
    EXPECT_FALSE(MoveMayDropUncopied(Entry("file", t), Entry("file", t + 1), WriteTimeStep::Second));
    EXPECT_TRUE(MoveMayDropUncopied(Entry("file", t + 1), Entry("file", t), WriteTimeStep::FatTwoSeconds));
}

} // namespace
} // namespace zelo
