#include "layer/StdCtrls.hpp"

#include <QMainWindow>
#include <stdexcept>

#include "qt/FormWindow.hpp"
#include "qt/TextView.hpp"

namespace kestrane {

struct TMemo::Impl {
    explicit Impl(TForm* parent) : view(parent ? &parent->impl().window : nullptr) {}

    qt::TextView view;
    int updateDepth = 0;
};

TMemo::TMemo(TComponent* AOwner, TForm* parent) : TDescribedComponent(AOwner), impl_(std::make_unique<Impl>(parent))
{
    impl_->view.SetWordWrap(true);
    impl_->view.setFocusPolicy(Qt::StrongFocus);
}

TMemo::~TMemo() = default;

std::string TMemo::GetText() const { return impl_->view.Bytes(); }

std::size_t TMemo::GetTextLen() const { return impl_->view.Size(); }

bool TMemo::SetTextBuf(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    if (text.size() > kCapacity)
        return false;
    try {
        impl_->view.SetBytes(text);
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void TStrings::BeginUpdate()
{
    if (memo_.impl_->updateDepth++ == 0)
        memo_.impl_->view.viewport()->setUpdatesEnabled(false);
}

void TStrings::EndUpdate()
{
    if (--memo_.impl_->updateDepth == 0) {
        memo_.impl_->view.viewport()->setUpdatesEnabled(true);
        memo_.impl_->view.viewport()->update();
    }
}

void TMemo::SetProperty(const PropertySetting& s, DescriptionBinder& binder)
{
    qt::TextView& e = impl_->view;
    const std::string& n = s.name;
    if (n == "Align") {
        if (std::get<Ident>(s.value).name == "alClient")
            if (auto* window = qobject_cast<QMainWindow*>(e.parentWidget()))
                window->setCentralWidget(&e);
    } else if (n.rfind("Font.", 0) == 0) {
        QFont f = e.font();
        qt::ApplyFontSetting(f, s, qt::DesignScale(dynamic_cast<TForm*>(Owner())));
        e.setFont(f);
    } else if (n == "ScrollBars") {
        const std::string& v = std::get<Ident>(s.value).name;
        const bool h = v == "ssHorizontal" || v == "ssBoth";
        const bool vert = v == "ssVertical" || v == "ssBoth";
        e.SetScrollBars(h, vert);
    } else if (n == "Left" || n == "Top" || n == "Width" || n == "Height") {
        // Stored bounds; alignment to the client area replaces them.
    } else if (n == "ParentFont" || n == "TabOrder") {
        // The text area is the window's only control: its own font, first in tab order.
    } else {
        TDescribedComponent::SetProperty(s, binder);
    }
}

}  // namespace kestrane
