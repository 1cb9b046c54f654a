#include "app/IniFile.h"

#include "app/FileLock.h"
#include "app/FileStamp.h"
#include "app/TemporaryFiles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

std::uint64_t HashFolded(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(Fold(c));
        hash *= 0x100000001b3ULL;
    }
    return hash ^ (hash >> 29);
}

// One line of a text: [Start, ContentEnd) without its CR LF (or LF), Next where
// the following line starts.
struct Line {
    std::size_t Start;
    std::size_t ContentEnd;
    std::size_t Next;
};

Line LineAt(std::string_view text, std::size_t pos, std::size_t end) {
    const void* found = std::memchr(text.data() + pos, '\n', end - pos);
    const std::size_t lineEnd =
        found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                         : end;
    std::size_t contentEnd = lineEnd;
    if (contentEnd > pos && text[contentEnd - 1] == '\r') {
        --contentEnd;
    }
    return {pos, contentEnd, found != nullptr ? lineEnd + 1 : end};
}

// "key=value" with a non-empty key; comments (";") and headers ("[") are not
// entries.
bool ParseEntry(std::string_view line, std::string_view& key, std::string_view& value) {
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '[') {
        return false;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return false;
    }
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    return true;
}

// Cuts at kMaxValueLength bytes without splitting a UTF-8 character.
std::string CapValue(std::string_view value) {
    if (value.size() <= IniFile::kMaxValueLength) {
        return std::string(value);
    }
    std::size_t cut = IniFile::kMaxValueLength;
    for (int back = 0;
         back < 3 && cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80; ++back) {
        --cut;
    }
    return std::string(value.substr(0, cut));
}

bool ParseInteger(std::string_view text, std::int32_t& out) {
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.size() > 8) {
            return false;
        }
        std::uint32_t value = 0;
        for (char c : text) {
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (Fold(c) >= 'a' && Fold(c) <= 'f') {
                digit = static_cast<unsigned>(Fold(c) - 'a' + 10);
            } else {
                return false;
            }
            value = value << 4 | digit;
        }
        // Hex text is a 32-bit pattern: "0xFFFFFFFF" is -1.
        out = static_cast<std::int32_t>(value);
        return true;
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t{0x80000000}) {
            return false;
        }
    }
    value = negative ? -value : value;
    if (value > std::int64_t{0x7FFFFFFF}) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

// Why a section name or key cannot be written, or empty when it can.
std::string RefusalOf(std::string_view name, bool isSection) {
    const char* what = isSection ? "section name" : "key";
    if (name.empty()) {
        return std::string(what) + " is empty";
    }
    if (name.front() == '[' || name.front() == ';') {
        return std::string(what) + " starts with '[' or ';'";
    }
    for (char c : name) {
        if (c == ']' || c == '=' || IsControl(c)) {
            return std::string(what) + " holds ']', '=' or a control character";
        }
    }
    return {};
}

// The value as it can be stored: every control character, line breaks above
// all, becomes a blank, so it stays one line.
std::string SanitizeValue(std::string_view value) {
    std::string clean(value);
    for (char& c : clean) {
        if (IsControl(c)) {
            c = ' ';
        }
    }
    return std::string(Trim(clean));
}

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether the file last changed (contents or metadata) at least a second ago.
// Only such a file is trusted for a moment without a new look: a file that
// changed just now is likely to change again at once, and may even change
// within one timestamp tick without its stamp showing it.
bool Settled(const struct stat& st) {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return false;
    }
    const timespec& changed = st.st_ctim.tv_sec >= st.st_mtim.tv_sec ? st.st_ctim : st.st_mtim;
    return now.tv_sec - changed.tv_sec >= 2 ||
           (now.tv_sec - changed.tv_sec == 1 && now.tv_nsec >= changed.tv_nsec);
}

}  // namespace

// One parsed version of a file: its bytes and an index of its sections. Never
// changed once shared.
struct IniFile::Document {
    struct Section {
        std::uint32_t NameOffset;
        std::uint32_t NameLength;
        std::uint32_t Start;      // the header line
        std::uint32_t BodyStart;  // the line after the header
        std::uint32_t End;        // the next header, or the end of the text
        bool HasKey;
        bool Visible;  // the first section of its name
    };

    std::string Text;
    std::vector<Section> Sections;
    // Open addressing over the folded names of the visible sections. A slot
    // carries what a lookup needs (hash, name position, whether the section has
    // an entry), so deciding whether a section exists touches one slot and the
    // name in the text, not the section record.
    struct Slot {
        std::uint32_t Hash;
        std::uint32_t Index;  // section index + 1; 0 for a free slot
        std::uint32_t NameOffset;
        std::uint32_t NameLength : 31;
        std::uint32_t HasKey : 1;
    };
    std::vector<Slot> Table;
    std::size_t TableCount = 0;

    std::string_view Name(const Section& section) const {
        return std::string_view(Text).substr(section.NameOffset, section.NameLength);
    }

    const Slot* FindSlot(std::string_view name) const {
        if (Table.empty()) {
            return nullptr;
        }
        const std::uint64_t hash = HashFolded(name);
        const auto hash32 = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = Table.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = Table[i];
            if (slot.Index == 0) {
                return nullptr;
            }
            if (slot.Hash == hash32 && slot.NameLength == name.size() &&
                EqualsFolded(std::string_view(Text).substr(slot.NameOffset, slot.NameLength),
                             name)) {
                return &slot;
            }
        }
    }

    int FindIndex(std::string_view name) const {
        const Slot* slot = FindSlot(name);
        return slot != nullptr ? static_cast<int>(slot->Index - 1) : -1;
    }

    // False when a section of that name is already indexed.
    bool Index(std::uint32_t index) {
        if ((TableCount + 1) * 2 > Table.size()) {
            Rehash(std::max<std::size_t>(16, Table.size() * 2));
        }
        const Section& section = Sections[index];
        const std::string_view name = Name(section);
        const std::uint64_t hash = HashFolded(name);
        const auto hash32 = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = Table.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = Table[i];
            if (slot.Index == 0) {
                slot = {hash32, index + 1, section.NameOffset, section.NameLength,
                        section.HasKey ? 1u : 0u};
                ++TableCount;
                return true;
            }
            if (slot.Hash == hash32 && slot.NameLength == name.size() &&
                EqualsFolded(std::string_view(Text).substr(slot.NameOffset, slot.NameLength),
                             name)) {
                return false;
            }
        }
    }

    void Place(const Slot& slot) {
        const std::size_t mask = Table.size() - 1;
        std::size_t i =
            HashFolded(std::string_view(Text).substr(slot.NameOffset, slot.NameLength)) & mask;
        while (Table[i].Index != 0) {
            i = (i + 1) & mask;
        }
        Table[i] = slot;
    }

    void Rehash(std::size_t size) {
        std::vector<Slot> old = std::move(Table);
        Table.assign(size, Slot{0, 0, 0, 0, 0});
        for (const Slot& slot : old) {
            if (slot.Index != 0) {
                Place(slot);
            }
        }
    }

    // After the bytes of section `index` changed length by delta: moves what
    // follows it, and records whether it still has an entry.
    void Shift(std::uint32_t index, std::uint32_t delta, bool hasKey) {
        for (std::size_t i = index + 1; i < Sections.size(); ++i) {
            // Unsigned wrap-around adds a negative difference correctly.
            Section& s = Sections[i];
            s.NameOffset += delta;
            s.Start += delta;
            s.BodyStart += delta;
            s.End += delta;
        }
        Sections[index].End += delta;
        Sections[index].HasKey = hasKey;
        for (Slot& slot : Table) {
            if (slot.Index > index + 1) {
                slot.NameOffset += delta;
            } else if (slot.Index == index + 1) {
                slot.HasKey = hasKey ? 1u : 0u;
            }
        }
    }

    bool FindValue(std::string_view section, std::string_view key, std::string_view& value) const {
        const int index = FindIndex(section);
        if (index < 0) {
            return false;
        }
        return FindValueIn(Sections[static_cast<std::size_t>(index)], key, value);
    }

    bool FindValueIn(const Section& s, std::string_view key, std::string_view& value) const {
        const std::string_view text(Text);
        for (std::size_t pos = s.BodyStart; pos < s.End;) {
            const Line line = LineAt(text, pos, s.End);
            std::string_view k;
            std::string_view v;
            if (ParseEntry(text.substr(line.Start, line.ContentEnd - line.Start), k, v) &&
                EqualsFolded(k, key)) {
                value = v;
                return true;
            }
            pos = line.Next;
        }
        return false;
    }

    std::size_t Bytes() const {
        return sizeof(Document) + Text.capacity() + Sections.capacity() * sizeof(Section) +
               Table.capacity() * sizeof(Slot);
    }

    static bool BodyHasKey(std::string_view text, std::size_t begin, std::size_t end) {
        for (std::size_t pos = begin; pos < end;) {
            const Line line = LineAt(text, pos, end);
            std::string_view k;
            std::string_view v;
            if (ParseEntry(text.substr(line.Start, line.ContentEnd - line.Start), k, v)) {
                return true;
            }
            pos = line.Next;
        }
        return false;
    }

    static std::shared_ptr<Document> Parse(std::string text) {
        auto doc = std::make_shared<Document>();
        doc->Text = std::move(text);
        const std::string_view all(doc->Text);
        const std::size_t size = all.size();
        std::size_t pos = all.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
        Section* current = nullptr;
        while (pos < size) {
            const Line line = LineAt(all, pos, size);
            std::size_t first = line.Start;
            while (first < line.ContentEnd && IsBlank(all[first])) {
                ++first;
            }
            if (first < line.ContentEnd && all[first] == '[') {
                // Any line that starts with "[" opens a section, even one
                // without a name or "]", so entries after it never fall into
                // the section before it.
                const void* close =
                    std::memchr(all.data() + first + 1, ']', line.ContentEnd - first - 1);
                const std::size_t nameEnd =
                    close != nullptr
                        ? static_cast<std::size_t>(static_cast<const char*>(close) - all.data())
                        : line.ContentEnd;
                const std::string_view name = Trim(all.substr(first + 1, nameEnd - first - 1));
                if (current != nullptr) {
                    current->End = static_cast<std::uint32_t>(line.Start);
                }
                doc->Sections.push_back({static_cast<std::uint32_t>(name.data() - all.data()),
                                         static_cast<std::uint32_t>(name.size()),
                                         static_cast<std::uint32_t>(line.Start),
                                         static_cast<std::uint32_t>(line.Next),
                                         static_cast<std::uint32_t>(size), false, false});
                current = &doc->Sections.back();
            } else if (current != nullptr && !current->HasKey && first < line.ContentEnd &&
                       all[first] != ';') {
                // Only whether the section has an entry matters here; the
                // entries themselves are looked at when read.
                const void* equals = std::memchr(all.data() + first, '=', line.ContentEnd - first);
                current->HasKey = equals != nullptr && equals != all.data() + first;
            }
            pos = line.Next;
        }
        std::size_t slots = 16;
        while (slots < doc->Sections.size() * 2 + 2) {
            slots *= 2;
        }
        doc->Rehash(slots);
        for (std::size_t i = 0; i < doc->Sections.size(); ++i) {
            Section& section = doc->Sections[i];
            section.Visible = section.NameLength > 0 && doc->Index(static_cast<std::uint32_t>(i));
        }
        return doc;
    }
};

struct IniFile::Loaded {
    std::shared_ptr<const Document> Doc;  // null when the file does not exist
    std::optional<FileStamp> Stamp;
    mode_t Mode = 0;
};

// What a write does inside one section.
struct IniFile::SectionEdit {
    std::vector<std::pair<std::string, std::string>> Set;
    std::string Delete;  // key to delete when Set is empty
};

struct IniFile::Cache::Impl {
    struct Key {
        dev_t Device;
        ino_t Inode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.Inode) *
                                                  0x9E3779B97F4A7C15ULL ^
                                              static_cast<std::uint64_t>(key.Device));
        }
    };
    struct Entry {
        FileStamp Stamp;
        std::shared_ptr<const Document> Doc;
        std::size_t Bytes;
        std::uint64_t LastUse;
    };

    Impl(std::size_t budget, std::chrono::nanoseconds recheckAfter)
        : Budget(budget), RecheckAfter(recheckAfter) {}

    // What a read of a path found a moment ago: the parse (null for a missing
    // file) and when the file was last looked at.
    struct Recent {
        std::shared_ptr<const Document> Doc;
        std::chrono::steady_clock::time_point Checked;
        std::uint64_t Generation;
    };
    static constexpr std::size_t kMaxRecent = 1024;

    std::uint64_t CurrentGeneration() {
        std::lock_guard lock(Mutex);
        return Generation;
    }

    // True, with doc set, when path was looked at less than RecheckAfter ago
    // and nothing was stored or forgotten in this cache since.
    bool FindRecent(const std::string& path, std::shared_ptr<const Document>& doc) {
        if (RecheckAfter.count() <= 0) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(Mutex);
        const auto it = RecentReads.find(path);
        if (it == RecentReads.end() || it->second.Generation != Generation ||
            now - it->second.Checked >= RecheckAfter) {
            return false;
        }
        doc = it->second.Doc;
        return true;
    }

    // Remembers what a read found, unless the cache changed since the read
    // began (generation), so a parse older than a write is never remembered.
    void RememberRecent(const std::string& path, std::shared_ptr<const Document> doc,
                        std::uint64_t generation) {
        if (RecheckAfter.count() <= 0) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(Mutex);
        if (generation != Generation) {
            return;
        }
        if (RecentReads.size() >= kMaxRecent) {
            RecentReads.clear();
        }
        RecentReads[path] = Recent{std::move(doc), now, generation};
    }

    // Any change of the parses makes every recent read look at its file again;
    // the recent reads also let go of parses the budget evicts.
    void ChangedLocked() {
        ++Generation;
        RecentReads.clear();
    }

    std::shared_ptr<const Document> Find(const FileStamp& stamp) {
        std::lock_guard lock(Mutex);
        const auto it = Entries.find({stamp.Device, stamp.Inode});
        if (it == Entries.end() || !(it->second.Stamp == stamp)) {
            return nullptr;
        }
        it->second.LastUse = ++Tick;
        return it->second.Doc;
    }

    void Store(const FileStamp& stamp, std::shared_ptr<const Document> doc) {
        std::lock_guard lock(Mutex);
        ChangedLocked();
        const Key key{stamp.Device, stamp.Inode};
        EraseLocked(key);
        const std::size_t bytes = doc->Bytes();
        if (bytes > Budget) {
            return;
        }
        Entries.emplace(key, Entry{stamp, std::move(doc), bytes, ++Tick});
        Bytes += bytes;
        while (Bytes > Budget) {
            auto oldest = Entries.end();
            for (auto it = Entries.begin(); it != Entries.end(); ++it) {
                if (!(it->first == key) &&
                    (oldest == Entries.end() || it->second.LastUse < oldest->second.LastUse)) {
                    oldest = it;
                }
            }
            if (oldest == Entries.end()) {
                break;
            }
            Bytes -= oldest->second.Bytes;
            Entries.erase(oldest);
        }
    }

    void Forget(const FileStamp& stamp) {
        std::lock_guard lock(Mutex);
        ChangedLocked();
        EraseLocked({stamp.Device, stamp.Inode});
    }

    void EraseLocked(const Key& key) {
        const auto it = Entries.find(key);
        if (it != Entries.end()) {
            Bytes -= it->second.Bytes;
            Entries.erase(it);
        }
    }

    std::mutex Mutex;
    std::unordered_map<std::string, Recent> RecentReads;
    std::uint64_t Generation = 0;
    // Makes the read-modify-replace of writes in this process one at a time,
    // so two writers never lose each other's entries.
    std::mutex WriteMutex;
    std::unordered_map<Key, Entry, KeyHash> Entries;
    std::size_t Budget;
    std::chrono::nanoseconds RecheckAfter;
    std::size_t Bytes = 0;
    std::uint64_t Tick = 0;
};

IniFile::Cache::Cache(std::size_t byteBudget, std::chrono::nanoseconds recheckAfter)
    : m_impl(std::make_unique<Impl>(byteBudget, recheckAfter)) {}

IniFile::Cache::~Cache() = default;

std::shared_ptr<IniFile::Cache> IniFile::Cache::Process() {
    static const std::shared_ptr<Cache> process = std::make_shared<Cache>();
    return process;
}

void IniFile::Cache::Clear() {
    std::lock_guard lock(m_impl->Mutex);
    m_impl->ChangedLocked();
    m_impl->Entries.clear();
    m_impl->Bytes = 0;
}

std::size_t IniFile::Cache::Bytes() const {
    std::lock_guard lock(m_impl->Mutex);
    return m_impl->Bytes;
}

IniFile::IniFile(std::string path) : IniFile(std::move(path), DateFormat::FromLocale()) {}

IniFile::IniFile(std::string path, DateFormat format)
    : IniFile(std::move(path), std::move(format), Cache::Process()) {}

IniFile::IniFile(std::string path, DateFormat format, std::shared_ptr<Cache> cache)
    : m_path(std::move(path)),
      // Written in ISO 8601 whatever the locale; format is the regional form
      // that files of earlier versions may still hold.
      m_format(DateFormat::Stored(format)),
      m_cache(cache != nullptr ? std::move(cache) : Cache::Process()) {}

IniFile::~IniFile() = default;

namespace {

// Reads the whole file behind fd; false on a read error or when it grows past
// the size limit.
bool ReadAll(int fd, std::size_t expected, std::string& text) {
    text.resize(expected + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) {
            if (text.size() > IniFile::kMaxFileSize) {
                return false;
            }
            text.resize(text.size() * 2);
        }
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    return filled <= IniFile::kMaxFileSize;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

}  // namespace

std::shared_ptr<const IniFile::Document> IniFile::Load(Loaded* loaded, std::string* error,
                                                       bool fresh) const {
    const auto unreadable = [&](const std::string& why) -> std::shared_ptr<const Document> {
        if (error != nullptr) {
            *error = "cannot read " + m_path + ": " + why;
        }
        return nullptr;
    };
    Cache::Impl& cache = *m_cache->m_impl;
    // A settled file looked at a moment ago is not looked at again: a stat
    // costs more than the lookup it guards. Writes (fresh) always look.
    if (!fresh && loaded == nullptr) {
        std::shared_ptr<const Document> recent;
        if (cache.FindRecent(m_path, recent)) {
            return recent;
        }
    }
    const std::uint64_t generation = cache.CurrentGeneration();
    // One stat per read otherwise: an unchanged file is served from the cache.
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        // Only a file that is not there is empty; anything else that stops
        // the read is an error the caller must not take for an empty file.
        if (errno == ENOENT) {
            return nullptr;
        }
        return unreadable(ErrorText(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return unreadable("not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
        return unreadable("larger than " + std::to_string(kMaxFileSize) + " bytes");
    }
    std::shared_ptr<const Document> doc = fresh ? nullptr : cache.Find(FileStamp::Of(st));
    if (doc == nullptr) {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            // Replaced by a rename in between cannot make it vanish; removed
            // with its campaign folder can.
            return errno == ENOENT ? nullptr : unreadable(ErrorText(errno));
        }
        std::string text;
        // The stamp is taken from the open file, so it belongs to what is read
        // even if the file was replaced since the stat above.
        errno = 0;
        const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                          ReadAll(fd, static_cast<std::size_t>(st.st_size), text);
        const int readError = errno;
        ::close(fd);
        if (!read) {
            return unreadable(readError != 0 ? ErrorText(readError) : "larger than the size limit");
        }
        if (fresh) {
            // The same bytes as the parse in the cache: no need to parse again.
            std::shared_ptr<const Document> cached = cache.Find(FileStamp::Of(st));
            if (cached != nullptr && cached->Text == text) {
                doc = std::move(cached);
            }
        }
        if (doc == nullptr) {
            doc = Document::Parse(std::move(text));
            cache.Store(FileStamp::Of(st), doc);
        }
    }
    if (loaded != nullptr) {
        loaded->Stamp = FileStamp::Of(st);
        loaded->Mode = st.st_mode;
    } else if (!fresh && Settled(st)) {
        cache.RememberRecent(m_path, doc, generation);
    }
    return doc;
}

IniFile::Snapshot IniFile::ReadSnapshot() const {
    std::string error;
    std::shared_ptr<const Document> doc = Load(nullptr, &error, false);
    return Snapshot(std::move(doc), m_format, std::move(error));
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    return ReadSnapshot().ReadString(section, key, defaultValue);
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    return ReadSnapshot().ReadInteger(section, key, defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

TDateTime IniFile::ReadDateTime(std::string_view section, std::string_view key,
                                TDateTime defaultValue) const {
    return ReadSnapshot().ReadDateTime(section, key, defaultValue);
}

TDateTime IniFile::ReadTime(std::string_view section, std::string_view key,
                            TDateTime defaultValue) const {
    return ReadSnapshot().ReadTime(section, key, defaultValue);
}

bool IniFile::SectionExists(std::string_view section) const {
    // The accept decision's question: answered from the parse without making
    // a snapshot of it.
    const std::shared_ptr<const Document> doc = Load(nullptr, nullptr, false);
    const Document::Slot* slot = doc != nullptr ? doc->FindSlot(Trim(section)) : nullptr;
    return slot != nullptr && slot->HasKey != 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    return ReadSnapshot().ValueExists(section, key);
}

std::vector<std::string> IniFile::ReadSections() const {
    return ReadSnapshot().ReadSections();
}

std::vector<std::pair<std::string, std::string>> IniFile::ReadSectionValues(
    std::string_view section) const {
    return ReadSnapshot().ReadSectionValues(section);
}

IniFile::Snapshot::Snapshot(std::shared_ptr<const Document> document, DateFormat format,
                            std::string error)
    : m_document(std::move(document)), m_format(std::move(format)), m_error(std::move(error)) {}

std::string IniFile::Snapshot::ReadString(std::string_view section, std::string_view key,
                                          std::string_view defaultValue) const {
    std::string_view value;
    if (m_document != nullptr && m_document->FindValue(Trim(section), Trim(key), value)) {
        return CapValue(value);
    }
    return std::string(defaultValue);
}

std::int32_t IniFile::Snapshot::ReadInteger(std::string_view section, std::string_view key,
                                            std::int32_t defaultValue) const {
    std::string_view value;
    std::int32_t result = 0;
    if (m_document != nullptr && m_document->FindValue(Trim(section), Trim(key), value) &&
        ParseInteger(CapValue(value), result)) {
        return result;
    }
    return defaultValue;
}

TDateTime IniFile::Snapshot::ReadDateTime(std::string_view section, std::string_view key,
                                          TDateTime defaultValue) const {
    TDateTime result = defaultValue;
    const std::string text = ReadString(section, key, {});
    return m_format.ParseDateTime(text, result) ? result : defaultValue;
}

TDateTime IniFile::Snapshot::ReadTime(std::string_view section, std::string_view key,
                                      TDateTime defaultValue) const {
    TDateTime result = defaultValue;
    const std::string text = ReadString(section, key, {});
    return m_format.ParseTime(text, result) ? result : defaultValue;
}

bool IniFile::Snapshot::SectionExists(std::string_view section) const {
    if (m_document == nullptr) {
        return false;
    }
    const Document::Slot* slot = m_document->FindSlot(Trim(section));
    return slot != nullptr && slot->HasKey != 0;
}

bool IniFile::Snapshot::ValueExists(std::string_view section, std::string_view key) const {
    std::string_view value;
    return m_document != nullptr && m_document->FindValue(Trim(section), Trim(key), value);
}

void IniFile::Snapshot::ForEachSection(const std::function<void(const SectionView&)>& read) const {
    if (m_document == nullptr) {
        return;
    }
    const std::vector<Document::Section>& sections = m_document->Sections;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (sections[i].Visible && sections[i].HasKey) {
            read(SectionView(*m_document, i, m_format));
        }
    }
}

IniFile::SectionView::SectionView(const Document& document, std::size_t index,
                                  const DateFormat& format)
    : m_document(document), m_index(index), m_format(format) {}

std::string_view IniFile::SectionView::Name() const {
    return m_document.Name(m_document.Sections[m_index]);
}

std::string IniFile::SectionView::ReadString(std::string_view key,
                                             std::string_view defaultValue) const {
    std::string_view value;
    if (m_document.FindValueIn(m_document.Sections[m_index], Trim(key), value)) {
        return CapValue(value);
    }
    return std::string(defaultValue);
}

TDateTime IniFile::SectionView::ReadDateTime(std::string_view key, TDateTime defaultValue) const {
    TDateTime result = defaultValue;
    const std::string text = ReadString(key, {});
    return m_format.ParseDateTime(text, result) ? result : defaultValue;
}

std::vector<std::string> IniFile::Snapshot::ReadSections() const {
    std::vector<std::string> names;
    if (m_document == nullptr) {
        return names;
    }
    names.reserve(m_document->TableCount);
    for (const Document::Section& section : m_document->Sections) {
        if (section.Visible && section.HasKey) {
            names.emplace_back(m_document->Name(section));
        }
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> IniFile::Snapshot::ReadSectionValues(
    std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> entries;
    if (m_document == nullptr) {
        return entries;
    }
    const int index = m_document->FindIndex(Trim(section));
    if (index < 0) {
        return entries;
    }
    const Document::Section& s = m_document->Sections[static_cast<std::size_t>(index)];
    const std::string_view text(m_document->Text);
    std::unordered_set<std::string> seen;
    for (std::size_t pos = s.BodyStart; pos < s.End;) {
        const Line line = LineAt(text, pos, s.End);
        std::string_view key;
        std::string_view value;
        if (ParseEntry(text.substr(line.Start, line.ContentEnd - line.Start), key, value)) {
            std::string folded(key);
            for (char& c : folded) {
                c = Fold(c);
            }
            if (seen.insert(std::move(folded)).second) {
                entries.emplace_back(std::string(key), CapValue(value));
            }
        }
        pos = line.Next;
    }
    return entries;
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
    std::vector<std::string> keys;
    for (auto& entry : ReadSectionValues(section)) {
        keys.push_back(std::move(entry.first));
    }
    return keys;
}

Result IniFile::Fail(std::string message) {
    m_lastError = message;
    return Result::Failure(std::move(message));
}

Result IniFile::Succeed() {
    m_lastError.clear();
    return Result::Success();
}

Result IniFile::LoadForWrite(Loaded& loaded) {
    // Called under the file's lock: the bytes are read anew, so a change that
    // another process made a moment ago is part of what is written back. A
    // file that exists but cannot be read must not be replaced by one that
    // holds only the new entry.
    std::string error;
    loaded.Doc = Load(&loaded, &error, true);
    if (!error.empty()) {
        return Fail(std::move(error));
    }
    return Result::Success();
}

std::string IniFile::WriteTarget() const {
    // A file reached through a symbolic link is replaced where it lives, so
    // the link stays a link.
    struct stat link {};
    if (::lstat(m_path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* resolved = ::realpath(m_path.c_str(), nullptr)) {
            std::string target = resolved;
            std::free(resolved);
            return target;
        }
    }
    return m_path;
}

Result IniFile::ApplyToSection(std::string_view sectionName, const SectionEdit& edit) {
    sectionName = Trim(sectionName);
    if (std::string why = RefusalOf(sectionName, true); !why.empty()) {
        return Fail(why);
    }
    std::lock_guard writeLock(m_cache->m_impl->WriteMutex);
    const FileLock fileLock(WriteTarget());
    if (!fileLock.Locked()) {
        return Fail(fileLock.Error());
    }
    Loaded loaded;
    if (Result read = LoadForWrite(loaded); !read) {
        return read;
    }
    static const Document kEmpty;
    const Document& doc = loaded.Doc != nullptr ? *loaded.Doc : kEmpty;
    const int index = doc.FindIndex(sectionName);

    auto next = std::make_shared<Document>();
    if (index < 0) {
        if (edit.Set.empty()) {
            return Succeed();  // nothing to delete
        }
        // A new section goes at the end, after a line break for a last line
        // that had none.
        std::string_view separator;
        if (doc.Text.size() > (doc.Text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0) &&
            doc.Text.back() != '\n') {
            separator = doc.Text.back() == '\r' ? "\n" : kLineEnd;
        }
        std::string added;
        added.append(separator).append("[").append(sectionName).append("]").append(kLineEnd);
        for (const auto& [key, value] : edit.Set) {
            added.append(key).append("=").append(value).append(kLineEnd);
        }
        next->Text.reserve(doc.Text.size() + added.size());
        next->Text.append(doc.Text).append(added);
        next->Sections = doc.Sections;
        next->Table = doc.Table;
        next->TableCount = doc.TableCount;
        if (!next->Sections.empty()) {
            next->Sections.back().End += static_cast<std::uint32_t>(separator.size());
        }
        const auto start = static_cast<std::uint32_t>(doc.Text.size() + separator.size());
        const auto nameLength = static_cast<std::uint32_t>(sectionName.size());
        next->Sections.push_back(
            {start + 1, nameLength, start,
             start + nameLength + 2 + static_cast<std::uint32_t>(kLineEnd.size()),
             static_cast<std::uint32_t>(next->Text.size()), true, true});
        next->Index(static_cast<std::uint32_t>(next->Sections.size() - 1));
        return Commit(loaded, std::move(next));
    }

    const Document::Section& old = doc.Sections[static_cast<std::size_t>(index)];
    std::string body = doc.Text.substr(old.Start, old.End - old.Start);
    const std::size_t bodyStart = old.BodyStart - old.Start;
    bool changed = false;
    if (edit.Set.empty()) {
        for (std::size_t pos = bodyStart; pos < body.size();) {
            const Line line = LineAt(body, pos, body.size());
            std::string_view key;
            std::string_view value;
            if (ParseEntry(std::string_view(body).substr(line.Start, line.ContentEnd - line.Start),
                           key, value) &&
                EqualsFolded(key, edit.Delete)) {
                body.erase(line.Start, line.Next - line.Start);
                changed = true;
                continue;  // the next line now starts at pos
            }
            pos = line.Next;
        }
        if (!changed) {
            return Succeed();
        }
    }
    for (const auto& [newKey, newValue] : edit.Set) {
        std::size_t insertAt = bodyStart;
        bool replaced = false;
        for (std::size_t pos = bodyStart; pos < body.size();) {
            const Line line = LineAt(body, pos, body.size());
            std::string_view key;
            std::string_view value;
            if (ParseEntry(std::string_view(body).substr(line.Start, line.ContentEnd - line.Start),
                           key, value)) {
                if (EqualsFolded(key, newKey)) {
                    body.replace(line.Start, line.ContentEnd - line.Start, newKey + "=" + newValue);
                    replaced = true;
                    break;
                }
                insertAt = line.Next;
            }
            pos = line.Next;
        }
        if (!replaced) {
            std::string added;
            if (insertAt > 0 && body[insertAt - 1] != '\n') {
                added = body[insertAt - 1] == '\r' ? "\n" : std::string(kLineEnd);
            }
            added.append(newKey).append("=").append(newValue).append(kLineEnd);
            body.insert(insertAt, added);
        }
    }

    // Only this section's bytes changed: what follows it moves by the
    // difference, and nothing needs parsing again.
    next->Text.reserve(doc.Text.size() - (old.End - old.Start) + body.size());
    next->Text.append(doc.Text, 0, old.Start).append(body).append(doc.Text, old.End);
    if (next->Text.size() > kMaxFileSize) {
        return Fail(m_path + " would grow past the size limit");
    }
    next->Sections = doc.Sections;
    next->Table = doc.Table;
    next->TableCount = doc.TableCount;
    const auto delta = static_cast<std::uint32_t>(body.size() - (old.End - old.Start));
    next->Shift(static_cast<std::uint32_t>(index), delta,
                Document::BodyHasKey(next->Text, old.BodyStart, old.Start + body.size()));
    return Commit(loaded, std::move(next));
}

Result IniFile::Commit(const Loaded& loaded, std::shared_ptr<Document> next) {
    if (next->Text.size() > kMaxFileSize) {
        return Fail(m_path + " would grow past the size limit");
    }
    const std::string target = WriteTarget();
    const std::size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) {
        return Fail(m_path + " names no file");
    }
    // What an interrupted write of an earlier process left here goes first.
    RemoveStaleTemporaryFiles(FolderOf(target));
    static std::atomic<std::uint64_t> counter{0};
    const std::string temporary = FolderOf(target) + "/." + base + ".tmp-" +
                                  std::to_string(::getpid()) + "-" + std::to_string(++counter);

    // The temporary file gets the old file's permissions; a new file gets
    // what the umask allows.
    const mode_t mode = loaded.Stamp ? (loaded.Mode & 07777) : 0666;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return Fail("cannot create " + temporary + ": " + ErrorText(errno));
    }
    if (loaded.Stamp) {
        (void)::fchmod(fd, mode);
    }
    std::string failure;
    if (!WriteAll(fd, next->Text)) {
        failure = "cannot write " + temporary + ": " + ErrorText(errno);
    } else if (::fsync(fd) != 0) {
        failure = "cannot flush " + temporary + ": " + ErrorText(errno);
    }
    if (::close(fd) != 0 && failure.empty()) {
        failure = "cannot close " + temporary + ": " + ErrorText(errno);
    }
    if (failure.empty()) {
        if (const std::error_code error = ReplaceFile(temporary, target)) {
            failure = "cannot replace " + m_path + ": " + error.message();
        }
    }
    if (!failure.empty()) {
        ::unlink(temporary.c_str());
        return Fail(std::move(failure));
    }

    Cache::Impl& cache = *m_cache->m_impl;
    if (loaded.Stamp) {
        cache.Forget(*loaded.Stamp);
    }
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
        cache.Store(FileStamp::Of(st), std::move(next));
    }
    return Succeed();
}

std::error_code IniFile::ReplaceFile(const std::string& temporaryPath, const std::string& path) {
    if (::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    // The rename reaches the disk with the folder. The new file is in place
    // already, so a folder that cannot be flushed does not fail the write.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return {};
}

Result IniFile::WriteValues(
    std::string_view section,
    const std::vector<std::pair<std::string_view, std::string_view>>& entries) {
    SectionEdit edit;
    for (const auto& [key, value] : entries) {
        const std::string_view trimmed = Trim(key);
        if (std::string why = RefusalOf(trimmed, false); !why.empty()) {
            return Fail(why);
        }
        edit.Set.emplace_back(std::string(trimmed), SanitizeValue(value));
    }
    if (edit.Set.empty()) {
        return Succeed();
    }
    return ApplyToSection(section, edit);
}

Result IniFile::WriteString(std::string_view section, std::string_view key,
                            std::string_view value) {
    return WriteValues(section, {{key, value}});
}

Result IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

Result IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

Result IniFile::WriteDateTime(std::string_view section, std::string_view key, TDateTime value) {
    const std::string text = m_format.FormatDateTime(value);
    if (text.empty()) {
        return Fail("date-time " + std::to_string(value.Value()) + " has no calendar date");
    }
    return WriteString(section, key, text);
}

Result IniFile::WriteTime(std::string_view section, std::string_view key, TDateTime value) {
    const std::string text = m_format.FormatTime(value);
    if (text.empty()) {
        return Fail("time " + std::to_string(value.Value()) + " has no calendar date");
    }
    return WriteString(section, key, text);
}

Result IniFile::DeleteKey(std::string_view section, std::string_view key) {
    SectionEdit edit;
    edit.Delete = std::string(Trim(key));
    if (edit.Delete.empty()) {
        return Succeed();
    }
    return ApplyToSection(section, edit);
}

Result IniFile::EraseSection(std::string_view section) {
    section = Trim(section);
    if (section.empty()) {
        return Succeed();
    }
    std::lock_guard writeLock(m_cache->m_impl->WriteMutex);
    const FileLock fileLock(WriteTarget());
    if (!fileLock.Locked()) {
        return Fail(fileLock.Error());
    }
    Loaded loaded;
    if (Result read = LoadForWrite(loaded); !read) {
        return read;
    }
    if (loaded.Doc == nullptr || loaded.Doc->FindIndex(section) < 0) {
        return Succeed();
    }
    const Document& doc = *loaded.Doc;
    std::string text;
    text.reserve(doc.Text.size());
    std::size_t copied = 0;
    for (const Document::Section& s : doc.Sections) {
        if (EqualsFolded(doc.Name(s), section)) {
            text.append(doc.Text, copied, s.Start - copied);
            copied = s.End;
        }
    }
    text.append(doc.Text, copied);
    return Commit(loaded, Document::Parse(std::move(text)));
}

Result IniFile::Clear() {
    std::lock_guard writeLock(m_cache->m_impl->WriteMutex);
    const FileLock fileLock(WriteTarget());
    if (!fileLock.Locked()) {
        return Fail(fileLock.Error());
    }
    Loaded loaded;
    if (Result read = LoadForWrite(loaded); !read) {
        return read;
    }
    if (loaded.Doc == nullptr || loaded.Doc->Text.empty()) {
        return Succeed();
    }
    return Commit(loaded, Document::Parse(std::string()));
}

}  // namespace kavri
