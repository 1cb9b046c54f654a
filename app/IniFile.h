#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "app/DateFormat.h"
#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri {

// The INI store behind every ".dat" file and the language file.
//
// Format: text lines ending in CR LF (LF alone and a last line without an end
// are read too); "[name]" starts a section, "key=value" is an entry, anything
// else (comments, blank lines) is kept verbatim and otherwise ignored. Section
// names and keys match without regard to ASCII letter case and are trimmed of
// blanks, as are values. When a name occurs twice the first one counts: the
// first section of a name is that section (later ones are kept but never read
// or listed), and within it the first entry of a key. A section exists when it
// holds at least one entry. Text is UTF-8; a leading byte-order mark is kept.
//
// Reads name a default that comes back when the file, section or key is missing
// or the text does not convert; a value comes back cut to 2047 bytes (on a
// character boundary). Integers are decimal or "0x" hex of up to eight digits
// (read as 32 bits, so "0xFFFFFFFF" is -1); booleans are stored as "1" and "0"
// and any non-zero integer reads true; date-times and times are written in
// ISO 8601 whatever the locale and read as ISO 8601 or else in the regional
// form the file was opened with (DateFormat::Stored).
//
// Every write goes to disk at once and replaces the whole file atomically: a
// temporary file in the same folder is written, flushed to disk and renamed
// over the original, so a crash leaves either the old or the new file. A write
// that fails leaves the old file as it was, removes its temporary file and
// is refused with the reason. Values lose control characters
// (each becomes a blank), and a section name or key that could forge structure
// ("]", "=", control characters, empty, or starting with "[" or ";") is
// refused, so text from the air cannot add sections or entries. A path that is
// a symbolic link has the file it points to replaced. Writes through objects
// sharing a Cache take turns, and so do writes by other processes: each write
// holds an advisory lock on the file's companion lock file (FileLock) and
// re-reads the file under it, so no process replaces the file from a copy that
// misses another's change. Before a write creates its temporary file, the
// temporary files that interrupted writes of dead processes left in the
// folder are removed (TemporaryFiles).
//
// A missing file reads as empty. A file that exists but cannot be read (no
// permission, not a regular file, too large, a read error) also reads as
// empty through the single reads below, but a Snapshot tells it apart
// (Snapshot::Error), and is never written over.
//
// Parsed files live in a Cache shared by default across the process and
// checked against the file's identity, size, and modification and change
// times, so the many short-lived IniFile objects that open the same file parse
// it once, a write through any of them is seen by all at once, and a change by
// another program is read anew. The check is a stat, dearer than the lookup it
// guards, so for a file that had not changed for a second when last looked at
// it is made at most once per Cache::kDefaultRecheck (200 microseconds) while
// nothing changes in the cache: a change by another process to such a file may
// go unseen for that long. A file that changed within the last second, and a
// missing file, are looked at on every read; writes always read the file
// itself. A change by
// another program that keeps inode, size and both times (within the file
// system's timestamp granularity) goes unseen.
//
// An IniFile object belongs to one thread at a time; several objects on
// several threads may share a Cache. Nothing throws except std::bad_alloc.
class IniFile {
public:
    class Cache;
    class Snapshot;
    class SectionView;

    // Files larger than this are neither read nor written.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 30;
    // Longest value text a read gives back, in bytes.
    static constexpr std::size_t kMaxValueLength = 2047;

    // format is the regional form read after ISO 8601 (DateFormat::FromLocale
    // when not given): the one files of earlier versions were written in.
    explicit IniFile(std::string path);
    IniFile(std::string path, DateFormat format);
    IniFile(std::string path, DateFormat format, std::shared_ptr<Cache> cache);
    virtual ~IniFile();

    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& FileName() const { return m_path; }
    // The stored form: writes ISO 8601, reads it and the regional form.
    const DateFormat& Format() const { return m_format; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    TDateTime ReadDateTime(std::string_view section, std::string_view key,
                           TDateTime defaultValue) const;
    TDateTime ReadTime(std::string_view section, std::string_view key,
                       TDateTime defaultValue) const;

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // Names of the sections that exist, each once, in file order, all of them.
    std::vector<std::string> ReadSections() const;
    // Keys of a section, each once, in file order.
    std::vector<std::string> ReadSection(std::string_view section) const;
    // Keys with their values (as ReadString gives them), each key once.
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(
        std::string_view section) const;
    // The file as it is now, for reading many sections without looking at the
    // file again between them (the record lists and the statistics read every
    // section of files with 100 000 of them). Every read above is a read of a
    // fresh snapshot.
    Snapshot ReadSnapshot() const;

    // Each creates the file and the section as needed. A new entry goes after
    // the last entry of its section; a new section goes at the end of the file.
    Result WriteString(std::string_view section, std::string_view key, std::string_view value);
    Result WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    Result WriteBool(std::string_view section, std::string_view key, bool value);
    // Refused for a value without a calendar date.
    Result WriteDateTime(std::string_view section, std::string_view key, TDateTime value);
    Result WriteTime(std::string_view section, std::string_view key, TDateTime value);
    // Several entries of one section in one replacement of the file, so a record
    // lands whole or not at all. Refuses all of them if one key is refused.
    Result WriteValues(std::string_view section,
                       const std::vector<std::pair<std::string_view, std::string_view>>& entries);

    // Removes every section at once: the file is replaced by an empty one. Done
    // (and nothing created) when the file does not exist.
    Result Clear();

    // Removes every section of that name with all its entries, so no shadowed
    // duplicate comes to light afterwards. Done (and the file untouched) when
    // there is no such section.
    Result EraseSection(std::string_view section);
    // Removes every entry of that key from the section. Done (and the file
    // untouched) when there is none.
    Result DeleteKey(std::string_view section, std::string_view key);

    // The message of the last refused write (also in its result); empty after
    // a success. Kept for the INI fuzz target until it reads the result.
    const std::string& LastError() const { return m_lastError; }

protected:
    // The last step of every write: puts the finished, flushed temporary file
    // in the place of the file (rename, then flushing the folder). An error
    // here makes the write fail and the temporary file go.
    virtual std::error_code ReplaceFile(const std::string& temporaryPath, const std::string& path);

private:
    struct Document;
    struct Loaded;
    struct SectionEdit;

    // The parsed file; null when it is missing, or when it cannot be read and
    // then error (if given) says why. fresh reads the bytes even when the
    // cache holds a parse of a file with the same stamp (writes, under the
    // lock, must see exactly what is on disk).
    std::shared_ptr<const Document> Load(Loaded* loaded, std::string* error, bool fresh) const;
    Result LoadForWrite(Loaded& loaded);
    Result Commit(const Loaded& loaded, std::shared_ptr<Document> next);
    // The file whose bytes a write replaces: m_path, or where it leads when it
    // is a symbolic link.
    std::string WriteTarget() const;
    Result ApplyToSection(std::string_view section, const SectionEdit& edit);
    Result Fail(std::string message);
    Result Succeed();

    std::string m_path;
    DateFormat m_format;
    std::shared_ptr<Cache> m_cache;
    std::string m_lastError;
};

// One parsed state of a file, unchanged by later writes. Reads behave as the
// IniFile's reads; a missing or unreadable file reads as empty, and Error()
// tells the two apart. A plain value: copies share the parse; any thread.
// Nothing throws except std::bad_alloc.
class IniFile::Snapshot {
public:
    // Empty when the file was read or does not exist; otherwise one line with
    // the path and the system's reason why it could not be read. A caller that
    // decides from the file must not take such a snapshot for an empty file.
    const std::string& Error() const { return m_error; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    TDateTime ReadDateTime(std::string_view section, std::string_view key,
                           TDateTime defaultValue) const;
    TDateTime ReadTime(std::string_view section, std::string_view key,
                       TDateTime defaultValue) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> ReadSections() const;
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(
        std::string_view section) const;
    // Calls read once for every section that exists, in file order (the
    // sections ReadSections lists); the view reads that section's values
    // without looking its name up again.
    void ForEachSection(const std::function<void(const SectionView&)>& read) const;

private:
    friend class IniFile;
    Snapshot(std::shared_ptr<const Document> document, DateFormat format, std::string error);

    std::shared_ptr<const Document> m_document;
    DateFormat m_format;
    std::string m_error;
};

// One section of a Snapshot, valid during the ForEachSection call that hands
// it out. Reads behave as the Snapshot's reads of that section.
class IniFile::SectionView {
public:
    std::string_view Name() const;
    std::string ReadString(std::string_view key, std::string_view defaultValue) const;
    TDateTime ReadDateTime(std::string_view key, TDateTime defaultValue) const;

private:
    friend class IniFile::Snapshot;
    SectionView(const Document& document, std::size_t index, const DateFormat& format);

    const Document& m_document;
    std::size_t m_index;
    const DateFormat& m_format;
};

// Parsed files, keyed by the file's identity, kept up to a byte budget (the
// least recently used go first). Thread-safe. Share one between the IniFile
// objects that should see each other's parses; Process() is the default one.
class IniFile::Cache {
public:
    static constexpr std::size_t kDefaultBudget = std::size_t{128} << 20;
    // How long a read trusts what it found without looking at the file again.
    static constexpr std::chrono::nanoseconds kDefaultRecheck = std::chrono::microseconds(200);

    // recheckAfter 0: every read looks at the file.
    explicit Cache(std::size_t byteBudget = kDefaultBudget,
                   std::chrono::nanoseconds recheckAfter = kDefaultRecheck);
    ~Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    static std::shared_ptr<Cache> Process();

    // Forgets every parsed file; the next read of each parses it again.
    void Clear();
    std::size_t Bytes() const;

private:
    friend class IniFile;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kavri
