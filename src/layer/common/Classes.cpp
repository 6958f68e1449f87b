#include "layer/Classes.hpp"

#include <algorithm>

namespace kestrane {

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner)
{
    if (owner_)
        owner_->components_.push_back(this);
}

TComponent::~TComponent()
{
    // Last created, first destroyed: later components may refer to earlier ones.
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
    if (owner_) {
        auto& siblings = owner_->components_;
        siblings.erase(std::find(siblings.begin(), siblings.end(), this));
    }
}

TComponent* TComponent::FindComponent(std::string_view name) const
{
    for (TComponent* c : components_)
        if (c->name_ == name)
            return c;
    return nullptr;
}

}  // namespace kestrane
