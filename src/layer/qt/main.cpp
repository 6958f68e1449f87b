#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

#include "layer/Forms.hpp"

namespace {

// The program prints nothing; only a window system that cannot be reached at all is told, since
// there is then no error box to show it in.
void Silent(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "kestrane: %s\n", message.toLocal8Bit().constData());
        std::_Exit(0);
    }
}

}  // namespace

int main(int, char**)
{
    qInstallMessageHandler(Silent);
    // Only X11 lets a program place its own window; on a Wayland session that means XWayland.
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    kestrane::Application = new kestrane::TApplication;
    kestrane::ProgramEntry();
    delete kestrane::Application;
    kestrane::Application = nullptr;
    return 0;
}
