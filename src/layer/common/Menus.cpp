#include "layer/Menus.hpp"

#include <algorithm>

#include "core/AccessKeys.hpp"

namespace kestrane {

TMenuItem::TMenuItem(TComponent* AOwner) : TDescribedComponent(AOwner) {}

TMenuItem::~TMenuItem()
{
    for (TMenuItem* child : items_)
        child->parent_ = nullptr;
    if (parent_) {
        auto& siblings = parent_->items_;
        siblings.erase(std::find(siblings.begin(), siblings.end(), this));
    }
}

void TMenuItem::SetCaption(std::string caption) { caption_ = std::move(caption); }

void TMenuItem::Add(TMenuItem* item)
{
    item->parent_ = this;
    items_.push_back(item);
}

std::string TMenuItem::ShownCaption() const
{
    if (!parent_)
        return WithAccessKeys({caption_}).front();
    std::vector<std::string> captions;
    for (const TMenuItem* sibling : parent_->items_)
        captions.push_back(sibling->caption_);
    const auto me = std::find(parent_->items_.begin(), parent_->items_.end(), this) - parent_->items_.begin();
    return WithAccessKeys(captions)[static_cast<std::size_t>(me)];
}

void TMenuItem::Click()
{
    if (OnClick)
        OnClick(this);
}

void TMenuItem::SetProperty(const PropertySetting& s, DescriptionBinder& binder)
{
    if (s.name == "Caption")
        SetCaption(std::get<std::string>(s.value));
    else if (s.name == "OnClick")
        OnClick = binder.FindMethod(std::get<Ident>(s.value).name);
    else
        TDescribedComponent::SetProperty(s, binder);
}

TMainMenu::TMainMenu(TComponent* AOwner) : TDescribedComponent(AOwner) {}
TMainMenu::~TMainMenu() = default;

}  // namespace kestrane
