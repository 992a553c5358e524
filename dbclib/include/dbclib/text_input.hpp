#pragma once

// The text input of the DBC parser: the decoded character stream, the fixed fragment buffers the parser
// steps read into, and the small number and word readers they convert fragments with.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <dbclib/export.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kq::dbclib {

/// A fixed wide-character buffer of `Capacity` characters including the terminator. Text beyond
/// `Capacity - 1` characters is dropped, never written past the buffer; `cut` then tells so.
template <std::size_t Capacity>
struct Fragment {
    static_assert(Capacity >= 2);

    void clear()
    {
        fill = 0;
        hasNull = false;
        cut = false;
        text[0] = L'\0';
    }
    void push(wchar_t c)
    {
        if (fill < Capacity - 1) {
            hasNull = hasNull || c == L'\0';
            text[fill++] = c;
        } else {
            cut = true;
        }
    }
    void terminate() { text[fill] = L'\0'; }
    /// The text up to its terminator (an embedded null character ends it early, as in a C string).
    std::wstring_view view() const
    {
        return hasNull ? std::wstring_view(text, std::char_traits<wchar_t>::length(text))
                       : std::wstring_view(text, fill);
    }
    std::wstring str() const { return std::wstring(view()); }

    std::size_t fill = 0;
    bool hasNull = false;  ///< a null character was stored (bulk copies never store one)
    bool cut = false;      ///< text was dropped for want of room
    wchar_t text[Capacity];
};

/// The characters of a DBC file held in memory: bytes decoded on the fly either through a table for
/// the bytes 0x80 to 0xFF (a single-byte code page) or as UTF-8 (checked to be valid beforehand).
/// Carriage returns that stood before a line feed are already gone (text-mode reading).
class DbcTextStream {
public:
    DbcTextStream() = default;
    /// `highTable` maps the bytes 0x80 to 0xFF (128 entries); null means the bytes are valid UTF-8.
    DbcTextStream(const char* begin, const char* end, const wchar_t* highTable)
        : begin_(reinterpret_cast<const unsigned char*>(begin)),
          p_(begin_),
          end_(reinterpret_cast<const unsigned char*>(end)),
          high_(highTable)
    {
    }

    /// Plain character input: false at the end of the stream.
    bool get(wchar_t& c)
    {
        if (p_ == end_) {
            return false;
        }
        const unsigned char b = *p_++;
        if (b < 0x80) {
            c = static_cast<wchar_t>(b);
        } else if (high_ != nullptr) {
            c = high_[b - 0x80];
        } else {
            c = utf8_tail(b);
        }
        return true;
    }

    /// The next character without taking it.
    bool peek(wchar_t& c) const
    {
        DbcTextStream copy = *this;
        return copy.get(c);
    }

    /// One character; a carriage return is passed over and the character after it is used.
    bool read_char(wchar_t& c)
    {
        if (!get(c)) {
            return false;
        }
        if (c == L'\r') {
            return get(c);
        }
        return true;
    }

    /// Appends characters (read_char) to `out` at its fill count until `delimiter`, which is not
    /// stored; terminates `out`. False at the end of the stream.
    template <std::size_t N>
    bool read_until(Fragment<N>& out, wchar_t delimiter)
    {
        wchar_t c = 0;
        for (;;) {
            // A run of plain ASCII (no carriage return to pass over, nothing to decode) is copied in bulk.
            const unsigned char* run = plain_run_end(delimiter);
            const auto room = static_cast<std::size_t>(N - 1 - out.fill);
            const auto count = std::min(static_cast<std::size_t>(run - p_), room);
            for (std::size_t i = 0; i < count; ++i) {
                out.text[out.fill + i] = static_cast<wchar_t>(p_[i]);
            }
            out.fill += count;
            out.cut = out.cut || p_ + count != run;
            p_ = run;
            if (p_ != end_ && static_cast<wchar_t>(*p_) == delimiter) {
                ++p_;
                out.terminate();
                return true;
            }
            if (!read_char(c)) {
                out.terminate();
                missing_ = delimiter;
                return false;
            }
            if (c == delimiter) {
                out.terminate();
                return true;
            }
            out.push(c);
        }
    }

    /// Skips characters that cannot start any keyword of the parser (every keyword starts with one of
    /// B, C, S, V). These are ASCII, so the skip works on bytes in both encodings.
    void skip_to_keyword_start()
    {
        while (p_ != end_ && !is_keyword_start(*p_)) {
            ++p_;
        }
    }

    /// True when only blanks and tabs stand between the start of the current line and the character
    /// `back` bytes before the read position (ASCII characters are one byte in both encodings).
    bool line_start_before(std::size_t back) const
    {
        const unsigned char* q = p_ - back;
        while (q != begin_ && (q[-1] == ' ' || q[-1] == '\t')) {
            --q;
        }
        return q == begin_ || q[-1] == '\n';
    }

    bool at_end() const { return p_ == end_; }

    /// The read position stands at the start of a line.
    bool at_line_start() const { return p_ == begin_ || p_[-1] == '\n'; }

    /// How many blanks and tabs follow the read position.
    std::size_t blanks_ahead() const
    {
        const unsigned char* q = p_;
        while (q != end_ && (*q == ' ' || *q == '\t')) {
            ++q;
        }
        return static_cast<std::size_t>(q - p_);
    }

    /// `word` (ASCII) stands `offset` bytes after the read position.
    bool ahead(std::size_t offset, std::string_view word) const
    {
        return static_cast<std::size_t>(end_ - p_) >= offset + word.size() &&
               std::memcmp(p_ + offset, word.data(), word.size()) == 0;
    }

    /// The read position in bytes from the start of the text.
    std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

    /// The whole text as bytes, and whether they are decoded as UTF-8 (else one byte per character).
    std::string_view bytes() const
    {
        return std::string_view(reinterpret_cast<const char*>(begin_), static_cast<std::size_t>(end_ - begin_));
    }
    bool utf8() const { return high_ == nullptr; }

    /// The delimiter the last read_until that ran into the end of the stream was looking for, or 0;
    /// taking it resets it.
    wchar_t take_missing()
    {
        const wchar_t missing = missing_;
        missing_ = 0;
        return missing;
    }

    /// The bytes from the read position to the next line feed (not included) or the end of the stream,
    /// when all of them are plain ASCII without carriage returns and null characters: read through
    /// read_char they would give exactly these characters. False otherwise.
    bool plain_line(std::string_view& line) const
    {
        const unsigned char* stop = plain_run_end(L'\n');
        if (stop != end_ && *stop != '\n') {
            return false;
        }
        line = std::string_view(reinterpret_cast<const char*>(p_), static_cast<std::size_t>(stop - p_));
        return true;
    }

    /// Passes over `count` bytes of a plain line (see plain_line).
    void skip(std::size_t count) { p_ += count; }

    /// Passes over `count` bytes of a plain line (see plain_line) and the line feed after them, if any.
    void skip_line(std::size_t count)
    {
        p_ += count;
        if (p_ != end_) {
            ++p_;
        }
    }

private:
    // The end of the run of bytes from the read position that are ASCII, not a carriage return and not
    // `delimiter`.
    const unsigned char* plain_run_end(wchar_t delimiter) const
    {
        const unsigned char* q = p_;
        // Null characters end a run too, so that a bulk copy never stores one (see Fragment::hasNull).
        if (delimiter <= 0 || delimiter >= 0x80) {
            while (q != end_ && *q < 0x80 && *q != '\r' && *q != 0) {
                ++q;
            }
            return q;
        }
        const auto stop = static_cast<unsigned char>(delimiter);
#if defined(__SSE2__)
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(stop));
        const __m128i cr = _mm_set1_epi8('\r');
        const __m128i zero = _mm_setzero_si128();
        while (end_ - q >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            // The sign bit of each byte marks non-ASCII; equality marks the delimiter, CR and null.
            const __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(bytes, wanted), _mm_cmpeq_epi8(bytes, cr));
            const __m128i hits = _mm_or_si128(_mm_or_si128(stops, _mm_cmpeq_epi8(bytes, zero)), bytes);
            const int mask = _mm_movemask_epi8(hits);
            if (mask != 0) {
                return q + __builtin_ctz(static_cast<unsigned>(mask));
            }
            q += 16;
        }
#endif
        while (q != end_ && *q < 0x80 && *q != '\r' && *q != stop && *q != 0) {
            ++q;
        }
        return q;
    }

    static bool is_keyword_start(unsigned char b)
    {
        return b == 'B' || b == 'C' || b == 'S' || b == 'V';
    }

    // The lead byte is taken; the stream was checked to be valid UTF-8, the bounds check only keeps a
    // misuse from reading past the end.
    wchar_t utf8_tail(unsigned char lead)
    {
        int more = 0;
        std::uint32_t cp = 0;
        if (lead >= 0xF0) {
            more = 3;
            cp = lead & 0x07u;
        } else if (lead >= 0xE0) {
            more = 2;
            cp = lead & 0x0Fu;
        } else {
            more = 1;
            cp = lead & 0x1Fu;
        }
        for (; more > 0 && p_ != end_; --more) {
            cp = (cp << 6) | (*p_++ & 0x3Fu);
        }
        return static_cast<wchar_t>(cp);
    }

    const unsigned char* begin_ = nullptr;
    const unsigned char* p_ = nullptr;
    const unsigned char* end_ = nullptr;
    const wchar_t* high_ = nullptr;
    wchar_t missing_ = 0;
};

namespace detail {

/// The bytes of a file, not initialised beyond `size`.
struct TextBuffer {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
};

/// Reads a whole file into `bytes` (the wide path goes to the file system as UTF-8), at most 256 MiB.
/// False when the file cannot be opened or read or is larger; `error` and `errno` then say why (EFBIG
/// for the size) and `bytes` is unspecified.
KQ_DBCLIB_API bool load_file(const std::wstring& path, TextBuffer& bytes, std::error_code& error);

/// Prepares file bytes for parsing, in place: drops each carriage return that directly precedes a line
/// feed (in a file without any line feed every carriage return ends a line) and picks the decoding. A
/// file that starts with a UTF-16 byte-order mark is decoded as UTF-16 (its text replaces `bytes`, in
/// UTF-8). A file that is valid UTF-8 (after an optional byte-order mark, which is skipped) and holds
/// non-ASCII characters, or starts with the mark, is read as UTF-8; any other file through the code
/// page of `locale` (Windows-1250 for Central European locales, else Windows-1252).
/// The stream points into `bytes`, which must outlive it and stay unchanged.
KQ_DBCLIB_API DbcTextStream open_text(TextBuffer& bytes, const std::wstring& locale);

/// The network name a file gets: the file name after the last backslash or slash, up to its last ".".
KQ_DBCLIB_API std::wstring network_name_from_path(const std::wstring& path);

/// The keyword matchers of the parser folded into one automaton. Every keyword has a count of how many
/// of its leading characters have just been read: a character that continues the keyword adds one, any
/// other sets the count to 1 when it is the keyword's first character, else to 0; the keyword is
/// complete when the count reaches its length. A state stands for the counts of all keywords at once,
/// so stepping the automaton gives exactly the counts the matchers would hold.
class KQ_DBCLIB_API KeywordAutomaton {
public:
    /// The keywords in matching order; a step runs for each keyword completed by a character, in this
    /// order.
    static constexpr std::wstring_view kKeywords[] = {
        L"BO_ ",         L"CM_ \"",        L"CM_ BU_ ", L"BA_DEF_ ", L"BA_DEF_REL_ ", L"BA_DEF_DEF_REL_ ",
        L"BA_DEF_DEF_ ", L"BA_ ",          L"BA_REL_ ", L"CM_ BO_ ", L"CM_ SG_ ",     L"BO_TX_BU_ ",
        L"VAL_ ",        L"SIG_VALTYPE_ ", L"BU_: ",
    };
    static constexpr std::size_t kCount = std::size(kKeywords);

    /// The automaton, built on first use (thread-safe).
    static const KeywordAutomaton& instance();

    /// The state after character `c` in state `state`; state 0 has every count at 0.
    std::uint16_t next(std::uint16_t state, wchar_t c) const
    {
        const auto column = static_cast<std::size_t>(c >= 0 && c < 128 ? c : 128);
        return transitions_[state * kColumns + column];
    }
    /// Bit k set: keyword k has just been completed.
    std::uint16_t completed(std::uint16_t state) const { return completed_[state]; }
    /// Some keyword stands partly read; otherwise only a keyword's first character changes a count.
    bool partial(std::uint16_t state) const { return partial_[state] != 0; }

private:
    KeywordAutomaton();
    static constexpr std::size_t kColumns = 129;  // ASCII, then every other character

    std::basic_string<std::uint16_t> transitions_;
    std::basic_string<std::uint16_t> completed_;
    std::basic_string<std::uint8_t> partial_;
};

/// Floating-point conversion as the C library's formatted input does it ("." decimal point whatever the
/// locale; decimal, hexadecimal, inf and nan forms; out-of-range values become infinity or zero) at
/// `text`, which starts at the number (no blanks). Returns the end of the number, or null when nothing
/// converts (the value is then untouched).
KQ_DBCLIB_API const wchar_t* parse_double(const wchar_t* text, double& value);

/// The common case of parse_double inline: plain decimals without an exponent and with at most 15
/// digits convert exactly this way (the digits and the power of ten are exact doubles, and one division
/// rounds correctly). Null when the text needs the general conversion.
template <typename Char>
const Char* parse_plain_decimal(const Char* text, double& value)
{
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const Char* p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        if (digits == 15) {
            return nullptr;
        }
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p, ++digits, ++fraction) {
            if (digits == 15) {
                return nullptr;
            }
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        }
    }
    if (digits == 0 || *p == 'e' || *p == 'E' || *p == 'x' || *p == 'X') {
        return nullptr;
    }
    // Whole numbers, the most common ones, need no division.
    const double magnitude =
        fraction == 0 ? static_cast<double>(mantissa) : static_cast<double>(mantissa) / kPowers[fraction];
    value = negative ? -magnitude : magnitude;
    return p;
}
KQ_DBCLIB_API const wchar_t* parse_float(const wchar_t* text, float& value);

static_assert(sizeof(wchar_t) == 4, "the text tables assume 32-bit wide characters");

/// Hashes text for the parser's lookup tables. A hasher of its own keeps the tables hashing even when
/// they hold few entries (the library's string hash makes small tables compare every key instead).
struct TextHash {
    using is_transparent = void;

    std::size_t operator()(std::wstring_view text) const noexcept
    {
        // Names that share a table mostly differ in their length, their first or their last characters:
        // those are mixed in, at most four characters at each end, so a long name costs no more than a
        // short one. Names equal there collide, which costs a comparison, not a wrong answer.
        const std::size_t size = text.size();
        std::uint64_t hash = 0x9E3779B97F4A7C15ull * (size + 1);
        if (size >= 4) {
            std::uint64_t words[4];
            std::memcpy(&words[0], text.data(), 4 * sizeof(wchar_t));
            std::memcpy(&words[2], text.data() + size - 4, 4 * sizeof(wchar_t));
            hash ^= (words[0] ^ (words[1] << 7)) * 0xFF51AFD7ED558CCDull;
            hash ^= (words[2] ^ (words[3] << 7)) * 0xC4CEB9FE1A85EC53ull;
        } else {
            for (const wchar_t c : text) {
                hash = (hash ^ static_cast<std::uint32_t>(c)) * 0x100000001B3ull;
            }
        }
        // Tables index by the low bits: fold the high ones in.
        hash ^= hash >> 32;
        hash *= 0xD6E8FEB86659FD93ull;
        return static_cast<std::size_t>(hash ^ (hash >> 32));
    }
    std::size_t operator()(const std::wstring& text) const noexcept { return (*this)(std::wstring_view(text)); }
};

/// A map from integer keys (identifiers, addresses) to small values for the parser's lookups: open
/// addressing in a table a power of two in size and at most half full. Growing moves the values.
template <typename Key, typename Value>
class FlatIndex {
public:
    Value* find(Key key)
    {
        if (slots_.empty()) {
            return nullptr;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = slot_of(key) & mask; slots_[i].used; i = (i + 1) & mask) {
            if (slots_[i].key == key) {
                return &slots_[i].value;
            }
        }
        return nullptr;
    }
    /// Adds `key`, which must be absent.
    void insert(Key key, Value value)
    {
        if ((count_ + 1) * 2 > slots_.size()) {
            std::vector<Slot> old(std::max<std::size_t>(64, slots_.size() * 2));
            old.swap(slots_);
            count_ = 0;
            for (const Slot& slot : old) {
                if (slot.used) {
                    place(slot.key, slot.value);
                }
            }
        }
        place(key, std::move(value));
    }
    void release()
    {
        std::vector<Slot>().swap(slots_);
        count_ = 0;
    }

private:
    struct Slot {
        Key key{};
        Value value{};
        bool used = false;
    };
    static std::size_t slot_of(Key key)
    {
        // Fibonacci hashing; the high half of the product carries every key bit.
        const std::uint64_t product = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(product ^ (product >> 32));
    }
    void place(Key key, Value value)
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = slot_of(key) & mask;
        while (slots_[i].used) {
            i = (i + 1) & mask;
        }
        slots_[i] = Slot{key, std::move(value), true};
        ++count_;
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

inline bool is_scan_space(wchar_t c)
{
    // Blank, tab, line feed, vertical tab, form feed and carriage return.
    constexpr std::uint64_t kSpaces =
        (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\v') | (1ull << '\f') | (1ull << '\r');
    return c >= 0 && c <= L' ' && ((kSpaces >> c) & 1u) != 0;
}

}  // namespace detail

/// Reads conversions from a null-terminated fragment the way the C library's formatted input does with
/// the "C" locale: every conversion skips leading white space; after the first failed conversion every
/// later one fails too and leaves its target untouched.
class WideScanner {
public:
    explicit WideScanner(const wchar_t* text) : p_(text) {}

    /// "%d": optional sign and decimal digits; the value is kept modulo 2^32, so 2364540158 reads as the
    /// bit pattern 0x8CF004FE.
    bool int32(std::int32_t& value)
    {
        if (!ok_) {
            return false;
        }
        skip_space();
        const wchar_t* q = p_;
        number_ = q;
        bool negative = false;
        if (*q == L'+' || *q == L'-') {
            negative = *q == L'-';
            ++q;
        }
        if (*q < L'0' || *q > L'9') {
            return ok_ = false;
        }
        std::uint32_t v = 0;
        for (; *q >= L'0' && *q <= L'9'; ++q) {
            v = v * 10u + static_cast<std::uint32_t>(*q - L'0');
        }
        if (negative) {
            v = 0u - v;
        }
        value = static_cast<std::int32_t>(v);
        p_ = q;
        return true;
    }

    /// The number the last successful int32 read, as written rather than modulo 2^32 (magnitudes beyond
    /// 2^40 held at about 2^40).
    std::int64_t exact() const
    {
        if (number_ == nullptr) {
            return 0;
        }
        const wchar_t* q = number_;
        const bool negative = *q == L'-';
        if (*q == L'+' || *q == L'-') {
            ++q;
        }
        std::int64_t wide = 0;
        for (; *q >= L'0' && *q <= L'9' && wide < (std::int64_t{1} << 40); ++q) {
            wide = wide * 10 + (*q - L'0');
        }
        return negative ? -wide : wide;
    }

    /// The next word, after white space, starts with `a` or `b`; nothing is read.
    bool next_starts_with(wchar_t a, wchar_t b)
    {
        if (!ok_) {
            return false;
        }
        skip_space();
        return *p_ == a || *p_ == b;
    }

    /// "%ls": the characters up to the next white space; what does not fit into `out` is dropped.
    template <std::size_t N>
    bool word(Fragment<N>& out)
    {
        if (!ok_) {
            return false;
        }
        skip_space();
        if (*p_ == L'\0') {
            return ok_ = false;
        }
        const wchar_t* start = p_;
        while (*p_ != L'\0' && !detail::is_scan_space(*p_)) {
            ++p_;
        }
        out.fill = std::min(static_cast<std::size_t>(p_ - start), N - 1);
        out.cut = out.fill != static_cast<std::size_t>(p_ - start);
        out.hasNull = false;
        std::char_traits<wchar_t>::copy(out.text, start, out.fill);
        out.terminate();
        return true;
    }

    /// "%lf" and "%f".
    bool real(double& value)
    {
        if (!ok_) {
            return false;
        }
        skip_space();
        if (const wchar_t* end = detail::parse_plain_decimal(p_, value)) {
            p_ = end;
            return true;
        }
        return convert(value, &detail::parse_double);
    }
    bool real(float& value) { return convert(value, &detail::parse_float); }

    /// A literal character of the format: must be the next character, white space included.
    bool literal(wchar_t c)
    {
        if (!ok_ || *p_ != c) {
            return ok_ = false;
        }
        ++p_;
        return true;
    }

    void skip_space()
    {
        while (detail::is_scan_space(*p_)) {
            ++p_;
        }
    }

private:
    template <typename T>
    bool convert(T& value, const wchar_t* (*parse)(const wchar_t*, T&))
    {
        if (!ok_) {
            return false;
        }
        skip_space();
        const wchar_t* end = parse(p_, value);
        if (end == nullptr) {
            return ok_ = false;
        }
        p_ = end;
        return true;
    }

    const wchar_t* p_;
    bool ok_ = true;
    const wchar_t* number_ = nullptr;  // where the last int32 started
};

}  // namespace kq::dbclib
