// KorvaConfig: the configuration and service tool for the devices of one bus.
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "ui/KorvaConfigMain.h"

namespace {
// Qt aborts with a page of plugin advice when there is no display; one line says what to do.
bool DisplayMissing() {
    const auto unset = [](const char* name) {
        const char* v = std::getenv(name);
        return v == nullptr || *v == '\0';
    };
    return unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM");
}
}  // namespace

int main(int argc, char* argv[]) {
    if (DisplayMissing()) {
        std::fputs(
            "korvaconfig: no display to show the window on (DISPLAY is not set): start it in a desktop "
            "session, or without one under a virtual display: xvfb-run -a korvaconfig\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("KorvaConfig 1.5");
    korva::TForm1 form;
    form.show();
    // Without a window manager nothing activates the window, and keys would go nowhere.
    form.activateWindow();
    return QApplication::exec();
}
