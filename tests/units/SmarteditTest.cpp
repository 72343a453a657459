#include "units/Smartedit.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <memory>

namespace {

korva::KUnitScheme PercentScheme() {
    return {{korva::KDimensions::FromName("Percent"), korva::KUnit{"%", nullptr, nullptr}}};
}

}  // namespace

class SmartEditTest : public QObject {
    Q_OBJECT

  private slots:
    void committingTypedText_data() {
        QTest::addColumn<bool>("ranged");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("raw");
        // The field holds 40 first; a refused entry is replaced by it. Which texts are refused is
        // CommitText's table (tests/units/KsmartunitsTest.cpp).
        QTest::newRow("fresh whole") << false << "12" << 12.0;
        QTest::newRow("bound") << true << "100" << 100.0;
        QTest::newRow("decimal point") << false << "12.5" << 40.0;
        QTest::newRow("above range") << true << "150" << 40.0;
    }
    void committingTypedText() {
        QFETCH(bool, ranged);
        QFETCH(QString, typed);
        QFETCH(double, raw);
        TSmartEdit edit;
        if (ranged) {
            edit.SetMinVal(0);
            edit.SetMaxVal(100);
        }
        edit.SetRawVal(40);
        QCOMPARE(edit.text(), QStringLiteral("40.00"));

        edit.clear();
        QTest::keyClicks(&edit, typed);  // typing is the line edit's own
        QCOMPARE(edit.text(), typed);
        edit.SetVal(edit.text());
        QCOMPARE(edit.Value().GetRaw(), raw);
        QCOMPARE(edit.text(), QString::number(raw, 'f', 2));
        QCOMPARE(edit.GetRawVal(), raw);
    }

    void labelOnlyWithAUnit() {
        TSmartEdit edit;
        QLabel label(QStringLiteral("untouched"));
        edit.SetLabel(&label);
        edit.SetMinVal(0);
        edit.SetMaxVal(100);
        edit.ShowValueRange();
        QCOMPARE(label.text(), QStringLiteral("untouched"));

        edit.SetUnitScheme(PercentScheme());
        edit.SetRawVal(25);
        QCOMPARE(label.text(), QStringLiteral("[0 ... 100] %"));
        QCOMPARE(edit.GetValUnits(), QStringLiteral("25.00 %"));
    }

    void unitWithoutLabelControlDoesNotFail() {
        TSmartEdit edit;
        edit.SetUnitScheme(PercentScheme());
        edit.ShowValueRange();
        // A label destroyed before the field is forgotten, not written to.
        auto label = std::make_unique<QLabel>();
        edit.SetLabel(label.get());
        label.reset();
        edit.SetRawVal(3);
        QCOMPARE(edit.Label(), nullptr);
        QCOMPARE(edit.text(), QStringLiteral("3.00"));
    }

    void schemeByNameStoresPendingEntryFirst() {
        korva::KUnitSchemes list;
        list.Add("Doubled",
                 {{korva::KDimensions::FromName("Angle"),
                   korva::KUnit{"x2", [](double r) { return r * 2; }, [](double s) { return s / 2; }}}});
        TSmartEdit edit;
        edit.SetValueType(QStringLiteral("Angle"));
        edit.setText(QStringLiteral("30"));
        edit.SetUnitScheme(QStringLiteral("Doubled"));  // no list given: only the entry is stored
        QVERIFY(edit.Value().Unit() == nullptr);
        QCOMPARE(edit.text(), QStringLiteral("30.00"));

        edit.SetUnitSchemeList(&list);
        edit.SetUnitScheme(QStringLiteral("Doubled"));
        QCOMPARE(edit.Value().GetRaw(), 30.0);
        QCOMPARE(edit.text(), QStringLiteral("60.00"));
        edit.SetVal(QStringLiteral("10"));
        QCOMPARE(edit.Value().GetRaw(), 5.0);
        QCOMPARE(edit.GetValUnits(), QStringLiteral("10.00 x2"));
    }
};

QTEST_MAIN(SmartEditTest)

#include "SmarteditTest.moc"
