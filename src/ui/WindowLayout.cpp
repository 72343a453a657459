#include "ui/WindowLayout.h"

#include <QBoxLayout>
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
constexpr int kClientWidth = 839;
constexpr int kClientHeight = 341;
constexpr int kModeBoxBelow = 11;  // how far below the client area the mode box stands
}  // namespace

void BuildClientArea(TForm1& form) {
    auto* client = new QWidget(&form);
    client->setObjectName("client");
    // The form's size is the smallest: the pages keep their controls where they stand.
    client->setMinimumSize(kClientWidth, kClientHeight);
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
    form.memoLog = new TLogPane(client);
    form.memoLog->setFixedWidth(185);
    QFont logFont("Arial");
    logFont.setPixelSize(11);
    form.memoLog->setFont(logFont);
    form.btClearInLog = new QPushButton("Clear Log", client);
    form.btClearInLog->setObjectName("form.btClearInLog");
    form.btClearInLog->setFixedSize(73, 25);
    form.lbLogging = new QLabel("Logging", client);
    form.lbLogging->setObjectName("form.lbLogging");
    form.lbLogging->setStyleSheet("background: red;");
    form.lbLogging->hide();
    // The page control takes the room the window gains; the log pane keeps its width and grows down.
    auto* columns = new QHBoxLayout(client);
    columns->setContentsMargins(6, 0, 6, 4);
    columns->setSpacing(7);
    auto* left = new QVBoxLayout();
    left->addSpacing(8);
    left->addWidget(form.pcInterface, 1);
    columns->addLayout(left, 1);
    auto* right = new QVBoxLayout();
    right->addWidget(form.memoLog, 1);
    auto* bottom = new QHBoxLayout();
    bottom->addSpacing(16);
    bottom->addWidget(form.lbLogging);
    bottom->addStretch(1);
    bottom->addWidget(form.btClearInLog);
    right->addLayout(bottom);
    columns->addLayout(right);
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
    if (!form.restoreGeometry(settings.value("window/geometry").toByteArray()))
        form.resize(kClientWidth, kClientHeight + form.menuBar()->sizeHint().height() +
                                      form.statusLine->sizeHint().height());
    const int page = settings.value("window/page", 0).toInt();
    if (page >= 0 && page < form.pcInterface->count()) form.pcInterface->setCurrentIndex(page);
}

void SaveWindowSettings(TForm1& form) {
    QSettings settings(TForm1::kSettingsOwner, TForm1::kSettingsName);
    settings.setValue("window/geometry", form.saveGeometry());
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
