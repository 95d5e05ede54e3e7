#include "NameGenerator.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>

namespace orva::bench
{
namespace
{
// SplitMix64: a fixed sequence for a fixed seed on every platform.
class Mixer
{
public:
    explicit Mixer(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform enough in [0, bound) for bounds far below 2^32.
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>((Next() >> 32) % bound); }
    bool Percent(unsigned percent) { return Below(100) < percent; }
    template <typename T, std::size_t N> const T& Pick(const std::array<T, N>& from)
    {
        return from[Below(N)];
    }

private:
    std::uint64_t m_state;
};

constexpr std::array<std::string_view, 48> kAsciiWords{
    "report",  "backup",  "project", "data",    "notes",  "invoice",      "photo",   "music",
    "video",   "draft",   "final",   "summary", "budget", "config",       "setup",   "readme",
    "archive", "image",   "scan",    "log",     "test",   "build",        "source",  "release",
    "client",  "server",  "design",  "sketch",  "letter", "contract",     "meeting", "travel",
    "family",  "holiday", "school",  "thesis",  "slides", "presentation", "export",  "import",
    "Report",  "Backup",  "Project", "Data",    "Notes",  "Invoice",      "Photo",   "Music"};
// Each word in one spelling only, so two names never differ by the case of a non-ASCII
// letter (NTFS would take them for one name; the uniqueness check folds ASCII only).
constexpr std::array<std::string_view, 24> kAccentedWords{
    "résumé", "café",     "naïve",   "Größe",       "Übersicht", "Straße", "déjà", "façade",
    "crème",  "señor",    "año",     "piñata",      "fiancée",   "élève",  "Köln", "Zürich",
    "São",    "Ångström", "Øresund", "smörgåsbord", "Ελλάδα",    "Ärger",  "über", "Москва"};
constexpr std::array<std::string_view, 32> kChineseWords{
    "文件", "报告", "项目", "数据", "备份", "照片", "音乐", "视频", "文档", "会议", "记录",
    "财务", "合同", "设计", "测试", "系统", "用户", "配置", "日志", "图片", "新建", "资料",
    "工作", "计划", "总结", "年度", "客户", "发票", "笔记", "草稿", "最终", "版本"};
constexpr std::array<std::string_view, 20> kExtensions{
    ".txt", ".pdf", ".jpg",  ".png", ".docx", ".xlsx", ".cpp", ".h",   ".mp3",  ".mp4",
    ".log", ".dat", ".json", ".xml", ".html", ".zip",  ".md",  ".csv", ".pptx", ".ini"};
constexpr std::array<std::string_view, 4> kSeparators{"_", "-", " ", ""};

constexpr std::size_t kMaxNameCharacters = 24;
constexpr std::size_t kMaxFolderDepth = 6;

std::size_t CountCharacters(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The longest prefix of `text` with at most `characters` characters.
std::string_view CutToCharacters(std::string_view text, std::size_t characters)
{
    std::size_t seen = 0;
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == characters)
            return text.substr(0, at);
    }
    return text;
}

std::string_view WordOfKind(Mixer& mixer, unsigned kind)
{
    if (kind == 1 && mixer.Percent(60))
        return mixer.Pick(kAccentedWords);
    if (kind == 2 && mixer.Percent(80))
        return mixer.Pick(kChineseWords);
    return mixer.Pick(kAsciiWords);
}

// A stem of one to three words of one kind (0 ASCII, 1 accented, 2 Chinese), sometimes
// with a number.
std::string MakeStem(Mixer& mixer)
{
    const std::size_t draw = mixer.Below(4);
    const unsigned kind = draw < 2 ? 0 : static_cast<unsigned>(draw - 1);
    const std::string_view separator = kind == 2 && mixer.Percent(50) ? "" : mixer.Pick(kSeparators);
    std::string stem{WordOfKind(mixer, kind)};
    const std::size_t words = 1 + mixer.Below(3);
    for (std::size_t i = 1; i < words; ++i)
    {
        stem += separator;
        stem += WordOfKind(mixer, kind);
    }
    if (mixer.Percent(60))
        stem += std::string(separator) + std::to_string(2005 + mixer.Below(20));
    return stem;
}

// A name unique in its folder ignoring ASCII case: `stem` (cut to fit) plus `extension`,
// with "~N" after the stem when the folder has the name already.
std::string UniqueName(std::string stem, std::string_view extension, std::uint32_t folder,
                       std::unordered_set<std::string>& taken)
{
    for (unsigned attempt = 1;; ++attempt)
    {
        std::string suffix;
        if (attempt > 1)
            suffix.append(1, '~').append(std::to_string(attempt));
        const std::size_t room = kMaxNameCharacters - CountCharacters(extension) - suffix.size();
        std::string name = std::string(CutToCharacters(stem, room));
        // A cut may leave a trailing space, which Windows programs trip over.
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        name += suffix;
        name += extension;
        std::string key = std::to_string(folder) + '/' + name;
        std::transform(key.begin(), key.end(), key.begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
        if (taken.insert(std::move(key)).second)
            return name;
    }
}
} // namespace

const std::vector<BenchKeyword>& BenchKeywords()
{
    // A function's static: micro-benchmarks register one benchmark per keyword while
    // static objects are still being constructed.
    static const std::vector<BenchKeyword> keywords{
        {"ASCII, 1 character", "e"},
        {"ASCII, 2 characters", "RE"},
        {"ASCII, 3 characters", "doc"},
        {"ASCII, 6 characters", "backup"},
        {"ASCII, 12 characters", "presentation"},
        {"accented, 1 character", "é"},
        {"accented, 6 characters", "RÉSUMÉ"},
        {"Chinese, 1 character", "报"},
        {"Chinese, 2 characters", "项目"},
        {"absent", "qzxjv"},
        {"empty (all entries)", ""},
    };
    return keywords;
}

std::vector<GeneratedEntry> GenerateTree(std::size_t count)
{
    Mixer mixer(0x0A5EED00ull + count);
    const std::size_t folders = count * 8 / 100;
    std::vector<GeneratedEntry> entries;
    entries.reserve(count);
    std::unordered_set<std::string> taken;
    taken.reserve(count);
    // Folder i of the tree is entries[i]; its depth decides whether it may take children.
    std::vector<std::uint32_t> parents; // folders that may hold subfolders, 0-based + 1 (0 = root)
    parents.push_back(0);
    std::vector<std::size_t> depth;
    for (std::size_t i = 0; i < folders; ++i)
    {
        const std::uint32_t parent = parents[mixer.Below(parents.size())];
        const std::string name = UniqueName(MakeStem(mixer), "", parent, taken);
        const std::size_t level = parent == 0 ? 1 : depth[parent - 1] + 1;
        GeneratedEntry entry;
        entry.path = parent == 0 ? name : entries[parent - 1].path + '/' + name;
        entry.name = name;
        entry.folder = true;
        entry.mtime = 1262304000 + static_cast<std::int64_t>(mixer.Below(441504000));
        entries.push_back(std::move(entry));
        depth.push_back(level);
        if (level < kMaxFolderDepth)
            parents.push_back(static_cast<std::uint32_t>(i + 1));
    }
    for (std::size_t i = folders; i < count; ++i)
    {
        const std::uint32_t parent =
            folders == 0 || mixer.Percent(1) ? 0 : static_cast<std::uint32_t>(1 + mixer.Below(folders));
        const std::string name = UniqueName(MakeStem(mixer), mixer.Pick(kExtensions), parent, taken);
        GeneratedEntry entry;
        entry.path = parent == 0 ? name : entries[parent - 1].path + '/' + name;
        entry.name = name;
        // Sizes from a few bytes to about 100 MB, most of them small.
        entry.size = mixer.Next() >> (37 + mixer.Below(27));
        entry.mtime = 1262304000 + static_cast<std::int64_t>(mixer.Below(441504000));
        entries.push_back(std::move(entry));
    }
    return entries;
}
} // namespace orva::bench
