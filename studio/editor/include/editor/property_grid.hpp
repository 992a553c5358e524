#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace torvik::studio {

class TS_ItemHelper;

/// How a grid item is edited.
enum class PropertyKind {
    Group,         ///< a heading that holds items
    Text,          ///< free text
    Int,           ///< a whole number with a spin control bounded by `minimum` and `maximum`
    Float,         ///< a floating-point number
    List,          ///< one of `options`, no free text
    EditableList,  ///< one of `options` or free text
};

/// The value of an item: text for Text, List and EditableList, a number for Int and Float.
using PropertyValue = std::variant<std::wstring, long, double>;

/// One entry of a grid: a group or an editable item. Items belong to the grid that made them.
class TS_MFCPropertyGridProperty {
public:
    TS_MFCPropertyGridProperty(PropertyKind kind, std::wstring name, PropertyValue value,
                               std::wstring description);
    TS_MFCPropertyGridProperty(const TS_MFCPropertyGridProperty&) = delete;
    TS_MFCPropertyGridProperty& operator=(const TS_MFCPropertyGridProperty&) = delete;

    PropertyKind kind() const { return kind_; }
    const std::wstring& name() const { return name_; }
    const std::wstring& description() const { return description_; }
    const PropertyValue& value() const { return value_; }
    bool enabled() const { return enabled_; }
    /// True once `SetValue` changed the value; cleared by `ClearModified`.
    bool modified() const { return modified_; }
    void ClearModified() { modified_ = false; }

    /// The value as text (a number formatted as the grid shows it).
    std::wstring text() const;
    long number() const;
    double real() const;

    /// Sets the value; the item counts as modified only when it differs from the current one (text values
    /// compare as text). Tells the grid's observer, which shows it without reporting an edit.
    void SetValue(PropertyValue value);
    /// Takes a value the user entered, without telling the observer (the widget shows it already).
    void TakeEdit(PropertyValue value) { value_ = std::move(value); }

    // ---- what the item is ----
    /// The attribute the item shows; empty for other items.
    std::wstring attributeName;
    /// The helper that made the item, or null.
    TS_ItemHelper* helper = nullptr;
    /// The entries of a List or EditableList item.
    std::vector<std::wstring> options;
    /// For value description lists: the raw value of each entry of `options` (same order).
    std::vector<std::uint32_t> optionValues;
    long minimum = 0;  ///< Int: the spin bounds (no bounds when both are 0)
    long maximum = 0;

    TS_MFCPropertyGridProperty* parent() const { return parent_; }
    const std::vector<std::unique_ptr<TS_MFCPropertyGridProperty>>& children() const { return children_; }
    /// The child named `name`, or null.
    TS_MFCPropertyGridProperty* Child(const std::wstring& name) const;

private:
    friend class PropertyGrid;

    PropertyKind kind_;
    std::wstring name_;
    PropertyValue value_;
    std::wstring description_;
    bool enabled_ = true;
    bool modified_ = false;
    class PropertyGrid* grid_ = nullptr;
    TS_MFCPropertyGridProperty* parent_ = nullptr;
    std::vector<std::unique_ptr<TS_MFCPropertyGridProperty>> children_;
};

/// What a widget toolkit implements to show a grid. Called on the thread that edits the grid, always
/// after the grid itself changed.
class PropertyGridObserver {
public:
    virtual ~PropertyGridObserver() = default;
    /// `item` was appended to the end of its parent (or, for a group without parent, of the grid).
    virtual void OnAdded(const TS_MFCPropertyGridProperty& item) = 0;
    /// `item` is about to go (with its children); it is still valid during the call.
    virtual void OnRemoving(const TS_MFCPropertyGridProperty& item) = 0;
    /// The value of `item` was set by the program; the widget shows it without reporting an edit.
    virtual void OnValueSet(const TS_MFCPropertyGridProperty& item) = 0;
    /// Everything went.
    virtual void OnCleared() = 0;
};

/// The toolkit-neutral property grid: groups in order, each with its items in order. The helpers fill
/// and change it; a widget shows it through its observer and hands edits back with `Edit`.
class PropertyGrid {
public:
    using Item = TS_MFCPropertyGridProperty;

    PropertyGrid() = default;
    PropertyGrid(const PropertyGrid&) = delete;
    PropertyGrid& operator=(const PropertyGrid&) = delete;
    ~PropertyGrid();

    void SetObserver(PropertyGridObserver* observer) { observer_ = observer; }
    /// Called after each change the user made that the helper accepted (the project changed).
    void SetChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }
    void NotifyProjectChanged() const
    {
        if (changed_) {
            changed_();
        }
    }

    /// Appends a group at the end of the grid.
    Item& AddGroup(const std::wstring& name);
    /// Appends `item` to the end of `parent`; returns it. The observer sees the item as it is now, so
    /// fill in its options and bounds before.
    Item& Add(Item& parent, std::unique_ptr<Item> item);
    /// Removes `item` (and its children); null does nothing.
    void Remove(Item* item);
    /// Greys out an item (it cannot be edited) or enables it; set before the item is added.
    static void Enable(Item& item, bool enabled) { item.enabled_ = enabled; }
    void Clear();

    const std::vector<std::unique_ptr<Item>>& groups() const { return groups_; }
    /// The first item named `name` in any group (groups themselves included), or null.
    Item* Find(const std::wstring& name) const;

    /// Shows a value the user entered in `item` and hands it to the item's helper, which accepts it or
    /// puts the project's value back.
    void Edit(Item& item, PropertyValue value);

    /// The caption above the grid ("Signal: EngineSpeed").
    std::wstring caption;

private:
    friend class TS_MFCPropertyGridProperty;

    PropertyGridObserver* observer_ = nullptr;
    std::function<void()> changed_;
    std::vector<std::unique_ptr<Item>> groups_;
};

}  // namespace torvik::studio
