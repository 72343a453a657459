#include "ui/Aboutform.h"

#include <QLabel>
#include <QTest>

#include <vector>

class AboutformTest : public QObject {
    Q_OBJECT

  private slots:
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
};

QTEST_MAIN(AboutformTest)

#include "AboutformTest.moc"
