#pragma once
#include <string>

#include "layer/Forms.hpp"

namespace kestrane {

// The file dialogs. FileName is the full path confirmed last, in code-page bytes, offered again
// by the next Execute; Cancel leaves it as it was.
class TOpenDialog : public TDescribedComponent {
public:
    explicit TOpenDialog(TComponent* AOwner) : TDescribedComponent(AOwner) {}

    // True when the user confirmed a path. A path longer than MAX_PATH bytes counts as Cancel.
    bool Execute();
    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string path) { fileName_ = std::move(path); }

    static constexpr std::size_t MAX_PATH = 260;

protected:
    virtual bool IsSaveDialog() const { return false; }

private:
    std::string fileName_;
};

class TSaveDialog : public TOpenDialog {
public:
    using TOpenDialog::TOpenDialog;

protected:
    bool IsSaveDialog() const override { return true; }
};

}  // namespace kestrane
