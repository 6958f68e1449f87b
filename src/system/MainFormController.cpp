#include "system/MainFormController.hpp"

namespace kestrane {

TMainForm* MainForm = nullptr;

const ComponentDescription& MainFormDescription()
{
    static const ComponentDescription description{
        "MainForm",
        "TMainForm",
        {
            {"Left", int64_t{592}},
            {"Top", int64_t{285}},
            {"Width", int64_t{596}},
            {"Height", int64_t{320}},
            {"Caption", std::string("Kestrane")},
            {"Color", Ident{"clBtnFace"}},
            {"Font.Charset", Ident{"SHIFTJIS_CHARSET"}},
            {"Font.Color", Ident{"clWindowText"}},
            {"Font.Height", int64_t{-12}},
            {"Font.Name", std::string("ＭＳ Ｐゴシック")},
            {"Font.Style", IdentSet{}},
            {"Menu", Ident{"MainMenu1"}},
            {"OldCreateOrder", false},
            {"Position", Ident{"poDefault"}},
            {"PixelsPerInch", int64_t{96}},
            {"TextHeight", int64_t{12}},
        },
        {
            {"Memo",
             "TMemo",
             {
                 {"Left", int64_t{0}},
                 {"Top", int64_t{0}},
                 {"Width", int64_t{588}},
                 {"Height", int64_t{278}},
                 {"Align", Ident{"alClient"}},
                 {"Font.Charset", Ident{"SHIFTJIS_CHARSET"}},
                 {"Font.Color", Ident{"clWindowText"}},
                 {"Font.Height", int64_t{-24}},
                 {"Font.Name", std::string("ＭＳ Ｐゴシック")},
                 {"Font.Style", IdentSet{}},
                 {"ParentFont", false},
                 {"ScrollBars", Ident{"ssBoth"}},
                 {"TabOrder", int64_t{0}},
             },
             {}},
            {"Timer", "TTimer", {{"Interval", int64_t{50}}, {"OnTimer", Ident{"TimerTimer"}}, {"Left", int64_t{96}}, {"Top", int64_t{136}}}, {}},
            {"MainMenu1",
             "TMainMenu",
             {{"Left", int64_t{72}}, {"Top", int64_t{8}}},
             {
                 {"File1",
                  "TMenuItem",
                  {{"Caption", std::string("File")}},
                  {
                      {"Open1", "TMenuItem", {{"Caption", std::string("Open")}, {"OnClick", Ident{"Open1Click"}}}, {}},
                      {"Save1", "TMenuItem", {{"Caption", std::string("Save")}, {"OnClick", Ident{"Save1Click"}}}, {}},
                      {"Quit1", "TMenuItem", {{"Caption", std::string("Quit")}, {"OnClick", Ident{"Quit1Click"}}}, {}},
                  }},
             }},
            {"OpenDialog", "TOpenDialog", {{"Left", int64_t{144}}, {"Top", int64_t{16}}}, {}},
            {"SaveDialog", "TSaveDialog", {{"Left", int64_t{216}}, {"Top", int64_t{16}}}, {}},
        }};
    return description;
}

TMainForm::TMainForm(TComponent* Owner) : TForm(Owner)
{
    FormBinder<TMainForm> binder(*this);
    binder.Field("Timer", &TMainForm::Timer)
        .Field("Memo", &TMainForm::Memo)
        .Field("MainMenu1", &TMainForm::MainMenu1)
        .Field("File1", &TMainForm::File1)
        .Field("Open1", &TMainForm::Open1)
        .Field("Save1", &TMainForm::Save1)
        .Field("Quit1", &TMainForm::Quit1)
        .Field("OpenDialog", &TMainForm::OpenDialog)
        .Field("SaveDialog", &TMainForm::SaveDialog)
        .Method("TimerTimer", &TMainForm::TimerTimer)
        .Method("Quit1Click", &TMainForm::Quit1Click)
        .Method("Open1Click", &TMainForm::Open1Click)
        .Method("Save1Click", &TMainForm::Save1Click);
    LoadDescription(MainFormDescription(), binder);
    accelerometer.emplace();
    appliedHorizontal = 0;
    appliedVertical = 0;
}

// Members go before the form: the sensor is released before any component is destroyed.
TMainForm::~TMainForm() = default;

void TMainForm::TimerTimer(TObject*)
{
    accelerometer->Update();
    const int32_t h = ComputeDisplacement(accelerometer->SecondAxisReading());
    const int32_t v = ComputeDisplacement(accelerometer->FirstAxisReading());
    SetLeft(Left() - (appliedHorizontal - h));
    SetTop(Top() - (appliedVertical - v));
    appliedHorizontal = h;
    appliedVertical = v;
}

void TMainForm::Quit1Click(TObject*) { Close(); }

void TMainForm::Open1Click(TObject*)
{
    if (!OpenDialog->Execute())
        return;
    Memo->Lines()->LoadFromFile(OpenDialog->FileName());
}

void TMainForm::Save1Click(TObject*)
{
    if (!SaveDialog->Execute())
        return;
    Memo->Lines()->SaveToFile(SaveDialog->FileName());
}

}  // namespace kestrane
