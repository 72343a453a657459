// The plot window on the demo plant, offscreen: polled properties become series, pause holds the
// view, the CSV export reads back, a value far smaller than the others gets the second axis, a long
// run is drawn as each pixel column's extremes where the axes put them. How a series thins, the
// CSV's form, the choice of axes and the columns' extremes are the store's own and tested there.
#include <QChart>
#include <QLineSeries>
#include <QtTest>

#include <sstream>

#include "support/Window.h"
#include "ui/PlotWindow.h"

using namespace korva;

class PlotTest : public QObject, test::WindowFixture {
    Q_OBJECT

    TPlotWindow* plot_ = nullptr;

    // Ticks Poll in the panel, as the operator does.
    void Poll(const QString& property) {
        form->devicePage->tvDevices->setCurrentItem(win->Node("34  FeedPump/" + property));
        QVERIFY(!form->devicePage->chkPoll->isHidden());
        form->devicePage->chkPoll->click();
    }
    void PollBoth(const char* interval = "0") {
        Poll("ActualSpeed");
        Poll("MotorCurrent");
        form->utilityPage->tbLogInterval->setText(interval);
        form->utilityPage->btApplyInterval->click();
    }
    KRemoteLink* Link(const char* name) { return form->engine().Model().FindLink("FeedPump", name); }

  private slots:
    // The demo plant; the feed pump answers with a speed and a motor current.
    void init() {
        Start(test::Window::PlantOf(KORVA_DEMO_DIR));
        plot_ = form->plotWindow;
        auto& pump = win->emu.AddDevice("FeedPump", 34).properties;
        pump.push_back({"ActualSpeed", 0, 17, 1450, 0});
        pump.push_back({"MotorCurrent", 0, 18, 2, 0});
    }
    void cleanup() { win.reset(); }

    void pollingTwoPropertiesFillsTwoSeriesWithThePanelsNumbers() {
        PollBoth("0.05");  // a reading every 6 ticks: one point per reading, not per tick
        win->Tick(40);
        const SeriesStore& store = plot_->Store();
        QCOMPARE(store.Count(), std::size_t{2});
        QCOMPARE(store.At(0).name, std::string("FeedPump.ActualSpeed [rpm]"));
        QCOMPARE(store.At(1).name, std::string("FeedPump.MotorCurrent [A]"));
        win->emu.FindDevice(34)->properties[0].word = 0xFFFB;  // an unsigned speed, as the panel reads it
        win->Tick(10);
        for (const char* name : {"ActualSpeed", "MotorCurrent"}) {
            const auto& points = store.At(name[0] == 'A' ? 0 : 1).Points();
            // The reading that came after the last tick is taken on the next.
            QVERIFY(points.size() >= 7);
            QVERIFY(Link(name)->valueUpdates - points.size() <= 1);
            for (std::size_t k = 1; k < points.size(); ++k) QVERIFY(points[k - 1].t < points[k].t);
        }
        // The points are the shown values: the current's raw 2 is 0.2 A.
        QCOMPARE(store.At(0).Points().back().v, 65531.0);
        QCOMPARE(store.At(1).Points().back().v, 0.2);
        // Unpolled, the series stays and takes no more points.
        Poll("ActualSpeed");
        const std::size_t kept = store.At(0).Points().size();
        win->Tick(20);
        QCOMPARE(store.At(0).Points().size(), kept);
        QVERIFY(store.At(1).Points().size() > kept);
    }

    // Pause holds the view while points arrive, a far smaller value goes right, and the export takes
    // the shown series over the whole span.
    void pauseHoldsTheViewAndFarSmallValuesGoRightAndExportTakesTheShown() {
        PollBoth();
        plot_->show();
        win->Tick(30);
        plot_->Refresh();
        QCOMPARE(plot_->AxisOf(1), 1);  // 0.2 A beside 1450 rpm: its own axis, each named by its unit
        const auto axes = plot_->chart->axes(Qt::Vertical);
        QCOMPARE(axes.size(), 2);
        QCOMPARE(axes[0]->titleText() + " " + axes[1]->titleText(), QString("rpm A"));
        plot_->btPause->click();
        QCOMPARE(plot_->btPause->text(), QString("Resume"));
        const std::size_t drawn = plot_->Drawn(0).size();
        const std::size_t stored = plot_->Store().At(0).Points().size();
        win->Tick(3 * TPlotWindow::kRefreshTicks);
        plot_->SetSpan(TPlotWindow::All);
        QCOMPARE(plot_->Drawn(0).size(), drawn);
        QVERIFY(plot_->Store().At(0).Points().size() > stored);
        plot_->btPause->click();
        QCOMPARE(plot_->Drawn(0).size(), plot_->Store().At(0).Points().size());

        plot_->ToggleSeries(0);  // hidden by its legend entry: not exported
        win->savedFile = QString::fromStdString(win->dir.Path() + "/shown.csv");
        plot_->btExportCsv->click();
        std::ostringstream wanted;
        plot_->Store().WriteCsv(wanted, {1}, -1e300, 1e300);
        QVERIFY(plot_->Store().At(1).Points().size() > 2);
        QCOMPARE(ReadRegularFile(win->savedFile.toStdString()), wanted.str());
        plot_->ToggleSeries(0);
        QVERIFY(plot_->ChartSeries(0)->isVisible());
        win->savedFile = QString::fromStdString(win->dir.Path() + "/shown.png");
        plot_->btExportPng->click();
        QVERIFY(QImage(win->savedFile).width() > 0);
        QVERIFY(win->errors.isEmpty());
    }

    // Ten thousand readings with one spike, a series a thousand times smaller beside: each is drawn
    // as at most two points a pixel column, the spike among them, and every point of the line lies
    // where Qt Charts puts that value on the series' own axis, after a resize too; hidden, no line.
    void aLongRunIsDrawnAsEachColumnsExtremesAtItsAxesPlace() {
        KModel model;
        KDevice& device = model.MakeDevice("Unit", 34);
        KPropertyLink* links[] = {&model.MakeProperty(device, LinkSpec("Big", 0, 1)),
                                  &model.MakeProperty(device, LinkSpec("Small", 0, 2))};
        for (KPropertyLink* link : links) link->SetPoll(true);
        TPlotWindow plot(model, UiDialogs{});
        plot.show();
        for (int k = 0; k < 10000; ++k) {
            links[0]->current.StoreNumber(k == 6789 ? 30000 : 1000 + k % 7);
            links[1]->current.StoreNumber(k % 3);
            for (KPropertyLink* link : links) ++link->valueUpdates;
            plot.Sample(k * 0.01);
        }
        plot.SetSpan(TPlotWindow::All);
        QCOMPARE(plot.AxisOf(1), 1);
        // Where Qt Charts puts each drawn value on the series' own axis, to half a pixel.
        const auto linesLieOnTheAxes = [&] {
            for (std::size_t i = 0; i < 2; ++i) {
                const auto& drawn = plot.Drawn(i);
                const QPolygonF line = plot.DrawnLine(i);
                QCOMPARE(static_cast<std::size_t>(line.size()), drawn.size());
                for (std::size_t k = 0; k < drawn.size(); ++k) {
                    const QPointF want =
                        plot.chart->mapToPosition({drawn[k].t, drawn[k].v}, plot.ChartSeries(i));
                    QVERIFY2(QLineF(want, line[static_cast<qsizetype>(k)]).length() < 0.5,
                             qPrintable(QString("series %1 point %2").arg(i).arg(k)));
                }
            }
        };
        for (const QSize size : {QSize(760, 420), QSize(1100, 600)}) {
            plot.resize(size);
            QApplication::processEvents();  // the chart lays itself out anew, and the lines with it
            linesLieOnTheAxes();
            plot.Refresh();  // and now with the new width's columns
            linesLieOnTheAxes();
            const double width = plot.chart->plotArea().width();
            for (std::size_t i = 0; i < 2; ++i)
                QVERIFY(plot.Drawn(i).size() > width &&
                        plot.Drawn(i).size() <= 2 * static_cast<std::size_t>(width) + 2);
            QVERIFY(std::find(plot.Drawn(0).begin(), plot.Drawn(0).end(), SeriesPoint{67.89, 30000}) !=
                    plot.Drawn(0).end());
        }
        plot.ToggleSeries(1);
        QVERIFY(plot.DrawnLine(1).isEmpty());
        QVERIFY(!plot.DrawnLine(0).isEmpty());
    }

    // An export that cannot be written says where and why, and leaves whatever had the name.
    void exportRefusalsNameTheFileAndTheReason_data() {
        QTest::addColumn<QString>("name");  // below the test's folder
        QTest::addColumn<bool>("csv");
        QTest::addColumn<QString>("why");
        QTest::newRow("a folder, as CSV") << "folder" << true << "it is a folder, not a file";
        QTest::newRow("a folder, as PNG") << "folder" << false << "it is a folder, not a file";
        QTest::newRow("a missing folder") << "none/plot.csv" << true << "No such file or directory";
    }
    void exportRefusalsNameTheFileAndTheReason() {
        QFETCH(QString, name);
        QFETCH(bool, csv);
        QFETCH(QString, why);
        QVERIFY(QDir().mkpath(QString::fromStdString(win->dir.Path() + "/folder")));
        PollBoth();
        win->Tick(10);
        win->savedFile = QString::fromStdString(win->dir.Path() + "/") + name;
        (csv ? plot_->btExportCsv : plot_->btExportPng)->click();
        QCOMPARE(win->errors, QStringList{"Can't write " + win->savedFile + "\n" + why});
        QVERIFY(QFileInfo(QString::fromStdString(win->dir.Path() + "/folder")).isDir());
    }
};

QTEST_MAIN(PlotTest)
#include "PlotTest.moc"
