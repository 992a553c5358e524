#pragma once

#include <memory>

#include <wx/dataview.h>
#include <wx/panel.h>
#include <wx/propgrid/manager.h>
#include <wx/stattext.h>
#include <wx/treectrl.h>

#include <app/main_window.hpp>

#include "property_grid_adapter.hpp"

namespace torvik::gui {

class CTorvikDlg;

/// The rows of the message selection list, read from the core on demand (a virtual list).
class MessageListModel : public wxDataViewVirtualListModel {
public:
    MessageListModel(studio::app::MessageList& list, CTorvikDlg& window);

    unsigned GetColumnCount() const override { return studio::app::MessageList::kColumnCount; }
    wxString GetColumnType(unsigned column) const override;
    void GetValueByRow(wxVariant& value, unsigned row, unsigned column) const override;
    bool SetValueByRow(const wxVariant& value, unsigned row, unsigned column) override;
    bool HasValue(const wxDataViewItem& item, unsigned column) const override;
    bool IsEnabledByRow(unsigned row, unsigned column) const override;

private:
    studio::app::MessageList& list_;
    CTorvikDlg& window_;
};

/// Tab 0, "Messages selection": the check list of messages and channels.
class CTabMessSel : public wxPanel {
public:
    CTabMessSel(wxWindow* parent, CTorvikDlg& window);

    /// Shows the core's rows again (after a refill, a sort, a project change).
    void Reload();
    /// Toggles a check cell (CAN 1..4) as a click does.
    void ToggleCell(unsigned row, unsigned channel);
    wxDataViewCtrl* list() const { return list_; }

private:
    void OnHeaderClick(wxDataViewEvent& event);
    void OnContextMenu(wxDataViewEvent& event);
    void OnBatch(wxCommandEvent& event);

    CTorvikDlg& window_;
    wxDataViewCtrl* list_;
    wxObjectDataPtr<MessageListModel> model_;
};

/// Tab 1, "Message and signal configuration": the tree of selected messages and the property grid.
class CTabMessSigConf : public wxPanel {
public:
    CTabMessSigConf(wxWindow* parent, CTorvikDlg& window);
    ~CTabMessSigConf() override;

    /// Fills the tree again when the core refilled it.
    void Reload();
    wxTreeCtrl* tree() const { return tree_; }
    wxPropertyGridManager* grid() const { return grid_; }
    PropertyGridAdapter& adapter() { return *adapter_; }

private:
    void OnSelection(wxTreeEvent& event);

    CTorvikDlg& window_;
    wxTreeCtrl* tree_;
    wxStaticText* caption_;
    wxPropertyGridManager* grid_;
    std::unique_ptr<PropertyGridAdapter> adapter_;
    std::size_t revision_ = static_cast<std::size_t>(-1);
    bool filling_ = false;
};

}  // namespace torvik::gui
