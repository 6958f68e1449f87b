#include "layer/ExtCtrls.hpp"

#include <QTimer>

namespace kestrane {

namespace {
bool g_refuseTimers = false;
}

struct TTimer::Impl {
    QTimer timer;
};

TTimer::TTimer(TComponent* AOwner) : TDescribedComponent(AOwner), impl_(std::make_unique<Impl>())
{
    impl_->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] {
        GuardedCall(this, [this] {
            if (onTimer_)
                onTimer_(this);
        });
    });
}

TTimer::~TTimer() = default;

void TTimer::RefuseTimersForTesting(bool refuse) { g_refuseTimers = refuse; }

void TTimer::SetInterval(uint32_t ms)
{
    if (ms != interval_) {
        interval_ = ms;
        UpdateTimer();
    }
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled != enabled_) {
        enabled_ = enabled;
        UpdateTimer();
    }
}

void TTimer::SetOnTimer(TNotifyEvent handler)
{
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TTimer::UpdateTimer()
{
    impl_->timer.stop();
    if (interval_ == 0 || !enabled_ || !onTimer_)
        return;
    if (!g_refuseTimers)
        impl_->timer.start(static_cast<int>(interval_));
    if (!impl_->timer.isActive())
        throw EOutOfResources(ProgramText(Msg::NoTimers));
}

void TTimer::SetProperty(const PropertySetting& s, DescriptionBinder& binder)
{
    if (s.name == "Interval")
        SetInterval(static_cast<uint32_t>(std::get<int64_t>(s.value)));
    else if (s.name == "Enabled")
        SetEnabled(std::get<bool>(s.value));
    else if (s.name == "OnTimer")
        SetOnTimer(binder.FindMethod(std::get<Ident>(s.value).name));
    else
        TDescribedComponent::SetProperty(s, binder);
}

}  // namespace kestrane
