#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "layer/Classes.hpp"
#include "layer/Exceptions.hpp"
#include "layer/FormDescription.hpp"

namespace kestrane {

class TForm;
class TMainMenu;

// Start-up show commands the layer understands; every other value means normal.
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOWMINNOACTIVE = 7;

enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

// How a form's description reaches its members: components by their name, events by handler name.
class DescriptionBinder {
public:
    virtual ~DescriptionBinder() = default;
    virtual void BindField(std::string_view name, TComponent* component) = 0;
    virtual TNotifyEvent FindMethod(std::string_view handler) = 0;
};

// Base of every component a description can create: it takes its settings by name and refuses
// names it does not know, so a description cannot silently lose a setting.
class TDescribedComponent : public TComponent {
public:
    using TComponent::TComponent;
    virtual void SetProperty(const PropertySetting& setting, DescriptionBinder& binder);
};

// The program's own hidden window stands behind it; it owns the forms it creates.
class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    void Initialize();
    const std::string& Title() const { return title_; }  // code-page bytes
    void SetTitle(std::string title);

    // Stores the new form in `reference` before its constructor runs, clears it when the
    // constructor raises, and makes the first completed form the main form.
    template <class F>
    void CreateForm(F*& reference);

    // Shows the main form by the start-up show command and runs the message loop until Terminate.
    void Run();
    void Run(int showCommand);
    void Terminate();

    // Reports the exception being handled (call from inside a catch block): an EAbort silently,
    // anything else in the error box, or through OnException when it is assigned.
    void HandleException(TObject* Sender);
    void ShowException(const Exception& e);
    std::function<void(TObject* Sender, const Exception& e)> OnException;

    TForm* MainForm() const { return mainForm_; }

private:
    void CheckedFormCreated(TForm* form);
    void CancelMouseCapture();

    std::string title_;
    friend class TForm;
    TForm* mainForm_ = nullptr;
    bool looping_ = false;
    bool quitPosted_ = false;  // Terminate before the loop ran: the loop ends at once
};

// The one application object, made by the platform before the program's entry runs.
extern TApplication* Application;

// The program's entry, written by the system; the platform calls it once Application exists and
// destroys Application, with the forms it owns, after it returns.
int ProgramEntry();

// Runs `action`, handing whatever it throws to Application->HandleException: the guard at every
// place the window system calls into the program.
void GuardedCall(TObject* sender, const std::function<void()>& action) noexcept;

// Shows the busy pointer while it lives, so long work on the GUI thread does not pass for a hang.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Turns the exception being handled into an Exception of the matching kind and throws that.
[[noreturn]] void RethrowAsException();

class TForm : public TDescribedComponent {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    // Outer frame's top-left corner in screen pixels, real from the moment the window exists.
    int32_t Left() const;
    int32_t Top() const;
    void SetLeft(int32_t value);
    void SetTop(int32_t value);
    int32_t Width() const;
    int32_t Height() const;
    void SetWidth(int32_t value);
    void SetHeight(int32_t value);

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    TMainMenu* Menu() const { return menu_; }
    void SetMenu(TMainMenu* menu);

    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);
    bool Visible() const;
    void Show();
    void Hide();
    // Closes the form; closing the main form ends the application's message loop.
    void Close();

    void SetProperty(const PropertySetting& setting, DescriptionBinder& binder) override;

    struct Impl;
    Impl& impl() const { return *impl_; }

protected:
    // Creates the components of `description` in order, with their settings and events, then
    // creates the window-system window, hidden, where a new window goes.
    void LoadDescription(const ComponentDescription& description, DescriptionBinder& binder);

private:
    void CreateWindowHidden();
    void CreateChildren(const ComponentDescription& description, TComponent* parent, DescriptionBinder& binder);

    std::unique_ptr<Impl> impl_;
    std::string caption_;
    TMainMenu* menu_ = nullptr;
    std::string pendingMenu_;
};

// Member tables for a form class: field and handler names as its description uses them.
template <class F>
class FormBinder : public DescriptionBinder {
public:
    explicit FormBinder(F& form) : form_(form) {}

    template <class T>
    FormBinder& Field(std::string name, T* F::*member)
    {
        fields_[std::move(name)] = [member](F& form, TComponent* c) {
            T* typed = dynamic_cast<T*>(c);
            if (!typed)
                throw EReadError("Invalid class for field " + c->Name());
            form.*member = typed;
        };
        return *this;
    }
    FormBinder& Method(std::string name, void (F::*handler)(TObject*))
    {
        methods_[std::move(name)] = handler;
        return *this;
    }

    void BindField(std::string_view name, TComponent* component) override
    {
        auto it = fields_.find(std::string(name));
        if (it == fields_.end())
            throw EReadError("Field " + std::string(name) + " not found");
        it->second(form_, component);
    }
    TNotifyEvent FindMethod(std::string_view handler) override
    {
        auto it = methods_.find(std::string(handler));
        if (it == methods_.end())
            throw EReadError("Method " + std::string(handler) + " not found");
        F* form = &form_;
        auto method = it->second;
        return [form, method](TObject* sender) { (form->*method)(sender); };
    }

private:
    F& form_;
    std::map<std::string, std::function<void(F&, TComponent*)>> fields_;
    std::map<std::string, void (F::*)(TObject*)> methods_;
};

template <class F>
void TApplication::CreateForm(F*& reference)
{
    void* memory = ::operator new(sizeof(F));
    reference = static_cast<F*>(memory);
    try {
        new (memory) F(this);
    } catch (...) {
        reference = nullptr;
        ::operator delete(memory);
        RethrowAsException();
    }
    CheckedFormCreated(reference);
}

}  // namespace kestrane
