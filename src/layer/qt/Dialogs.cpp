#include "layer/Dialogs.hpp"

#include <QFileDialog>

#include "qt/QtSupport.hpp"

namespace kestrane {

bool TOpenDialog::Execute()
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(IsSaveDialog() ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Names of files that do not exist are returned too; opening them is what fails.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (!fileName_.empty())
        dialog.selectFile(qt::FromCodePage(fileName_));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    std::string path = qt::ToCodePage(chosen.front());
    // A path that does not fit the buffer of MAX_PATH bytes, terminator included, is a cancel.
    if (path.empty() || path.size() + 1 > MAX_PATH)
        return false;
    fileName_ = std::move(path);
    return true;
}

}  // namespace kestrane
