#include <new>
#include <stdexcept>

#include "layer/Dialogs.hpp"
#include "layer/ExtCtrls.hpp"
#include "layer/Forms.hpp"
#include "layer/Menus.hpp"
#include "layer/StdCtrls.hpp"

namespace kestrane {

TApplication* Application = nullptr;

void TDescribedComponent::SetProperty(const PropertySetting& setting, DescriptionBinder&)
{
    // Designer positions of components without a window mean nothing at run time.
    if (setting.name == "Left" || setting.name == "Top")
        return;
    throw EReadError("Property " + setting.name + " does not exist");
}

void RethrowAsException()
{
    try {
        throw;
    } catch (const Exception&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(ProgramText(Msg::OutOfMemory));
    } catch (const std::exception& e) {
        throw Exception(e.what());
    } catch (...) {
        throw EExternalException(ProgramText(Msg::ExternalException));
    }
}

void GuardedCall(TObject* sender, const std::function<void()>& action) noexcept
{
    try {
        action();
    } catch (...) {
        try {
            Application->HandleException(sender);
        } catch (...) {
            // The error box itself failed; there is no one left to tell.
        }
    }
}

void TApplication::HandleException(TObject* Sender)
{
    CancelMouseCapture();
    try {
        RethrowAsException();
    } catch (const EAbort&) {
    } catch (const Exception& e) {
        if (OnException)
            OnException(Sender, e);
        else
            ShowException(e);
    }
}

void TApplication::CheckedFormCreated(TForm* form)
{
    if (!mainForm_)
        mainForm_ = form;
}

namespace {

TComponent* CreateComponent(const std::string& className, TForm* form, TComponent* parent)
{
    if (className == "TMemo")
        return new TMemo(form, form);
    if (className == "TTimer")
        return new TTimer(form);
    if (className == "TMainMenu")
        return new TMainMenu(form);
    if (className == "TOpenDialog")
        return new TOpenDialog(form);
    if (className == "TSaveDialog")
        return new TSaveDialog(form);
    if (className == "TMenuItem") {
        TMenuItem* into = nullptr;
        if (auto* menu = dynamic_cast<TMainMenu*>(parent))
            into = menu->Items();
        else
            into = dynamic_cast<TMenuItem*>(parent);
        if (!into)
            throw EReadError("A menu item belongs in a menu");
        auto* item = new TMenuItem(form);
        into->Add(item);
        return item;
    }
    throw EReadError("Class " + className + " not found");
}

}  // namespace

void TForm::CreateChildren(const ComponentDescription& description, TComponent* parent, DescriptionBinder& binder)
{
    for (const ComponentDescription& child : description.children) {
        TComponent* c = CreateComponent(child.className, this, parent);
        c->SetName(child.name);
        binder.BindField(child.name, c);
        auto* described = static_cast<TDescribedComponent*>(c);
        for (const PropertySetting& s : child.settings)
            described->SetProperty(s, binder);
        CreateChildren(child, c, binder);
    }
}

void TForm::LoadDescription(const ComponentDescription& description, DescriptionBinder& binder)
{
    SetName(description.name);
    for (const PropertySetting& s : description.settings)
        SetProperty(s, binder);
    CreateChildren(description, this, binder);
    // References to components are resolved once every component exists.
    if (!pendingMenu_.empty()) {
        auto* menu = dynamic_cast<TMainMenu*>(FindComponent(pendingMenu_));
        if (!menu)
            throw EReadError("Invalid property value: Menu = " + pendingMenu_);
        SetMenu(menu);
        pendingMenu_.clear();
    }
    CreateWindowHidden();
}

}  // namespace kestrane
