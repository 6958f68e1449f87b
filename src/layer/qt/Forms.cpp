#include "layer/Forms.hpp"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QShortcut>
#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>

#include "core/ErrorText.hpp"
#include "layer/CodePage.hpp"
#include "qt/FormWindow.hpp"
#include "qt/QtSupport.hpp"

namespace kestrane {

namespace {

// Every event Qt dispatches passes here; nothing thrown may unwind through Qt's frames.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        bool handled = false;
        GuardedCall(nullptr, [&] { handled = QApplication::notify(receiver, event); });
        return handled;
    }
};

int g_argc = 1;
char g_programName[] = "kestrane";
char* g_argv[] = {g_programName, nullptr};

// The form description names a font no Japanese font package ships under that name.
void SubstituteFonts()
{
    const QString designFont = QString::fromUtf8("ＭＳ Ｐゴシック");
    QFont::insertSubstitutions(designFont, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                            QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});
}

}  // namespace

QIcon MainIcon();

TApplication::TApplication() : TComponent(nullptr)
{
    auto* app = new GuardedApplication(g_argc, g_argv);
    app->setQuitOnLastWindowClosed(false);
    app->setWindowIcon(MainIcon());
    SubstituteFonts();
}

TApplication::~TApplication()
{
    // Forms first: their windows need the QApplication.
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
    delete qApp;
}

void TApplication::Initialize() {}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

void TApplication::SetTitle(std::string title) { title_ = std::move(title); }

void TApplication::Run() { Run(SW_SHOWNORMAL); }

void TApplication::Run(int showCommand)
{
    if (!mainForm_)
        return;
    if (showCommand == SW_SHOWMAXIMIZED)
        mainForm_->SetWindowState(TWindowState::wsMaximized);
    else if (showCommand == SW_SHOWMINNOACTIVE)
        mainForm_->SetWindowState(TWindowState::wsMinimized);
    mainForm_->Show();
    if (quitPosted_) {
        quitPosted_ = false;
        return;
    }
    looping_ = true;
    QApplication::exec();
    looping_ = false;
}

void TApplication::Terminate()
{
    if (looping_)
        QCoreApplication::exit(0);
    else
        quitPosted_ = true;
}

void TApplication::CancelMouseCapture()
{
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
}

void TApplication::ShowException(const Exception& e)
{
    const std::string text = ErrorBoxText(e.Message(), os::CodePageLeadBytes());
    QMessageBox box(QMessageBox::Critical, qt::FromCodePage(title_), qt::FromCodePage(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    // Ctrl+C copies the box as a whole, so a message can be passed on as it stands.
    QShortcut copy(QKeySequence::Copy, &box);
    QObject::connect(&copy, &QShortcut::activated, [&box] {
        const QString rule = QStringLiteral("---------------------------\n");
        QGuiApplication::clipboard()->setText(rule + box.windowTitle() + "\n" + rule + box.text() + "\n" + rule +
                                              box.button(QMessageBox::Ok)->text().remove('&') + "\n" + rule);
    });
    box.exec();
}

TForm::TForm(TComponent* AOwner) : TDescribedComponent(AOwner), impl_(std::make_unique<Impl>(*this)) {}

TForm::~TForm()
{
    if (Application && Application->mainForm_ == this)
        Application->mainForm_ = nullptr;
    // The owned components go first, while the window they live in still exists.
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
}

int32_t TForm::Left() const { return impl_->Position().x(); }
int32_t TForm::Top() const { return impl_->Position().y(); }

void TForm::SetLeft(int32_t value)
{
    if (value != Left())
        impl_->MoveTo(QPoint(value, Top()));
}

void TForm::SetTop(int32_t value)
{
    if (value != Top())
        impl_->MoveTo(QPoint(Left(), value));
}

int32_t TForm::Width() const { return impl_->window.frameGeometry().width(); }
int32_t TForm::Height() const { return impl_->window.frameGeometry().height(); }
void TForm::SetWidth(int32_t value) { impl_->window.resize(value - (Width() - impl_->window.width()), impl_->window.height()); }
void TForm::SetHeight(int32_t value) { impl_->window.resize(impl_->window.width(), value - (Height() - impl_->window.height())); }

void TForm::SetCaption(std::string caption)
{
    caption_ = std::move(caption);
    impl_->window.setWindowTitle(qt::FromCodePage(caption_));
}

void TForm::SetMenu(TMainMenu* menu)
{
    menu_ = menu;
    impl_->BuildMenuBar(menu);
}

TWindowState TForm::WindowState() const
{
    const Qt::WindowStates s = impl_->window.windowState();
    if (s & Qt::WindowMinimized)
        return TWindowState::wsMinimized;
    if (s & Qt::WindowMaximized)
        return TWindowState::wsMaximized;
    return TWindowState::wsNormal;
}

void TForm::SetWindowState(TWindowState state)
{
    switch (state) {
    case TWindowState::wsNormal: impl_->window.setWindowState(Qt::WindowNoState); break;
    case TWindowState::wsMinimized: impl_->window.setWindowState(Qt::WindowMinimized); break;
    case TWindowState::wsMaximized: impl_->window.setWindowState(Qt::WindowMaximized); break;
    }
}

bool TForm::Visible() const { return impl_->window.isVisible(); }
void TForm::Show() { impl_->window.show(); }
void TForm::Hide() { impl_->window.hide(); }

void TForm::Close()
{
    if (Application && Application->MainForm() == this)
        Application->Terminate();
    else
        Hide();
}

void TForm::CreateWindowHidden() { impl_->CreateHidden(); }

void TForm::SetProperty(const PropertySetting& s, DescriptionBinder& binder)
{
    const std::string& n = s.name;
    if (n == "Caption") {
        SetCaption(os::FromUtf8(std::get<std::string>(s.value)));
    } else if (n == "Menu") {
        pendingMenu_ = std::get<Ident>(s.value).name;
    } else if (n == "Left" || n == "Top" || n == "Width" || n == "Height") {
        impl_->designBounds[n] = static_cast<int>(std::get<int64_t>(s.value));
    } else if (n == "Position") {
        impl_->defaultPosition = std::get<Ident>(s.value).name == "poDefault";
    } else if (n == "PixelsPerInch") {
        impl_->designPixelsPerInch = static_cast<int>(std::get<int64_t>(s.value));
    } else if (n == "TextHeight") {
        impl_->designTextHeight = static_cast<int>(std::get<int64_t>(s.value));
    } else if (n.rfind("Font.", 0) == 0) {
        qt::ApplyFontSetting(impl_->font, s, qt::PixelsPerInchScale(this));
    } else if (n == "Color" || n == "OldCreateOrder") {
        // The client area is covered by the text area; no creation events are handled.
    } else {
        TDescribedComponent::SetProperty(s, binder);
    }
}

}  // namespace kestrane
