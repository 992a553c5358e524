#include <app/views.hpp>

#include <algorithm>
#include <cwctype>

#include <log4cpp/Category.hh>

#include <platform/text.hpp>

namespace torvik::studio::app {

namespace {

int CompareNoCase(const std::wstring& a, const std::wstring& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = std::towlower(static_cast<wint_t>(a[i]));
        const auto cb = std::towlower(static_cast<wint_t>(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

bool TransmittedBy(const TS_Message& message, const std::wstring& node)
{
    if (node.empty()) {
        return true;
    }
    return std::any_of(message.transmitters.begin(), message.transmitters.end(), [&](const auto& weak) {
        const auto transmitter = weak.lock();
        return transmitter && transmitter->name == node;
    });
}

void ForEachMessage(const TS_Project* project, const ViewFilter& filter,
                    const std::function<void(TS_Message&, const TS_DatabaseFile&)>& visit)
{
    if (project == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < project->GetDatabaseCount(); ++i) {
        if (filter.database >= 0 && static_cast<std::size_t>(filter.database) != i) {
            continue;
        }
        TS_DatabaseFile& database = *project->GetDatabase(i);
        for (const auto& [id, message] : database.network->messages) {
            if (TransmittedBy(*message, filter.node)) {
                visit(*message, database);
            }
        }
    }
}

MessageList::MessageList(log4cpp::Category& logger) : logger_(logger)
{
    logger_.debug("CTabMessSel created");
}

void MessageList::SetProject(TS_Project* project)
{
    project_ = project;
    Fill();
}

void MessageList::SetFilter(const ViewFilter& filter)
{
    filter_ = filter;
    Fill();
}

void MessageList::Fill()
{
    rows_.clear();
    ForEachMessage(project_, filter_, [this](TS_Message& message, const TS_DatabaseFile& database) {
        std::wstring transmitters;
        for (const auto& weak : message.transmitters) {
            if (const auto node = weak.lock()) {
                transmitters += (transmitters.empty() ? L"" : L", ") + node->name;
            }
        }
        rows_.push_back({&message, &database.GetName(), std::move(transmitters)});
    });
    if (sortColumn_ >= 0) {
        Sort();
    }
}

std::wstring MessageList::Text(std::size_t row, int column) const
{
    const Row& r = rows_[row];
    switch (column) {
    case kName:
        return r.message->name;
    case kTransmitters:
        return r.transmitters;
    case kDatabase:
        return *r.database;
    default:
        return L"boolean";
    }
}

MessageList::Cell MessageList::CellOf(const TS_Message& message, std::uint32_t channel) const
{
    if (project_ == nullptr || !project_->MayUseChannel(message, channel)) {
        return Cell::None;
    }
    return (message.channelMask & (1u << (channel - 1))) != 0 ? Cell::Checked : Cell::Unchecked;
}

MessageList::Cell MessageList::CellAt(std::size_t row, std::uint32_t channel) const
{
    return CellOf(*rows_[row].message, channel);
}

void MessageList::Flip(TS_Message& message, std::uint32_t channel, Change& change)
{
    const auto bit = static_cast<std::uint8_t>(1u << (channel - 1));
    message.channelMask = static_cast<std::uint8_t>(message.channelMask ^ bit);
    change.changed = true;
    if (channel >= 3 && TS_Project::IsCanFdMessage(message)) {
        const GreyingCode code = MakeGreyingCode(channel, (message.channelMask & bit) != 0);
        if (std::find(change.greying.begin(), change.greying.end(), code) == change.greying.end()) {
            change.greying.push_back(code);
        }
    }
}

MessageList::Change MessageList::Toggle(std::size_t row, std::uint32_t channel, Prompt& prompt)
{
    Change change;
    if (row >= rows_.size() || project_ == nullptr) {
        return change;
    }
    TS_Message& message = *rows_[row].message;
    const Cell cell = CellOf(message, channel);
    if (cell == Cell::None) {
        return change;
    }
    if (cell == Cell::Unchecked && !project_->CheckCycleTime(prompt, message, nullptr)) {
        return change;
    }
    Flip(message, channel, change);
    return change;
}

MessageList::Change MessageList::SetAll(std::uint32_t channel, Prompt& prompt)
{
    Change change;
    bool answeredYes = false;
    for (const Row& row : rows_) {
        // A message without a cell on that channel cannot be sent there.
        if (CellOf(*row.message, channel) != Cell::Unchecked) {
            continue;
        }
        if (!project_->CheckCycleTime(prompt, *row.message, &answeredYes)) {
            break;
        }
        Flip(*row.message, channel, change);
    }
    Fill();
    return change;
}

MessageList::Change MessageList::RemoveAll(std::uint32_t channel)
{
    Change change;
    for (const Row& row : rows_) {
        if ((row.message->channelMask & (1u << (channel - 1))) != 0) {
            Flip(*row.message, channel, change);
        }
    }
    Fill();
    return change;
}

MessageList::Change MessageList::UnselectAll()
{
    Change change;
    for (const Row& row : rows_) {
        for (std::uint32_t channel = 1; channel <= 4; ++channel) {
            if ((row.message->channelMask & (1u << (channel - 1))) != 0) {
                Flip(*row.message, channel, change);
            }
        }
    }
    Fill();
    return change;
}

void MessageList::SortBy(int column)
{
    ascending_ = sortColumn_ < 0 ? true : !ascending_;
    sortColumn_ = column;
    Sort();
}

void MessageList::Sort()
{
    const int column = sortColumn_;
    auto key = [column](const Row& a, const Row& b) {
        if (column >= kCan1 && column <= kCan4) {
            const auto bit = 1u << column;
            return static_cast<int>((a.message->channelMask & bit) != 0) - static_cast<int>((b.message->channelMask & bit) != 0);
        }
        const std::wstring& ta = column == kName ? a.message->name : column == kTransmitters ? a.transmitters : *a.database;
        const std::wstring& tb = column == kName ? b.message->name : column == kTransmitters ? b.transmitters : *b.database;
        return CompareNoCase(ta, tb);
    };
    if (ascending_) {
        std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) { return key(a, b) < 0; });
    } else {
        std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) { return key(a, b) > 0; });
    }
}

ConfigTree::ConfigTree(log4cpp::Category& logger) : logger_(logger)
{
    logger_.debug("CTabMessSigCong created");
}

ConfigTree::~ConfigTree()
{
    grid_.SetObserver(nullptr);
    grid_.Clear();
    helper_.reset();
    logger_.debug("CTabMessSigCong destructed");
}

void ConfigTree::SetProject(TS_Project* project)
{
    project_ = project;
    Refresh();
}

void ConfigTree::SetFilter(const ViewFilter& filter)
{
    filter_ = filter;
    Refresh();
}

std::vector<TreeItem> ConfigTree::Build() const
{
    std::vector<TreeItem> roots;
    if (filter_.database < 0) {
        return roots;
    }
    ForEachMessage(project_, filter_, [&](TS_Message& message, const TS_DatabaseFile& database) {
        if (message.channelMask == 0) {
            return;
        }
        TreeItem item{message.name + L" (" + database.GetName() + L")", &message, nullptr, {}};
        for (const auto& [name, signal] : message.signals) {
            item.children.push_back({name, &message, signal.get(), {}});
        }
        roots.push_back(std::move(item));
    });
    std::stable_sort(roots.begin(), roots.end(), [](const TreeItem& a, const TreeItem& b) { return a.text < b.text; });
    return roots;
}

bool ConfigTree::Refresh()
{
    std::vector<TreeItem> roots = Build();
    const bool same = std::equal(roots.begin(), roots.end(), roots_.begin(), roots_.end(),
                                 [](const TreeItem& a, const TreeItem& b) {
                                     return a.message == b.message && a.children.size() == b.children.size();
                                 });
    if (same) {
        return false;
    }
    logger_.debug("CTabMessSigCong - Reloading the tree needed.");
    Select(nullptr);
    roots_ = std::move(roots);
    ++revision_;
    return true;
}

void ConfigTree::Select(const TreeItem* item)
{
    grid_.Clear();
    helper_.reset();
    if (project_ == nullptr) {
        logger_.debug("CTabMessSigCong - Tree item selection - No project selected.");
        return;
    }
    if (item == nullptr || item->message == nullptr) {
        logger_.debug("CTabMessSigCong - Tree item selection - No item selected.");
        return;
    }
    const auto network = item->message->network.lock();
    if (!network) {
        return;
    }
    const auto message = network->messages.at(item->message->id);
    if (item->signal == nullptr) {
        grid_.caption = L"Message: " + message->name;
        helper_ = std::make_unique<TS_MessageHelper>(message, network, grid_, logger_);
    } else {
        grid_.caption = L"Signal: " + item->signal->name;
        helper_ = std::make_unique<TS_SignalHelper>(message->signals.at(item->signal->name), message, network, grid_,
                                                    logger_);
    }
}

void ConfigTree::PropertyChanged(TS_MFCPropertyGridProperty& item, PropertyValue value)
{
    if (!helper_) {
        logger_.debug("CTabMessSigCong - PropertyChanged, but no itemHelper set.");
        return;
    }
    grid_.Edit(item, std::move(value));
}

}  // namespace torvik::studio::app
