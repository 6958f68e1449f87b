#include "layer/StdCtrls.hpp"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextDocument>

#include "qt/FormWindow.hpp"
#include "qt/QtSupport.hpp"

namespace kestrane {

namespace {

class MemoEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    bool event(QEvent* e) override
    {
        // Tab moves the focus (and, with nothing else to take it, stays); Ctrl+Tab types a tab.
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_Tab && (k->modifiers() & Qt::ControlModifier)) {
                insertPlainText(QStringLiteral("\t"));
                return true;
            }
            if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
                focusNextPrevChild(k->key() == Qt::Key_Tab);
                return true;
            }
        }
        return QPlainTextEdit::event(e);
    }
};

}  // namespace

struct TMemo::Impl {
    explicit Impl(TForm* parent) : edit(parent ? &parent->impl().window : nullptr) {}

    MemoEdit edit;
    // The text's bytes as last set or read; valid until the next edit.
    mutable std::string bytes;
    mutable bool stale = false;
    int updateDepth = 0;
};

TMemo::TMemo(TComponent* AOwner, TForm* parent) : TDescribedComponent(AOwner), impl_(std::make_unique<Impl>(parent))
{
    QPlainTextEdit& e = impl_->edit;
    e.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    e.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    e.setTabChangesFocus(true);
    e.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    e.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    e.setFocusPolicy(Qt::StrongFocus);
    // The selection shows only while the text area has the focus.
    QPalette p = e.palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Inactive, QPalette::Base));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Inactive, QPalette::Text));
    e.setPalette(p);
    QObject::connect(e.document(), &QTextDocument::contentsChanged, [this] { impl_->stale = true; });
}

TMemo::~TMemo() = default;

std::string TMemo::GetText() const
{
    if (impl_->stale) {
        impl_->bytes = qt::ToCodePage(impl_->edit.document()->toRawText());
        impl_->stale = false;
    }
    return impl_->bytes;
}

std::size_t TMemo::GetTextLen() const { return GetText().size(); }

bool TMemo::SetTextBuf(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    if (text.size() > kCapacity)
        return false;
    impl_->edit.setPlainText(qt::FromCodePage(text));
    impl_->bytes.assign(text);
    impl_->stale = false;
    return true;
}

void TMemo::SetFocus() { impl_->edit.setFocus(); }
bool TMemo::Focused() const { return impl_->edit.hasFocus(); }

void TStrings::BeginUpdate()
{
    if (memo_.impl_->updateDepth++ == 0)
        memo_.impl_->edit.viewport()->setUpdatesEnabled(false);
}

void TStrings::EndUpdate()
{
    if (--memo_.impl_->updateDepth == 0) {
        memo_.impl_->edit.viewport()->setUpdatesEnabled(true);
        memo_.impl_->edit.viewport()->update();
    }
}

void TMemo::SetProperty(const PropertySetting& s, DescriptionBinder& binder)
{
    QPlainTextEdit& e = impl_->edit;
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
        e.setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        e.setVerticalScrollBarPolicy(vert ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    } else if (n == "Left" || n == "Top" || n == "Width" || n == "Height") {
        // Stored bounds; alignment to the client area replaces them.
    } else if (n == "ParentFont" || n == "TabOrder") {
        // The text area is the window's only control: its own font, first in tab order.
    } else {
        TDescribedComponent::SetProperty(s, binder);
    }
}

}  // namespace kestrane
