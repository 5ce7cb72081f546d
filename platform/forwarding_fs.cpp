#include "platform/forwarding_fs.h"

namespace zelo {

namespace {

// A rewrite whose open file and replacements are the forwarding file system's wrappers.
class ForwardingRewriteTarget final : public RewriteTarget {
public:
    ForwardingRewriteTarget(std::unique_ptr<RewriteTarget> inner, ForwardingFileSystem& owner)
        : m_inner(std::move(inner))
        , m_content(owner.MakeFile(nullptr, m_inner->Content()))
        , m_owner(owner)
    {
    }

    const Facts& Info() const override { return m_inner->Info(); }
    File& Content() override { return *m_content; }
    std::unique_ptr<File> CreateReplacement() override { return m_owner.WrapFile(m_inner->CreateReplacement()); }
    bool CommitReplacement(std::unique_ptr<File> file) override
    {
        return m_owner.Commit([&] { return m_inner->CommitReplacement(ForwardingFile::Release(std::move(file))); });
    }
    std::unique_ptr<File> CreateKeptCopy() override { return m_owner.WrapFile(m_inner->CreateKeptCopy()); }
    bool KeepCopy(File& copy) override { return m_inner->KeepCopy(ForwardingFile::Inner(copy)); }
    std::string KeptCopyPath() const override { return m_inner->KeptCopyPath(); }
    bool DropKeptCopy() override { return m_inner->DropKeptCopy(); }

private:
    std::unique_ptr<RewriteTarget> m_inner;
    std::unique_ptr<File> m_content;
    ForwardingFileSystem& m_owner;
};

} // namespace

File& ForwardingFile::Inner(File& file)
{
    auto* wrapper = dynamic_cast<ForwardingFile*>(&file);
    return wrapper ? wrapper->m_inner : file;
}

std::unique_ptr<File> ForwardingFile::Release(std::unique_ptr<File> file)
{
    auto* wrapper = dynamic_cast<ForwardingFile*>(file.get());
    return wrapper ? std::move(wrapper->m_owned) : std::move(file);
}

ReplaceOptions ForwardingFile::Unwrapped(const ReplaceOptions& options)
{
    ReplaceOptions inner = options;
    if (inner.source) inner.source = &Inner(*inner.source);
    return inner;
}

ForwardingDirHandle::ForwardingDirHandle(std::unique_ptr<DirHandle> inner, ForwardingFileSystem& owner)
    : m_inner(std::move(inner))
    , m_owner(owner)
{
}

DirHandle& ForwardingDirHandle::Inner(DirHandle& dir)
{
    auto* wrapper = dynamic_cast<ForwardingDirHandle*>(&dir);
    return wrapper ? *wrapper->m_inner : dir;
}

std::unique_ptr<DirHandle> ForwardingDirHandle::OpenChild(const FindData& entry, ChildOpen& status)
{
    return m_owner.WrapDir(m_inner->OpenChild(entry, status));
}

std::unique_ptr<DirHandle> ForwardingDirHandle::OpenParent(const DirIdentity& expected)
{
    return m_owner.WrapDir(m_inner->OpenParent(expected));
}

std::unique_ptr<File> ForwardingDirHandle::OpenForCopy(const FindData& entry)
{
    return m_owner.WrapFile(m_inner->OpenForCopy(entry));
}

std::unique_ptr<File> ForwardingDirHandle::CreateReplacement(const std::string& name, bool listedFree)
{
    return m_owner.WrapFile(m_inner->CreateReplacement(name, listedFree));
}

bool ForwardingDirHandle::CommitReplacement(
    std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options)
{
    return m_owner.Commit([&] {
        return m_inner->CommitReplacement(
            ForwardingFile::Release(std::move(file)), name, ForwardingFile::Unwrapped(options));
    });
}

std::unique_ptr<RewriteTarget> ForwardingFileSystem::OpenForRewrite(const std::string& path)
{
    auto target = m_inner.OpenForRewrite(path);
    if (!target) return nullptr;
    return std::make_unique<ForwardingRewriteTarget>(std::move(target), *this);
}

std::unique_ptr<File> ForwardingFileSystem::WrapFile(std::unique_ptr<File> file)
{
    if (!file) return nullptr;
    File& inner = *file;
    return MakeFile(std::move(file), inner);
}

std::unique_ptr<DirHandle> ForwardingFileSystem::WrapDir(std::unique_ptr<DirHandle> dir)
{
    if (!dir) return nullptr;
    return MakeDir(std::move(dir));
}

} // namespace zelo
