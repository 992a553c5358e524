#pragma once

#include <functional>
#include <map>

#include <wx/propgrid/manager.h>

#include <editor/property_grid.hpp>

namespace torvik::gui {

/// Shows a core property grid in a wxPropertyGridManager: groups become categories, items properties
/// (greyed when disabled, lists without free text as drop-downs, spin controls for bounded numbers, the
/// item's description in the description box). Values the core sets are shown without a change event;
/// edits by the user go to `onEdit`, after the grid's event has run.
class PropertyGridAdapter : public studio::PropertyGridObserver {
public:
    using EditHandler = std::function<void(studio::TS_MFCPropertyGridProperty&, studio::PropertyValue)>;

    PropertyGridAdapter(wxPropertyGridManager& manager, EditHandler onEdit);
    ~PropertyGridAdapter() override;

    void OnAdded(const studio::TS_MFCPropertyGridProperty& item) override;
    void OnRemoving(const studio::TS_MFCPropertyGridProperty& item) override;
    void OnValueSet(const studio::TS_MFCPropertyGridProperty& item) override;
    void OnCleared() override;

    /// The wx property that shows `name`, or null.
    wxPGProperty* PropertyOf(const std::wstring& name) const;

private:
    void OnChanged(wxPropertyGridEvent& event);
    void Forget(const studio::TS_MFCPropertyGridProperty& item);
    static wxVariant ValueOf(const studio::TS_MFCPropertyGridProperty& item);

    wxPropertyGridManager& manager_;
    EditHandler onEdit_;
    std::map<const studio::TS_MFCPropertyGridProperty*, wxPGProperty*> shown_;
    std::map<wxPGProperty*, studio::TS_MFCPropertyGridProperty*> items_;
    unsigned serial_ = 0;
};

}  // namespace torvik::gui
