#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include <platform/files.hpp>

namespace torvik::platform {

/// A store of named sections holding `key=value` lines, with the semantics that callers of the
/// Windows profile functions rely on: section and key names match without regard to case, the
/// first matching section and the first matching key win, and blanks around names and values do
/// not count. Reading never fails; a missing section or key reads as absent.
class ProfileStore {
public:
    ProfileStore() = default;
    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;
    virtual ~ProfileStore() = default;

    /// The value of `key` in `section`, blanks around it removed and one pair of enclosing double
    /// quotes stripped; nothing when the section or the key is missing.
    virtual std::optional<std::wstring> GetString(std::wstring_view section, std::wstring_view key) const = 0;

    /// The lines of `section` as they stand (blanks around each line removed), empty lines left out;
    /// lines without '=' are included. Empty when the section is missing.
    virtual std::vector<std::wstring> GetSection(std::wstring_view section) const = 0;

    /// Sets `key` in `section`: replaces the first matching key, else appends the key to the first
    /// matching section, else appends a new section at the end.
    virtual void WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value) = 0;

    /// Makes the writes so far durable. Returns an empty code on success.
    virtual std::error_code Commit() = 0;

    /// `GetString` read as a decimal integer like the profile functions do: `defaultValue` when the key
    /// is missing; otherwise the leading optionally signed decimal number of the value (0 when the
    /// value does not start with one).
    int GetInt(std::wstring_view section, std::wstring_view key, int defaultValue) const;
};

/// The section/key table both implementations share, kept in file order with a case-folded index of
/// the first section of each name.
class ProfileDocument {
public:
    /// Names and lines are views into text that the document owns; they stay valid while the document
    /// lives (also after it is moved) and until the line is written again.
    struct Section {
        std::wstring_view name;
        std::vector<std::wstring_view> lines;  ///< each line without its line break, blanks trimmed
    };

    ProfileDocument() = default;
    ProfileDocument(ProfileDocument&&) noexcept = default;
    ProfileDocument& operator=(ProfileDocument&&) noexcept = default;
    ProfileDocument(const ProfileDocument&) = delete;
    ProfileDocument& operator=(const ProfileDocument&) = delete;
    ~ProfileDocument() = default;

    /// Parses INI text already decoded to wide characters (line breaks CR LF, LF or CR).
    static ProfileDocument Parse(std::wstring_view text);

    const Section* Find(std::wstring_view section) const;
    /// Makes room for `count` sections, for a writer that knows how many it will add.
    void ReserveSections(std::size_t count);
    std::optional<std::wstring> GetString(std::wstring_view section, std::wstring_view key) const;
    void WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value);

    /// The whole document as text with CR LF line breaks.
    std::wstring Serialize() const;
    /// `Serialize` encoded for a file, as `EncodeProfileText` does.
    std::string Encode() const;

    const std::vector<Section>& sections() const { return sections_; }

private:
    Section& FindOrAdd(std::wstring_view section);
    std::size_t TextSize() const;
    std::wstring_view Keep(std::wstring text);

    std::vector<wchar_t> text_;        ///< the parsed text; its buffer survives moves
    std::deque<std::wstring> written_;  ///< text added by writes; elements never move

    std::vector<Section> sections_;
    // Names hashed and compared without regard to case, so that a lookup needs no folded copy.
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::wstring_view name) const noexcept;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::wstring_view a, std::wstring_view b) const noexcept;
    };
    std::unordered_map<std::wstring_view, std::size_t, FoldedHash, FoldedEqual> index_;  ///< name -> first section
    std::size_t last_ = static_cast<std::size_t>(-1);      ///< the section written last
};

/// A store over a `ProfileDocument`.
class DocumentStore : public ProfileStore {
public:
    std::optional<std::wstring> GetString(std::wstring_view section, std::wstring_view key) const override;
    std::vector<std::wstring> GetSection(std::wstring_view section) const override;
    void WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value) override;

    const ProfileDocument& document() const { return document_; }
    /// Makes room for `count` sections before many writes.
    void ReserveSections(std::size_t count) { document_.ReserveSections(count); }

protected:
    ProfileDocument document_;
};

/// An INI file on disk. Opening reads the whole file once; writes stay in memory until `Commit`, which
/// writes the whole document in one pass through `WriteFileSafely`, so a failed commit leaves the
/// previous file intact.
///
/// Files are read as Windows-1252 unless they start with a UTF-16LE or UTF-8 byte-order mark. They are
/// written as Windows-1252 with CR LF line breaks; a document holding a character that Windows-1252
/// cannot carry is written as UTF-16LE with a byte-order mark instead, which the Windows profile
/// functions also read, so that no text is lost.
class IniFile final : public DocumentStore {
public:
    /// An empty document that `Commit` writes to `path`.
    explicit IniFile(std::filesystem::path path);

    /// Reads `path`. Returns the native error when the file cannot be read.
    static std::error_code Open(const std::filesystem::path& path, std::unique_ptr<IniFile>& out);

    std::error_code Commit() override;
    /// Commit under the rules of a command's other files (for example: never over its inputs).
    std::error_code Commit(const WriteRules& rules);

    /// Size in bytes of the file when it was opened (0 for a new document).
    std::uintmax_t file_size() const { return file_size_; }

private:
    std::filesystem::path path_;
    std::uintmax_t file_size_ = 0;
};

/// A store kept in memory only; `Commit` does nothing.
class MemoryProfile final : public DocumentStore {
public:
    std::error_code Commit() override { return {}; }
};

/// Decodes profile file bytes: UTF-16LE or UTF-8 after their byte-order marks, Windows-1252 otherwise.
std::wstring DecodeProfileText(std::string_view bytes);

/// Encodes profile text as Windows-1252, or as UTF-16LE with a byte-order mark when some character has
/// no Windows-1252 form.
std::string EncodeProfileText(std::wstring_view text);

/// Case folding used for section and key names (ASCII and Latin-1 letters, else the C library's).
std::wstring FoldName(std::wstring_view name);

/// Whether two section or key names match without regard to case.
bool NamesEqual(std::wstring_view a, std::wstring_view b);

/// Removes blanks (space and tab) at both ends.
std::wstring_view TrimBlanks(std::wstring_view text);

/// A path as stored in a project or settings file, with '\' or '/' as separators, as a path of this
/// system. A Windows drive path ("C:\...") comes out relative ("C:/..."): see IsWindowsDrivePath.
std::filesystem::path FromStoredPath(std::wstring_view stored);

/// Whether a stored path starts with a Windows drive ("C:\...", "d:/...", "C:"), which names no file
/// on this system.
bool IsWindowsDrivePath(std::wstring_view stored);

/// The path of `file` relative to the folder `folder` in stored form: '\' separators, starting with
/// ".\" unless it climbs with "..\". Empty when no such path exists.
std::wstring RelativeStoredPath(const std::filesystem::path& folder, const std::filesystem::path& file);

}  // namespace torvik::platform
