#pragma once
#include <cstdint>
#include <memory>

#include "layer/Forms.hpp"

namespace kestrane {

// Ticks only from a message loop. It runs while Enabled with an interval and an OnTimer event;
// wiring the event starts it, and a refusal by the window system raises EOutOfResources.
class TTimer : public TDescribedComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

    void SetProperty(const PropertySetting& setting, DescriptionBinder& binder) override;

    // For tests: make the window system refuse every timer started from now on.
    static void RefuseTimersForTesting(bool refuse);

    struct Impl;

private:
    void UpdateTimer();

    std::unique_ptr<Impl> impl_;
    uint32_t interval_ = 1000;
    bool enabled_ = true;
    TNotifyEvent onTimer_;
};

}  // namespace kestrane
