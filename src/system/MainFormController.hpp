#pragma once
#include <cstdint>
#include <optional>

#include "layer/Dialogs.hpp"
#include "layer/ExtCtrls.hpp"
#include "layer/Forms.hpp"
#include "layer/Menus.hpp"
#include "layer/StdCtrls.hpp"
#include "system/sensor.hpp"

namespace kestrane {

// The editor's one window: a text area, the File menu, and a 50 ms timer that keeps the window
// displaced by what the sensor reads.
class TMainForm : public TForm {
public:
    // Components of the form description; the form owns them.
    TTimer* Timer = nullptr;
    TMemo* Memo = nullptr;
    TMainMenu* MainMenu1 = nullptr;
    TMenuItem* File1 = nullptr;
    TMenuItem* Open1 = nullptr;
    TMenuItem* Save1 = nullptr;
    TMenuItem* Quit1 = nullptr;
    TOpenDialog* OpenDialog = nullptr;
    TSaveDialog* SaveDialog = nullptr;

    explicit TMainForm(TComponent* Owner);
    ~TMainForm() override;

    void TimerTimer(TObject* Sender);
    void Quit1Click(TObject* Sender);
    void Open1Click(TObject* Sender);
    void Save1Click(TObject* Sender);

    int32_t AppliedHorizontal() const { return appliedHorizontal; }
    int32_t AppliedVertical() const { return appliedVertical; }

private:
    // Made only once the window exists, so it is built after every component.
    std::optional<Accelerometer> accelerometer;
    int32_t appliedHorizontal = 0;
    int32_t appliedVertical = 0;
};

// The window's stored description: its settings, components and event wiring.
const ComponentDescription& MainFormDescription();

extern TMainForm* MainForm;

}  // namespace kestrane
