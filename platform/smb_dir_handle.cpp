// The direct SMB client's directory handles for walks. Names are never reused from a path's text inside a
// walk on Linux; a share has no descriptors, so a walk's handle here keeps its directory's place on the
// share and checks each subdirectory it enters against the identity its listing reported.
#include "platform/smb_filesystem_internal.h"

#include "platform/drive_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace zelo::smbfs {
namespace {

void Fill(const Entry& e, const std::string& linuxName, FindData& out)
{
    out = FindData {};
    out.attributes = AttributesOf(e);
    out.sizeHigh = uint32_t(e.size >> 32);
    out.sizeLow = uint32_t(e.size);
    out.lastAccessTime = TimeOf(e.accessNs);
    out.lastWriteTime = TimeOf(e.writeNs);
    out.creationTime = TimeOf(e.creationNs);
    out.fileId = e.inode;
    AppendDriveName(out.name, linuxName);
}

class SmbDirHandle final : public DirHandle {
public:
    SmbDirHandle(Place place, const Entry& self)
        : m_place(std::move(place))
        , m_identity { self.device, self.inode }
        , m_readOnly(self.dosAttributes & kAttrReadOnly)
    {
    }

    bool Next(FindData& out) override
    {
        const Place here = Here();
        if (!m_listed) {
            const Reply reply = here.On(Op::List, here.Url());
            if (reply.error != 0) return Failed(reply.error);
            auto fields = reply.Fields();
            const uint32_t count = fields.U32();
            smb::Reader entries(fields.Bytes());
            m_entries.clear();
            for (uint32_t i = 0; i < count && entries.Ok(); ++i)
                m_entries.push_back(entries.GetEntry());
            m_listed = true;
            m_next = 0;
        }
        if (m_next >= m_entries.size()) {
            SetLastError(err::Success);
            return false;
        }
        const Entry& e = m_entries[m_next++];
        Fill(e, e.name, out);
        return true;
    }
    bool Rewind() override
    {
        m_listed = false;
        return true;
    }
    bool Lookup(const std::string& name, FindData& out) override
    {
        const Place here = Here();
        if (name.empty() || name.find('\\') != std::string::npos || name.find('/') != std::string::npos || name == "."
            || name == "..")
            return Failed(ENOENT);
        const std::string linuxName = LinuxNameFromDrive(name);
        Entry e;
        if (!here.Stat(here.UrlOf(linuxName), e)) return false;
        Fill(e, linuxName, out);
        return true;
    }
    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override
    {
        const Place here = Here();
        status = ChildOpen::Failed;
        Place child { here.helper, here.share, Join(here.inside, LinuxNameFromDrive(entry.name)) };
        Entry e;
        if (!here.Stat(child.Url(), e)) return nullptr;
        // No longer the directory the listing reported: never entered.
        if (!S_ISDIR(e.mode) || (entry.fileId != 0 && e.inode != entry.fileId)) {
            status = ChildOpen::Changed;
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        status = ChildOpen::Opened;
        return std::make_unique<SmbDirHandle>(std::move(child), e);
    }
    std::unique_ptr<DirHandle> OpenParent(const DirIdentity& expected) override
    {
        const Place here = Here();
        if (here.inside.empty()) {
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        Place parent { here.helper, here.share, ParentOf(here.inside) };
        Entry e;
        if (!parent.Stat(parent.Url(), e)) return nullptr;
        if (expected.inode != 0 && DirIdentity { e.device, e.inode } != expected) {
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        return std::make_unique<SmbDirHandle>(std::move(parent), e);
    }
    DirIdentity Identity() const override { return m_identity; }

    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        const Place here = Here();
        if ((entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint)) return Failed(EACCES);
        const std::string url = here.UrlOf(LinuxNameFromDrive(entry.name));
        if (!allowReadOnly) {
            Entry now;
            if (!here.Stat(url, now)) return false;
            if (now.dosAttributes & kAttrReadOnly) return Failed(EACCES);
        }
        const Reply reply = here.On(Op::Unlink, url);
        return reply.error == 0 || Failed(reply.error);
    }
    bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) override
    {
        const Place here = Here();
        const std::string url = here.UrlOf(LinuxNameFromDrive(entry.name));
        Entry now;
        if (!here.Stat(url, now)) return false;
        if (!S_ISDIR(now.mode)) return Coded(err::NotADirectory);
        // Only the very directory that was walked, not one put in its place.
        if (entry.fileId != 0 && now.inode != entry.fileId) return Coded(err::PathNotFound);
        if (!allowReadOnly && (now.dosAttributes & kAttrReadOnly)) return Failed(EACCES);
        const Reply reply = here.On(Op::Rmdir, url);
        return reply.error == 0 || Failed(reply.error, ErrnoCall::RemoveDirectory);
    }
    bool CreateSubdirectory(const std::string& name) override
    {
        const Place here = Here();
        const Reply reply = here.On(Op::Mkdir, here.UrlOf(LinuxNameFromDrive(name)));
        return reply.error == 0 || Failed(reply.error, ErrnoCall::MakeDirectory);
    }
    // A share keeps no symbolic links.
    bool CopyLinkTo(const FindData&, DirHandle&) override { return Unsupported(); }
    std::unique_ptr<File> OpenForCopy(const FindData& entry) override
    {
        const Place here = Here();
        Place file { here.helper, here.share, Join(here.inside, LinuxNameFromDrive(entry.name)) };
        return OpenAt(std::move(file), O_RDONLY, false);
    }
    std::unique_ptr<File> CreateReplacement(const std::string& name, bool listedFree) override
    {
        // The walk's listing of this folder has just seen the entry (and refused a directory or a ReadOnly
        // file): it is not looked up again here; the commit's look, just before the old file moves aside,
        // decides.
        return MakeReplacement(Here(), LinuxNameFromDrive(name), listedFree, false);
    }
    bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override
    {
        const Place here = Here();
        const Place destination { here.helper, here.share, Join(here.inside, LinuxNameFromDrive(name)) };
        return CommitTo(std::move(file), destination, options, false);
    }
    // A rename on the server within one share (what a backup's earlier versions need), never replacing
    // what target holds, and only while the name still holds the entry listed.
    bool MoveEntryTo(const FindData& entry, DirHandle& target) override
    {
        const auto* to = dynamic_cast<const SmbDirHandle*>(&target);
        if (!to || !(to->m_place.share == m_place.share)) return Coded(err::NotSameDevice);
        const Place here = Here();
        const std::string linuxName = LinuxNameFromDrive(entry.name);
        const std::string from = here.UrlOf(linuxName);
        Entry now;
        if (!here.Stat(from, now)) return false;
        if (entry.fileId != 0 && now.inode != entry.fileId) return Coded(err::PathNotFound);
        Writer request;
        request.U8(uint8_t(Op::Rename)).Bytes(from).Bytes(to->m_place.UrlOf(linuxName));
        const Reply reply = here.Ask(request);
        return reply.error == 0 || Failed(reply.error, ErrnoCall::CreateNoReplace);
    }
    void MarkArchiveOnly(const FindData& entry, File&) override
    {
        if (!(entry.attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem))) return;
        const KeepLastError keep;
        const Place here = Here();
        Writer request;
        request.U8(uint8_t(Op::SetDos)).Bytes(here.UrlOf(LinuxNameFromDrive(entry.name))).U32(kAttrArchive);
        here.Ask(request);
    }
    bool IsReadOnly() override { return m_readOnly; }
    bool LendWrite() override { return false; }
    void TakeBackWrite() override { }
    bool IsSystemRoot() override { return false; }

private:
    // The place with the calling thread's helper: a walk's handles are used from the copy threads too, and
    // a helper that died has a successor for what follows.
    Place Here() const
    {
        auto helper = smb::ThisThreadHelper();
        if (!helper) return m_place;
        helper->EnsureLogin(m_place.share);
        return Place { std::move(helper), m_place.share, m_place.inside };
    }

    Place m_place;
    DirIdentity m_identity;
    bool m_readOnly;
    bool m_listed = false;
    std::vector<Entry> m_entries;
    size_t m_next = 0;
};

} // namespace

std::unique_ptr<DirHandle> OpenDirectoryAt(Place place, const Entry& self)
{
    return std::make_unique<SmbDirHandle>(std::move(place), self);
}

} // namespace zelo::smbfs
