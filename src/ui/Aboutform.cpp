#include "ui/Aboutform.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

const char* const TfrmAbout::kMakerPage = "https://www.brenlow.example/korva";

namespace {

QFont BannerFont(int pixelSize, QFont::Weight weight) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

// A field bus: one trunk line with devices dropped off it, the last one highlighted.
void DrawBusMotif(QPainter& p, const QRectF& area) {
    const QColor line(120, 200, 215);
    const qreal trunkY = area.top() + area.height() * 0.35;
    p.setPen(QPen(line, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(area.left(), trunkY), QPointF(area.right(), trunkY));

    constexpr int kNodes = 5;
    const qreal step = area.width() / kNodes;
    for (int i = 0; i < kNodes; ++i) {
        const qreal x = area.left() + step * (i + 0.5);
        const qreal nodeY = trunkY + ((i % 2 == 0) ? 26 : -26);
        p.setPen(QPen(line, 2));
        p.drawLine(QPointF(x, trunkY), QPointF(x, nodeY));
        p.setBrush(i == kNodes - 1 ? QColor(242, 169, 59) : QColor(20, 52, 78));
        p.setPen(QPen(line, 2));
        p.drawRoundedRect(QRectF(x - 11, nodeY - 8, 22, 16), 4, 4);
        p.setBrush(line);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(x, trunkY), 4, 4);
    }
}

}  // namespace

QPixmap KorvaIdentityPicture() {
    QPixmap picture(TfrmAbout::kWidth, TfrmAbout::kHeight);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, TfrmAbout::kWidth, TfrmAbout::kHeight);
    sky.setColorAt(0.0, QColor(13, 33, 56));
    sky.setColorAt(1.0, QColor(26, 88, 112));
    p.fillRect(picture.rect(), sky);

    // A soft arc behind the motif gives the banner some depth.
    QPainterPath arc;
    arc.addEllipse(QPointF(470, 40), 190, 150);
    p.fillPath(arc, QColor(255, 255, 255, 14));

    p.setPen(Qt::white);
    p.setFont(BannerFont(40, QFont::Bold));
    p.drawText(QRectF(36, 34, 380, 52), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Brenlow Korva"));

    p.setPen(QColor(242, 169, 59));
    p.setFont(BannerFont(30, QFont::Light));
    p.drawText(QRectF(38, 88, 300, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Config"));

    p.setPen(QPen(QColor(242, 169, 59), 2));
    p.drawLine(QPointF(38, 136), QPointF(190, 136));

    DrawBusMotif(p, QRectF(330, 120, 220, 70));

    p.setPen(QColor(190, 210, 220));
    p.setFont(BannerFont(13, QFont::Normal));
    p.drawText(QRectF(38, 180, 200, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("v 1.53"));
    return picture;
}

TfrmAbout::TfrmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      opener_(&QDesktopServices::openUrl) {
    setWindowTitle(QStringLiteral("About Brenlow Korva\u2122 Config"));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    setGeometry(30, 36, kWidth, kHeight);
    setFixedSize(kWidth, kHeight);

    image1_ = new QLabel(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image1_->setPixmap(KorvaIdentityPicture());
    image1_->setGeometry(0, 0, kWidth, kHeight);
    image1_->installEventFilter(this);
}

void TfrmAbout::ShowAbout(QWidget* owner) {
    // Guarded: should the owner go away during the modal loop it takes the box with it.
    QPointer<TfrmAbout> box = new TfrmAbout(owner);
    box->exec();
    delete box;
}

void TfrmAbout::Image1Click() {
    // The browser's answer is not examined and nothing may escape into the event loop.
    try {
        if (opener_) opener_(QUrl(QString::fromLatin1(kMakerPage)));
    } catch (...) {
    }
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
    // A click is a left-button release over the picture, as a button would take it.
    if (watched == image1_ && event->type() == QEvent::MouseButtonRelease) {
        const auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && image1_->rect().contains(me->position().toPoint()))
            Image1Click();
    }
    return QDialog::eventFilter(watched, event);
}
