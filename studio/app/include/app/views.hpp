#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <editor/item_helper.hpp>
#include <editor/property_grid.hpp>
#include <project/prompt.hpp>
#include <project/ts_project.hpp>

namespace log4cpp {
class Category;
}

namespace torvik::studio::app {

/// A greying code for the main window: high byte the channel (3 or 4), low byte 1 to enable that
/// channel's "HS 500 kBd, 80 to 83.3 %" item, 255 to grey it.
using GreyingCode = std::uint16_t;
inline constexpr std::uint8_t kEnableHs = 1;
inline constexpr std::uint8_t kGreyHs = 255;
inline GreyingCode MakeGreyingCode(std::uint32_t channel, bool grey)
{
    return static_cast<GreyingCode>((channel << 8) | (grey ? kGreyHs : kEnableHs));
}

/// The filters of both views: a database index (-1 all) and a transmitting node (empty: all).
struct ViewFilter {
    int database = -1;
    std::wstring node;
};

/// Whether `message` is among those that `node` transmits (every message for an empty node).
bool TransmittedBy(const TS_Message& message, const std::wstring& node);

/// Calls `visit(message, database)` for every message of the filtered databases that passes the node
/// filter, in database and identifier order: the messages both views show.
void ForEachMessage(const TS_Project* project, const ViewFilter& filter,
                    const std::function<void(TS_Message&, const TS_DatabaseFile&)>& visit);

/// The message selection view: one row per message that passes the filter, with a check cell per CAN
/// channel, sortable by any column.
class MessageList {
public:
    enum class Cell { None, Unchecked, Checked };
    /// Columns in order: CAN 1..4 check cells, then the text columns.
    enum Column : int { kCan1 = 0, kCan2, kCan3, kCan4, kName, kTransmitters, kDatabase, kColumnCount };

    struct Change {
        bool changed = false;
        std::vector<GreyingCode> greying;  ///< one per CAN 3 / CAN 4 change of a CAN FD message
    };

    explicit MessageList(log4cpp::Category& logger);

    void SetProject(TS_Project* project);
    void SetFilter(const ViewFilter& filter);
    /// Fills the rows again from the project and the filter, keeping the sort order.
    void Fill();

    std::size_t RowCount() const { return rows_.size(); }
    TS_Message& MessageAt(std::size_t row) const { return *rows_[row].message; }
    std::wstring Text(std::size_t row, int column) const;
    /// The check cell of CAN `channel` (1..4): none for a CAN FD message on CAN 1 and 2, and on a
    /// channel set up for classic CAN.
    Cell CellAt(std::size_t row, std::uint32_t channel) const;

    /// A click on a check cell: clears a set bit, or sets it when the message's cycle time allows
    /// (asking about a cycle time of zero). Nothing for a row without that cell.
    Change Toggle(std::size_t row, std::uint32_t channel, Prompt& prompt);

    /// The context menu's commands over every row.
    Change SetAll(std::uint32_t channel, Prompt& prompt);
    Change RemoveAll(std::uint32_t channel);
    Change UnselectAll();

    /// A header click: sorts by `column`; every further click reverses the direction.
    void SortBy(int column);
    int sortColumn() const { return sortColumn_; }
    bool ascending() const { return ascending_; }

private:
    struct Row {
        TS_Message* message;
        const std::wstring* database;
        std::wstring transmitters;
    };
    Cell CellOf(const TS_Message& message, std::uint32_t channel) const;
    void Sort();
    static void Flip(TS_Message& message, std::uint32_t channel, Change& change);

    log4cpp::Category& logger_;
    TS_Project* project_ = nullptr;
    ViewFilter filter_;
    std::vector<Row> rows_;
    int sortColumn_ = -1;
    bool ascending_ = true;
};

/// One item of the configuration tree: a message ("Engine (Body)") with its signals below it.
struct TreeItem {
    std::wstring text;
    TS_Message* message = nullptr;
    TS_Signal* signal = nullptr;  ///< null for a message item
    std::vector<TreeItem> children;
};

/// The message and signal configuration view: a tree of the selected messages of the filtered database
/// and the property grid of the chosen item.
class ConfigTree {
public:
    explicit ConfigTree(log4cpp::Category& logger);
    ~ConfigTree();
    ConfigTree(const ConfigTree&) = delete;
    ConfigTree& operator=(const ConfigTree&) = delete;

    void SetProject(TS_Project* project);
    void SetFilter(const ViewFilter& filter);
    /// Refills the tree when what it shall show differs from what it shows (dropping the grid's helper).
    /// True when it was refilled.
    bool Refresh();

    const std::vector<TreeItem>& roots() const { return roots_; }
    /// Counts the refills, so that a widget can tell when its items went stale.
    std::size_t revision() const { return revision_; }
    /// Replaces the grid's helper with one for `item` (a message or signal helper); null clears it.
    void Select(const TreeItem* item);
    PropertyGrid& grid() { return grid_; }
    const TS_ItemHelper* helper() const { return helper_.get(); }
    /// An edit from the grid widget.
    void PropertyChanged(TS_MFCPropertyGridProperty& item, PropertyValue value);

private:
    std::vector<TreeItem> Build() const;

    log4cpp::Category& logger_;
    TS_Project* project_ = nullptr;
    ViewFilter filter_;
    std::vector<TreeItem> roots_;
    std::size_t revision_ = 0;
    PropertyGrid grid_;
    std::unique_ptr<TS_ItemHelper> helper_;
};

}  // namespace torvik::studio::app
