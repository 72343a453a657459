// The packet trace window, offscreen, on the demo plant: the window's columns, filters, pause, saving,
// recording, reading a capture back, and the port that only listens. What a packet decodes to, what a
// filter lets through and the capture's form are the trace's own and tested there.
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include "support/Window.h"
#include "trace/CaptureFile.h"
#include "ui/DevicePage.h"
#include "ui/LogPane.h"
#include "ui/TraceWindow.h"

using namespace korva;

namespace {
// A row as the operator reads it, from the direction on: the time differs from run to run.
QStringList Row(TTraceWindow& w, int row) {
    QStringList cells;
    for (int c = TTraceModel::Direction; c < TTraceModel::ColumnCount; ++c)
        cells << w.Model()->index(row, c).data().toString();
    return cells;
}
}  // namespace

class TraceWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void traceWindow() {
        test::Window win(test::Window::PlantOf(KORVA_DEMO_DIR));
        win.emu.AddDevice("FeedPump", 34).properties.push_back({"SpeedSetpoint", 0, 16, 1200, 0});
        TForm1& form = *win.form;
        TTraceWindow& w = *form.traceWindow;
        QString answer;
        w.chooseFile = [&](bool, const QString&, const QString&) { return answer; };
        form.findChild<QAction*>("mnTrace")->trigger();
        QVERIFY(w.isVisible());
        QCOMPARE(w.cbDevice->count(), 6);

        KRemoteLink* speed = form.comms().Model().FindLink("FeedPump", "SpeedSetpoint");
        speed->RequestRead();
        win.Tick(3);
        speed->SetNewNumber(1450);
        win.Tick(3);
        form.comms().TakeCluster("(x6Cx22x8Ax03x00x10x05xAA)");  // a damaged reply
        w.AppendBatch(true);
        QCOMPARE(w.Model()->rowCount(), 5);
        const QString pump = "34 FeedPump", us = "108";
        QCOMPARE(Row(w, 2), (QStringList{"sent", us, pump, "write request", "SpeedSetpoint", "1450",
                                         "22 6C 79 03 C9 10 05 AA"}));
        QVERIFY(w.Model()->index(4, 0).data(Qt::BackgroundRole).isValid());  // the damaged reply
        QVERIFY(!w.Model()->index(1, 0).data(Qt::BackgroundRole).isValid());

        // Filters over the whole trace, and saving what they let through.
        w.cbDirection->setCurrentIndex(w.cbDirection->findText("received"));
        QCOMPARE(w.Model()->rowCount(), 2);
        w.cbClass->setCurrentIndex(w.cbClass->findText("write"));
        QCOMPARE(w.Model()->rowCount(), 1);
        test::TempDir out;
        answer = QString::fromStdString(out.Path() + "/rx.csv");
        w.btSaveCsv->click();
        w.WaitForSave();
        QCOMPARE(QString::fromStdString(ReadRegularFile(answer.toStdString())).count('\n'), 2);
        w.cbDirection->setCurrentIndex(0);
        w.cbClass->setCurrentIndex(0);
        w.tbFind->setText("1450");  // the write, and the damaged reply that carries the same value
        QCOMPARE(w.Model()->rowCount(), 2);
        w.tbFind->clear();

        // Pause holds the table while the trace goes on.
        w.btPause->click();
        speed->RequestRead();
        win.Tick(3);
        QCOMPARE(w.Model()->rowCount(), 5);
        w.btPause->click();
        QCOMPARE(w.Model()->rowCount(), 7);

        // Saved, cleared and opened again.
        answer = QString::fromStdString(out.Path() + "/all.kcap");
        w.btSaveCapture->click();
        w.WaitForSave();
        w.btClear->click();
        QCOMPARE(w.Model()->rowCount(), 0);
        w.btOpenCapture->click();
        QTRY_COMPARE(w.Model()->rowCount(), 7);

        // Recording writes the packets as they come.
        answer = QString::fromStdString(out.Path() + "/rec");
        w.btRecord->click();
        QVERIFY(w.btRecord->isChecked());
        speed->RequestRead();
        win.Tick(3);
        w.btRecord->click();
        TraceBuffer recorded;
        QCOMPARE(LoadCaptureFile(out.Path() + "/rec-001.kcap", recorded).taken, std::size_t{2});

        // Listening only: nothing is sent, and the panel offers no reading.
        form.mnMonitor->trigger();
        QVERIFY(!form.devicePage->btGetVal->isEnabled());
        QCOMPARE(form.memoLog->Lines().last(), QString("Monitor only: listening, nothing is sent"));
        const std::size_t sent = win.line.sent.size();
        speed->RequestRead();
        win.Tick(40);
        QCOMPARE(win.line.sent.size(), sent);
        form.mnMonitor->trigger();
        QVERIFY(form.devicePage->btGetVal->isEnabled());
    }
};

QTEST_MAIN(TraceWindowTest)
#include "TraceWindowTest.moc"
