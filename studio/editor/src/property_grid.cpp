#include <editor/property_grid.hpp>

#include <algorithm>

#include <editor/item_helper.hpp>

#include "format.hpp"

namespace torvik::studio {

TS_MFCPropertyGridProperty::TS_MFCPropertyGridProperty(PropertyKind kind, std::wstring name, PropertyValue value,
                                                       std::wstring description)
    : kind_(kind), name_(std::move(name)), value_(std::move(value)), description_(std::move(description))
{
}

std::wstring TS_MFCPropertyGridProperty::text() const
{
    if (const auto* t = std::get_if<std::wstring>(&value_)) {
        return *t;
    }
    if (const auto* n = std::get_if<long>(&value_)) {
        return std::to_wstring(*n);
    }
    return detail::Wide(detail::Format("%f", std::get<double>(value_)));
}

long TS_MFCPropertyGridProperty::number() const
{
    if (const auto* n = std::get_if<long>(&value_)) {
        return *n;
    }
    if (const auto* d = std::get_if<double>(&value_)) {
        return static_cast<long>(*d);
    }
    return 0;
}

double TS_MFCPropertyGridProperty::real() const
{
    if (const auto* d = std::get_if<double>(&value_)) {
        return *d;
    }
    if (const auto* n = std::get_if<long>(&value_)) {
        return static_cast<double>(*n);
    }
    return 0.0;
}

void TS_MFCPropertyGridProperty::SetValue(PropertyValue value)
{
    if (value_ != value) {
        modified_ = true;
    }
    value_ = std::move(value);
    if (grid_ != nullptr && grid_->observer_ != nullptr) {
        grid_->observer_->OnValueSet(*this);
    }
}

TS_MFCPropertyGridProperty* TS_MFCPropertyGridProperty::Child(const std::wstring& name) const
{
    for (const auto& child : children_) {
        if (child->name_ == name) {
            return child.get();
        }
    }
    return nullptr;
}

PropertyGrid::~PropertyGrid() = default;

PropertyGrid::Item& PropertyGrid::AddGroup(const std::wstring& name)
{
    auto group = std::make_unique<Item>(PropertyKind::Group, name, std::wstring(), std::wstring());
    group->grid_ = this;
    Item& added = *groups_.emplace_back(std::move(group));
    if (observer_ != nullptr) {
        observer_->OnAdded(added);
    }
    return added;
}

PropertyGrid::Item& PropertyGrid::Add(Item& parent, std::unique_ptr<Item> item)
{
    item->grid_ = this;
    item->parent_ = &parent;
    Item& added = *parent.children_.emplace_back(std::move(item));
    if (observer_ != nullptr) {
        observer_->OnAdded(added);
    }
    return added;
}

void PropertyGrid::Remove(Item* item)
{
    if (item == nullptr) {
        return;
    }
    if (observer_ != nullptr) {
        observer_->OnRemoving(*item);
    }
    auto& owner = item->parent_ != nullptr ? item->parent_->children_ : groups_;
    std::erase_if(owner, [item](const std::unique_ptr<Item>& p) { return p.get() == item; });
}

void PropertyGrid::Clear()
{
    groups_.clear();
    caption.clear();
    if (observer_ != nullptr) {
        observer_->OnCleared();
    }
}

namespace {

PropertyGrid::Item* FindIn(const std::vector<std::unique_ptr<PropertyGrid::Item>>& items, const std::wstring& name)
{
    for (const auto& item : items) {
        if (item->name() == name) {
            return item.get();
        }
        if (auto* found = FindIn(item->children(), name)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

PropertyGrid::Item* PropertyGrid::Find(const std::wstring& name) const
{
    return FindIn(groups_, name);
}

void PropertyGrid::Edit(Item& item, PropertyValue value)
{
    item.TakeEdit(std::move(value));
    if (item.helper != nullptr) {
        item.helper->OnPropertyChanged(item);
    }
}

}  // namespace torvik::studio
