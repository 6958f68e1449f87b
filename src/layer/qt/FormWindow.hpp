#pragma once
// Private to the Qt backend: the window behind a TForm.
#include <QFont>
#include <QMainWindow>
#include <QPoint>
#include <map>
#include <optional>
#include <string>

#include "layer/Forms.hpp"

namespace kestrane {

namespace qt {

class FormWindow : public QMainWindow {
public:
    explicit FormWindow(TForm& form) : form_(form) {}

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TForm& form_;
};

// Applies one "Font.*" setting of a description; heights are scaled for the screen.
void ApplyFontSetting(QFont& font, const PropertySetting& setting, double scale = 1.0);

// Screen pixels per design pixel: the screen's density over the one the layout was made for.
double PixelsPerInchScale(const TForm* form);
// The same, corrected by the window font's real text height against the layout's.
double DesignScale(const TForm* form);

}  // namespace qt

struct TForm::Impl {
    explicit Impl(TForm& form) : form(form), window(form) {}

    QPoint Position() const;
    void MoveTo(QPoint frameTopLeft);
    void CreateHidden();
    void BuildMenuBar(TMainMenu* menu);
    void ApplyPendingPosition();

    TForm& form;
    qt::FormWindow window;
    std::map<std::string, int> designBounds;
    bool defaultPosition = false;
    int designPixelsPerInch = 96;
    int designTextHeight = 0;
    double scale = 0;  // DesignScale, once the text height is known
    QFont font;
    // A minimised window keeps its place here; the window manager would restore it on a move.
    std::optional<QPoint> pendingPosition;
};

}  // namespace kestrane
