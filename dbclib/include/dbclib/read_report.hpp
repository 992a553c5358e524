#pragma once

// What a read of a DBC file skipped, cut or could not make sense of, statement by statement.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <dbclib/export.hpp>

namespace kq::dbclib {

/// How a read ended.
enum class Dbc_ReadStatus : std::int32_t {
    Complete = 0,      ///< the file was read; the diagnostics list what was skipped or changed
    NoStatements = 1,  ///< no line of the file starts a DBC statement: not a DBC file
    NotOpened = 2,     ///< the file could not be opened or read (see `Dbc_ReadReport::error`)
};

/// What happened to a statement or a line.
enum class Dbc_Problem : std::int32_t {
    UnknownItem = 0,     ///< names a message, signal, node or attribute definition that is not there: skipped
    Duplicate = 1,       ///< a second message, signal, node, definition or value: the first is kept
    Cut = 2,             ///< a text longer than its buffer: what stands before the cut is kept
    Unclosed = 3,        ///< its closing delimiter never came: the rest of the file was read as its text
    BadNumber = 4,       ///< a number that could not be read: left 0
    OutOfRange = 5,      ///< a number that does not fit its field
    SignalOutside = 6,   ///< a signal that does not fit in its message's length
    StrayLine = 7,       ///< a line outside every statement: one that starts no DBC keyword, or a signal
                         ///< line outside a message; skipped
    NoStatements = 8,    ///< nothing in the file is a DBC statement
};

/// One entry of a read's report.
struct Dbc_Diagnostic {
    std::size_t line = 0;    ///< 1-based
    std::size_t column = 0;  ///< 1-based, in characters (a tab counts one)
    std::wstring keyword;    ///< the statement's keyword ("BO_", "SG_", "CM_ BO_"), empty for a stray line
    Dbc_Problem problem = Dbc_Problem::UnknownItem;
    std::wstring message;    ///< what happened, for people
};

/// The report of one read: how it ended and, in file order, what it skipped.
struct Dbc_ReadReport {
    Dbc_ReadStatus status = Dbc_ReadStatus::Complete;
    std::error_code error;  ///< why the file could not be opened, when it could not
    std::vector<Dbc_Diagnostic> diagnostics;
};

/// The problem's name for scripts: "unknown_item", "duplicate", "cut", "unclosed", "bad_number",
/// "out_of_range", "signal_outside", "stray_line", "no_statements".
KQ_DBCLIB_API std::string_view ProblemName(Dbc_Problem problem);

/// The status's name for scripts: "complete", "no_statements", "not_opened".
KQ_DBCLIB_API std::string_view ReadStatusName(Dbc_ReadStatus status);

namespace detail {

/// Collects the entries of a report while the parser runs. Entries are noted at byte offsets into the
/// parsed text and turned into lines and columns when the read ends.
class KQ_DBCLIB_API DiagnosticSink {
public:
    explicit DiagnosticSink(Dbc_ReadReport& report) : report_(report) {}

    void Add(std::size_t offset, std::wstring_view keyword, Dbc_Problem problem, std::wstring message);
    /// True the first time `name` is asked about: a name that recurs is reported once.
    bool FirstMention(std::wstring_view name) { return mentioned_.emplace(name).second; }
    /// A statement step read the bytes from `begin` to `end`.
    void Covered(std::size_t begin, std::size_t end);
    /// Adds an entry for every stray line (see Dbc_Problem::StrayLine), decides the status, and turns offsets into lines and columns of `text`
    /// (read as UTF-8 when `utf8`, else one byte per character).
    void Finish(std::string_view text, bool utf8);

private:
    struct Pending {
        std::size_t offset;
        Dbc_Diagnostic entry;
    };
    Dbc_ReadReport& report_;
    std::vector<Pending> pending_;
    std::vector<std::pair<std::size_t, std::size_t>> covered_;
    std::set<std::wstring, std::less<>> mentioned_;
};

}  // namespace detail

}  // namespace kq::dbclib
