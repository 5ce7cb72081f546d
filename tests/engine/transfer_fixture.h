// The fixture of the folder and file driver tests: a temporary tree with the standard source, requests for
// each driver, and the scripted user.
#pragma once

#include "engine/backup_plan.h"
#include "engine/file_copy.h"
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/refused_calls.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace zelo::test {

constexpr int64_t kOld = 1'600'000'000; // a whole second
constexpr int64_t kNew = kOld + 3600;

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    // The standard source: src/a.txt, src/sub/b.txt, src/sub/deep/c.txt, all written at kOld.
    void Source()
    {
        tree.mkdir("src/sub/deep");
        for (const char* f : { "src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt" }) {
            tree.write(f, std::string("of ") + f);
            tree.setTime(f, kOld);
        }
        tree.mkdir("dst");
    }

    // A request for the folder source (below the tree) into dest.
    FolderTransfer Request(int mode, const std::string& source = "src", const std::string& dest = "dst") const
    {
        FolderTransfer request;
        request.sourceFolder = tree.drive(source) + "\\";
        request.destinationDir = tree.drive(dest);
        request.mode = mode;
        return request;
    }

    int Folder(int mode, int contentsOnly = 0, CommandOptions options = {}, const std::string& dest = "dst")
    {
        FolderTransfer request = Request(mode, "src", dest);
        request.contentsOnly = contentsOnly;
        request.options = options;
        request.maxDelete = maxDelete;
        return TransferFolder(request, counts, {});
    }

    int Files(int mode, const std::vector<std::string>& names, const std::string& from, const std::string& to,
        CommandOptions options = {})
    {
        FileTransfer request;
        request.sourceDir = tree.drive(from);
        request.destinationDir = tree.drive(to);
        request.names = names;
        request.mode = mode;
        request.options = options;
        return TransferFiles(request, fileCounts, {});
    }

    std::string Texts() const
    {
        std::string all;
        for (const auto& m : fake.messages)
            all += m.text + "\n";
        return all;
    }

    TempTree tree;
    FakeUi fake;
    TransferCounts counts;
    FileTransferCounts fileCounts;
    int maxDelete = std::numeric_limits<int>::max(); // the mass-delete guard out of the way, but where tested
};

} // namespace zelo::test
