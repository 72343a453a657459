// KorvaConfig: the configuration and service tool for the devices of one bus.
#include <QApplication>

#include "ui/KorvaConfigMain.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KorvaConfig 1.5");
    korva::TForm1 form;
    form.show();
    return QApplication::exec();
}
