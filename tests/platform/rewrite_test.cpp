// The copy a write-back in place keeps of a file's original: private, named beside the file for the file
// it keeps, never over another kept copy, cut to the length a name may have, removed when asked.
#include "platform/filesystem.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace zelo {
namespace {

TEST(KeptCopy, NamedBesideTheFileNeverOverAnother)
{
    test::TempTree tree;
    const std::string longName(250, 'n');
    const struct {
        std::string name, first, second;
    } cases[] = {
        { "a.txt", ".a.txt.zelo-original", ".a.txt.zelo-original-2" },
        { longName, "." + std::string(240, 'n') + ".zelo-original", "." + std::string(238, 'n') + ".zelo-original-2" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        tree.write(c.name, "new");
        const auto target = fs().OpenForRewrite(tree.drive(c.name));
        ASSERT_NE(target, nullptr);
        for (const std::string& expected : { c.first, c.second }) {
            const auto copy = target->CreateKeptCopy();
            ASSERT_NE(copy, nullptr);
            ASSERT_EQ(copy->Write("original", 8), 8);
            ASSERT_TRUE(target->KeepCopy(*copy));
            EXPECT_EQ(target->KeptCopyPath(), tree.drive(expected));
            EXPECT_EQ(tree.read(expected), "original");
            struct stat st { };
            ASSERT_EQ(::stat(tree.linux(expected).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
        EXPECT_TRUE(target->DropKeptCopy());
        EXPECT_FALSE(tree.exists(c.second));
        EXPECT_TRUE(tree.exists(c.first));
        EXPECT_EQ(tree.read(c.name), "new");
    }
}

} // namespace
} // namespace zelo
