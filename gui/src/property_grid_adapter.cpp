#include "property_grid_adapter.hpp"

#include <algorithm>

#include <wx/propgrid/advprops.h>
#include <wx/propgrid/props.h>

#include "wx_text.hpp"

namespace torvik::gui {

using studio::PropertyKind;
using studio::TS_MFCPropertyGridProperty;

namespace {

int IndexOf(const TS_MFCPropertyGridProperty& item)
{
    const auto it = std::find(item.options.begin(), item.options.end(), item.text());
    return it == item.options.end() ? -1 : static_cast<int>(it - item.options.begin());
}

wxPGChoices ChoicesOf(const TS_MFCPropertyGridProperty& item)
{
    wxPGChoices choices;
    for (std::size_t i = 0; i < item.options.size(); ++i) {
        choices.Add(Wx(item.options[i]), static_cast<int>(i));
    }
    return choices;
}

}  // namespace

PropertyGridAdapter::PropertyGridAdapter(wxPropertyGridManager& manager, EditHandler onEdit)
    : manager_(manager), onEdit_(std::move(onEdit))
{
    manager_.Bind(wxEVT_PG_CHANGED, &PropertyGridAdapter::OnChanged, this);
}

PropertyGridAdapter::~PropertyGridAdapter()
{
    manager_.Unbind(wxEVT_PG_CHANGED, &PropertyGridAdapter::OnChanged, this);
}

wxVariant PropertyGridAdapter::ValueOf(const TS_MFCPropertyGridProperty& item)
{
    switch (item.kind()) {
    case PropertyKind::Int:
        return wxVariant(item.number());
    case PropertyKind::Float:
        return wxVariant(item.real());
    case PropertyKind::List:
        return wxVariant(static_cast<long>(std::max(IndexOf(item), 0)));
    default:
        return wxVariant(Wx(item.text()));
    }
}

void PropertyGridAdapter::OnAdded(const TS_MFCPropertyGridProperty& item)
{
    const wxString label = Wx(item.name());
    const wxString name = wxString::Format("p%u", ++serial_);
    wxPGProperty* property = nullptr;
    switch (item.kind()) {
    case PropertyKind::Group:
        property = new wxPropertyCategory(label, name);
        break;
    case PropertyKind::Text:
        property = new wxStringProperty(label, name, Wx(item.text()));
        break;
    case PropertyKind::Int:
        property = new wxIntProperty(label, name, item.number());
        break;
    case PropertyKind::Float:
        property = new wxFloatProperty(label, name, item.real());
        break;
    case PropertyKind::List: {
        wxPGChoices choices = ChoicesOf(item);
        property = new wxEnumProperty(label, name, choices, std::max(IndexOf(item), 0));
        break;
    }
    case PropertyKind::EditableList: {
        wxPGChoices choices = ChoicesOf(item);
        property = new wxEditEnumProperty(label, name, choices, Wx(item.text()));
        break;
    }
    }
    wxPropertyGrid* grid = manager_.GetGrid();
    if (item.parent() == nullptr) {
        grid->Append(property);
    } else if (const auto parent = shown_.find(item.parent()); parent != shown_.end()) {
        grid->AppendIn(parent->second, property);
    } else {
        delete property;
        return;
    }
    if (item.kind() == PropertyKind::Int && item.minimum < item.maximum) {
        property->SetEditor(wxPGEditor_SpinCtrl);
        property->SetAttribute(wxPG_ATTR_MIN, item.minimum);
        property->SetAttribute(wxPG_ATTR_MAX, item.maximum);
    }
    property->SetHelpString(Wx(item.description()));
    if (!item.enabled()) {
        grid->EnableProperty(property, false);
    }
    if (item.kind() == PropertyKind::Group) {
        grid->Expand(property);
    }
    shown_[&item] = property;
    items_[property] = const_cast<TS_MFCPropertyGridProperty*>(&item);
    grid->Refresh();
}

void PropertyGridAdapter::Forget(const TS_MFCPropertyGridProperty& item)
{
    for (const auto& child : item.children()) {
        Forget(*child);
    }
    if (const auto it = shown_.find(&item); it != shown_.end()) {
        items_.erase(it->second);
        shown_.erase(it);
    }
}

void PropertyGridAdapter::OnRemoving(const TS_MFCPropertyGridProperty& item)
{
    const auto it = shown_.find(&item);
    if (it == shown_.end()) {
        return;
    }
    wxPGProperty* property = it->second;
    Forget(item);
    manager_.GetGrid()->DeleteProperty(property);
    manager_.GetGrid()->Refresh();
}

void PropertyGridAdapter::OnValueSet(const TS_MFCPropertyGridProperty& item)
{
    if (const auto it = shown_.find(&item); it != shown_.end()) {
        // SetPropertyValue sends no change event, so the core does not hear its own value again.
        manager_.GetGrid()->SetPropertyValue(it->second, ValueOf(item));
    }
}

void PropertyGridAdapter::OnCleared()
{
    shown_.clear();
    items_.clear();
    manager_.GetGrid()->Clear();
}

wxPGProperty* PropertyGridAdapter::PropertyOf(const std::wstring& name) const
{
    for (const auto& [item, property] : shown_) {
        if (item->name() == name) {
            return property;
        }
    }
    return nullptr;
}

void PropertyGridAdapter::OnChanged(wxPropertyGridEvent& event)
{
    wxPGProperty* property = event.GetProperty();
    const auto it = items_.find(property);
    if (it == items_.end()) {
        return;
    }
    const TS_MFCPropertyGridProperty& item = *it->second;
    studio::PropertyValue value;
    const wxVariant typed = property->GetValue();
    switch (item.kind()) {
    case PropertyKind::Int:
        value = typed.GetLong();
        break;
    case PropertyKind::Float:
        value = typed.GetDouble();
        break;
    case PropertyKind::List: {
        const long index = typed.GetLong();
        value = index >= 0 && static_cast<std::size_t>(index) < item.options.size()
                    ? item.options[static_cast<std::size_t>(index)]
                    : std::wstring();
        break;
    }
    default:
        value = Std(property->GetValueAsString());
        break;
    }
    // The helper may replace the very property that changed; let the grid finish its event first.
    manager_.CallAfter([this, property, value] {
        if (const auto found = items_.find(property); found != items_.end()) {
            onEdit_(*found->second, value);
        }
    });
}

}  // namespace torvik::gui
