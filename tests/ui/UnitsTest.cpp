// Engineering values in the window, offscreen, on the demo plant: the panel shows and takes shown
// units, the Utility page's scheme converts everything shown and stays chosen, flag words show their
// bits' names. How each number converts is the value library's own and tested there.
#include <QComboBox>
#include <QLineSeries>
#include <QtTest>

#include "support/Window.h"
#include "ui/PlotWindow.h"

using namespace korva;

class UnitsTest : public QObject, test::WindowFixture {
    Q_OBJECT

    sim::SimProperty& Served(const char* name) {
        for (sim::SimProperty& p : win->emu.FindDevice(35)->properties)
            if (p.name == name) return p;
        throw std::invalid_argument(name);
    }
    void Type(const QString& text) {
        form->devicePage->tbSetVal->setText(text);
        form->devicePage->btSetVal->click();
        win->Tick(4);
    }
    void ChooseScheme(const QString& name) {
        QComboBox* box = form->utilityPage->cbUnits;
        box->setCurrentIndex(box->findText(name));
        emit box->activated(box->currentIndex());
    }
    QString Shown() const { return form->devicePage->lbActVal->text(); }

    void StartDemo(bool keepSettings = false) {
        Start(test::Window::PlantOf(KORVA_DEMO_DIR), true, keepSettings);
        auto& boiler = win->emu.AddDevice("Boiler", 35).properties;
        boiler.push_back({"FlowTempSetpoint", 3, 32, 500, 0});
        boiler.push_back({"AlarmFlags", 1, 3, 0, 0x06});
    }

  private slots:
    void init() { StartDemo(); }
    void cleanup() { win.reset(); }

    void thePanelTakesAndShowsShownUnits() {
        QCOMPARE(form->utilityPage->cbUnits->count(), 3);  // as configured, SI, US
        QTreeWidgetItem* node = win->Click("35  Boiler/FlowTempSetpoint");
        QCOMPARE(node->text(0), QString("FlowTempSetpoint [°C]"));
        win->Tick(4);
        QCOMPARE(Shown(), QString("50.0 °C"));
        QCOMPARE(form->devicePage->tbSetVal->placeholderText(), QString("°C"));
        Type("65.0");
        QCOMPARE(Served("FlowTempSetpoint").word, 650);
        QCOMPARE(Shown(), QString("65.0 °C"));
        // Outside its range nothing is sent, and the message names the property and the range.
        Type("90");
        QCOMPARE(win->errors, QStringList{"Boiler.FlowTempSetpoint: '90' is outside 20.0 to 85.0 °C"});
        QCOMPARE(Served("FlowTempSetpoint").word, 650);

        ChooseScheme("US");
        QCOMPARE(node->text(0), QString("FlowTempSetpoint [°F]"));
        QCOMPARE(Shown(), QString("149.0 °F"));
        Type("70");  // 21.1 °C
        QCOMPARE(Served("FlowTempSetpoint").word, 211);
        Type("149.0");
        QCOMPARE(Served("FlowTempSetpoint").word, 650);
        QCOMPARE(Shown(), QString("149.0 °F"));
        QCOMPARE(win->errors.size(), 1);

        // The next start shows the scheme chosen last.
        StartDemo(true);
        QCOMPARE(form->utilityPage->cbUnits->currentText(), QString("US"));
        QCOMPARE(win->Click("35  Boiler/FlowTempSetpoint")->text(0), QString("FlowTempSetpoint [°F]"));
    }

    void aFlagWordShowsItsBitsNames() {
        win->Click("35  Boiler/AlarmFlags");
        win->Tick(4);
        QCOMPARE(Shown(), QString("Overheat | Low water pressure"));
        Type("Flame failure | sensor fault");
        QCOMPARE(Served("AlarmFlags").byte, 0x09);
        Type("0");
        QCOMPARE(Shown(), QString("No alarm"));
    }

    // Points taken before a change of scheme are converted with it: the line does not jump.
    void thePlotFollowsTheScheme() {
        win->Click("35  Boiler/FlowTempSetpoint");
        form->devicePage->chkPoll->click();
        form->utilityPage->tbLogInterval->setText("0.05");
        form->utilityPage->btApplyInterval->click();
        win->Tick(20);
        ChooseScheme("US");
        win->Tick(20);
        const Series& series = form->plotWindow->Store().At(0);
        QCOMPARE(series.name, std::string("Boiler.FlowTempSetpoint [°F]"));
        QVERIFY(series.Points().size() >= 2);
        for (const SeriesPoint& p : series.Points()) QCOMPARE(p.v, 122.0);  // 50.0 °C
    }
};

QTEST_MAIN(UnitsTest)
#include "UnitsTest.moc"
