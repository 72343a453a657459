#include "ui/WindowLayout.h"

#include <QBoxLayout>
#include <QDockWidget>
#include <QScreen>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>

#include <algorithm>

#include "ui/KorvaConfigMain.h"
#include "ui/LogPane.h"
#include "ui/StatusLine.h"
#include "ui/Widgets.h"

namespace korva {

namespace {
constexpr int kPagesWidth = 647;  // the page control and its margins on the form
constexpr int kClientHeight = 341;
// A first start opens at a size to work in: this at least, or most of a larger screen.
constexpr int kFirstWidth = 1200, kFirstHeight = 760;
constexpr double kFirstShare = 0.8;
constexpr int kPacketLines = 500;
constexpr int kModeBoxBelow = 11;  // how far below the client area the mode box stands
}  // namespace

void BuildClientArea(TForm1& form) {
    auto* client = new QWidget(&form);
    client->setObjectName("client");
    // The pages keep their controls where the form had them, so this is the smallest they take.
    client->setMinimumSize(kPagesWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, QColor(215, 215, 215));
    client->setPalette(pal);
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    client->setFont(font);
    form.setCentralWidget(client);

    form.pcInterface = new QTabWidget(client);
    form.pcInterface->setObjectName("pcInterface");
    auto* pages = new QVBoxLayout(client);
    pages->setContentsMargins(6, 8, 6, 4);
    pages->addWidget(form.pcInterface, 1);

    // The log is a dock: it grows with the window, moves to any side or floats, and keeps the
    // program's events (timed) apart from the packet lines of the bus.
    form.dockLog = new QDockWidget("Log", &form);
    form.dockLog->setObjectName("dockLog");
    auto* logArea = new QWidget(form.dockLog);
    form.memoLog = new TLogPane(logArea);
    form.memoLog->setObjectName("memoLog");
    form.memoPackets = new TLogPane(logArea, false, kPacketLines);
    form.memoPackets->setObjectName("memoPackets");
    QFont logFont("Arial");
    logFont.setPixelSize(11);
    form.memoLog->setFont(logFont);
    QFont fixed("Monospace");
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setPixelSize(11);
    form.memoPackets->setFont(fixed);
    form.logTabs = new QTabWidget(logArea);
    form.logTabs->setObjectName("logTabs");
    form.logTabs->addTab(form.memoLog, "Events");
    form.logTabs->addTab(form.memoPackets, "Packets");
    form.btClearInLog = new QPushButton("Clear Log", logArea);
    form.btClearInLog->setObjectName("form.btClearInLog");
    form.btClearInLog->setFixedSize(73, 25);
    form.lbLogging = new QLabel("Logging", logArea);
    form.lbLogging->setObjectName("form.lbLogging");
    form.lbLogging->setStyleSheet("background: red;");
    form.lbLogging->hide();
    auto* column = new QVBoxLayout(logArea);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(form.logTabs, 1);
    auto* bottom = new QHBoxLayout();
    bottom->addWidget(form.lbLogging);
    bottom->addStretch(1);
    bottom->addWidget(form.btClearInLog);
    column->addLayout(bottom);
    logArea->setMinimumWidth(185);
    form.dockLog->setWidget(logArea);
    form.addDockWidget(Qt::RightDockWidgetArea, form.dockLog);
    // The mode box stands below the client area: it belongs to the advanced group but never shows.
    form.stMode = MakeLabel(client, "form.stMode", "Mode", 384, 352);
    form.tbMode = MakeEdit(client, "form.tbMode", "", 424, 352, 81);
    form.tbMode->setReadOnly(true);
}

void PlaceModeBox(TForm1& form) {
    const int below = std::max(kClientHeight, form.centralWidget()->height()) + kModeBoxBelow;
    form.stMode->move(form.stMode->x(), below);
    form.tbMode->move(form.tbMode->x(), below);
}

void RestoreWindowSettings(TForm1& form) {
    QSettings settings(TForm1::kSettingsOwner, TForm1::kSettingsName);
    if (!form.restoreGeometry(settings.value("window/geometry").toByteArray())) {
        QSize size(kFirstWidth, kFirstHeight);
        if (const QScreen* screen = form.screen()) {
            const QSize room = screen->availableSize();
            size = size.expandedTo(room * kFirstShare).boundedTo(room);
        }
        form.resize(size);
    }
    form.restoreState(settings.value("window/docks").toByteArray());
    const int page = settings.value("window/page", 0).toInt();
    if (page >= 0 && page < form.pcInterface->count()) form.pcInterface->setCurrentIndex(page);
}

void SaveWindowSettings(TForm1& form) {
    QSettings settings(TForm1::kSettingsOwner, TForm1::kSettingsName);
    settings.setValue("window/geometry", form.saveGeometry());
    settings.setValue("window/docks", form.saveState());
    settings.setValue("window/page", form.pcInterface->currentIndex());
}

}  // namespace korva

namespace korva {

QString RestoredUnitScheme() {
    return QSettings(TForm1::kSettingsOwner, TForm1::kSettingsName).value("units/scheme").toString();
}

void SaveUnitScheme(const QString& scheme) {
    QSettings(TForm1::kSettingsOwner, TForm1::kSettingsName).setValue("units/scheme", scheme);
}

}  // namespace korva
