#pragma once
#include <memory>
#include <string>
#include <vector>

#include "layer/Forms.hpp"

namespace kestrane {

class TMenuItem : public TDescribedComponent {
public:
    explicit TMenuItem(TComponent* AOwner);
    ~TMenuItem() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);  // UTF-8
    TNotifyEvent OnClick;

    void Add(TMenuItem* item);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    TMenuItem* Parent() const { return parent_; }

    // The caption as shown, with its access key marked by '&'.
    std::string ShownCaption() const;
    void Click();

    void SetProperty(const PropertySetting& setting, DescriptionBinder& binder) override;

private:
    std::string caption_;
    std::vector<TMenuItem*> items_;
    TMenuItem* parent_ = nullptr;
};

class TMainMenu : public TDescribedComponent {
public:
    explicit TMainMenu(TComponent* AOwner);
    ~TMainMenu() override;

    TMenuItem* Items() { return &root_; }

private:
    TMenuItem root_{nullptr};
};

}  // namespace kestrane
