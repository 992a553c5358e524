#include "views.hpp"

#include <wx/menu.h>
#include <wx/sizer.h>

#include <log4cpp/Category.hh>

#include "torvik_dlg.hpp"
#include "wx_text.hpp"

namespace torvik::gui {

using studio::app::MessageList;

namespace {

enum : int {
    kIdSetAllFirst = wxID_HIGHEST + 100,  // + channel - 1
    kIdRemoveAllFirst = wxID_HIGHEST + 110,
    kIdUnselectAll = wxID_HIGHEST + 120,
};

bool IsCheckColumn(unsigned column)
{
    return column <= MessageList::kCan4;
}

class TreeData : public wxTreeItemData {
public:
    explicit TreeData(const studio::app::TreeItem* shown) : item(shown) {}
    const studio::app::TreeItem* item;
};

}  // namespace

MessageListModel::MessageListModel(MessageList& list, CTorvikDlg& window)
    : wxDataViewVirtualListModel(static_cast<unsigned>(list.RowCount())), list_(list), window_(window)
{
}

wxString MessageListModel::GetColumnType(unsigned column) const
{
    return IsCheckColumn(column) ? "bool" : "string";
}

void MessageListModel::GetValueByRow(wxVariant& value, unsigned row, unsigned column) const
{
    if (row >= list_.RowCount()) {
        value = IsCheckColumn(column) ? wxVariant(false) : wxVariant(wxString());
        return;
    }
    if (IsCheckColumn(column)) {
        const auto cell = list_.CellAt(row, column + 1);
        // A row without a box on this channel holds no value, so no box is drawn.
        value = cell == MessageList::Cell::None ? wxVariant() : wxVariant(cell == MessageList::Cell::Checked);
        return;
    }
    value = Wx(list_.Text(row, static_cast<int>(column)));
}

bool MessageListModel::SetValueByRow(const wxVariant&, unsigned row, unsigned column)
{
    if (!IsCheckColumn(column)) {
        return false;
    }
    // The click may ask a question; let the list finish its event first.
    window_.CallAfter([this, row, column] { window_.selectionView().ToggleCell(row, column + 1); });
    return false;
}

bool MessageListModel::HasValue(const wxDataViewItem& item, unsigned column) const
{
    const unsigned row = GetRow(item);
    if (!IsCheckColumn(column)) {
        return true;
    }
    return row < list_.RowCount() && list_.CellAt(row, column + 1) != MessageList::Cell::None;
}

bool MessageListModel::IsEnabledByRow(unsigned row, unsigned column) const
{
    return !IsCheckColumn(column) || (row < list_.RowCount() && list_.CellAt(row, column + 1) != MessageList::Cell::None);
}

CTabMessSel::CTabMessSel(wxWindow* parent, CTorvikDlg& window) : wxPanel(parent), window_(window)
{
    list_ = new wxDataViewCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxDV_ROW_LINES | wxDV_SINGLE);
    model_ = new MessageListModel(window_.core().messages(), window_);
    list_->AssociateModel(model_.get());
    for (unsigned channel = 0; channel < 4; ++channel) {
        list_->AppendToggleColumn(wxString::Format("%u", channel + 1), channel, wxDATAVIEW_CELL_ACTIVATABLE,
                                  FromDIP(32), wxALIGN_CENTER, wxDATAVIEW_COL_RESIZABLE);
    }
    list_->AppendTextColumn("Name", MessageList::kName, wxDATAVIEW_CELL_INERT, FromDIP(200), wxALIGN_LEFT,
                            wxDATAVIEW_COL_RESIZABLE);
    list_->AppendTextColumn("Transmitters", MessageList::kTransmitters, wxDATAVIEW_CELL_INERT, FromDIP(180),
                            wxALIGN_LEFT, wxDATAVIEW_COL_RESIZABLE);
    list_->AppendTextColumn("Database", MessageList::kDatabase, wxDATAVIEW_CELL_INERT, FromDIP(130), wxALIGN_LEFT,
                            wxDATAVIEW_COL_RESIZABLE);
    // The list anchors at 0, 0, 100, 100: it takes the whole view.
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list_, 1, wxEXPAND);
    SetSizer(sizer);
    list_->Bind(wxEVT_DATAVIEW_COLUMN_HEADER_CLICK, &CTabMessSel::OnHeaderClick, this);
    list_->Bind(wxEVT_DATAVIEW_ITEM_CONTEXT_MENU, &CTabMessSel::OnContextMenu, this);
    Bind(wxEVT_MENU, &CTabMessSel::OnBatch, this, kIdSetAllFirst, kIdUnselectAll);
}

void CTabMessSel::Reload()
{
    model_->Reset(static_cast<unsigned>(window_.core().messages().RowCount()));
}

void CTabMessSel::ToggleCell(unsigned row, unsigned channel)
{
    const auto change = window_.core().messages().Toggle(row, channel, window_);
    if (change.changed) {
        model_->RowValueChanged(row, channel - 1);
    }
    window_.OnViewChange(change);
}

void CTabMessSel::OnHeaderClick(wxDataViewEvent& event)
{
    // The core keeps the order; the list only shows it.
    window_.core().messages().SortBy(event.GetColumn());
    Reload();
    event.Skip(false);
}

void CTabMessSel::OnContextMenu(wxDataViewEvent&)
{
    wxMenu menu;
    auto* set = new wxMenu;
    auto* remove = new wxMenu;
    for (int channel = 1; channel <= 4; ++channel) {
        set->Append(kIdSetAllFirst + channel - 1, wxString::Format("CAN &%d", channel));
        remove->Append(kIdRemoveAllFirst + channel - 1, wxString::Format("CAN &%d", channel));
    }
    menu.AppendSubMenu(set, "Set all &messages to ...");
    menu.AppendSubMenu(remove, "&Remove all messages from ...");
    menu.Append(kIdUnselectAll, "&Unselect all messages");
    PopupMenu(&menu);
}

void CTabMessSel::OnBatch(wxCommandEvent& event)
{
    auto& messages = window_.core().messages();
    const int id = event.GetId();
    MessageList::Change change;
    if (id >= kIdSetAllFirst && id < kIdSetAllFirst + 4) {
        change = messages.SetAll(static_cast<std::uint32_t>(id - kIdSetAllFirst + 1), window_);
    } else if (id >= kIdRemoveAllFirst && id < kIdRemoveAllFirst + 4) {
        change = messages.RemoveAll(static_cast<std::uint32_t>(id - kIdRemoveAllFirst + 1));
    } else {
        change = messages.UnselectAll();
    }
    Reload();
    window_.OnViewChange(change);
}

CTabMessSigConf::CTabMessSigConf(wxWindow* parent, CTorvikDlg& window) : wxPanel(parent), window_(window)
{
    tree_ = new wxTreeCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                           wxTR_HAS_BUTTONS | wxTR_HIDE_ROOT | wxTR_LINES_AT_ROOT | wxTR_SINGLE);
    tree_->AddRoot("root");
    caption_ = new wxStaticText(this, wxID_ANY, wxString());
    grid_ = new wxPropertyGridManager(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxPG_DESCRIPTION | wxPG_SPLITTER_AUTO_CENTER | wxPG_BOLD_MODIFIED);
    grid_->AddPage("Properties");
    // A rejected value is put back by the helper; the grid must not stop the user with a box of its own.
    grid_->GetGrid()->SetValidationFailureBehavior(wxPG_VFB_STAY_IN_PROPERTY | wxPG_VFB_MARK_CELL);
    adapter_ = std::make_unique<PropertyGridAdapter>(
        *grid_, [this](studio::TS_MFCPropertyGridProperty& item, studio::PropertyValue value) {
            window_.core().tree().PropertyChanged(item, std::move(value));
            Reload();
        });
    window_.core().tree().grid().SetObserver(adapter_.get());

    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(caption_, 0, wxEXPAND | wxALL, FromDIP(4));
    right->Add(grid_, 1, wxEXPAND);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(tree_, 2, wxEXPAND);
    sizer->Add(right, 3, wxEXPAND);
    SetSizer(sizer);
    tree_->Bind(wxEVT_TREE_SEL_CHANGED, &CTabMessSigConf::OnSelection, this);
}

CTabMessSigConf::~CTabMessSigConf()
{
    window_.core().tree().grid().SetObserver(nullptr);
}

void CTabMessSigConf::Reload()
{
    auto& core = window_.core().tree();
    caption_->SetLabel(Wx(core.grid().caption));
    if (core.revision() == revision_) {
        return;
    }
    revision_ = core.revision();
    filling_ = true;
    tree_->DeleteChildren(tree_->GetRootItem());
    for (const auto& root : core.roots()) {
        const wxTreeItemId message = tree_->AppendItem(tree_->GetRootItem(), Wx(root.text), -1, -1, new TreeData(&root));
        for (const auto& child : root.children) {
            tree_->AppendItem(message, Wx(child.text), -1, -1, new TreeData(&child));
        }
    }
    filling_ = false;
}

void CTabMessSigConf::OnSelection(wxTreeEvent& event)
{
    if (filling_) {
        return;
    }
    const auto* data = event.GetItem().IsOk() ? dynamic_cast<TreeData*>(tree_->GetItemData(event.GetItem())) : nullptr;
    window_.core().tree().Select(data != nullptr ? data->item : nullptr);
    caption_->SetLabel(Wx(window_.core().tree().grid().caption));
}

}  // namespace torvik::gui
