#include "ImageBuilder.h"

#include "Ntfs3g.h"
#include "PartitionTable.h"
#include "platform/TextConversion.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>

namespace orva::mkimage
{
namespace
{
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000; // 1970-01-01 in 100 ns since 1601
constexpr std::int64_t kUsnStep = 0x60;                           // one journal record per entry
constexpr std::uint64_t kJournalMaximumSize = 32 * kMiB;
constexpr std::uint64_t kJournalAllocationDelta = 8 * kMiB;
constexpr std::size_t kMaxOpenFolders = 512;
constexpr std::uint16_t kStandardInformationV3Size = 72;

std::int64_t NowUnixSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

sle64 NtfsTime(std::int64_t unixSeconds)
{
    return static_cast<sle64>(unixSeconds * 10000000 + kUnixEpochAsFileTime);
}

std::string ParentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LeafOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entries in creation order, each folder's missing ancestors inserted before it.
bool Plan(const std::vector<ImageEntry>& entries, std::vector<ImageEntry>* plan, std::string* error)
{
    std::unordered_map<std::string, std::size_t> seen;
    for (const ImageEntry& entry : entries)
    {
        if (std::string problem = CheckEntryPath(entry.path); !problem.empty())
        {
            *error = entry.path + ": " + problem;
            return false;
        }
        std::vector<std::string> missing;
        for (std::string up = ParentOf(entry.path); !up.empty() && !seen.count(up); up = ParentOf(up))
            missing.push_back(up);
        for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        {
            seen.emplace(*it, plan->size());
            ImageEntry folder;
            folder.path = *it;
            folder.directory = true;
            plan->push_back(folder);
        }
        if (const auto found = seen.find(entry.path); found != seen.end())
        {
            ImageEntry& earlier = (*plan)[found->second];
            if (!earlier.directory || !entry.directory)
            {
                *error = entry.path + ": listed twice";
                return false;
            }
            // A folder first made as an ancestor, listed later with its own time or USN.
            earlier.mtime = entry.mtime ? entry.mtime : earlier.mtime;
            earlier.usn = entry.usn ? entry.usn : earlier.usn;
            continue;
        }
        if (const auto parent = seen.find(ParentOf(entry.path));
            parent != seen.end() && !(*plan)[parent->second].directory)
        {
            *error = entry.path + ": " + ParentOf(entry.path) + " is a file, not a folder";
            return false;
        }
        seen.emplace(entry.path, plan->size());
        plan->push_back(entry);
    }
    return true;
}

std::string FindProgram(const std::string& name)
{
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin";
    std::istringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');)
    {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Runs `args` (args[0] the program's path) and waits for it: its exit code, or -1 when
// it could not be run or did not exit. Its standard output and error go to `output`.
int RunCapturing(std::vector<std::string> args, std::string* output)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;)
    {
        if (got > 0)
            output->append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Runs mkntfs on the file `fsPath`; its output is shown only when it fails.
bool RunMkntfs(const std::string& fsPath, const std::string& label, std::uint64_t hiddenSectors,
               std::string* error)
{
    const std::string mkntfs = FindProgram("mkntfs");
    if (mkntfs.empty())
    {
        *error = "mkntfs not found: install the ntfs-3g package";
        return false;
    }
    std::vector<std::string> args = {
        mkntfs, "-F", "-Q", "-q", "-s", "512", "-p", std::to_string(hiddenSectors), "-H", "255", "-S", "63"};
    if (!label.empty())
    {
        args.push_back("-L");
        args.push_back(label);
    }
    args.push_back(fsPath);
    std::string messages;
    if (RunCapturing(std::move(args), &messages) != 0)
    {
        *error = "mkntfs failed" + (messages.empty() ? std::string() : ":\n" + messages);
        return false;
    }
    return true;
}

// Writes the serial number into the boot sector and its backup in the last sector.
bool SetSerialNumber(const std::string& fsPath, std::uint64_t size, std::uint64_t serial, std::string* error)
{
    constexpr off_t kSerialOffset = 0x48;
    const int fd = ::open(fsPath.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok =
        fd >= 0 && ::pwrite(fd, &serial, sizeof serial, kSerialOffset) == sizeof serial &&
        ::pwrite(fd, &serial, sizeof serial, static_cast<off_t>(size - 512) + kSerialOffset) == sizeof serial;
    if (!ok)
        *error = fsPath + ": " + std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Nothing but a regular file is ever replaced (never a device given by mistake).
bool IsRegularOrAbsent(const std::string& path, std::string* error)
{
    struct stat status = {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
    {
        *error = path + ": exists and is not a regular file";
        return false;
    }
    return true;
}

bool CreateSizedFile(const std::string& path, std::uint64_t size, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0)
    {
        *error = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// libntfs-3g work on the mounted file system. Folders are found by path in `folders`
// and kept open (up to kMaxOpenFolders) while entries are added to them.
class FileSystemWriter
{
public:
    explicit FileSystemWriter(ntfs_volume* volume) : m_volume(volume) { m_folders.emplace("", FILE_root); }
    ~FileSystemWriter() { CloseFolders(); }

    bool Create(const ImageEntry& entry, std::int64_t defaultTime, std::string* error);
    bool SetFolderTime(const std::string& path, std::int64_t unixSeconds, std::string* error);
    bool WriteJournal(std::uint64_t journalId, std::int64_t nextUsn, std::string* error);
    void CloseFolders();

private:
    ntfs_inode* OpenFolder(MFT_REF reference);

    ntfs_volume* m_volume;
    std::unordered_map<std::string, MFT_REF> m_folders;
    std::unordered_map<MFT_REF, ntfs_inode*> m_open;
};

std::string Failure(const std::string& what, const std::string& path)
{
    return "cannot " + what + " " + (path.empty() ? std::string("/") : path) + ": " + std::strerror(errno);
}

void SetTimes(ntfs_inode* inode, std::int64_t unixSeconds)
{
    const sle64 time = NtfsTime(unixSeconds);
    inode->creation_time = time;
    inode->last_data_change_time = time;
    inode->last_mft_change_time = time;
    inode->last_access_time = time;
    NInoFileNameSetDirty(inode); // the copy of the times in the folder's index entry
    ntfs_inode_mark_dirty(inode);
}

// libntfs-3g writes the short (NTFS 1.2) $STANDARD_INFORMATION, which has no USN: it is
// grown to the NTFS 3 layout (the new fields zero) and the inode told to keep the NTFS 3
// fields, the USN among them.
bool SetUsn(ntfs_inode* inode, std::int64_t usn)
{
    ntfs_attr_search_ctx* search = ntfs_attr_get_search_ctx(inode, nullptr);
    if (search == nullptr)
        return false;
    bool done = false;
    if (ntfs_attr_lookup(AT_STANDARD_INFORMATION, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, search) ==
            0 &&
        !search->attr->non_resident)
    {
        ATTR_RECORD* attr = search->attr;
        const u32 oldLength = attr->value_length;
        if (oldLength >= kStandardInformationV3Size ||
            ntfs_resident_attr_value_resize(search->mrec, attr, kStandardInformationV3Size) == 0)
        {
            auto* value = reinterpret_cast<u8*>(attr) + attr->value_offset;
            if (oldLength < kStandardInformationV3Size)
                std::memset(value + oldLength, 0, kStandardInformationV3Size - oldLength);
            // The inode's copy is what is written back when it is closed.
            inode->usn = static_cast<le64>(usn);
            set_nino_flag(inode, v3_Extensions);
            ntfs_inode_mark_dirty(inode);
            done = true;
        }
    }
    ntfs_attr_put_search_ctx(search);
    return done;
}

// The UTF-16 form of a name that CheckEntryPath accepted.
std::u16string NtfsName(const std::string& name)
{
    std::u16string units(name.size(), u'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                           units.data(), static_cast<int>(units.size()));
    units.resize(static_cast<std::size_t>(std::max(length, 0)));
    return units;
}

ntfs_inode* FileSystemWriter::OpenFolder(MFT_REF reference)
{
    if (const auto found = m_open.find(reference); found != m_open.end())
        return found->second;
    if (m_open.size() >= kMaxOpenFolders)
        CloseFolders();
    ntfs_inode* folder = ntfs_inode_open(m_volume, reference);
    if (folder != nullptr)
        m_open.emplace(reference, folder);
    return folder;
}

void FileSystemWriter::CloseFolders()
{
    for (const auto& [reference, folder] : m_open)
        ntfs_inode_close(folder);
    m_open.clear();
}

bool FileSystemWriter::Create(const ImageEntry& entry, std::int64_t defaultTime, std::string* error)
{
    ntfs_inode* folder = OpenFolder(m_folders.at(ParentOf(entry.path)));
    std::u16string name = NtfsName(LeafOf(entry.path));
    ntfs_inode* inode = folder == nullptr || name.empty()
                            ? nullptr
                            : ntfs_create(folder, 0, reinterpret_cast<ntfschar*>(name.data()),
                                          static_cast<u8>(name.size()), entry.directory ? S_IFDIR : S_IFREG);
    if (inode == nullptr)
    {
        *error = Failure("create", entry.path);
        return false;
    }
    bool ok = true;
    if (!entry.directory && entry.size > 0)
    {
        ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
        ok = data != nullptr && ntfs_attr_truncate(data, static_cast<s64>(entry.size)) == 0;
        if (data != nullptr)
            ntfs_attr_close(data);
    }
    if (ok && !entry.directory)
        SetTimes(inode, entry.mtime.value_or(defaultTime));
    if (ok && entry.usn)
        ok = SetUsn(inode, *entry.usn);
    if (!ok)
        *error = Failure("write", entry.path);
    if (entry.directory)
    {
        const MFT_REF reference = MK_MREF(inode->mft_no, le16_to_cpu(inode->mrec->sequence_number));
        m_folders.emplace(entry.path, reference);
        if (m_open.size() >= kMaxOpenFolders)
            CloseFolders();
        m_open.emplace(reference, inode);
    }
    else if (ntfs_inode_close_in_dir(inode, folder) != 0 && ok)
    {
        *error = Failure("write", entry.path);
        ok = false;
    }
    return ok;
}

bool FileSystemWriter::SetFolderTime(const std::string& path, std::int64_t unixSeconds, std::string* error)
{
    CloseFolders();
    ntfs_inode* folder = ntfs_inode_open(m_volume, m_folders.at(path));
    if (folder == nullptr)
    {
        *error = Failure("open", path);
        return false;
    }
    SetTimes(folder, unixSeconds);
    if (ntfs_inode_close(folder) != 0)
    {
        *error = Failure("write", path);
        return false;
    }
    return true;
}

// $Extend\$UsnJrnl as Windows keeps it: $Max holds the journal's maximum size,
// allocation delta, identifier and lowest valid USN; $J's size is the next USN. $J is
// sparse: no journal records are written.
bool FileSystemWriter::WriteJournal(std::uint64_t journalId, std::int64_t nextUsn, std::string* error)
{
    CloseFolders();
    static ntfschar journalName[] = {u'$', u'U', u's', u'n', u'J', u'r', u'n', u'l'};
    static ntfschar maxName[] = {u'$', u'M', u'a', u'x'};
    static ntfschar jName[] = {u'$', u'J'};
    ntfs_inode* extend = ntfs_pathname_to_inode(m_volume, nullptr, "$Extend");
    ntfs_inode* journal = extend == nullptr ? nullptr : ntfs_create(extend, 0, journalName, 8, S_IFREG);
    bool ok = journal != nullptr;
    if (ok)
    {
        std::uint64_t max[4] = {kJournalMaximumSize, kJournalAllocationDelta, journalId, 0};
        ok = ntfs_attr_remove(journal, AT_DATA, AT_UNNAMED, 0) == 0 &&
             ntfs_attr_add(journal, AT_DATA, maxName, 4, reinterpret_cast<const u8*>(max), sizeof max) == 0 &&
             ntfs_attr_add(journal, AT_DATA, jName, 2, nullptr, 0) == 0;
        ntfs_attr* j = ok ? ntfs_attr_open(journal, AT_DATA, jName, 2) : nullptr;
        ok = j != nullptr && ntfs_attr_truncate(j, nextUsn) == 0;
        if (j != nullptr)
            ntfs_attr_close(j);
        journal->flags = static_cast<FILE_ATTR_FLAGS>(journal->flags | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM);
        ntfs_inode_mark_dirty(journal);
        ok = ntfs_inode_close_in_dir(journal, extend) == 0 && ok;
    }
    if (!ok)
        *error = Failure("write", "$Extend/$UsnJrnl");
    if (extend != nullptr)
        ntfs_inode_close(extend);
    return ok;
}

// Mounts the fresh file system at `fsPath` and fills it.
bool Populate(const std::string& fsPath, const ImageOptions& options, std::vector<ImageEntry> plan,
              std::string* error)
{
    ntfs_volume* volume = ntfs_mount(fsPath.c_str(), NTFS_MNT_NONE);
    if (volume == nullptr)
    {
        *error = Failure("open the new file system", fsPath);
        return false;
    }
    const std::int64_t now = NowUnixSeconds();
    std::int64_t nextUsn = 0;
    for (ImageEntry& entry : plan)
    {
        if (options.usnJournal && !entry.usn)
            entry.usn = nextUsn + kUsnStep;
        nextUsn = std::max(nextUsn, entry.usn.value_or(0));
    }
    bool ok = true;
    {
        FileSystemWriter writer(volume);
        for (std::size_t i = 0; ok && i < plan.size(); ++i)
            ok = writer.Create(plan[i], now, error);
        for (auto it = plan.rbegin(); ok && it != plan.rend(); ++it)
        {
            if (it->directory && it->mtime)
                ok = writer.SetFolderTime(it->path, *it->mtime, error);
        }
        if (ok && options.usnJournal)
        {
            const std::uint64_t id =
                options.journalId != 0 ? options.journalId : static_cast<std::uint64_t>(NtfsTime(now));
            ok = writer.WriteJournal(id, nextUsn + kUsnStep, error);
        }
    }
    if (ntfs_umount(volume, /*force=*/ntfs_bool(0)) != 0 && ok)
    {
        *error = Failure("finish the file system in", fsPath);
        ok = false;
    }
    return ok;
}

bool WritePartitioned(const std::string& fsPath, const ImageOptions& options, std::uint64_t fsSize,
                      std::string* error)
{
    const bool gpt = options.partition == PartitionStyle::Gpt;
    const std::uint64_t diskSize = DiskImageSize(fsSize, gpt);
    if (!CreateSizedFile(options.output, diskSize, error))
        return false;
    const int source = ::open(fsPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int target = ::open(options.output.c_str(), O_RDWR | O_CLOEXEC);
    bool ok = source >= 0 && target >= 0;
    if (!ok)
        *error = options.output + ": " + std::strerror(errno);
    ok = ok && (gpt ? WriteGpt(target, diskSize, fsSize, error) : WriteMbr(target, fsSize, error)) &&
         CopySparse(source, target, kPartitionOffset, error);
    if (source >= 0)
        ::close(source);
    if (target >= 0)
        ::close(target);
    return ok;
}
} // namespace

std::uint64_t DefaultImageSize(std::size_t entryCount)
{
    // An MFT record (1 KiB) and about 2 KiB of index and bitmap per entry.
    const std::uint64_t size = 32 * kMiB + static_cast<std::uint64_t>(entryCount) * 3 * 1024;
    return (size + kMiB - 1) / kMiB * kMiB;
}

bool BuildImage(const ImageOptions& options, const std::vector<ImageEntry>& entries, std::string* error)
{
    std::vector<ImageEntry> plan;
    if (!Plan(entries, &plan, error))
        return false;
    std::uint64_t size = options.sizeBytes != 0 ? options.sizeBytes : DefaultImageSize(plan.size());
    size = size / 512 * 512; // whole sectors; mkntfs says when it is too small
    const bool partitioned = options.partition != PartitionStyle::None;
    const std::string fsPath = partitioned ? options.output + ".fs-tmp" : options.output;
    const std::uint64_t hiddenSectors = partitioned ? kPartitionOffset / 512 : 0;

    if (!IsRegularOrAbsent(options.output, error) || !IsRegularOrAbsent(fsPath, error))
        return false;
    std::uint64_t serial = options.serialNumber;
    while (serial == 0)
        serial = (static_cast<std::uint64_t>(std::random_device{}()) << 32) | std::random_device{}();
    bool ok =
        CreateSizedFile(fsPath, size, error) && RunMkntfs(fsPath, options.label, hiddenSectors, error) &&
        SetSerialNumber(fsPath, size, serial, error) && Populate(fsPath, options, std::move(plan), error);
    if (partitioned)
    {
        ok = ok && WritePartitioned(fsPath, options, size, error);
        ::unlink(fsPath.c_str());
    }
    if (!ok)
        ::unlink(options.output.c_str());
    return ok;
}
} // namespace orva::mkimage
