// The one tree walk: an explicit stack of pending directories and the chain of open directories from the
// root down to the one being walked.
#include "engine/tree_walk.h"

#include "platform/errors.h"

#include <vector>

namespace zelo {

namespace {

// Directories of the chain kept open at once; those further up are closed and reached again through
// "..", checked against the directory they were, so a tree of any depth needs few descriptors.
constexpr size_t kOpenDirectories = 48;

struct Frame {
    std::unique_ptr<DirHandle> owned; // null for the root, which the caller owns
    DirHandle* dir = nullptr; // null while closed
    DirIdentity identity;
    std::string path;
    FindData entry; // the directory's listing in its parent
    size_t mark = 0; // pending directories below this one start above this stack height
};

struct Pending {
    FindData entry;
    std::string path;
};

std::function<void(const std::string&)>& walkHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

class Walk {
public:
    Walk(TreeVisitor& visitor)
        : m_visitor(visitor)
    {
    }

    bool Run(DirHandle& root, const std::string& rootPath)
    {
        Frame frame;
        frame.dir = &root;
        frame.identity = root.Identity();
        frame.path = rootPath;
        m_chain.push_back(std::move(frame));
        if (!List()) return false;
        for (;;) {
            // Leave every directory whose pending subdirectories are all done, deepest first.
            while (!m_chain.empty() && m_stack.size() == m_chain.back().mark) {
                const bool isRoot = m_chain.size() == 1;
                DirHandle* parent = isRoot ? nullptr : Open(m_chain.size() - 2);
                if (!isRoot && !parent) return false;
                const Frame& done = m_chain.back();
                const WalkStep step = m_visitor.Leave(parent, done.path, isRoot ? nullptr : &done.entry);
                m_chain.pop_back();
                if (step == WalkStep::Stop) return false;
            }
            if (m_chain.empty()) return true;

            Pending next = std::move(m_stack.back());
            m_stack.pop_back();
            if (walkHook()) walkHook()(next.path);
            DirHandle& parent = *m_chain.back().dir;
            ChildOpen status = ChildOpen::Failed;
            auto child = parent.OpenChild(next.entry, status);
            if (!child) {
                if (m_visitor.CannotEnter(parent, next.path, next.entry, status) == WalkStep::Stop) return false;
                continue;
            }
            Frame frame;
            frame.identity = child->Identity();
            frame.dir = child.get();
            frame.owned = std::move(child);
            frame.path = std::move(next.path);
            frame.entry = std::move(next.entry);
            frame.entry.fileId = frame.identity.inode;
            frame.mark = m_stack.size();
            m_chain.push_back(std::move(frame));
            if (m_chain.size() > kOpenDirectories) {
                Frame& far = m_chain[m_chain.size() - 1 - kOpenDirectories];
                if (far.owned) {
                    far.owned.reset();
                    far.dir = nullptr;
                }
            }
            if (!List()) return false;
        }
    }

private:
    // Lists the directory at the end of the chain.
    bool List()
    {
        Frame& frame = m_chain.back();
        if (m_visitor.Enter(*frame.dir, frame.path) == WalkStep::Stop) return false;
        FindData entry;
        SetLastError(err::Success);
        while (frame.dir->Next(entry)) {
            const WalkStep step = m_visitor.Entry(*frame.dir, frame.path, entry);
            if (step == WalkStep::Stop) return false;
            if (step == WalkStep::Descend) m_stack.push_back({ entry, frame.path + entry.name + "\\" });
        }
        if (GetLastError() != err::Success && m_visitor.CannotList(frame.path) == WalkStep::Stop) return false;
        return true;
    }

    // The open handle of the chain's directory at index, reopened through ".." from the one below it when
    // it was closed. Null when that is no longer the directory the walk came down through.
    DirHandle* Open(size_t index)
    {
        Frame& frame = m_chain[index];
        if (frame.dir) return frame.dir;
        DirHandle* below = Open(index + 1);
        if (!below) return nullptr;
        frame.owned = below->OpenParent(frame.identity);
        frame.dir = frame.owned.get();
        if (!frame.dir) m_visitor.CannotList(frame.path);
        return frame.dir;
    }

    TreeVisitor& m_visitor;
    std::vector<Frame> m_chain;
    std::vector<Pending> m_stack;
};

} // namespace

bool WalkTree(DirHandle& root, const std::string& rootPath, TreeVisitor& visitor)
{
    Walk walk(visitor);
    return walk.Run(root, rootPath);
}

void SetWalkHookForTesting(std::function<void(const std::string& path)> hook)
{
    walkHook() = std::move(hook);
}

} // namespace zelo
