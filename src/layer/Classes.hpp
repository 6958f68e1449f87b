#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// A component is destroyed by its owner, together with everything the owner holds; destroying one
// directly takes it out of its owner's list first.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
    TComponent* FindComponent(std::string_view name) const;

private:
    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
};

}  // namespace kestrane
