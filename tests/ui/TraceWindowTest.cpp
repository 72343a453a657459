// The packet trace window, offscreen, on the demo plant: the window's columns, filters, pause, saving,
// recording, reading a capture back, and the port that only listens. What a packet decodes to, what a
// filter lets through and the capture's form are the trace's own and tested there.
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include "support/Packets.h"
#include "support/Window.h"
#include "trace/CaptureFile.h"
#include "ui/DevicePage.h"
#include "ui/LogPane.h"
#include "ui/TraceWindow.h"

using namespace korva;
using korva::test::MakePacket;

namespace {
constexpr std::int64_t kNoon = 1796644800LL * 1000000;  // 2026-12-07T12:00:00Z

// The fields of a CSV line: a quoted field may hold commas, and doubles its quotes.
QStringList CsvFields(const QString& line) {
    QStringList fields{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const bool doubled = quoted && line[i] == '"' && line.mid(i + 1, 1) == "\"";
        if (doubled)
            fields.last() += line[++i];
        else if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ',' && !quoted)
            fields << QString();
        else
            fields.last() += line[i];
    }
    return fields;
}

// A row as the operator reads it, from the direction on: the time differs from run to run.
QStringList Row(TTraceWindow& w, int row) {
    QStringList cells;
    for (int c = static_cast<int>(TraceColumn::Direction); c < w.Model()->columnCount(); ++c)
        cells << w.Model()->index(row, c).data().toString();
    return cells;
}
}  // namespace

class TraceWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // The view, the CSV and the text filter read each packet alike, column by column, as the trace's
    // table of columns has it. A cell's text finds its packet when a column the filter searches holds it.
    void columnsAgree() {
        KModel model;
        model.MakeProperty(model.MakeDevice("FeedPump", 0x22), LinkSpec("Speed", 0, 16));
        model.MakeDevice("Pump \"B\", spare", 0x23);
        const TraceDecoder decoder(model);
        const struct {
            const char* name;
            std::int64_t timeUs;
            PacketPath path;
            BusPacket packet;
            QString kind;
        } cases[] = {
            {"read reply", kNoon, PacketPath::Received, MakePacket({0x6C, 0x22, 0x8A}, {16, 0xFF, 0xFE}),
             "read reply"},
            {"checksum error, a comma in the kind", kNoon + 2, PacketPath::ChecksumError,
             MakePacket({0x6C, 0x22, 0x8A}, {16, 0, 5}), "CHECKSUM ERROR, read reply"},
            {"refusal by a device whose name needs quotes", kNoon + 3, PacketPath::Received,
             MakePacket({0x6C, 0x23, 0x8C}, {16}), "refusal"},
            {"broadcast heard, without a time", -1, PacketPath::Heard, MakePacket({6, 0x6C, 0x89}, {16}),
             "broadcast"},
        };
        TraceBuffer buffer;
        for (const auto& c : cases) buffer.Append(TraceRecord::From(c.timeUs, c.path, c.packet));
        TTraceModel view(buffer, decoder);
        const QStringList csv = QString::fromStdString(CsvText(buffer, nullptr, decoder)).split('\n');
        QStringList header, shown;
        for (const TraceColumnInfo& column : TraceColumns()) header << column.header;
        for (int col = 0; col < view.columnCount(); ++col)
            shown << view.headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
        QCOMPARE(shown, header);
        QCOMPARE(CsvFields(csv[0]), header);
        for (int row = 0; row < view.rowCount(); ++row) {
            const auto& c = cases[row];
            const TraceRecord& r = buffer.At(static_cast<std::uint64_t>(row));
            QCOMPARE(view.index(row, static_cast<int>(TraceColumn::Kind)).data().toString(), c.kind);
            QStringList cells, searched;
            for (int col = 0; col < header.size(); ++col) {
                cells << view.index(row, col).data().toString();
                if (TraceColumns()[static_cast<std::size_t>(col)].searched) searched << cells.last();
            }
            QCOMPARE(CsvFields(csv[row + 1]), cells);
            for (const QString& cell : cells) {
                TraceFilter filter;
                filter.text = cell.toStdString();
                const bool held = std::any_of(searched.begin(), searched.end(), [&](const QString& s) {
                    return s.contains(cell, Qt::CaseInsensitive);
                });
                if (!cell.isEmpty())
                    QVERIFY2(filter.Matches(r, decoder) == held, qPrintable(c.name + (": " + cell)));
            }
        }
    }

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
        QCOMPARE(Row(w, 2), (QStringList{"sent", "108", "34", "FeedPump", "SpeedSetpoint", "1450",
                                         "write request", "22 6C 79 03 C9 10 05 AA"}));
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
