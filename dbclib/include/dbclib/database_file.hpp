#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <dbclib/model.hpp>
#include <dbclib/read_report.hpp>
#include <dbclib/text_input.hpp>

namespace kq::dbclib {

/// One DBC database: its network and the parser that fills it.
template <typename Msg, typename Sig>
class Template_Database_File {
public:
    using Network = Template_Network<Msg, Sig>;

    Template_Database_File() : network(std::make_shared<Network>()) {}
    Template_Database_File(const Template_Database_File&) = default;
    Template_Database_File(Template_Database_File&&) noexcept = default;
    Template_Database_File& operator=(const Template_Database_File&) = default;
    Template_Database_File& operator=(Template_Database_File&&) noexcept = default;
    virtual ~Template_Database_File() = default;

    /// Reads a DBC file in the default locale "de-DE". Returns 0 after a complete read,
    /// -1 when the file cannot be opened (the model is then unchanged).
    int ReadFromFile(const std::wstring& path) { return ReadFromFile(path, L"de-DE"); }
    /// Reads a DBC file into the network: names its network after the file (base name up to the last
    /// "."), parses every statement it recognises and runs ProcessAttributes. The bytes are decoded in
    /// the code page of `locale` (a name such as L"de-DE": Windows-1252, also for unknown names;
    /// Central European names such as L"cs-CZ" or L"pl-PL": Windows-1250), or as UTF-8 when the file is
    /// valid UTF-8 holding non-ASCII text or starting with a byte-order mark. Reading again adds to
    /// what is there. Blocks for the read; not for concurrent use on one object.
    /// Returns 0 after a complete read (problems inside statements are reported only by the overload
    /// below), -1 when the file cannot be opened or read or is larger than 256 MiB (`errno` says why;
    /// the model is unchanged).
    int ReadFromFile(const std::wstring& path, const std::wstring& locale);
    /// ReadFromFile(path, locale), which it equals in result and model, and fills `report` (emptied
    /// first) with how the read ended and what it skipped, cut or could not make sense of.
    int ReadFromFile(const std::wstring& path, const std::wstring& locale, Dbc_ReadReport& report);

    /// Parses DBC text held in memory exactly as ReadFromFile parses a file's bytes, without touching
    /// the network's name, then runs ProcessAttributes. Returns 0.
    int read_from_bytes(std::string_view bytes, const std::wstring& locale = L"de-DE");
    /// read_from_bytes(bytes, locale), filling `report` as ReadFromFile does.
    int read_from_bytes(std::string_view bytes, const std::wstring& locale, Dbc_ReadReport& report);

    /// Runs after the file is read: GenSigStartValue into initialRawValue, DBName into the name.
    virtual int ProcessAttributes();

    std::shared_ptr<Network> network;

protected:
    using Node = Template_Node<Msg, Sig>;

    // One step per recognised statement; each continues reading where its keyword ended. The int steps
    // return 0 on success and a negative value when the statement is abandoned (unknown item, end of
    // the stream); ReadFromFile ignores the results.

    /// `BO_ <id> <name>: <length> <transmitter>` and the signal lines after it: every line whose first
    /// text after blanks and tabs is "SG_ ", up to the first other line, which is left to the keyword loop.
    /// -1: end of the stream before the ":"; -3: end of the stream right after the header line.
    int ParseMessageFromFile(DbcTextStream& in);
    /// `SG_ <name> [M|m<n>] : <start>|<length>@<order><sign> (<factor>,<offset>) [<min>|<max>] "<unit>"
    /// <receivers>` for `message`. -1 to -9: end of the stream before the unit was complete.
    int ParseSignalFromFile(DbcTextStream& in, const std::shared_ptr<Msg>& message);
    /// `BU_: <node> <node> ...`. Returns 0.
    int ParseNodesFromFile(DbcTextStream& in);
    /// `BA_DEF_ [BU_|BO_|SG_] "<name>" <kind> ...;`
    void ParseAttributeDefFromFile(DbcTextStream& in);
    /// `BA_ "<name>" [BU_ <node>|BO_ <id>|SG_ <id> <signal>] <value>;`
    void ParseAttributeFromFile(DbcTextStream& in);
    /// `VAL_ <id> <signal> <value> "<text>" ... ;`
    void ParseValueTableFromFile(DbcTextStream& in);
    /// `BA_DEF_DEF_ "<name>" <value>;`
    void AddBA_DEF_DEF(DbcTextStream& in);
    /// `BA_DEF_DEF_REL_ "<name>" <value>;` (read and discarded)
    void AddBA_DEF_DEF_REL(DbcTextStream& in);
    /// `BA_DEF_REL_ BU_SG_REL_|BU_BO_REL_ "<name>" <kind> ...;`
    void AddBA_DEF_REL(DbcTextStream& in);
    /// `BA_REL_ "<name>" BU_SG_REL_ <node> SG_ <id> <signal> <value>;` and
    /// `BA_REL_ "<name>" BU_BO_REL_ <node> <id> <value>;`
    void AddBA_REL(DbcTextStream& in);
    /// `CM_ "<text>";` -1: empty text; -2: end of the stream.
    int AddCommentToNetwork(DbcTextStream& in);
    /// `CM_ BU_ <node> "<text>";` -1: empty or unknown node; -2: end of the stream.
    int AddCommentToNode(DbcTextStream& in);
    /// `CM_ BO_ <id> "<text>";` -1: unknown message; -2: end of the stream.
    int AddCommentToMessage(DbcTextStream& in);
    /// `CM_ SG_ <id> <signal> "<text>";` -1: unknown message or signal; -2: end of the stream.
    int AddCommentToSignal(DbcTextStream& in);
    /// `BO_TX_BU_ <id> : <node>,<node>;` -1: unknown message; -2: end of the stream.
    int ChangeMessageTransmitters(DbcTextStream& in);
    /// `SIG_VALTYPE_ <id> <signal> : <n>;` -1: unknown message or signal; -2: end of the stream.
    int ChangeSignalValueType(DbcTextStream& in);

private:
    void ParseBuffer(detail::TextBuffer& bytes, const std::wstring& locale, Dbc_ReadReport* report);
    void ParseText(DbcTextStream& in);
    /// The step of keyword `k` of the keyword table.
    void RunStep(DbcTextStream& in, unsigned k);
    /// RunStep for a read that reports what it skips.
    void RunNotedStep(DbcTextStream& in, unsigned k);

    // The report of the running read, or null; entries go to the statement that runs.
    detail::DiagnosticSink* diagnostics_ = nullptr;
    std::size_t statementStart_ = 0;
    std::wstring_view statementKeyword_;
    /// Adds an entry for the running statement with the text `text()` gives, when the read reports.
    template <typename Text>
    void Note(Dbc_Problem problem, const Text& text)
    {
        if (diagnostics_ != nullptr) {
            diagnostics_->Add(statementStart_, statementKeyword_, problem, text());
        }
    }
    /// Notes that `fragment`, the statement's `what`, was cut.
    template <std::size_t N>
    void NoteCut(const Fragment<N>& fragment, std::wstring_view what)
    {
        if (fragment.cut) {
            Note(Dbc_Problem::Cut, [&] {
                return std::wstring(what) + L" cut to " + std::to_wstring(N - 1) + L" characters";
            });
        }
    }
    /// Notes a number that could not be read (`read` false) or whose value as written, `exact`, lies
    /// outside `low` to `high`; `stored` is what the field holds.
    void NoteNumber(bool read, std::int64_t exact, std::int64_t low, std::int64_t high, std::uint32_t stored,
                    std::wstring_view field);
    /// Notes that the statement names `what()`, a message, signal or node the file does not hold, and so
    /// skips `skipped`.
    template <typename What>
    void NoteUnknown(const What& what, std::wstring_view skipped)
    {
        Note(Dbc_Problem::UnknownItem,
             [&] { return what() + L" is not in the file; " + std::wstring(skipped) + L" skipped"; });
    }
    /// Notes that `name`, the statement's `role` ("transmitter", "receiver"), names no node. Vector__XXX,
    /// which writers put where there is no node, is no such name.
    void NoteUnknownNode(std::wstring_view name, std::wstring_view role);
    /// Stores an attribute value as detail::store_attribute does, noting a duplicate or a number that
    /// could not be read; `item()` names the target for the report. Returns the value stored, or null.
    template <typename ItemText>
    const Dbc_Attribute* StoreValue(Dbc_AttributesForItem& target, const std::shared_ptr<Dbc_AttributeDef>& def,
                                    const wchar_t* text, const ItemText& item);
    /// Forgets what the lookups of the last parse remembered.
    void ResetLookups();
    template <std::size_t N>
    void ParseDefinition(DbcTextStream& in, bool relation);
    template <std::size_t N>
    bool ReadValueText(DbcTextStream& in, Fragment<N>& text);
    const std::shared_ptr<Dbc_AttributeDef>& FindDefinition(std::wstring_view name) const;
    const std::shared_ptr<Msg>& FindMessage(std::int32_t id) const;
    const std::shared_ptr<Node>& FindNode(std::wstring_view name) const;
    /// The signal of that name in `message`, or null.
    Sig* FindSignal(const Msg& message, std::wstring_view name) const;
    /// Makes FindSignal find `signal`, which `message` holds under its name.
    void IndexSignal(const Msg& message, Sig* signal);

    /// `BA_ "<name>" SG_ <id> <signal> <value>;` for a known attribute and signal, read at once from a
    /// plain line; false (nothing read) for any other statement.
    bool ParseSignalAttributeLine(DbcTextStream& in);
    /// Stores an attribute value of a signal of message `id` and, during a read, sets the start value it
    /// gives.
    void StoreSignalAttribute(Sig& signal, std::int32_t id, const std::shared_ptr<Dbc_AttributeDef>& def,
                              const wchar_t* text);
    /// `text` as a wide string for map lookups, without an allocation each time; valid until the next
    /// call.
    const std::wstring& lookup_key(std::wstring_view text) const;

    mutable std::wstring lookupKey_;
    // Lookups remembered during one parse (see FindDefinition and FindNode).
    mutable std::unordered_map<std::wstring, const std::shared_ptr<Dbc_AttributeDef>*, detail::TextHash,
                               std::equal_to<>>
        foundDefinitions_;
    struct RecentDefinition {
        std::wstring name;
        const std::shared_ptr<Dbc_AttributeDef>* definition = nullptr;
    };
    mutable std::array<RecentDefinition, 4> recentDefinitions_;
    mutable std::size_t nextRecentDefinition_ = 0;
    /// Forgets the definitions FindDefinition found, once the tables change.
    void ForgetDefinitions() const;
    // The nodes by name: an open-addressing table, a power of two in size and at most half full, over the
    // network's node map (which only the parse changes while it runs); rebuilt when the map has grown.
    struct NodeSlot {
        std::size_t hash = 0;
        std::wstring_view name;
        const std::shared_ptr<Node>* node = nullptr;
    };
    mutable std::vector<NodeSlot> nodeSlots_;
    mutable std::size_t nodeSlotsIndexed_ = 0;
    // The last message FindMessage found, valid during one parse.
    mutable const std::shared_ptr<Msg>* lastMessage_ = nullptr;
    mutable std::uint32_t lastMessageId_ = 0;
    // The messages found or made in this read, by identifier (map entries a parse never removes).
    mutable detail::FlatIndex<std::uint32_t, const std::shared_ptr<Msg>*> messageIndex_;
    // The signals parsed in this read, message by message in file order, with the hashes of their
    // names; each message's run of entries (see FindSignal).
    struct SignalEntry {
        std::size_t hash = 0;
        Sig* signal = nullptr;
        // The signal's name (which a read does not change), so that a search does not load the signal.
        const wchar_t* name = nullptr;
        std::size_t size = 0;
    };
    struct SignalRun {
        std::size_t begin = 0;
        std::size_t end = 0;
        bool split = false;  ///< the message's signals came in more than one run
        std::size_t next = 0;  ///< where the next search starts: after the entry found last
    };
    std::vector<SignalEntry> signalEntries_;
    std::deque<SignalRun> signalRuns_;  // stays in place as it grows
    mutable detail::FlatIndex<std::uintptr_t, SignalRun*> runIndex_;
    mutable const Msg* lastRunMessage_ = nullptr;
    mutable SignalRun* lastRun_ = nullptr;
    /// The run of signal entries of `message`, or null.
    SignalRun* FindSignalRun(const Msg& message) const;
    // Set while a read runs: start values are then set as they are stored (see StoreSignalAttribute).
    bool reading_ = false;
    std::vector<const std::shared_ptr<Node>*> receiverScratch_;
};

}  // namespace kq::dbclib

#include <dbclib/database_file.inl>
