// The DBC parser. Included by database_file.hpp.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kq::dbclib {

namespace detail {

// Buffer capacities of the parser steps, in characters including the terminator.
inline constexpr std::size_t kStatementFragment = 500;
inline constexpr std::size_t kShortFragment = 100;  // BA_DEF_DEF_, BA_DEF_REL_, BA_DEF_DEF_REL_, BA_REL_, SIG_VALTYPE_
inline constexpr std::size_t kValueListFragment = 17000;
inline constexpr std::size_t kMessageName = 500;  // also the transmitter of a BO_ line
inline constexpr std::size_t kSignalName = 50;
inline constexpr std::size_t kMultiplexIndicator = 10;
inline constexpr std::size_t kOrderToken = 6;
inline constexpr std::size_t kNodeName = 30;  // also attribute names

// A plain search: the texts are a few characters long, where this beats the library's find.
inline bool contains(std::wstring_view text, std::wstring_view part)
{
    if (part.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (text[i] == part[0] && text.substr(i, part.size()) == part) {
            return true;
        }
    }
    return false;
}

/// Stores a value text under the definition's name unless the item has a value of that name already:
/// Int, Hex and Enum as "%d" (an Enum value is an index), Float as "%lf" kept in single precision,
/// String as the text itself. Returns the value stored, or null. `unreadable`, when given, tells
/// whether a number could not be read (it is then stored as 0).
inline const Dbc_Attribute* store_attribute(Dbc_AttributesForItem& item,
                                            const std::shared_ptr<Dbc_AttributeDef>& def, const wchar_t* text,
                                            bool* unreadable = nullptr)
{
    const auto at = item.attributes.lower_bound(def->name);
    if (at != item.attributes.end() && at->first == def->name) {
        return nullptr;
    }
    std::shared_ptr<Dbc_Attribute> value;
    switch (def->valueKind) {
        case Dbc_ValueKind::Int:
        case Dbc_ValueKind::Hex:
        case Dbc_ValueKind::Enum: {
            std::int32_t number = 0;
            const bool read = WideScanner(text).int32(number);
            if (unreadable != nullptr) {
                *unreadable = !read;
            }
            value = std::make_shared<Dbc_AttributeSpec<int>>(def, number);
            break;
        }
        case Dbc_ValueKind::Float: {
            double number = 0.0;
            const bool read = WideScanner(text).real(number);
            if (unreadable != nullptr) {
                *unreadable = !read;
            }
            // Beyond the float range the value becomes infinite rather than undefined.
            const double limit = std::numeric_limits<float>::max();
            const float single = number > limit    ? std::numeric_limits<float>::infinity()
                                 : number < -limit ? -std::numeric_limits<float>::infinity()
                                                   : static_cast<float>(number);
            value = std::make_shared<Dbc_AttributeSpec<float>>(def, single);
            break;
        }
        case Dbc_ValueKind::String:
            value = std::make_shared<Dbc_AttributeSpec<std::wstring>>(def, std::wstring(text));
            break;
    }
    if (!value) {
        return nullptr;
    }
    const Dbc_Attribute* stored = value.get();
    item.attributes.emplace_hint(at, def->name, std::move(value));
    return stored;
}

inline constexpr std::wstring_view kStartValueAttribute = L"GenSigStartValue";

/// A signal's initial raw value from its start value: a whole number in two's complement over the full
/// width; a FLOAT value is rounded toward zero, and one that is not finite changes nothing.
inline void set_start_value(RawNumber& raw, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    raw = value < 0 ? RawNumber(~RawNumber(0u - bits) + 1) : RawNumber(bits);
}

inline void set_start_value(RawNumber& raw, float value)
{
    if (!std::isfinite(value)) {
        return;
    }
    const double whole = std::trunc(static_cast<double>(value));
    const RawNumber magnitude(std::fabs(whole));
    raw = whole < 0.0 ? RawNumber(~magnitude + 1) : magnitude;
}

/// The quoted name that follows a keyword: the text up to the opening quote is skipped, the text up to
/// the closing quote converted with "%ls" (so a name ends at its first blank).
template <std::size_t N>
bool read_quoted_name(DbcTextStream& in, Fragment<N>& scratch, Fragment<kNodeName>& name)
{
    name.clear();
    scratch.clear();
    if (!in.read_until(scratch, L'"')) {
        return false;
    }
    scratch.clear();
    if (!in.read_until(scratch, L'"')) {
        return false;
    }
    WideScanner(scratch.text).word(name);
    return true;
}

/// The text between the next two double quotes.
template <std::size_t N>
bool read_quoted_text(DbcTextStream& in, Fragment<N>& text)
{
    text.clear();
    if (!in.read_until(text, L'"')) {
        return false;
    }
    text.clear();
    return in.read_until(text, L'"');
}

/// `text` (plain ASCII) as the content of `out`, cut to its capacity.
template <std::size_t N>
void assign_ascii(std::string_view text, Fragment<N>& out)
{
    out.fill = std::min(text.size(), N - 1);
    out.hasNull = false;
    for (std::size_t i = 0; i != out.fill; ++i) {
        out.text[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    out.terminate();
}

/// The rest of a signal line after its "(": factor, offset, minimum and maximum, the unit's text up to
/// its first blank and the receiver list, all taken at once from a plain line (see
/// DbcTextStream::plain_line) shorter than a fragment that holds every delimiter in order. The results
/// are those of reading the line fragment by fragment. Reads nothing and returns false for any other
/// line, or when a number is not a plain decimal.
template <std::size_t N>
bool read_signal_tail(DbcTextStream& in, double (&numbers)[4], Fragment<N>& unit, Fragment<N>& receivers)
{
    std::string_view line;
    if (!in.plain_line(line) || line.size() >= N - 1) {
        return false;
    }
    constexpr char kDelimiters[] = {',', ')', '[', '|', ']', '"', '"'};
    std::size_t at[std::size(kDelimiters)] = {};
    for (std::size_t k = 0, from = 0; k < std::size(kDelimiters); ++k) {
        at[k] = line.find(kDelimiters[k], from);
        if (at[k] == std::string_view::npos) {
            return false;
        }
        from = at[k] + 1;
    }
    // The factor stands before ",", the offset before ")", the minimum between "[" and "|", the maximum
    // before "]". Each ends at its delimiter, which is neither blank nor part of a number.
    const std::size_t begins[4] = {0, at[0] + 1, at[2] + 1, at[3] + 1};
    double values[4] = {};
    for (std::size_t n = 0; n < 4; ++n) {
        const char* text = line.data() + begins[n];
        while (is_scan_space(*text)) {
            ++text;
        }
        if (parse_plain_decimal(text, values[n]) == nullptr) {
            return false;
        }
    }
    const char* unitStart = line.data() + at[5] + 1;
    const char* const unitEnd = line.data() + at[6];
    while (unitStart != unitEnd && is_scan_space(*unitStart)) {
        ++unitStart;
    }
    const char* wordEnd = unitStart;
    while (wordEnd != unitEnd && !is_scan_space(*wordEnd)) {
        ++wordEnd;
    }
    assign_ascii(std::string_view(unitStart, static_cast<std::size_t>(wordEnd - unitStart)), unit);
    assign_ascii(line.substr(at[6] + 1), receivers);
    std::copy(std::begin(values), std::end(values), std::begin(numbers));
    in.skip_line(line.size());
    return true;
}

/// A message and a signal as reports name them.
inline std::wstring message_text(std::int32_t id)
{
    return L"message " + std::to_wstring(static_cast<std::uint32_t>(id));
}
inline std::wstring signal_text(std::wstring_view name, std::int32_t id)
{
    return L"signal \"" + std::wstring(name) + L"\" of " + message_text(id);
}

/// Whether a signal's bits lie inside a message of `length` bytes, its start bit read as the file means
/// it: the least significant bit of an Intel signal; the most significant bit of a Motorola signal,
/// whose bits run down to bit 0 of that byte and on from bit 7 of the next.
template <typename Signal>
bool fits_message(const Signal& signal, std::uint32_t length)
{
    const std::uint64_t start = signal.startBit;
    const std::uint64_t size = signal.bitLength;
    if (size == 0) {
        return true;  // reported as a length of its own
    }
    if (signal.byteOrder == ByteOrder::Intel) {
        return start + size <= std::uint64_t{length} * 8;
    }
    const std::uint64_t inFirstByte = start % 8 + 1;
    const std::uint64_t lastByte = size <= inFirstByte ? start / 8 : start / 8 + (size - inFirstByte + 7) / 8;
    return lastByte < length;
}

}  // namespace detail

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ReadFromFile(const std::wstring& path, const std::wstring& locale)
{
    detail::TextBuffer bytes;
    std::error_code error;
    if (!detail::load_file(path, bytes, error)) {
        return -1;
    }
    network->name = detail::network_name_from_path(path);
    ParseBuffer(bytes, locale, nullptr);
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ReadFromFile(const std::wstring& path, const std::wstring& locale,
                                                    Dbc_ReadReport& report)
{
    report = Dbc_ReadReport{};
    detail::TextBuffer bytes;
    if (!detail::load_file(path, bytes, report.error)) {
        report.status = Dbc_ReadStatus::NotOpened;
        return -1;
    }
    network->name = detail::network_name_from_path(path);
    ParseBuffer(bytes, locale, &report);
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::read_from_bytes(std::string_view bytes, const std::wstring& locale)
{
    detail::TextBuffer copy{std::make_unique_for_overwrite<char[]>(bytes.size()), bytes.size()};
    std::char_traits<char>::copy(copy.data.get(), bytes.data(), bytes.size());
    ParseBuffer(copy, locale, nullptr);
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::read_from_bytes(std::string_view bytes, const std::wstring& locale,
                                                       Dbc_ReadReport& report)
{
    report = Dbc_ReadReport{};
    detail::TextBuffer copy{std::make_unique_for_overwrite<char[]>(bytes.size()), bytes.size()};
    std::char_traits<char>::copy(copy.data.get(), bytes.data(), bytes.size());
    ParseBuffer(copy, locale, &report);
    return 0;
}

// Parses the text, frees it and runs ProcessAttributes; the lookups of the parse are forgotten however it
// ends.
template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ParseBuffer(detail::TextBuffer& bytes, const std::wstring& locale,
                                                   Dbc_ReadReport* report)
{
    std::optional<detail::DiagnosticSink> sink;
    if (report != nullptr) {
        sink.emplace(*report);
    }
    struct Reset {
        Template_Database_File& file;
        ~Reset()
        {
            file.ResetLookups();
            file.diagnostics_ = nullptr;
        }
    } reset{*this};
    DbcTextStream in = detail::open_text(bytes, locale);
    diagnostics_ = sink ? &*sink : nullptr;
    ParseText(in);
    if (sink) {
        sink->Finish(in.bytes(), in.utf8());
    }
    diagnostics_ = nullptr;
    // The file's text is not needed once the model is built.
    bytes = {};
    ProcessAttributes();
}

// The keyword loop: reads one character at a time and runs the step of every keyword the character
// completes, in table order (see detail::KeywordAutomaton for the matching rule). Counts are not reset
// after a step; the step has read on from where its keyword ended.
template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ParseText(DbcTextStream& in)
{
    ResetLookups();
    reading_ = true;
    const auto& automaton = detail::KeywordAutomaton::instance();
    std::uint16_t state = 0;
    wchar_t c = 0;
    for (;;) {
        if (!automaton.partial(state)) {
            // With every count at 0 or complete, a character that starts no keyword only sets all of
            // them to 0: skip such characters in bulk.
            in.skip_to_keyword_start();
        }
        if (!in.get(c)) {
            break;
        }
        state = automaton.next(state, c);
        for (unsigned completed = automaton.completed(state); completed != 0; completed &= completed - 1) {
            const auto k = static_cast<unsigned>(__builtin_ctz(completed));
            if (diagnostics_ == nullptr) {
                RunStep(in, k);
            } else {
                RunNotedStep(in, k);
            }
        }
    }
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::RunStep(DbcTextStream& in, unsigned k)
{
    switch (k) {
        case 0:
            // A message starts only at the start of a line, so "CM_ BO_", "BA_ ... BO_" and "BA_DEF_ BO_"
            // never start one, wherever comments stand.
            if (in.line_start_before(detail::KeywordAutomaton::kKeywords[0].size())) {
                ParseMessageFromFile(in);
            }
            break;
        case 1:
            AddCommentToNetwork(in);
            break;
        case 2:
            AddCommentToNode(in);
            break;
        case 3:
            ParseAttributeDefFromFile(in);
            break;
        case 4:
            AddBA_DEF_REL(in);
            break;
        case 5:
            AddBA_DEF_DEF_REL(in);
            break;
        case 6:
            AddBA_DEF_DEF(in);
            break;
        case 7:
            ParseAttributeFromFile(in);
            break;
        case 8:
            AddBA_REL(in);
            break;
        case 9:
            AddCommentToMessage(in);
            break;
        case 10:
            AddCommentToSignal(in);
            break;
        case 11:
            ChangeMessageTransmitters(in);
            break;
        case 12:
            ParseValueTableFromFile(in);
            break;
        case 13:
            ChangeSignalValueType(in);
            break;
        default:
            ParseNodesFromFile(in);
            break;
    }
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::RunNotedStep(DbcTextStream& in, unsigned k)
{
    // The keywords as statements name them: without the blank or quote that ends them in the table.
    static constexpr std::wstring_view kNames[] = {
        L"BO_", L"CM_", L"CM_ BU_", L"BA_DEF_", L"BA_DEF_REL_", L"BA_DEF_DEF_REL_", L"BA_DEF_DEF_", L"BA_",
        L"BA_REL_", L"CM_ BO_", L"CM_ SG_", L"BO_TX_BU_", L"VAL_", L"SIG_VALTYPE_", L"BU_",
    };
    static_assert(std::size(kNames) == detail::KeywordAutomaton::kCount);
    const std::size_t keywordSize = detail::KeywordAutomaton::kKeywords[k].size();
    const std::size_t start = in.offset() - keywordSize;
    statementStart_ = start;
    statementKeyword_ = kNames[k];
    in.take_missing();
    // A keyword inside another statement's line ("SG_MUL_VAL_ " ends in "VAL_ ") runs its step as ever,
    // but what that step makes of the line is no statement of the file's.
    detail::DiagnosticSink* const sink = diagnostics_;
    const bool statement = in.line_start_before(keywordSize);
    if (!statement) {
        diagnostics_ = nullptr;
    }
    RunStep(in, k);
    diagnostics_ = sink;
    const wchar_t missing = in.take_missing();
    if (statement && in.at_end() && missing != 0 && missing != L'\n') {
        Note(Dbc_Problem::Unclosed, [missing] {
            const std::wstring delimiter =
                missing == L'"' ? std::wstring(L"closing quote") : L"\"" + std::wstring(1, missing) + L"\"";
            return L"no " + delimiter + L" before the end of the file; the rest of the file was read as this "
                                        L"statement";
        });
    }
    sink->Covered(start, in.offset());
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ResetLookups()
{
    ForgetDefinitions();
    lastMessage_ = nullptr;
    nodeSlots_ = std::vector<NodeSlot>();
    nodeSlotsIndexed_ = 0;
    // Assigning empty vectors (not "{}", which keeps the capacity) gives the memory back.
    signalEntries_ = std::vector<SignalEntry>();
    signalRuns_ = std::deque<SignalRun>();
    runIndex_.release();
    messageIndex_.release();
    lastRunMessage_ = nullptr;
    lastRun_ = nullptr;
    reading_ = false;
    receiverScratch_.clear();
}

// The Find helpers answer with references into the network's maps (or to an empty pointer), which stay
// valid while the step runs: a parse never removes entries.
template <typename Msg, typename Sig>
const std::shared_ptr<Dbc_AttributeDef>& Template_Database_File<Msg, Sig>::FindDefinition(
    std::wstring_view name) const
{
    static const std::shared_ptr<Dbc_AttributeDef> kNone;
    // Many statements name the same few attributes, often taking turns: the last few answers are kept
    // until a definition is added (the parse is the only writer of the tables while it runs).
    for (const auto& recent : recentDefinitions_) {
        if (recent.definition != nullptr && recent.name == name) {
            return *recent.definition;
        }
    }
    const auto remember = [this, name](const std::shared_ptr<Dbc_AttributeDef>& definition)
        -> const std::shared_ptr<Dbc_AttributeDef>& {
        RecentDefinition& slot = recentDefinitions_[nextRecentDefinition_];
        nextRecentDefinition_ = (nextRecentDefinition_ + 1) % recentDefinitions_.size();
        slot.name.assign(name);
        slot.definition = &definition;
        return definition;
    };
    const auto known = foundDefinitions_.find(name);
    if (known != foundDefinitions_.end()) {
        return remember(*known->second);
    }
    const std::wstring& key = lookup_key(name);
    for (const auto* table : {&network->networkDefinitions, &network->nodeDefinitions, &network->messageDefinitions,
                              &network->signalDefinitions}) {
        if (*table) {
            const auto it = (*table)->find(key);
            if (it != (*table)->end()) {
                foundDefinitions_.emplace(key, &it->second);
                return remember(it->second);
            }
        }
    }
    return kNone;
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ForgetDefinitions() const
{
    foundDefinitions_.clear();
    for (auto& recent : recentDefinitions_) {
        recent.definition = nullptr;
    }
}

template <typename Msg, typename Sig>
const std::wstring& Template_Database_File<Msg, Sig>::lookup_key(std::wstring_view text) const
{
    lookupKey_.assign(text);
    return lookupKey_;
}

template <typename Msg, typename Sig>
const std::shared_ptr<Msg>& Template_Database_File<Msg, Sig>::FindMessage(std::int32_t id) const
{
    static const std::shared_ptr<Msg> kNone;
    // Statements about one message tend to come in a row.
    const auto key = static_cast<std::uint32_t>(id);
    if (lastMessage_ != nullptr && lastMessageId_ == key) {
        return *lastMessage_;
    }
    const std::shared_ptr<Msg>* found = nullptr;
    if (const std::shared_ptr<Msg>* const* known = messageIndex_.find(key)) {
        found = *known;
    } else {
        // Not seen in this read yet; an identifier that names no message is looked up each time, a
        // later BO_ may still bring it.
        const auto it = network->messages.find(key);
        if (it == network->messages.end()) {
            return kNone;
        }
        found = &it->second;
        messageIndex_.insert(key, found);
    }
    lastMessage_ = found;
    lastMessageId_ = key;
    return *found;
}

template <typename Msg, typename Sig>
auto Template_Database_File<Msg, Sig>::FindSignalRun(const Msg& message) const -> SignalRun*
{
    if (lastRunMessage_ != &message) {
        SignalRun* const* run = runIndex_.find(reinterpret_cast<std::uintptr_t>(&message));
        lastRunMessage_ = &message;
        lastRun_ = run == nullptr ? nullptr : *run;
    }
    return lastRun_;
}

template <typename Msg, typename Sig>
Sig* Template_Database_File<Msg, Sig>::FindSignal(const Msg& message, std::wstring_view name) const
{
    // The signals a message got in this read stand together in the entries; the message's map holds
    // them too, and also those of an earlier read.
    SignalRun* run = FindSignalRun(message);
    if (run != nullptr && !run->split && run->begin != run->end) {
        // Statements about signals mostly take them in order: the search starts after the entry found
        // last, trying that one without a hash, and goes round the run once.
        const auto matches = [name](const SignalEntry& entry) {
            return entry.size == name.size() && std::wmemcmp(entry.name, name.data(), name.size()) == 0;
        };
        const auto found = [this, run](std::size_t i) {
            run->next = i + 1 == run->end ? run->begin : i + 1;
            // Start loading what the next statement most likely needs: the name of the next signal, its
            // attribute values and its start value.
            const SignalEntry& next = signalEntries_[run->next];
            __builtin_prefetch(next.name);
            __builtin_prefetch(static_cast<const Dbc_AttributesForItem*>(next.signal));
            __builtin_prefetch(&next.signal->initialRawValue);
            return signalEntries_[i].signal;
        };
        if (matches(signalEntries_[run->next])) {
            return found(run->next);
        }
        const std::size_t hash = detail::TextHash{}(name);
        std::size_t i = run->next;
        for (std::size_t n = run->end - run->begin; n != 0; --n) {
            const SignalEntry& entry = signalEntries_[i];
            if (entry.hash == hash && matches(entry)) {
                return found(i);
            }
            if (++i == run->end) {
                i = run->begin;
            }
        }
        if (run->end - run->begin == message.signals.size()) {
            return nullptr;
        }
    }
    const auto it = message.signals.find(lookup_key(name));
    return it == message.signals.end() ? nullptr : it->second.get();
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::IndexSignal(const Msg& message, Sig* signal)
{
    SignalRun* run = FindSignalRun(message);
    if (run == nullptr) {
        const std::size_t begin = signalEntries_.size();
        run = &signalRuns_.emplace_back(SignalRun{begin, begin, false, begin});
        runIndex_.insert(reinterpret_cast<std::uintptr_t>(&message), run);
        lastRunMessage_ = &message;
        lastRun_ = run;
    }
    if (run->end != signalEntries_.size()) {
        // A second BO_ of the message after other messages: FindSignal then searches the map.
        run->split = true;
        return;
    }
    signalEntries_.push_back(
        SignalEntry{detail::TextHash{}(signal->name), signal, signal->name.data(), signal->name.size()});
    ++run->end;
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::StoreSignalAttribute(Sig& signal, std::int32_t id,
                                                            const std::shared_ptr<Dbc_AttributeDef>& def,
                                                            const wchar_t* text)
{
    const Dbc_Attribute* stored = StoreValue(signal, def, text, [&] {
        return detail::signal_text(signal.name, id);
    });
    if (stored == nullptr || !reading_ || def->name != detail::kStartValueAttribute) {
        return;
    }
    // A value, once stored, is never replaced: its start value can be set now, while the signal is at
    // hand, rather than by ProcessAttributes after the read. The definition's kind tells the value's type.
    switch (def->valueKind) {
        case Dbc_ValueKind::Int:
        case Dbc_ValueKind::Hex:
        case Dbc_ValueKind::Enum:
            detail::set_start_value(signal.initialRawValue, static_cast<const Dbc_AttributeSpec<int>*>(stored)->value);
            break;
        case Dbc_ValueKind::Float:
            detail::set_start_value(signal.initialRawValue,
                                    static_cast<const Dbc_AttributeSpec<float>*>(stored)->value);
            break;
        case Dbc_ValueKind::String:
            break;
    }
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::NoteNumber(bool read, std::int64_t exact, std::int64_t low, std::int64_t high,
                                                  std::uint32_t stored, std::wstring_view field)
{
    if (!read) {
        Note(Dbc_Problem::BadNumber, [field] { return std::wstring(field) + L" could not be read; left 0"; });
    } else if (exact < low || exact > high) {
        Note(Dbc_Problem::OutOfRange, [&] {
            std::wstring text = std::wstring(field) + L" " + std::to_wstring(exact) + L" is outside " +
                                std::to_wstring(low) + L" to " + std::to_wstring(high);
            if (exact != static_cast<std::int64_t>(stored)) {
                text += L"; read as " + std::to_wstring(stored);
            }
            return text;
        });
    }
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::NoteUnknownNode(std::wstring_view name, std::wstring_view role)
{
    if (diagnostics_ != nullptr && name != L"Vector__XXX" && diagnostics_->FirstMention(name)) {
        Note(Dbc_Problem::UnknownItem, [&] {
            return std::wstring(role) + L" \"" + std::wstring(name) +
                   L"\" is no node of the BU_ list; dropped here and wherever else it stands";
        });
    }
}

template <typename Msg, typename Sig>
template <typename ItemText>
const Dbc_Attribute* Template_Database_File<Msg, Sig>::StoreValue(Dbc_AttributesForItem& target,
                                                                  const std::shared_ptr<Dbc_AttributeDef>& def,
                                                                  const wchar_t* text, const ItemText& item)
{
    bool unreadable = false;
    const Dbc_Attribute* stored = detail::store_attribute(target, def, text, &unreadable);
    if (stored == nullptr) {
        Note(Dbc_Problem::Duplicate, [&] {
            return item() + L" has a value of \"" + def->name + L"\" already; the first is kept";
        });
    } else if (unreadable) {
        Note(Dbc_Problem::BadNumber, [&] {
            return L"the value of \"" + def->name + L"\" for " + item() + L" could not be read; left 0";
        });
    }
    return stored;
}

template <typename Msg, typename Sig>
auto Template_Database_File<Msg, Sig>::FindNode(std::wstring_view name) const -> const std::shared_ptr<Node>&
{
    static const std::shared_ptr<Node> kNone;
    // Node names are looked up for every receiver.
    const std::size_t count = network->nodes.size();
    if (count == 0) {
        return kNone;
    }
    if (nodeSlotsIndexed_ != count || nodeSlots_.empty()) {
        std::size_t size = 16;
        while (size < count * 2) {
            size *= 2;
        }
        nodeSlots_.assign(size, NodeSlot{});
        for (const auto& [nodeName, node] : network->nodes) {
            const std::size_t hash = detail::TextHash{}(nodeName);
            std::size_t i = hash & (size - 1);
            while (nodeSlots_[i].node != nullptr) {
                i = (i + 1) & (size - 1);
            }
            nodeSlots_[i] = NodeSlot{hash, nodeName, &node};
        }
        nodeSlotsIndexed_ = count;
    }
    const std::size_t hash = detail::TextHash{}(name);
    const std::size_t mask = nodeSlots_.size() - 1;
    for (std::size_t i = hash & mask; nodeSlots_[i].node != nullptr; i = (i + 1) & mask) {
        if (nodeSlots_[i].hash == hash && nodeSlots_[i].name == name) {
            return *nodeSlots_[i].node;
        }
    }
    return kNone;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ParseMessageFromFile(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L':')) {
        return -1;
    }
    std::int32_t id = 0;
    Fragment<kMessageName> name;
    name.clear();
    {
        WideScanner scan(fragment.text);
        const bool read = scan.int32(id);
        if (diagnostics_ != nullptr) {
            NoteNumber(read, scan.exact(), 0, 0xFFFFFFFF, static_cast<std::uint32_t>(id), L"the identifier");
        }
        read && scan.word(name);
    }
    NoteCut(fragment, L"the message header");
    NoteCut(name, L"the message name");
    fragment.clear();
    // The end of the stream also ends the line, so a file without a final line feed keeps its last
    // message.
    in.read_until(fragment, L'\n');
    std::int32_t length = 0;
    Fragment<kMessageName> transmitter;
    transmitter.clear();
    {
        WideScanner scan(fragment.text);
        const bool read = scan.int32(length);
        if (diagnostics_ != nullptr) {
            NoteNumber(read, scan.exact(), 0, 64, static_cast<std::uint32_t>(length), L"the message length");
        }
        read && scan.word(transmitter);
    }
    NoteCut(fragment, L"the message header");
    NoteCut(transmitter, L"the transmitter");

    const auto& net = network;
    // Node names are kept cut to their capacity, so the transmitter is looked up cut the same way, as
    // receivers and BO_TX_BU_ lists are.
    const std::shared_ptr<Node>& node = FindNode(transmitter.view().substr(0, kNodeName - 1));
    if (!node && transmitter.fill != 0) {
        NoteUnknownNode(transmitter.view(), L"transmitter");
    }
    const auto key = static_cast<std::uint32_t>(id);
    auto it = net->messages.find(key);
    if (it == net->messages.end()) {
        std::vector<std::weak_ptr<Node>> transmitters;
        if (node) {
            transmitters.push_back(node);
        }
        it = net->messages
                 .emplace(key, std::make_shared<Msg>(key, name.str(), static_cast<std::uint32_t>(length),
                                                     std::move(transmitters), net))
                 .first;
    } else {
        Note(Dbc_Problem::Duplicate, [&] {
            return L"message " + std::to_wstring(key) + L" is defined again (first as \"" + it->second->name +
                   L"\"); the first is kept and the signals of this one are added to it";
        });
    }
    const std::shared_ptr<Msg> message = it->second;
    if (messageIndex_.find(key) == nullptr) {
        messageIndex_.insert(key, &it->second);
    }
    if (node) {
        node->txMessages.emplace(key, Template_TxMessage<Msg>(message, net->nodeMessageDefinitions));
    }

    if (in.at_end()) {
        return -3;
    }
    // Signal lines: "SG_ " after any blanks and tabs. Any other line ends the message and is left to the
    // keyword loop, so a message line straight after a header or a signal line starts its message.
    for (;;) {
        if (!in.at_line_start()) {
            break;  // a signal statement ran on past its line
        }
        const std::size_t indent = in.blanks_ahead();
        if (!in.ahead(indent, "SG_ ")) {
            break;
        }
        statementStart_ = in.offset() + indent;
        statementKeyword_ = L"SG_";
        in.skip(indent + 3);
        ParseSignalFromFile(in, message);
    }
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ParseSignalFromFile(DbcTextStream& in, const std::shared_ptr<Msg>& message)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L':')) {
        return -1;
    }
    // Not reset: the fragment holds the name part and the bit part together.
    if (!in.read_until(fragment, L'(')) {
        return -2;
    }

    Fragment<kSignalName> name;
    name.clear();
    Fragment<kMultiplexIndicator> indicator;
    indicator.clear();
    Fragment<kOrderToken> token{};
    std::int32_t start = 0;
    std::int32_t length = 0;
    bool startRead = false;
    bool lengthRead = false;
    {
        // The word after the name is a multiplex indicator when it starts with "m" or "M", whatever the
        // name's length.
        WideScanner scan(fragment.text);
        const bool named = scan.word(name) && (!scan.next_starts_with(L'm', L'M') || scan.word(indicator));
        startRead = named && scan.int32(start);
        const std::int64_t startExact = diagnostics_ != nullptr ? scan.exact() : 0;
        lengthRead = startRead && scan.literal(L'|') && scan.int32(length);
        if (lengthRead) {
            scan.word(token);
        }
        if (diagnostics_ != nullptr) {
            NoteCut(fragment, L"the signal definition");
            NoteCut(name, L"the signal name");
            NoteCut(indicator, L"the multiplex indicator");
            NoteNumber(startRead, startExact, 0, 0xFFFFFFFF, static_cast<std::uint32_t>(start), L"the start bit");
            NoteNumber(lengthRead, scan.exact(), 1, 0xFFFFFFFF, static_cast<std::uint32_t>(length),
                       L"the bit length");
            const std::wstring_view t = token.view();
            if (lengthRead && (t.size() != 3 || t[0] != L'@' || (t[1] != L'0' && t[1] != L'1') ||
                               (t[2] != L'+' && t[2] != L'-'))) {
                Note(Dbc_Problem::BadNumber, [&] {
                    return L"the byte order and sign \"" + std::wstring(t) + L"\" could not be read; read as " +
                           (t.size() > 1 && t[1] == L'0' ? L"Motorola" : L"Intel") + L", " +
                           (t.size() > 2 && t[2] == L'-' ? L"signed" : L"unsigned");
                });
            }
        }
    }
    // "@" followed by the byte order (0 Motorola, else Intel) and the sign ("-" signed).
    const ByteOrder order = token.text[1] == L'0' ? ByteOrder::Motorola : ByteOrder::Intel;
    const ValueType type = token.text[2] == L'-' ? ValueType::Signed : ValueType::Unsigned;

    double numbers[4] = {};  // factor, offset, minimum, maximum
    Fragment<kStatementFragment> unit;
    unit.clear();
    // `fragment` ends up holding the receiver list.
    if (!read_signal_tail(in, numbers, unit, fragment)) {
        const wchar_t delimiters[] = {L',', L')', L'[', L'|', L']'};
        const int codes[] = {-3, -4, -5, -6, -7};
        static constexpr std::wstring_view kFields[] = {L"the factor", L"the offset", L"the minimum",
                                                        L"the maximum"};
        for (std::size_t i = 0, n = 0; i < std::size(delimiters); ++i) {
            fragment.clear();
            if (!in.read_until(fragment, delimiters[i])) {
                return codes[i];
            }
            if (delimiters[i] != L'[') {  // the text before "[" is discarded
                const bool read = WideScanner(fragment.text).real(numbers[n]);
                if (!read) {
                    NoteNumber(false, 0, 0, 0, 0, kFields[n]);
                }
                ++n;
            }
        }
        fragment.clear();
        if (!in.read_until(fragment, L'"')) {
            return -8;
        }
        fragment.clear();
        if (!in.read_until(fragment, L'"')) {
            return -9;
        }
        NoteCut(fragment, L"the unit");
        WideScanner(fragment.text).word(unit);  // a unit ends at its first blank
        fragment.clear();
        in.read_until(fragment, L'\n');  // the end of the stream also ends the receiver list
        NoteCut(fragment, L"the receiver list");
    }

    const auto& net = network;
    // Receivers are separated by commas (some writers use blanks); names of unknown nodes are dropped.
    std::vector<std::weak_ptr<Node>> receivers;
    {
        const std::wstring_view text = fragment.view();
        std::vector<const std::shared_ptr<Node>*>& found = receiverScratch_;
        found.clear();
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = pos;
            while (end < text.size() && text[end] != L',' && text[end] != L' ' && text[end] != L'\t' &&
                   text[end] != L'\v' && text[end] != L'\f') {
                ++end;
            }
            if (end != pos) {
                const auto& node = FindNode(text.substr(pos, std::min(end - pos, kNodeName - 1)));
                if (node && std::find(found.begin(), found.end(), &node) == found.end()) {
                    found.push_back(&node);
                } else if (!node) {
                    NoteUnknownNode(text.substr(pos, end - pos), L"receiver");
                }
            }
            pos = end + 1;
        }
        receivers.reserve(found.size());
        for (const auto* node : found) {
            receivers.emplace_back(*node);
        }
    }

    auto signal = std::make_shared<Sig>(name.str(), std::weak_ptr<Msg>(message), static_cast<std::uint32_t>(start),
                                        static_cast<std::uint32_t>(length), type, order, numbers[0], numbers[1],
                                        numbers[2], numbers[3], unit.str(), std::move(receivers), net);
    // Writers list signals mostly in name order: the hints make those inserts cheap and change nothing
    // otherwise (equal names still go after the ones already there).
    const auto added = message->signals.emplace_hint(message->signals.end(), signal->name, signal);
    if (added->second == signal) {
        IndexSignal(*message, signal.get());
    } else {
        Note(Dbc_Problem::Duplicate, [&] {
            return L"signal \"" + signal->name + L"\" is in message " + std::to_wstring(message->id) +
                   L" already; the first is kept";
        });
    }
    net->signals.emplace_hint(net->signals.end(), signal->name, signal);
    if (diagnostics_ != nullptr && startRead && lengthRead && !fits_message(*signal, message->length)) {
        Note(Dbc_Problem::SignalOutside, [&] {
            return L"signal \"" + signal->name + L"\" (start bit " + std::to_wstring(signal->startBit) + L", " +
                   std::to_wstring(signal->bitLength) + L" bits, " +
                   (order == ByteOrder::Motorola ? L"Motorola" : L"Intel") + L") does not fit in the " +
                   std::to_wstring(message->length) + L" bytes of message " + std::to_wstring(message->id);
        });
    }

    const std::wstring_view mux = indicator.view();
    if (mux == L"M") {
        message->multiplex.multiplexor = signal;
    } else if (mux.size() >= 2 && mux[0] == L'm') {
        std::int32_t number = 0;
        WideScanner scan(indicator.text + 1);
        const bool read = scan.int32(number);
        if (diagnostics_ != nullptr) {
            NoteNumber(read, scan.exact(), 0, 0xFFFFFFFF, static_cast<std::uint32_t>(number), L"the multiplex value");
        }
        const auto value = static_cast<std::uint32_t>(number);
        auto& values = message->multiplex.values;
        const auto pos = std::lower_bound(values.begin(), values.end(), value);
        if (pos == values.end() || *pos != value) {
            values.insert(pos, value);
        }
        message->multiplex.signalsByValue[value].push_back(signal);
        signal->isMultiplexed = true;
        signal->multiplexValue = value;
    }
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ParseNodesFromFile(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    in.read_until(fragment, L'\n');  // the end of the stream also ends the list
    NoteCut(fragment, L"the node list");
    // Names separated by single blanks; two blanks in a row or the end stop the list.
    const std::wstring_view text = fragment.view();
    std::size_t pos = 0;
    for (;;) {
        const std::size_t blank = text.find(L' ', pos);
        const std::size_t end = blank == std::wstring_view::npos ? text.size() : blank;
        if (end == pos) {
            break;
        }
        const std::wstring nodeName(text.substr(pos, std::min(end - pos, kNodeName - 1)));
        if (end - pos > kNodeName - 1) {
            Note(Dbc_Problem::Cut, [&] { return L"the node name \"" + nodeName + L"...\" cut to 29 characters"; });
        }
        if (network->nodes.find(nodeName) == network->nodes.end()) {
            network->nodes.emplace(nodeName, std::make_shared<Node>(nodeName, network));
        } else {
            Note(Dbc_Problem::Duplicate, [&] { return L"node \"" + nodeName + L"\" is listed again; the first is kept"; });
        }
        if (blank == std::wstring_view::npos) {
            break;
        }
        pos = blank + 1;
    }
    return 0;
}

template <typename Msg, typename Sig>
template <std::size_t N>
void Template_Database_File<Msg, Sig>::ParseDefinition(DbcTextStream& in, bool relation)
{
    using namespace detail;
    Fragment<N> fragment;
    fragment.clear();
    // A quoted name right after the keyword, however many blanks stand before it, is a network
    // definition (some writers put two blanks there, others one).
    wchar_t next = 0;
    const bool network_definition = !relation && in.peek(next) && next == L'"';
    if (!network_definition && !in.read_until(fragment, L' ')) {
        return;
    }
    std::shared_ptr<Dbc_DefinitionTable> table;
    const std::wstring_view object = fragment.view();
    if (network_definition) {
        table = network->networkDefinitions;
    } else if (relation) {
        if (contains(object, L"BU_SG_REL_")) {
            table = network->nodeSignalDefinitions;
        } else if (contains(object, L"BU_BO_REL_")) {
            table = network->nodeMessageDefinitions;
        }
    } else if (contains(object, L"BU_")) {
        table = network->nodeDefinitions;
    } else if (contains(object, L"BO_")) {
        table = network->messageDefinitions;
    } else if (contains(object, L"SG_")) {
        table = network->signalDefinitions;
    } else if (object.empty()) {
        // Network attributes are written with two blanks after the keyword.
        table = network->networkDefinitions;
    }

    const std::wstring objectText(object);
    Fragment<kNodeName> name;
    if (!read_quoted_name(in, fragment, name)) {
        return;
    }
    NoteCut(name, L"the attribute name");
    fragment.clear();
    if (!in.read_until(fragment, L' ') || !in.read_until(fragment, L';')) {
        return;
    }
    NoteCut(fragment, L"the definition");
    if (!table) {
        Note(Dbc_Problem::UnknownItem, [&] {
            return L"attributes of \"" + objectText + L"\" items are not kept; the definition of \"" + name.str() +
                   L"\" skipped";
        });
        return;
    }
    const std::wstring key = name.str();
    if (table->find(key) != table->end()) {
        Note(Dbc_Problem::Duplicate, [&] {
            return L"attribute \"" + key + L"\" is defined again; the first definition is kept";
        });
        return;
    }

    const std::wstring_view text = fragment.view();
    std::shared_ptr<Dbc_AttributeDef> def;
    if (text.starts_with(L"STRING")) {
        def = std::make_shared<Dbc_StringAttributeDef>(key);
    } else if (text.starts_with(L"HEX") || text.starts_with(L"INT")) {
        std::int32_t minimum = 0;
        std::int32_t maximum = 0;
        WideScanner scan(fragment.text + 3);
        const bool read = scan.int32(minimum) && scan.int32(maximum);
        if (!read) {
            NoteNumber(false, 0, 0, 0, 0, L"a bound of \"" + key + L"\"");
        }
        if (text[0] == L'H') {
            def = std::make_shared<Dbc_HexAttributeDef>(key, minimum, maximum);
        } else {
            def = std::make_shared<Dbc_IntAttributeDef>(key, minimum, maximum);
        }
    } else if (text.starts_with(L"ENUM")) {
        // The texts between successive pairs of quotes; an unclosed quote ends the list.
        std::vector<std::wstring> values;
        std::size_t pos = 4;
        for (;;) {
            const std::size_t open = text.find(L'"', pos);
            if (open == std::wstring_view::npos) {
                break;
            }
            const std::size_t close = text.find(L'"', open + 1);
            if (close == std::wstring_view::npos) {
                break;
            }
            values.emplace_back(text.substr(open + 1, close - open - 1));
            pos = close + 1;
        }
        def = std::make_shared<Dbc_EnumAttributeDef>(key, std::move(values));
    } else if (text.starts_with(L"FLOAT")) {
        float minimum = 0.0f;
        float maximum = 0.0f;
        WideScanner scan(fragment.text + 5);
        if (!(scan.real(minimum) && scan.real(maximum))) {
            NoteNumber(false, 0, 0, 0, 0, L"a bound of \"" + key + L"\"");
        }
        def = std::make_shared<Dbc_FloatAttributeDef>(key, minimum, maximum);
    }
    if (def) {
        table->emplace(key, std::move(def));
        // The new definition may hide one of the same name in a later table.
        ForgetDefinitions();
    } else {
        Note(Dbc_Problem::UnknownItem, [&] {
            return L"\"" + std::wstring(text.substr(0, text.find(L' '))) + L"\" is no value type; \"" + key +
                   L"\" skipped";
        });
    }
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ParseAttributeDefFromFile(DbcTextStream& in)
{
    ParseDefinition<detail::kStatementFragment>(in, false);
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::AddBA_DEF_REL(DbcTextStream& in)
{
    ParseDefinition<detail::kShortFragment>(in, true);
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::AddBA_DEF_DEF(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kShortFragment> fragment;
    Fragment<kNodeName> name;
    if (!read_quoted_name(in, fragment, name)) {
        return;
    }
    const auto& def = FindDefinition(name.view());
    if (!def) {
        Note(Dbc_Problem::UnknownItem, [&] {
            return L"attribute \"" + name.str() + L"\" is not defined (BA_DEF_); its default skipped";
        });
        return;
    }
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return;
    }
    wchar_t c = 0;
    if (!in.read_char(c)) {
        return;
    }
    fragment.clear();
    if (c == L'"') {
        if (!in.read_until(fragment, L'"')) {
            return;
        }
        NoteCut(fragment, L"the default");
        if (def->valueKind == Dbc_ValueKind::String) {
            static_cast<Dbc_StringAttributeDef&>(*def).defaultValue = fragment.str();
        } else if (def->valueKind == Dbc_ValueKind::Enum) {
            auto& enumDef = static_cast<Dbc_EnumAttributeDef&>(*def);
            const auto it = std::find(enumDef.values.begin(), enumDef.values.end(), fragment.view());
            if (it != enumDef.values.end()) {
                enumDef.defaultIndex = static_cast<std::int32_t>(it - enumDef.values.begin());
            }
        }
        return;
    }
    fragment.push(c);
    if (!in.read_until(fragment, L';')) {
        return;
    }
    WideScanner scan(fragment.text);
    bool read = true;
    switch (def->valueKind) {
        case Dbc_ValueKind::Int:
            read = scan.int32(static_cast<Dbc_IntAttributeDef&>(*def).defaultValue);
            break;
        case Dbc_ValueKind::Hex:
            read = scan.int32(static_cast<Dbc_HexAttributeDef&>(*def).defaultValue);
            break;
        case Dbc_ValueKind::Float:
            read = scan.real(static_cast<Dbc_FloatAttributeDef&>(*def).defaultValue);
            break;
        default:
            break;
    }
    if (!read) {
        Note(Dbc_Problem::BadNumber, [&] {
            return L"the default of \"" + def->name + L"\" could not be read; left as it was";
        });
    }
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::AddBA_DEF_DEF_REL(DbcTextStream& in)
{
    Fragment<detail::kShortFragment> fragment;
    fragment.clear();
    in.read_until(fragment, L';');
}

// The value of a BA_ or BA_REL_ statement for a node, message, signal or relation: a quoted text (the
// statement is then read to its ";") or the text up to ";".
template <typename Msg, typename Sig>
template <std::size_t N>
bool Template_Database_File<Msg, Sig>::ReadValueText(DbcTextStream& in, Fragment<N>& text)
{
    wchar_t c = 0;
    if (!in.read_char(c)) {
        return false;
    }
    text.clear();
    if (c == L'"') {
        if (!in.read_until(text, L'"')) {
            return false;
        }
        Fragment<N> rest;
        rest.clear();
        return in.read_until(rest, L';');
    }
    text.push(c);
    return in.read_until(text, L';');
}

// The most common attribute statement, for a signal, taken from its line at once. The pieces are cut
// where reading fragment by fragment would cut them, so the result is the same; any statement that
// would take another turn there (a quoted network value, another object, an unknown item, a statement
// running on past its line) is left to the fragment-wise reading.
template <typename Msg, typename Sig>
bool Template_Database_File<Msg, Sig>::ParseSignalAttributeLine(DbcTextStream& in)
{
    using namespace detail;
    std::string_view line;
    if (!in.plain_line(line) || line.size() >= kShortFragment - 1) {
        return false;
    }
    constexpr auto npos = std::string_view::npos;
    // The attribute's name: the quoted text up to its first blank.
    const std::size_t open = line.find('"');
    const std::size_t close = open == npos ? npos : line.find('"', open + 1);
    if (close == npos) {
        return false;
    }
    std::size_t first = open + 1;
    while (first != close && is_scan_space(line[first])) {
        ++first;
    }
    std::size_t last = first;
    while (last != close && !is_scan_space(line[last])) {
        ++last;
    }
    if (first == close) {
        return false;  // no name: the fragment-wise reading finds no definition either
    }
    Fragment<kNodeName> name;
    assign_ascii(line.substr(first, last - first), name);
    // Up to the next blank, then the object: its first character whatever it is, then up to a blank
    // or ";".
    const std::size_t blank = line.find(' ', close + 1);
    if (blank == npos || blank + 1 >= line.size() || line[blank + 1] == '"') {
        return false;
    }
    const std::size_t objectEnd = line.find_first_of(" ;", blank + 2);
    if (objectEnd == npos || line[objectEnd] != ' ' || line.substr(blank + 1, objectEnd - blank - 1) != "SG_") {
        return false;
    }
    const std::size_t idEnd = line.find(' ', objectEnd + 1);
    const std::size_t signalEnd = idEnd == npos ? npos : line.find(' ', idEnd + 1);
    if (signalEnd == npos || signalEnd + 1 >= line.size()) {
        return false;
    }
    // The value: a quoted text (the statement then runs to its ";") or the text up to ";".
    std::size_t valueStart = signalEnd + 1;
    std::size_t valueEnd = npos;
    std::size_t end = npos;
    if (line[valueStart] == '"') {
        ++valueStart;
        valueEnd = line.find('"', valueStart);
        end = valueEnd == npos ? npos : line.find(';', valueEnd + 1);
    } else {
        valueEnd = line.find(';', valueStart);
        end = valueEnd;
    }
    if (end == npos) {
        return false;
    }
    const auto& def = FindDefinition(name.view());
    if (!def) {
        return false;
    }
    Fragment<kStatementFragment> text;
    assign_ascii(line.substr(objectEnd + 1, idEnd - objectEnd - 1), text);
    std::int32_t id = 0;
    WideScanner(text.text).int32(id);
    const auto& message = FindMessage(id);
    if (!message) {
        return false;
    }
    Fragment<kSignalName> signalName;
    assign_ascii(line.substr(idEnd + 1, signalEnd - idEnd - 1), signalName);
    Sig* const signal = FindSignal(*message, signalName.view());
    if (signal == nullptr) {
        return false;
    }
    assign_ascii(line.substr(valueStart, valueEnd - valueStart), text);
    StoreSignalAttribute(*signal, id, def, text.text);
    in.skip(end + 1);
    return true;
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ParseAttributeFromFile(DbcTextStream& in)
{
    using namespace detail;
    if (ParseSignalAttributeLine(in)) {
        return;
    }
    Fragment<kStatementFragment> fragment;
    Fragment<kNodeName> name;
    if (!read_quoted_name(in, fragment, name)) {
        return;
    }
    NoteCut(name, L"the attribute name");
    const auto& def = FindDefinition(name.view());
    if (!def) {
        Note(Dbc_Problem::UnknownItem, [&] {
            return L"attribute \"" + name.str() + L"\" is not defined (BA_DEF_); its value skipped";
        });
        return;  // the rest of the statement is left to the keyword loop
    }
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return;
    }
    wchar_t c = 0;
    if (!in.read_char(c)) {
        return;
    }
    fragment.clear();
    if (c == L'"') {
        // A network value in quotes.
        if (!in.read_until(fragment, L'"')) {
            return;
        }
        NoteCut(fragment, L"the value");
        if (def->valueKind == Dbc_ValueKind::String) {
            StoreValue(*network, def, fragment.text, [] { return std::wstring(L"the network"); });
        } else {
            Note(Dbc_Problem::BadNumber, [&] {
                return L"the quoted network value of \"" + def->name + L"\", which is no STRING, skipped";
            });
        }
        return;
    }
    fragment.push(c);
    for (;;) {
        if (!in.read_char(c)) {
            return;
        }
        if (c == L' ' || c == L';') {
            break;
        }
        fragment.push(c);
    }
    fragment.terminate();

    const std::wstring_view object = fragment.view();
    // The target is held by the network's maps, which a parse never removes from.
    Dbc_AttributesForItem* target = nullptr;
    std::wstring targetName;  // a node's; a message is named by its identifier
    std::uint32_t targetId = 0;
    if (contains(object, L"BU_")) {
        Fragment<kNodeName> nodeName;
        nodeName.clear();
        if (!in.read_until(nodeName, L' ')) {
            return;
        }
        const auto& node = FindNode(nodeName.view());
        if (!node) {
            NoteUnknown([&] { return L"node \"" + nodeName.str() + L"\""; }, L"the value");
            return;
        }
        target = node.get();
        targetName = L"node \"" + node->name + L"\"";
    } else if (contains(object, L"BO_")) {
        fragment.clear();
        if (!in.read_until(fragment, L' ')) {
            return;
        }
        std::int32_t id = 0;
        WideScanner(fragment.text).int32(id);
        const auto& message = FindMessage(id);
        if (!message) {
            NoteUnknown([id] { return message_text(id); }, L"the value");
            return;
        }
        target = message.get();
        targetId = message->id;
    } else if (contains(object, L"SG_")) {
        fragment.clear();
        if (!in.read_until(fragment, L' ')) {
            return;
        }
        std::int32_t id = 0;
        WideScanner(fragment.text).int32(id);
        Fragment<kSignalName> signalName;
        signalName.clear();
        if (!in.read_until(signalName, L' ')) {
            return;
        }
        const auto& message = FindMessage(id);
        if (!message) {
            NoteUnknown([id] { return message_text(id); }, L"the value");
            return;
        }
        Sig* const signal = FindSignal(*message, signalName.view());
        if (signal == nullptr) {
            NoteUnknown([&] { return signal_text(signalName.view(), id); }, L"the value");
            return;
        }
        if (!ReadValueText(in, fragment)) {
            return;
        }
        NoteCut(fragment, L"the value");
        StoreSignalAttribute(*signal, id, def, fragment.text);
        return;
    } else {
        // Anything else is a network value written without quotes.
        StoreValue(*network, def, fragment.text, [] { return std::wstring(L"the network"); });
        return;
    }
    if (!ReadValueText(in, fragment)) {
        return;
    }
    NoteCut(fragment, L"the value");
    StoreValue(*target, def, fragment.text, [&] {
        return targetName.empty() ? message_text(static_cast<std::int32_t>(targetId)) : targetName;
    });
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::AddBA_REL(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kShortFragment> fragment;
    Fragment<kNodeName> name;
    if (!read_quoted_name(in, fragment, name)) {
        return;
    }
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return;
    }
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return;
    }
    const bool nodeSignal = contains(fragment.view(), L"BU_SG_REL_");
    if (!nodeSignal && !contains(fragment.view(), L"BU_BO_REL_")) {
        Note(Dbc_Problem::UnknownItem, [&] {
            return L"\"" + fragment.str() + L"\" is no relation (BU_SG_REL_ or BU_BO_REL_); the value skipped";
        });
        return;
    }
    Fragment<kNodeName> nodeName;
    nodeName.clear();
    if (!in.read_until(nodeName, L' ')) {
        return;
    }
    if (nodeSignal) {
        fragment.clear();
        if (!in.read_until(fragment, L' ')) {  // "SG_"
            return;
        }
    }
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return;
    }
    std::int32_t id = 0;
    WideScanner(fragment.text).int32(id);
    Fragment<kSignalName> signalName;
    signalName.clear();
    if (nodeSignal && !in.read_until(signalName, L' ')) {
        return;
    }

    const auto& node = FindNode(nodeName.view());
    if (!node) {
        NoteUnknown([&] { return L"node \"" + nodeName.str() + L"\""; }, L"the relation value");
        return;
    }
    Dbc_AttributesForItem* target = nullptr;
    std::shared_ptr<Dbc_DefinitionTable> table;
    if (nodeSignal) {
        // Nothing fills rxSignals, so these values find no record.
        const auto it = node->rxSignals.find(lookup_key(signalName.view()));
        if (it == node->rxSignals.end()) {
            Note(Dbc_Problem::UnknownItem, [] {
                return std::wstring(L"values of node-signal relations are not kept (nodes keep no received-signal "
                                    L"records); skipped");
            });
            return;
        }
        target = &it->second;
        table = network->nodeSignalDefinitions;
    } else {
        const auto it = node->txMessages.find(static_cast<std::uint32_t>(id));
        if (it == node->txMessages.end()) {
            NoteUnknown([&] { return L"node \"" + node->name + L"\" sending " + message_text(id); },
                        L"the relation value");
            return;
        }
        target = &it->second;
        table = network->nodeMessageDefinitions;
    }
    if (!table) {
        return;
    }
    const auto def = table->find(lookup_key(name.view()));
    if (def == table->end()) {
        Note(Dbc_Problem::UnknownItem, [&] {
            return L"relation attribute \"" + name.str() + L"\" is not defined (BA_DEF_REL_); its value skipped";
        });
        return;
    }
    if (!ReadValueText(in, fragment)) {
        return;
    }
    NoteCut(fragment, L"the value");
    StoreValue(*target, def->second, fragment.text, [&] { return L"the relation of node \"" + node->name + L"\""; });
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::AddCommentToNetwork(DbcTextStream& in)
{
    Fragment<detail::kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L'"')) {
        return -2;
    }
    if (fragment.fill == 0) {
        return -1;
    }
    NoteCut(fragment, L"the comment");
    network->comment = fragment.str();
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::AddCommentToNode(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kNodeName> nodeName;
    nodeName.clear();
    if (!in.read_until(nodeName, L' ')) {
        return -2;
    }
    if (nodeName.fill == 0) {
        return -1;
    }
    const auto& node = FindNode(nodeName.view());
    if (!node) {
        NoteUnknown([&] { return L"node \"" + nodeName.str() + L"\""; }, L"the comment");
        return -1;
    }
    Fragment<kStatementFragment> text;
    if (!read_quoted_text(in, text)) {
        return -2;
    }
    NoteCut(text, L"the comment");
    node->comment = text.str();
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::AddCommentToMessage(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return -2;
    }
    std::int32_t id = 0;
    WideScanner(fragment.text).int32(id);
    const auto& message = FindMessage(id);
    if (!message) {
        NoteUnknown([id] { return message_text(id); }, L"the comment");
        return -1;
    }
    if (!read_quoted_text(in, fragment)) {
        return -2;
    }
    NoteCut(fragment, L"the comment");
    message->comment = fragment.str();
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::AddCommentToSignal(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return -2;
    }
    std::int32_t id = 0;
    WideScanner(fragment.text).int32(id);
    Fragment<kSignalName> signalName;
    signalName.clear();
    if (!in.read_until(signalName, L' ')) {
        return -2;
    }
    const auto& message = FindMessage(id);
    if (!message) {
        NoteUnknown([id] { return message_text(id); }, L"the comment");
        return -1;
    }
    Sig* const signal = FindSignal(*message, signalName.view());
    if (signal == nullptr) {
        NoteUnknown([&] { return signal_text(signalName.view(), id); }, L"the comment");
        return -1;
    }
    if (!read_quoted_text(in, fragment)) {
        return -2;
    }
    NoteCut(fragment, L"the comment");
    signal->comment = fragment.str();
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ChangeMessageTransmitters(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L':')) {
        return -2;
    }
    std::int32_t id = 0;
    WideScanner(fragment.text).int32(id);
    const auto& message = FindMessage(id);
    if (!message) {
        NoteUnknown([id] { return message_text(id); }, L"the transmitter list");
        return -1;
    }
    const auto key = static_cast<std::uint32_t>(id);
    for (const auto& weak : message->transmitters) {
        if (const auto node = weak.lock()) {
            node->txMessages.erase(key);
        }
    }
    message->transmitters.clear();

    fragment.clear();
    if (!in.read_until(fragment, L';')) {
        return -2;
    }
    NoteCut(fragment, L"the transmitter list");
    std::wstring_view text = fragment.view();
    if (text.empty()) {
        return 0;
    }
    text.remove_prefix(std::min(text.find_first_not_of(L' '), text.size()));
    // Comma-separated names; a name with blanks around it names no node.
    for (;;) {
        const std::size_t comma = text.find(L',');
        const std::wstring_view item = text.substr(0, std::min(comma, kNodeName - 1));
        if (const auto& node = FindNode(item)) {
            message->transmitters.push_back(node);
            node->txMessages.emplace(key, Template_TxMessage<Msg>(message, network->nodeMessageDefinitions));
        } else {
            NoteUnknownNode(text.substr(0, comma), L"transmitter");
        }
        if (comma == std::wstring_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return 0;
}

template <typename Msg, typename Sig>
void Template_Database_File<Msg, Sig>::ParseValueTableFromFile(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kStatementFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L' ')) {
        return;
    }
    std::int32_t id = 0;
    WideScanner(fragment.text).int32(id);
    Fragment<kSignalName> signalName;
    signalName.clear();
    if (!in.read_until(signalName, L' ')) {
        return;
    }
    const auto& message = FindMessage(id);
    if (!message) {
        NoteUnknown(
            [&] {
                // VAL_ for an environment variable names no message at all.
                return WideScanner(fragment.text).int32(id) ? message_text(id)
                                                             : L"environment variable \"" + fragment.str() + L"\"";
            },
            L"the value descriptions");
        return;
    }
    Sig* const signal = FindSignal(*message, signalName.view());
    if (signal == nullptr) {
        NoteUnknown([&] { return signal_text(signalName.view(), id); }, L"the value descriptions");
        return;
    }
    auto& descriptions = signal->valueDescriptions;

    Fragment<kValueListFragment> list;
    list.clear();
    if (!in.read_until(list, L';')) {
        return;
    }
    NoteCut(list, L"the value list");
    // Pairs of a decimal value (up to the next blank) and a quoted text.
    const std::wstring_view text = list.view();
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t blank = text.find(L' ', pos);
        const std::size_t end = blank == std::wstring_view::npos ? text.size() : blank;
        // Read as a decimal integer (0 when nothing converts), kept as its 32-bit pattern; the blank is
        // replaced by a terminator for the conversion.
        std::int32_t value = 0;
        const wchar_t saved = list.text[end];
        list.text[end] = L'\0';
        WideScanner scan(list.text + pos);
        const bool read = scan.int32(value);
        list.text[end] = saved;
        const std::size_t valueStart = pos;
        pos = end == text.size() ? end : end + 1;
        if (pos < text.size() && text[pos] == L'"') {
            const std::size_t close = text.find(L'"', pos + 1);
            if (close == std::wstring_view::npos) {
                break;
            }
            if (diagnostics_ != nullptr) {
                if (!read) {
                    Note(Dbc_Problem::BadNumber, [&] {
                        return L"the value \"" + std::wstring(text.substr(valueStart, end - valueStart)) +
                               L"\" could not be read; described as 0";
                    });
                } else {
                    NoteNumber(true, scan.exact(), std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::uint32_t>::max(), static_cast<std::uint32_t>(value),
                               L"the value");
                }
            }
            const bool added =
                descriptions.try_emplace(static_cast<std::uint32_t>(value), text.data() + pos + 1, close - pos - 1)
                    .second;
            if (!added) {
                Note(Dbc_Problem::Duplicate, [&] {
                    return L"value " + std::to_wstring(static_cast<std::uint32_t>(value)) + L" of " +
                           signal_text(signal->name, id) + L" is described already; the first text is kept";
                });
            }
            pos = close + 1;
        }
    }
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ChangeSignalValueType(DbcTextStream& in)
{
    using namespace detail;
    Fragment<kShortFragment> fragment;
    fragment.clear();
    if (!in.read_until(fragment, L':')) {
        return -2;
    }
    std::int32_t id = 0;
    Fragment<kSignalName> signalName;
    signalName.clear();
    {
        WideScanner scan(fragment.text);
        scan.int32(id) && scan.word(signalName);
    }
    fragment.clear();
    if (!in.read_until(fragment, L';')) {
        return -2;
    }
    std::int32_t kind = 0;
    const bool read = WideScanner(fragment.text).int32(kind);
    const auto& message = FindMessage(id);
    if (!message) {
        NoteUnknown([id] { return message_text(id); }, L"the value type");
        return -1;
    }
    Sig* const signal = FindSignal(*message, signalName.view());
    if (signal == nullptr) {
        NoteUnknown([&] { return signal_text(signalName.view(), id); }, L"the value type");
        return -1;
    }
    if (diagnostics_ != nullptr) {
        NoteNumber(read, kind, 0, 2, static_cast<std::uint32_t>(kind), L"the value type");
    }
    if (kind == 1) {
        signal->valueType = ValueType::Float;
    } else if (kind == 2) {
        signal->valueType = ValueType::Double;
    }
    return 0;
}

template <typename Msg, typename Sig>
int Template_Database_File<Msg, Sig>::ProcessAttributes()
{
    if (!reading_) {
        // Right after a read the start values are set already (see StoreSignalAttribute).
        static const std::wstring kStartValue(detail::kStartValueAttribute);
        for (const auto& [signalName, signal] : network->signals) {
            const auto it = signal->attributes.find(kStartValue);
            if (it == signal->attributes.end() || !it->second) {
                continue;
            }
            if (const auto* i = dynamic_cast<const Dbc_AttributeSpec<int>*>(it->second.get())) {
                detail::set_start_value(signal->initialRawValue, i->value);
            } else if (const auto* f = dynamic_cast<const Dbc_AttributeSpec<float>*>(it->second.get())) {
                detail::set_start_value(signal->initialRawValue, f->value);
            }
        }
    }
    const auto name = network->attributes.find(L"DBName");
    if (name != network->attributes.end()) {
        if (const auto* s = dynamic_cast<const Dbc_AttributeSpec<std::wstring>*>(name->second.get())) {
            network->name = s->value;
        }
    }
    return 0;
}

}  // namespace kq::dbclib
