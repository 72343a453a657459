#include "ui/Aboutform.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <vector>

class AboutformTest : public QObject {
    Q_OBJECT

  private slots:
    void pictureIsDrawn() {
        const QImage picture = KorvaIdentityPicture().toImage();
        QCOMPARE(picture.size(), QSize(580, 220));
        // The title's white letters sit on a dark background.
        QCOMPARE(picture.pixelColor(5, 5).lightness() < 80, true);
        int white = 0;
        for (int x = 36; x < 380; ++x) white += picture.pixelColor(x, 60) == QColor(Qt::white);
        QVERIFY(white > 20);
    }

    void eachClickOpensThePageAndTheBoxStaysOpen() {
        TfrmAbout box;
        std::vector<QUrl> opened;
        box.SetUrlOpener([&](const QUrl& url) {
            opened.push_back(url);
            return false;  // as if no browser were registered
        });
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));

        QTest::mouseClick(box.image1(), Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseClick(box.image1(), Qt::LeftButton, {}, QPoint(570, 10));
        QTest::mouseClick(box.image1(), Qt::RightButton, {}, QPoint(100, 100));
        QCOMPARE(opened.size(), std::size_t{2});
        QCOMPARE(opened[0], QUrl(QStringLiteral("https://www.brenlow.example/korva")));
        QCOMPARE(opened[1], opened[0]);
        QVERIFY(box.isVisible());

        // A throwing opener fails as silently as a refusing one.
        box.SetUrlOpener([](const QUrl&) -> bool { throw 1; });
        QTest::mouseClick(box.image1(), Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(box.isVisible());
    }

    void everyShowingIsAFreshModalBox() {
        QWidget owner;
        std::vector<QPointer<TfrmAbout>> seen;
        std::vector<int> openAtOnce;
        for (int showing = 0; showing < 2; ++showing) {
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<TfrmAbout*>(QApplication::activeModalWidget());
                seen.emplace_back(box);
                openAtOnce.push_back(static_cast<int>(owner.findChildren<TfrmAbout*>().size()));
                if (box) {
                    QCOMPARE(box->parent(), &owner);
                    box->close();
                }
            });
            TfrmAbout::ShowAbout(&owner);
            // Destroyed as soon as the showing ends.
            QCOMPARE(seen.size(), std::size_t(showing + 1));
            QVERIFY(seen.back().isNull());
            QVERIFY(owner.findChildren<TfrmAbout*>().isEmpty());
        }
        QCOMPARE(openAtOnce, (std::vector<int>{1, 1}));
    }
};

QTEST_MAIN(AboutformTest)

#include "AboutformTest.moc"
