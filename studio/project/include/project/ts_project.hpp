#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <project/prompt.hpp>
#include <project/ts_model.hpp>

namespace torvik::platform {
class ProfileStore;
class ProfileDocument;
class IniFile;
}

namespace torvik::studio {

/// Setup codes of CAN channels 3 and 4.
inline constexpr std::uint32_t kSetupHs500 = 2;      ///< "HS 500 kBd, 80 to 83.3 %"
inline constexpr std::uint32_t kSetupFd500 = 4;      ///< "FD 500/500 kBd, 80/80 %"
inline constexpr std::uint32_t kSetupFd1000 = 5;     ///< "FD 500/1,000 kBd, 80/70 %"
inline constexpr std::uint32_t kSetupFd2000 = 6;     ///< "FD 500/2,000 kBd, 80/70 %"

/// The text of a setup code ("FD 500/2,000 kBd, 80/70 %"), empty for an unknown code.
std::wstring SetupName(std::uint32_t code);

/// The cycle time that CheckCycleTime gives a message with cycle time zero.
inline constexpr int kDefaultCycleTimeMs = 1000;

/// The open project: its databases in order, the chosen messages and signal settings in them, the setups
/// of CAN 3 and CAN 4, and the user block built from it. Used from one thread.
class TS_Project {
public:
    /// Size of the user block buffer: the most the device's USER memory takes.
    static constexpr std::size_t kUserBlockCapacity = 65280;

    /// An empty project named "New project", with the modified flag set.
    TS_Project();
    TS_Project(const TS_Project&) = delete;
    TS_Project& operator=(const TS_Project&) = delete;
    ~TS_Project();

    // ---- databases ----

    /// Reads the DBC file at `path` and appends it. Returns its index, or -1 after telling the user
    /// "The selected database cannot be loaded." or "This project already contains database named
    /// <name>." (the project is then unchanged).
    int AddDatabase(Prompt& prompt, const std::wstring& path);

    /// Appends a database read elsewhere; false (and the database discarded) when the project holds one
    /// of the same name. Sets the modified flag on success.
    bool AppendDatabase(std::unique_ptr<TS_DatabaseFile> database);

    /// Puts `database` in place of the one at `index`; false for an index outside the list.
    bool ReplaceDatabase(std::size_t index, std::unique_ptr<TS_DatabaseFile> database);

    /// Removes the database at `index` (first unselecting its messages when `unselect` is set); false for
    /// an index outside the list.
    bool RemoveDatabase(std::size_t index, bool unselect);

    TS_DatabaseFile* GetDatabase(std::size_t index) const;
    std::size_t GetDatabaseCount() const { return databases_.size(); }
    /// The index of the database of that name, or -1.
    int FindDatabase(const std::wstring& name) const;

    /// True when some message of database `index` is selected for a channel.
    bool HasSelectedMessages(std::size_t index) const;

    // ---- channels ----

    struct ChannelSetupChange {
        std::uint32_t previous;  ///< the code before the call
        bool modeChanged;        ///< switched between classic CAN and CAN FD
    };

    /// Sets the setup of `channel` to `code` (-1 keeps it), creating the entry with `defaultCode` first
    /// when it has none. A new code that differs sets the modified flag.
    ChannelSetupChange SetChannelSetup(std::uint32_t channel, std::int32_t code, std::uint32_t defaultCode);

    /// What taking a project means for its channels (the main window, the command line and the upload all
    /// do it): CAN 3 and CAN 4 without a setup get "FD 500/2,000 kBd, 80/70 %".
    void GiveChannelsTheirSetups();

    /// True when the channel has no setup or one of the FD setups.
    bool IsFdChannel(std::uint32_t channel) const;

    const std::map<std::uint32_t, std::uint32_t>& GetChannelSetups() const { return channelSetups_; }

    // ---- messages ----

    /// True when the message's VFrameFormat is one of the CAN FD formats (14, 15).
    static bool IsCanFdMessage(const TS_Message& message);

    /// Whether `message` can be sent on CAN `channel` (1..4): a CAN FD message only on CAN 3 or CAN 4,
    /// and only while that channel has an FD setup. The selection view shows a check box just there.
    bool MayUseChannel(const TS_Message& message, std::uint32_t channel) const;
    /// True while some CAN FD message of the project is sent on `channel`; the channel cannot be set up
    /// for classic CAN then.
    bool HasCanFdMessageOn(std::uint32_t channel) const;

    /// The rule applied when a channel is set for a message: a message with cycle time zero gets 1000 ms
    /// after the user agrees (asked once per batch when `answeredYes` is given). False when the user
    /// declines; the message must then stay unselected.
    bool CheckCycleTime(Prompt& prompt, TS_Message& message, bool* answeredYes);

    // ---- user block ----

    /// Builds the device image into the project's buffer. Returns its length (at least 1), or minus the
    /// size of the record that did not fit; never 0. Changes nothing else.
    std::int32_t BuildUserBlock();
    /// The start of the 65,280-byte buffer; the first `GetUserBlockLength()` bytes are the last image.
    const std::uint8_t* GetUserBlock() const { return userBlock_.data(); }
    std::int32_t GetUserBlockLength() const { return userBlockLength_; }

    /// The selected messages (in database and identifier order) that carry signals in Motorola byte
    /// order. The device numbers the bits of every signal from its least significant bit at the start bit
    /// upwards, as the project's payload does; a big-endian signal is sent in that numbering.
    std::vector<std::wstring> MessagesWithMotorolaSignals() const;
    /// What the user is told, once per build or upload, about those messages; empty when there are none.
    static std::wstring MotorolaSignalsNotice(const std::vector<std::wstring>& messages);

    /// Build steps: each writes into [start, start + capacity) and returns the bytes written, or minus
    /// the size of the piece that did not fit (nothing of that piece is written).
    int AppendChannelSetups(std::uint8_t* start, int capacity) const;
    static int AppendDatabase(const TS_DatabaseFile& database, std::uint8_t* start, int capacity);
    static int AppendMessage(const TS_Message& message, std::uint8_t* start, int capacity);
    static int AppendSignal(const TS_Signal& signal, std::uint8_t* start, int capacity);

    // ---- project file ----

    /// Writes the project file to `path` (empty: the project's own path) in one pass, replacing the old
    /// file only when the whole file was written. On success a given path becomes the project's path and
    /// the modified flag is cleared. A path that names one of the project's databases is refused.
    bool SaveProject(const std::wstring& path);
    /// Why the last SaveProject failed (empty after a success or when the project itself was
    /// incomplete: no path, a channel without setup).
    const std::error_code& GetSaveError() const { return saveError_; }

    /// Opening, in three steps that the opening sequence drives: the header (channel setups and the
    /// database names), then each database by its position among those names, then its selections.
    bool OpenHeader(const std::wstring& path);
    /// Reads the database of the `nameIndex`-th name (relative path first, then the absolute one) and
    /// appends it; false when it cannot be read or is not named so.
    bool LoadDatabase(std::size_t nameIndex);
    /// Reads the DBC file at `path` as the database of the `nameIndex`-th name; nothing when it cannot be
    /// read or carries another name.
    std::unique_ptr<TS_DatabaseFile> ReadDatabaseFor(std::size_t nameIndex, const std::wstring& path) const;
    /// Applies the stored selections to the database of the `nameIndex`-th name.
    bool LoadSelections(std::size_t nameIndex);

    /// Lets go of the project file once the opening sequence is over.
    void EndOpening();

    /// Why the last OpenHeader or LoadDatabase failed: each path tried and the reason, for example
    /// "'/home/u/SimDemo.dbc': No such file or directory".
    const std::wstring& GetOpeningProblem() const { return openingProblem_; }

    /// The database section names of the project file being opened.
    const std::vector<std::wstring>& GetDatabaseSectionNames() const { return sectionNames_; }

    // ---- state ----

    bool IsModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    const std::wstring& GetProjectPath() const { return projectPath_; }
    const std::wstring& GetProjectName() const { return projectName_; }
    /// Sets the path; the name becomes its file name without extension.
    void SetProjectPath(const std::wstring& path);

private:
    bool WriteTo(platform::ProfileStore& store, const std::filesystem::path& folder) const;
    bool ApplySelections(const platform::ProfileDocument& store, const std::wstring& section,
                         TS_DatabaseFile& database);

    std::vector<std::unique_ptr<TS_DatabaseFile>> databases_;
    bool modified_ = true;
    std::vector<std::uint8_t> userBlock_;
    std::int32_t userBlockLength_ = 0;
    std::wstring projectPath_;
    std::wstring projectName_ = L"New project";
    std::uintmax_t projectFileSize_ = 0;
    std::vector<std::wstring> sectionNames_;
    std::map<std::uint32_t, std::uint32_t> channelSetups_;
    std::unique_ptr<platform::IniFile> openFile_;  ///< the project file while it is being opened
    std::wstring openingProblem_;
    std::error_code saveError_;
};

}  // namespace torvik::studio
