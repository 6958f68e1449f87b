#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QThread>
#include <QTimer>
#include <stdexcept>
#include <vector>

#include "layer/CodePage.hpp"
#include "layer/Exceptions.hpp"
#include "system/MainFormController.hpp"

using namespace kestrane;

namespace {

// Records destruction order.
std::vector<std::string> g_destroyed;
struct Probe : TComponent {
    Probe(TComponent* owner, std::string n) : TComponent(owner) { SetName(std::move(n)); }
    ~Probe() override { g_destroyed.push_back(Name()); }
};

// Lets the message loop run for a while.
void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Runs the message loop until `done`, or for at most 10 s on a slow machine.
template <class F>
void PumpUntil(F done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Catches what HandleException would show.
struct ShownErrors {
    ShownErrors()
    {
        Application->OnException = [this](TObject*, const Exception& e) {
            messages.push_back(e.Message());
            aborts += dynamic_cast<const EAbort*>(&e) != nullptr;
        };
    }
    ~ShownErrors() { Application->OnException = nullptr; }
    std::vector<std::string> messages;
    int aborts = 0;
};

struct TimerRefusal {
    TimerRefusal() { TTimer::RefuseTimersForTesting(true); }
    ~TimerRefusal() { TTimer::RefuseTimersForTesting(false); }
};

}  // namespace

TEST(Ownership, OwnerDestroysWhatItOwnsLastFirstAndADirectDeleteLeavesTheList)
{
    g_destroyed.clear();
    auto* owner = new Probe(nullptr, "owner");
    new Probe(owner, "a");
    auto* b = new Probe(owner, "b");
    auto* c = new Probe(owner, "c");
    new Probe(c, "c.child");
    delete b;
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->FindComponent("c"), c);
    delete owner;
    // Each destructor records itself before its owned components go.
    EXPECT_EQ(g_destroyed, (std::vector<std::string>{"b", "owner", "c", "c.child", "a"}));
}

TEST(Timer, StartsWhenItsEventIsWiredAndTicksOnlyFromAMessageLoop)
{
    TComponent owner(nullptr);
    auto* timer = new TTimer(&owner);
    int ticks = 0;
    timer->SetInterval(10);
    QThread::msleep(50);
    Pump(60);
    EXPECT_EQ(ticks, 0) << "no event wired yet";

    timer->SetOnTimer([&](TObject*) { ++ticks; });
    QThread::msleep(50);
    EXPECT_EQ(ticks, 0) << "a tick outside a message loop";
    PumpUntil([&] { return ticks > 0; });
    EXPECT_GT(ticks, 0);

    timer->SetEnabled(false);
    const int stopped = ticks;
    Pump(60);
    EXPECT_EQ(ticks, stopped);
}

TEST(Timer, ARefusedTimerRaisesOutOfResources)
{
    TimerRefusal refuse;
    TComponent owner(nullptr);
    auto* timer = new TTimer(&owner);
    timer->SetInterval(50);
    try {
        timer->SetOnTimer([](TObject*) {});
        FAIL() << "no exception";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), ProgramText(Msg::NoTimers));
    }
}

TEST(Timer, AnExceptionFromATickIsShownAndTheTimerGoesOn)
{
    ShownErrors shown;
    TComponent owner(nullptr);
    auto* timer = new TTimer(&owner);
    int ticks = 0;
    timer->SetInterval(10);
    timer->SetOnTimer([&](TObject*) {
        ++ticks;
        throw EInvalidOperation("tick " + std::to_string(ticks));
    });
    PumpUntil([&] { return ticks >= 3; });
    ASSERT_GE(ticks, 2);
    EXPECT_EQ(shown.messages.size(), static_cast<std::size_t>(ticks));
    EXPECT_EQ(shown.messages.front(), "tick 1");
}

TEST(HandleException, AbortIsSilentAndForeignExceptionsBecomeExceptions)
{
    ShownErrors shown;
    auto handle = [](auto&& thrower) {
        try {
            thrower();
        } catch (...) {
            Application->HandleException(nullptr);
        }
    };
    handle([] { throw EAbort("quiet"); });
    handle([] { throw EFOpenError("shown"); });
    handle([] { throw std::runtime_error("from the library"); });
    handle([] { throw std::bad_alloc(); });
    handle([] { throw 42; });
    EXPECT_EQ(shown.aborts, 0);
    EXPECT_EQ(shown.messages, (std::vector<std::string>{"shown", "from the library", ProgramText(Msg::OutOfMemory),
                                                        ProgramText(Msg::ExternalException)}));
}

TEST(MainForm, IsBuiltHiddenFromItsDescriptionWithItsWindowPlacedBeforeTheSensor)
{
    TMainForm* form = nullptr;
    Application->CreateForm(form);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(Application->MainForm(), form);
    EXPECT_FALSE(form->Visible());

    std::vector<std::string> created;
    for (int i = 0; i < form->ComponentCount(); ++i)
        created.push_back(form->Components(i)->Name());
    EXPECT_EQ(created, (std::vector<std::string>{"Memo", "Timer", "MainMenu1", "File1", "Open1", "Save1", "Quit1",
                                                 "OpenDialog", "SaveDialog"}));
    EXPECT_EQ(form->Timer->Interval(), 50u);
    EXPECT_TRUE(form->Timer->Enabled());
    EXPECT_EQ(form->Caption(), "Kestrane");
    EXPECT_EQ(form->Menu(), form->MainMenu1);

    // Placed where a window system puts a new window, never at the stored 592, 285, 596 x 320.
    EXPECT_NE(form->Left(), 592);
    EXPECT_NE(form->Width(), 596);
    EXPECT_GT(form->Width(), 0);

    // The menu as shown: one menu, three items with their access keys.
    EXPECT_EQ(form->File1->ShownCaption(), "&File");
    EXPECT_EQ(form->Open1->ShownCaption(), "&Open");
    EXPECT_EQ(form->Save1->ShownCaption(), "&Save");
    EXPECT_EQ(form->Quit1->ShownCaption(), "&Quit");

    // No sensor here: the window never moves, the stabiliser stays at rest.
    const int32_t left = form->Left(), top = form->Top();
    form->TimerTimer(form->Timer);
    EXPECT_EQ(form->Left(), left);
    EXPECT_EQ(form->Top(), top);
    EXPECT_EQ(form->AppliedHorizontal(), 0);
    EXPECT_EQ(form->AppliedVertical(), 0);

    // Setting an edge moves at once and keeps the other edge.
    form->SetLeft(left + 7);
    EXPECT_EQ(form->Left(), left + 7);
    EXPECT_EQ(form->Top(), top);
    delete form;
}

TEST(MainForm, ARefusedTimerStopsConstructionAndLeavesNoForm)
{
    TimerRefusal refuse;
    TMainForm* form = reinterpret_cast<TMainForm*>(1);
    const int before = Application->ComponentCount();
    try {
        Application->CreateForm(form);
        FAIL() << "no exception";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), ProgramText(Msg::NoTimers));
    }
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(Application->ComponentCount(), before);
}

TEST(Description, UnknownNamesAreErrorsNotSilence)
{
    struct Form : TForm {
        explicit Form(const ComponentDescription& d) : TForm(nullptr)
        {
            FormBinder<Form> binder(*this);
            binder.Field("Memo", &Form::Memo);
            LoadDescription(d, binder);
        }
        TMemo* Memo = nullptr;
    };
    const ComponentDescription rows[] = {
        {"F", "TForm", {{"Colour", Ident{"clRed"}}}, {}},
        {"F", "TForm", {}, {{"Memo", "TMemo", {{"WordWarp", false}}, {}}}},
        {"F", "TForm", {}, {{"Memo", "TGizmo", {}, {}}}},
        {"F", "TForm", {}, {{"Other", "TMemo", {}, {}}}},
        {"F", "TForm", {}, {{"Memo", "TTimer", {}, {}}}},
        {"F", "TForm", {}, {{"Memo", "TMemo", {}, {}}, {"T", "TTimer", {{"OnTimer", Ident{"Nothing"}}}, {}}}},
    };
    for (const auto& d : rows)
        EXPECT_THROW(Form{d}, EReadError);
}

TEST(Memo, KeepsEveryByteAndLeavesAnUnchangedTextAlone)
{
    TMainForm* form = nullptr;
    Application->CreateForm(form);
    TMemo* memo = form->Memo;

    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    all += "\r\nend";
    ASSERT_TRUE(memo->SetTextBuf(all));
    EXPECT_EQ(memo->GetText(), all);

    ASSERT_TRUE(memo->SetTextBuf(std::string("cut\0here", 8)));
    EXPECT_EQ(memo->GetText(), "cut");
    delete form;
}

TEST(Application, RunShowsTheMainFormByTheStartUpShowCommandUntilTerminate)
{
    const struct {
        int showCommand;
        TWindowState state;
    } rows[] = {{SW_SHOWMAXIMIZED, TWindowState::wsMaximized},
                {SW_SHOWMINNOACTIVE, TWindowState::wsMinimized},
                {SW_SHOWNORMAL, TWindowState::wsNormal},
                {10, TWindowState::wsNormal}};
    for (const auto& r : rows) {
        TMainForm* form = nullptr;
        Application->CreateForm(form);
        ASSERT_EQ(Application->MainForm(), form);
        TWindowState seen{};
        QTimer::singleShot(50, [&] {
            seen = form->WindowState();
            form->Quit1Click(form->Quit1);
        });
        Application->Run(r.showCommand);
        EXPECT_EQ(seen, r.state) << "show command " << r.showCommand;
        delete form;
        EXPECT_EQ(Application->MainForm(), nullptr);
    }
}
