// The one tree walk: an explicit stack of pending directories and the chain of open directories from the
// root down to the one being walked.
#include "engine/tree_walk.h"

#include "platform/errors.h"

namespace zelo {

WalkStep TreeVisitor::Listed(const WalkPlace&, const std::vector<FindData>&, bool)
{
    return WalkStep::Continue;
}

WalkStep TreeVisitor::OpenCompanion(DirHandle*, const std::string&, const FindData&, std::unique_ptr<DirHandle>&)
{
    return WalkStep::Continue;
}

WalkStep TreeVisitor::CannotEnter(const WalkPlace&, const std::string&, const FindData&, ChildOpen)
{
    return WalkStep::Continue;
}

WalkStep TreeVisitor::CannotList(const std::string&)
{
    return WalkStep::Continue;
}

WalkStep TreeVisitor::Leave(const WalkPlace*, const std::string&, const FindData*)
{
    return WalkStep::Continue;
}

namespace {

// Directories of the chain kept open at once; those further up are closed and reached again through
// "..", checked against the directory they were, so a tree of any depth needs few descriptors.
constexpr size_t kOpenDirectories = 48;

// One open (or, far up the chain, closed) directory with the visitor's paired directory.
struct Side {
    std::shared_ptr<DirHandle> owned; // null for what the caller owns
    DirHandle* dir = nullptr; // null while closed (or when there is none)
    DirIdentity identity;
    bool present = false;

    void Set(DirHandle* handle)
    {
        dir = handle;
        present = handle != nullptr;
        if (handle) identity = handle->Identity();
    }
    void Own(std::unique_ptr<DirHandle> handle)
    {
        Set(handle.get());
        owned = std::move(handle);
    }
    void Close()
    {
        if (!owned) return;
        owned.reset();
        dir = nullptr;
    }
};

struct Frame {
    Side walked;
    Side companion;
    std::string path;
    FindData entry; // the directory's listing in its parent
    size_t mark = 0; // pending directories below this one start above this stack height

    WalkPlace Place() const
    {
        return { *walked.dir, path, companion.dir, walked.owned ? walked.owned : Unowned(walked.dir),
            companion.owned ? companion.owned : Unowned(companion.dir) };
    }
};

struct Pending {
    FindData entry;
    std::string path;
};

class Walk {
public:
    explicit Walk(TreeVisitor& visitor)
        : m_visitor(visitor)
    {
    }

    bool Run(DirHandle& root, const std::string& rootPath, DirHandle* rootCompanion)
    {
        Frame frame;
        frame.walked.Set(&root);
        frame.companion.Set(rootCompanion);
        frame.path = rootPath;
        m_chain.push_back(std::move(frame));
        if (!List()) return false;
        for (;;) {
            // Leave every directory whose pending subdirectories are all done, deepest first.
            while (!m_chain.empty() && m_stack.size() == m_chain.back().mark) {
                const bool isRoot = m_chain.size() == 1;
                if (!isRoot && !Open(m_chain.size() - 2)) return false;
                const Frame& done = m_chain.back();
                WalkStep step;
                if (isRoot) {
                    step = m_visitor.Leave(nullptr, done.path, nullptr);
                } else {
                    Frame& parent = m_chain[m_chain.size() - 2];
                    const WalkPlace at = parent.Place();
                    step = m_visitor.Leave(&at, done.path, &done.entry);
                }
                m_chain.pop_back();
                if (step == WalkStep::Stop) return false;
            }
            if (m_chain.empty()) return true;

            Pending next = std::move(m_stack.back());
            m_stack.pop_back();
            Frame& parent = m_chain.back();
            ChildOpen status = ChildOpen::Failed;
            auto child = parent.walked.dir->OpenChild(next.entry, status);
            if (!child) {
                const WalkPlace at = parent.Place();
                if (m_visitor.CannotEnter(at, next.path, next.entry, status) == WalkStep::Stop) return false;
                continue;
            }
            std::unique_ptr<DirHandle> companion;
            if (m_visitor.OpenCompanion(parent.companion.dir, next.path, next.entry, companion) == WalkStep::Stop)
                return false;
            Frame frame;
            frame.walked.Own(std::move(child));
            frame.companion.Own(std::move(companion));
            frame.path = std::move(next.path);
            frame.entry = std::move(next.entry);
            frame.entry.fileId = frame.walked.identity.inode;
            frame.mark = m_stack.size();
            m_chain.push_back(std::move(frame));
            if (m_chain.size() > kOpenDirectories) {
                Frame& far = m_chain[m_chain.size() - 1 - kOpenDirectories];
                far.walked.Close();
                far.companion.Close();
            }
            if (!List()) return false;
        }
    }

private:
    // Lists the directory at the end of the chain.
    bool List()
    {
        Frame& frame = m_chain.back();
        const WalkPlace at = frame.Place();
        FindData entry;
        SetLastError(err::Success);
        if (m_visitor.WantsWholeListing()) {
            m_listing.clear();
            while (frame.walked.dir->Next(entry))
                m_listing.push_back(entry);
            const bool complete = GetLastError() == err::Success;
            if (m_visitor.Listed(at, m_listing, complete) == WalkStep::Stop) return false;
            for (const FindData& listed : m_listing) {
                if (!Visit(at, listed)) return false;
            }
            return true;
        }
        while (frame.walked.dir->Next(entry)) {
            if (!Visit(at, entry)) return false;
        }
        if (GetLastError() != err::Success && m_visitor.CannotList(frame.path) == WalkStep::Stop) return false;
        return true;
    }

    bool Visit(const WalkPlace& at, const FindData& entry)
    {
        const WalkStep step = m_visitor.Entry(at, entry);
        if (step == WalkStep::Stop) return false;
        if (step == WalkStep::Descend) m_stack.push_back({ entry, at.path + entry.name + "\\" });
        return true;
    }

    // The open handles of the chain's directory at index, reopened through ".." from the one below it
    // when they were closed. False when that is no longer the directory the walk came down through.
    bool Open(size_t index)
    {
        Frame& frame = m_chain[index];
        if (frame.walked.dir && (frame.companion.dir || !frame.companion.present)) return true;
        Frame& below = m_chain[index + 1];
        if (!frame.walked.dir) {
            frame.walked.owned = below.walked.dir->OpenParent(frame.walked.identity);
            frame.walked.dir = frame.walked.owned.get();
        }
        if (frame.walked.dir && frame.companion.present && !frame.companion.dir && below.companion.dir) {
            frame.companion.owned = below.companion.dir->OpenParent(frame.companion.identity);
            frame.companion.dir = frame.companion.owned.get();
        }
        if (frame.walked.dir && (frame.companion.dir || !frame.companion.present)) return true;
        m_visitor.CannotList(frame.path);
        return false;
    }

    TreeVisitor& m_visitor;
    std::vector<Frame> m_chain;
    std::vector<Pending> m_stack;
    std::vector<FindData> m_listing;
};

} // namespace

bool WalkTree(DirHandle& root, const std::string& rootPath, TreeVisitor& visitor, DirHandle* rootCompanion)
{
    Walk walk(visitor);
    return walk.Run(root, rootPath, rootCompanion);
}

} // namespace zelo
