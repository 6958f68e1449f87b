#include "qt/FormWindow.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QWindowStateChangeEvent>
#include <cmath>

#include "layer/Menus.hpp"

namespace kestrane {

namespace qt {

void FormWindow::closeEvent(QCloseEvent* event)
{
    // The form decides what closing means; the window itself never just goes away.
    event->ignore();
    GuardedCall(&form_, [this] { form_.Close(); });
}

void FormWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized))
        GuardedCall(&form_, [this] { form_.impl().ApplyPendingPosition(); });
}

void ApplyFontSetting(QFont& font, const PropertySetting& s, double scale)
{
    if (s.name == "Font.Name") {
        font.setFamily(QString::fromUtf8(std::get<std::string>(s.value).c_str()));
    } else if (s.name == "Font.Height") {
        // Negative: the characters' own height in pixels; positive: the whole cell's.
        const auto h = std::get<int64_t>(s.value);
        const int pixels = static_cast<int>(std::lround(static_cast<double>(h < 0 ? -h : h) * scale));
        font.setPixelSize(std::max(1, h < 0 ? pixels : pixels * 4 / 5));
    } else if (s.name == "Font.Style") {
        const auto& styles = std::get<IdentSet>(s.value).names;
        auto has = [&](const char* n) { return std::find(styles.begin(), styles.end(), n) != styles.end(); };
        font.setBold(has("fsBold"));
        font.setItalic(has("fsItalic"));
        font.setUnderline(has("fsUnderline"));
        font.setStrikeOut(has("fsStrikeOut"));
    } else if (s.name == "Font.Charset" || s.name == "Font.Color") {
        // The code page decides the characters; text is drawn in the window text colour.
    } else {
        throw EReadError("Property " + s.name + " does not exist");
    }
}

double PixelsPerInchScale(const TForm* form)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int design = form ? form->impl().designPixelsPerInch : 96;
    if (!screen || design <= 0)
        return 1.0;
    return screen->logicalDotsPerInchY() / design;
}

double DesignScale(const TForm* form)
{
    if (!form)
        return 1.0;
    TForm::Impl& impl = form->impl();
    if (impl.designTextHeight <= 0)
        return PixelsPerInchScale(form);
    // The window font, already sized for this screen, measured against the layout's text height:
    // a substituted font of another height rescales everything the same way.
    if (impl.scale <= 0)
        impl.scale = static_cast<double>(QFontMetrics(impl.font).height()) / impl.designTextHeight;
    return impl.scale;
}

}  // namespace qt

QPoint TForm::Impl::Position() const
{
    if (pendingPosition && (window.windowState() & Qt::WindowMinimized))
        return *pendingPosition;
    return window.pos();
}

void TForm::Impl::MoveTo(QPoint p)
{
    if (window.windowState() & Qt::WindowMinimized)
        pendingPosition = p;
    else
        window.move(p);
}

void TForm::Impl::ApplyPendingPosition()
{
    if (pendingPosition) {
        const QPoint p = *pendingPosition;
        pendingPosition.reset();
        window.move(p);
    }
}

void TForm::Impl::CreateHidden()
{
    QRect bounds;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (defaultPosition && screen) {
        // Where a window system puts a new top-level window: the first cascade slot, three
        // quarters of the work area.
        const QRect area = screen->availableGeometry();
        const int step = QFontMetrics(QGuiApplication::font()).height() + 8;
        bounds = QRect(area.topLeft() + QPoint(step, step), area.size() * 3 / 4);
    } else {
        const double scale = qt::DesignScale(&form);
        auto at = [&](const char* n) {
            auto it = designBounds.find(n);
            return it == designBounds.end() ? 0 : static_cast<int>(std::lround(it->second * scale));
        };
        bounds = QRect(at("Left"), at("Top"), std::max(1, at("Width")), std::max(1, at("Height")));
    }
    window.resize(bounds.size());
    window.move(bounds.topLeft());
    window.winId();
}

namespace {

// Fills a menu bar or a menu with the items under `parent`, each shown with its access key.
template <class Menu>
void AddItems(Menu* into, TMenuItem* parent)
{
    for (int i = 0; i < parent->Count(); ++i) {
        TMenuItem* item = parent->Items(i);
        const QString text = QString::fromUtf8(item->ShownCaption().c_str());
        if (item->Count() > 0) {
            AddItems(into->addMenu(text), item);
        } else {
            QAction* action = into->addAction(text);
            QObject::connect(action, &QAction::triggered, into, [item] { GuardedCall(item, [item] { item->Click(); }); });
        }
    }
}

}  // namespace

void TForm::Impl::BuildMenuBar(TMainMenu* menu)
{
    QMenuBar* bar = window.menuBar();
    bar->clear();
    if (menu)
        AddItems(bar, menu->Items());
}

}  // namespace kestrane
