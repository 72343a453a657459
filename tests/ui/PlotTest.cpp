// The plot window on the demo plant, offscreen: polled properties become series, pause holds the
// view, the CSV export reads back, a value far smaller than the others gets the second axis.
#include <QCheckBox>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <sstream>

#include "support/Window.h"
#include "ui/DevicePage.h"
#include "ui/PanelText.h"
#include "ui/PlotWindow.h"
#include "ui/UtilityPage.h"

using namespace korva;

class PlotTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::Window> win_;
    TForm1* form_ = nullptr;
    TPlotWindow* plot_ = nullptr;

    // The demo plant; the feed pump answers with a speed and a motor current.
    void Start() {
        win_ = std::make_unique<test::Window>(test::Window::PlantOf(KORVA_DEMO_DIR));
        form_ = win_->form.get();
        plot_ = form_->plotWindow;
        auto& pump = win_->emu.AddDevice("FeedPump", 34).properties;
        pump.push_back({"ActualSpeed", 0, 17, 1450, 0});
        pump.push_back({"MotorCurrent", 0, 18, 2, 0});
    }
    // Ticks Poll in the panel, as the operator does.
    void Poll(const QString& property) {
        QTreeWidget* tree = form_->devicePage->tvDevices;
        const auto found = tree->findItems(property, Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(found.size(), qsizetype{1});
        tree->setCurrentItem(found.first());
        QVERIFY(!form_->devicePage->chkPoll->isHidden());
        form_->devicePage->chkPoll->click();
    }
    void PollBoth(const char* interval = "0") {
        Poll("ActualSpeed");
        Poll("MotorCurrent");
        form_->utilityPage->tbLogInterval->setText(interval);
        form_->utilityPage->btApplyInterval->click();
    }
    KRemoteLink* Link(const char* name) { return form_->comms().Model().FindLink("FeedPump", name); }

  private slots:
    void cleanup() { win_.reset(); }

    void pollingTwoPropertiesFillsTwoSeriesWithThePanelsNumbers() {
        Start();
        PollBoth("0.05");  // a reading every 6 ticks: one point per reading, not per tick
        win_->Tick(40);
        const SeriesStore& store = plot_->Store();
        QCOMPARE(store.Count(), std::size_t{2});
        QCOMPARE(store.At(0).name, std::string("FeedPump.ActualSpeed"));
        QCOMPARE(store.At(1).name, std::string("FeedPump.MotorCurrent"));
        win_->emu.FindDevice(34)->properties[0].word = 0xFFFB;  // read back as the panel does: -5
        win_->Tick(10);
        for (const char* name : {"ActualSpeed", "MotorCurrent"}) {
            const auto& points = store.At(name[0] == 'A' ? 0 : 1).Points();
            // The reading that came after the last tick is taken on the next.
            QVERIFY(points.size() >= 7);
            QVERIFY(Link(name)->valueUpdates - points.size() <= 1);
            for (std::size_t k = 1; k < points.size(); ++k) QVERIFY(points[k - 1].t < points[k].t);
        }
        QCOMPARE(store.At(0).Points().back().v, -5.0);
        QCOMPARE(QString::number(store.At(0).Points().back().v),
                 QString::fromStdString(ValueText(*Link("ActualSpeed"), false)));
        QCOMPARE(store.At(1).Points().back().v, 2.0);
        // Unpolled, the series stays and takes no more points.
        Poll("ActualSpeed");
        const std::size_t kept = store.At(0).Points().size();
        win_->Tick(20);
        QCOMPARE(store.At(0).Points().size(), kept);
        QVERIFY(store.At(1).Points().size() > kept);
    }

    void pauseHoldsTheViewWhilePointsArriveAndFarSmallValuesGoRight() {
        Start();
        PollBoth();
        plot_->show();
        win_->Tick(30);
        plot_->Refresh();
        QCOMPARE(plot_->AxisOf(0), 0);
        QCOMPARE(plot_->AxisOf(1), 1);  // 2 beside 1450: its own axis
        plot_->btPause->click();
        QCOMPARE(plot_->btPause->text(), QString("Resume"));
        const qsizetype drawn = plot_->ChartSeries(0)->count();
        const std::size_t stored = plot_->Store().At(0).Points().size();
        win_->Tick(3 * TPlotWindow::kRefreshTicks);
        plot_->SetSpan(TPlotWindow::All);
        QCOMPARE(plot_->ChartSeries(0)->count(), drawn);
        QVERIFY(plot_->Store().At(0).Points().size() > stored);
        plot_->btPause->click();
        QCOMPARE(plot_->ChartSeries(0)->count(),
                 static_cast<qsizetype>(plot_->Store().At(0).Points().size()));
    }

    void csvExportReadsBackToTheShownPointsOfTheShownSeries() {
        Start();
        PollBoth();
        win_->Tick(25);
        plot_->ToggleSeries(0);  // hidden by its legend entry: not exported
        win_->savedFile = QString::fromStdString(win_->dir.Path() + "/shown.csv");
        plot_->btExportCsv->click();
        std::istringstream in(ReadRegularFile(win_->savedFile.toStdString()));
        std::string line;
        std::getline(in, line);
        QCOMPARE(line, std::string("Series,Time (s),Value"));
        std::vector<SeriesPoint> read;
        while (std::getline(in, line)) {
            std::istringstream row(line);
            std::string name, t, v;
            std::getline(row, name, ',');
            std::getline(row, t, ',');
            std::getline(row, v);
            QCOMPARE(name, std::string("FeedPump.MotorCurrent"));
            read.push_back({std::stod(t), std::stod(v)});
        }
        QVERIFY(!read.empty());
        QCOMPARE(read, plot_->Store().At(1).Points());
        plot_->ToggleSeries(0);
        QVERIFY(plot_->ChartSeries(0)->isVisible());
        win_->savedFile = QString::fromStdString(win_->dir.Path() + "/shown.png");
        plot_->btExportPng->click();
        QVERIFY(QImage(win_->savedFile).width() > 0);
        QVERIFY(win_->errors.isEmpty());
    }
};

QTEST_MAIN(PlotTest)
#include "PlotTest.moc"
