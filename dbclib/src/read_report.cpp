#include <dbclib/read_report.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace kq::dbclib {

namespace {

// Every keyword that starts a statement of a DBC file, recognised by the parser or not (the NS_ block
// lists them one a line).
constexpr std::array<std::string_view, 35> kKeywords = {
    "VERSION",     "NS_",          "NS_DESC_",      "CM_",           "BA_DEF_",        "BA_",
    "VAL_",        "CAT_DEF_",     "CAT_",          "FILTER",        "BA_DEF_DEF_",    "EV_DATA_",
    "ENVVAR_DATA_", "SGTYPE_",     "SGTYPE_VAL_",   "BA_DEF_SGTYPE_", "BA_SGTYPE_",    "SIG_TYPE_REF_",
    "VAL_TABLE_",  "SIG_GROUP_",   "SIG_VALTYPE_",  "SIGTYPE_VALTYPE_", "BO_TX_BU_",   "BA_DEF_REL_",
    "BA_REL_",     "BA_DEF_DEF_REL_", "BU_SG_REL_", "BU_EV_REL_",    "BU_BO_REL_",     "SG_MUL_VAL_",
    "BS_",         "BU_",          "BO_",           "SG_",           "EV_",
};

// Statements the parser passes over that run to a ";", possibly over several lines.
constexpr std::array<std::string_view, 18> kSkippedToSemicolon = {
    "VAL_TABLE_", "EV_",           "ENVVAR_DATA_", "SGTYPE_",         "SGTYPE_VAL_", "BA_DEF_SGTYPE_",
    "BA_SGTYPE_", "SIG_TYPE_REF_", "SIG_GROUP_",   "SIGTYPE_VALTYPE_", "SG_MUL_VAL_", "CAT_DEF_",
    "CAT_",       "FILTER",        "EV_DATA_",     "BU_SG_REL_",      "BU_EV_REL_",  "BU_BO_REL_",
};

bool Contains(const auto& list, std::string_view word)
{
    return std::find(list.begin(), list.end(), word) != list.end();
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The first word of a line: up to white space, ":" or ";".
std::string_view FirstWord(std::string_view rest)
{
    std::size_t end = 0;
    while (end < rest.size() && !IsBlank(rest[end]) && rest[end] != ':' && rest[end] != ';') {
        ++end;
    }
    return rest.substr(0, end);
}

// The start of a stray line for its message, when it is short plain text.
std::wstring Excerpt(std::string_view line)
{
    constexpr std::size_t kMost = 24;
    std::wstring out;
    for (const char c : line.substr(0, kMost)) {
        if (c < ' ' || c > '~') {
            return {};
        }
        out += static_cast<wchar_t>(c);
    }
    return line.size() > kMost ? out + L"..." : out;
}

}  // namespace

std::string_view ProblemName(Dbc_Problem problem)
{
    // In the order of the enumeration.
    constexpr std::string_view kNames[] = {"unknown_item", "duplicate",      "cut",        "unclosed",     "bad_number",
                                           "out_of_range", "signal_outside", "stray_line", "no_statements"};
    const auto index = static_cast<std::size_t>(problem);
    return index < std::size(kNames) ? kNames[index] : "unknown";
}

std::string_view ReadStatusName(Dbc_ReadStatus status)
{
    constexpr std::string_view kNames[] = {"complete", "no_statements", "not_opened"};
    const auto index = static_cast<std::size_t>(status);
    return index < std::size(kNames) ? kNames[index] : "unknown";
}

namespace detail {

void DiagnosticSink::Add(std::size_t offset, std::wstring_view keyword, Dbc_Problem problem, std::wstring message)
{
    pending_.push_back(Pending{offset, Dbc_Diagnostic{0, 0, std::wstring(keyword), problem, std::move(message)}});
}

void DiagnosticSink::Covered(std::size_t begin, std::size_t end)
{
    if (end > begin) {
        covered_.emplace_back(begin, end);
    }
}

void DiagnosticSink::Finish(std::string_view text, bool utf8)
{
    // Stray lines, and whether any line starts a statement at all. Steps read forward only, so the
    // covered ranges come in file order.
    std::size_t statements = 0;
    std::size_t range = 0;
    bool skippedOpen = false;  // inside a passed-over statement that has not reached its ";"
    bool inQuote = false;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t newline = text.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        std::size_t first = start;
        while (first < end && IsBlank(text[first])) {
            ++first;
        }
        const std::string_view rest = text.substr(first, end - first);
        start = end + 1;
        if (rest.empty()) {
            continue;
        }
        const std::string_view word = FirstWord(rest);
        const bool keyword = Contains(kKeywords, word);
        statements += keyword ? 1 : 0;
        while (range < covered_.size() && covered_[range].second <= first) {
            ++range;
        }
        if (range < covered_.size() && covered_[range].first <= first) {
            skippedOpen = false;
            continue;  // read by a statement step
        }
        if (keyword) {
            skippedOpen = Contains(kSkippedToSemicolon, word);
            inQuote = false;
        } else if (!skippedOpen) {
            const std::wstring excerpt = Excerpt(rest);
            Add(first, L"", Dbc_Problem::StrayLine,
                excerpt.empty() ? std::wstring(L"line starts no DBC keyword; skipped")
                                : L"line starts no DBC keyword (\"" + excerpt + L"\"); skipped");
            continue;
        }
        if (word == "SG_") {
            Add(first, L"SG_", Dbc_Problem::StrayLine,
                L"signal line outside a message (a line that is no signal line ended the message before it); "
                L"skipped");
            continue;
        }
        if (skippedOpen) {
            for (const char c : keyword ? rest.substr(word.size()) : rest) {
                if (c == '"') {
                    inQuote = !inQuote;
                } else if (c == ';' && !inQuote) {
                    skippedOpen = false;
                    break;
                }
            }
        }
    }

    if (statements == 0) {
        report_.status = Dbc_ReadStatus::NoStatements;
        report_.diagnostics.assign(1, Dbc_Diagnostic{1, 1, L"", Dbc_Problem::NoStatements,
                                                     L"no line starts a DBC statement: not a DBC file"});
        pending_.clear();
        return;
    }

    // Offsets into lines and columns, in one pass over the text.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Pending& a, const Pending& b) { return a.offset < b.offset; });
    std::size_t line = 1;
    std::size_t column = 1;
    std::size_t at = 0;
    for (Pending& p : pending_) {
        const std::size_t target = std::min(p.offset, text.size());
        for (; at < target; ++at) {
            const auto b = static_cast<unsigned char>(text[at]);
            if (b == '\n') {
                ++line;
                column = 1;
            } else if (!utf8 || (b & 0xC0u) != 0x80u) {
                ++column;
            }
        }
        p.entry.line = line;
        p.entry.column = column;
        report_.diagnostics.push_back(std::move(p.entry));
    }
    pending_.clear();
}

}  // namespace detail

}  // namespace kq::dbclib
