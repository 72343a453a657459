#include "ui/StatusLine.h"

#include <QLabel>

namespace korva {

namespace {
QLabel* Field(QStatusBar* bar, const char* name) {
    auto* l = new QLabel(bar);
    l->setObjectName(name);
    bar->addPermanentWidget(l);
    return l;
}
}  // namespace

TStatusLine::TStatusLine(QWidget* parent) : QStatusBar(parent) {
    setObjectName("sbStatus");
    lbPort = Field(this, "lbPort");
    lbSpeed = Field(this, "lbSpeed");
    lbState = Field(this, "lbState");
    lbRelay = Field(this, "lbRelay");
    lbTraffic = Field(this, "lbTraffic");
    lbLog = Field(this, "lbLog");
    lbLog->hide();
    ShowLine(Line::None, {}, {}, 0);
    ShowRelay("off");
}

void TStatusLine::ShowLine(Line state, const QString& name, const QString& path, int baud) {
    if (state == Line::None) {
        // The first thing a newcomer needs to know.
        lbPort->setText("No port open: Coms, Open Com 1 (Ctrl+1)");
        lbSpeed->clear();
        lbState->setText("closed, no port open");
        return;
    }
    lbPort->setText(name + "  " + path);
    lbSpeed->setText(QString("%1 baud").arg(baud));
    lbState->setText(state == Line::Open ? "open" : state == Line::Lost ? "lost, no port open" : "closed, no port open");
}

void TStatusLine::ShowRelay(const QString& state) { lbRelay->setText("relay " + state); }

void TStatusLine::ShowTraffic(const Traffic& t) {
    if (t == shown_) return;
    shown_ = t;
    lbTraffic->setText(QString("sent %1  replies %2  errors %3").arg(t.sent).arg(t.replies).arg(t.errors));
}

void TStatusLine::ShowLogging(const QString& text) {
    if (lbLog->text() != text) lbLog->setText(text);
    lbLog->setVisible(!text.isEmpty());
}

}  // namespace korva
