#include "ui/StatusLine.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>

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
    btReconnect = new QPushButton(this);
    btReconnect->setObjectName("btReconnect");
    btReconnect->setFlat(true);
    btReconnect->setStyleSheet(
        "QPushButton { background: rgb(200, 0, 0); color: white; font-weight: bold; "
        "padding: 1px 8px; }");
    btReconnect->hide();
    insertPermanentWidget(0, btReconnect);
    connect(btReconnect, &QPushButton::clicked, this, &TStatusLine::reconnectClicked);
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
    lbState->setText(state == Line::Open   ? "open"
                     : state == Line::Lost ? "lost, no port open"
                                           : "closed, no port open");
}

void TStatusLine::ShowLines(const std::vector<LineField>& lines) {
    QStringList texts;
    for (const LineField& l : lines) {
        if (l.state == Line::Open)
            texts << QString("%1  %2  %3 baud  open  sent %4  replies %5  errors %6")
                         .arg(l.name, l.path)
                         .arg(l.baud)
                         .arg(l.traffic.sent)
                         .arg(l.traffic.replies)
                         .arg(l.traffic.errors);
        else if (l.state == Line::Lost)
            texts << l.name + "  " + l.path + "  lost";
    }
    // Only the hint leaves the speed empty.
    if (texts.isEmpty() && (lbPort->isHidden() || !lbSpeed->text().isEmpty()))
        ShowLine(Line::None, {}, {}, 0);
    for (QLabel* one : {lbPort, lbSpeed, lbState}) one->setVisible(texts.isEmpty());
    lbTraffic->hide();
    // The fields stand where the one line's do, before the relay.
    while (lineFields_.size() < static_cast<std::size_t>(texts.size())) {
        auto* field = new QLabel(this);
        field->setObjectName(QString("lbLine%1").arg(lineFields_.size() + 1));
        insertPermanentWidget(3 + static_cast<int>(lineFields_.size()), field);
        lineFields_.push_back(field);
    }
    for (std::size_t i = 0; i < lineFields_.size(); ++i) {
        const bool used = i < static_cast<std::size_t>(texts.size());
        if (used && lineFields_[i]->text() != texts[static_cast<qsizetype>(i)])
            lineFields_[i]->setText(texts[static_cast<qsizetype>(i)]);
        lineFields_[i]->setVisible(used);
    }
}

void TStatusLine::ShowRelay(const QString& state) {
    lbRelay->setText("relay " + state);
}

void TStatusLine::ShowTraffic(const Traffic& t) {
    if (t == shown_) return;
    shown_ = t;
    lbTraffic->setText(QString("sent %1  replies %2  errors %3").arg(t.sent).arg(t.replies).arg(t.errors));
}

void TStatusLine::ShowLost(const QString& name) {
    const QString text = name.isEmpty() ? QString() : "Lost " + name + " \u2014 reconnect?";
    if (btReconnect->text() != text) btReconnect->setText(text);
    btReconnect->setVisible(!name.isEmpty());
}

void TStatusLine::ShowLogging(const QString& text) {
    if (lbLog->text() != text) lbLog->setText(text);
    lbLog->setVisible(!text.isEmpty());
}

}  // namespace korva
