#include "layer/Forms.hpp"
#include "system/MainFormController.hpp"

namespace kestrane {

int ProgramEntry()
{
    try {
        Application->Initialize();
        Application->SetTitle("Kestrane");
        Application->CreateForm(MainForm);
        Application->Run();
    } catch (const Exception& e) {
        Application->ShowException(e);
    } catch (...) {
        try {
            throw Exception("");
        } catch (const Exception& e) {
            Application->ShowException(e);
        }
    }
    return 0;
}

}  // namespace kestrane
