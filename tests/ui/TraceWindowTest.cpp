// The packet trace window, offscreen, on the demo plant: the window's columns, filters, pause, saving,
// recording, reading a capture back, and the port that only listens. What a packet decodes to, what a
// filter lets through and the capture's form are the trace's own and tested there.
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include "support/Packets.h"
#include "support/Window.h"
#include "trace/CaptureFile.h"
#include "trace/Pcapng.h"
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
    for (int c = TraceColumnOf(TraceColumn::Direction).viewAt; c < w.Model()->columnCount(); ++c)
        cells << w.Model()->index(row, c).data().toString();
    return cells;
}
}  // namespace

class TraceWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // A name typed without an ending is saved in the format of the type chosen in the dialog.
    void chosenTypeGivesTheEnding() {
        const char* const pcapng = "pcapng files (*.pcapng)";
        const struct {
            const char *path, *filter, *saved;
        } rows[] = {
            {"/tmp/rec", pcapng, "/tmp/rec.pcapng"},
            {"/tmp/rec.kcap", pcapng, "/tmp/rec.kcap"},
            {"/tmp/my.folder/rec", "Capture files (*.kcap)", "/tmp/my.folder/rec.kcap"},
            {"/tmp/rec", "All files (*)", "/tmp/rec"},
            {"", pcapng, ""},
        };
        for (const auto& r : rows) QCOMPARE(WithChosenSuffix(r.path, r.filter), QString(r.saved));
    }

    // The view and the CSV each show their columns of the trace's table, in their own order, with the
    // table's names and texts; the text filter finds a packet by the view texts of the searched columns.
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
            QString since, from, to, kind;  // as the view shows them
        } cases[] = {
            {"read reply", kNoon, PacketPath::Received, MakePacket({0x6C, 0x22, 0x8A}, {16, 0xFF, 0xFE}), "",
             "34 FeedPump", "108", "read reply"},
            {"checksum error, a comma in the kind", kNoon + 1250, PacketPath::ChecksumError,
             MakePacket({0x6C, 0x22, 0x8A}, {16, 0, 5}), "+1.3 ms", "34 FeedPump", "108",
             "CHECKSUM ERROR, read reply"},
            {"refusal by a device whose name needs quotes", kNoon + 31250, PacketPath::Received,
             MakePacket({0x6C, 0x23, 0x8C}, {16}), "+30.0 ms", "35 Pump \"B\", spare", "108", "refusal"},
            {"broadcast heard, without a time", -1, PacketPath::Heard, MakePacket({6, 0x6C, 0x89}, {16}), "",
             "108", "6", "broadcast"},
            {"read request after a row without a time", kNoon + 40000, PacketPath::Sent,
             MakePacket({0x22, 0x6C, 0x89}, {16}), "", "108", "34 FeedPump", "read request"},
        };
        TraceBuffer buffer;
        for (const auto& c : cases) buffer.Append(TraceRecord::From(c.timeUs, c.path, c.packet));
        TTraceModel view(buffer, decoder);
        const QStringList csv = QString::fromStdString(CsvText(buffer, nullptr, decoder)).split('\n');
        QStringList viewHeader, csvHeader, shown;
        for (const TraceColumnInfo* column : TraceViewColumns()) viewHeader << column->header;
        for (const TraceColumnInfo* column : TraceCsvColumns()) csvHeader << column->header;
        for (int col = 0; col < view.columnCount(); ++col)
            shown << view.headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
        QCOMPARE(shown, viewHeader);
        QCOMPARE(shown, (QStringList{"Time", "Since", "Direction", "From", "To", "Kind", "Property", "Value",
                                     "Bytes"}));
        QCOMPARE(CsvFields(csv[0]), csvHeader);
        for (const TraceColumnInfo& column : TraceColumns())
            if (column.viewAt >= 0 && column.csvAt >= 0)
                QCOMPARE(shown[column.viewAt], csvHeader[column.csvAt]);
        const auto at = [](TraceColumn id) { return TraceColumnOf(id).viewAt; };
        for (int row = 0; row < view.rowCount(); ++row) {
            const auto& c = cases[row];
            const TraceRow traced(buffer.At(static_cast<std::uint64_t>(row)), decoder,
                                  row > 0 ? cases[row - 1].timeUs : -1);
            QStringList cells, texts, fields, searched;
            for (int col = 0; col < view.columnCount(); ++col)
                cells << view.index(row, col).data().toString();
            for (const TraceColumnInfo* column : TraceViewColumns())
                texts << QString::fromStdString(column->ViewText(traced));
            for (const TraceColumnInfo* column : TraceCsvColumns())
                fields << QString::fromStdString(column->Text(traced));
            for (const TraceColumnInfo& column : TraceColumns())
                if (column.searched) searched << QString::fromStdString(column.ViewText(traced));
            QCOMPARE(cells, texts);
            const QString local =
                c.timeUs < 0 ? QString()
                             : QDateTime::fromMSecsSinceEpoch(c.timeUs / 1000).toString("HH:mm:ss.zzz");
            QCOMPARE(cells[at(TraceColumn::Time)], local);
            QCOMPARE((QStringList{cells[at(TraceColumn::Since)], cells[at(TraceColumn::From)],
                                  cells[at(TraceColumn::To)], cells[at(TraceColumn::Kind)]}),
                     (QStringList{c.since, c.from, c.to, c.kind}));
            QCOMPARE(CsvFields(csv[row + 1]), fields);
            for (const QString& word : cells + fields) {
                TraceFilter filter;
                filter.text = word.toStdString();
                const bool held = std::any_of(searched.begin(), searched.end(), [&](const QString& s) {
                    return s.contains(word, Qt::CaseInsensitive);
                });
                if (!word.isEmpty())
                    QVERIFY2(filter.Matches(traced.record, decoder) == held,
                             qPrintable(c.name + (": " + word)));
            }
        }
        // Filtered, "Since" counts from the row shown above: 31.25 ms, half a tenth, goes up.
        TraceFilter received;
        received.paths = 1u << static_cast<unsigned>(PacketPath::Received);
        view.SetFilter(received);
        QCOMPARE(view.index(1, at(TraceColumn::Since)).data().toString(), QString("+31.3 ms"));
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

        KRemoteLink* speed = form.engine().Model().FindLink("FeedPump", "SpeedSetpoint");
        speed->RequestRead();
        win.Tick(3);
        speed->SetNewNumber(1450);
        win.Tick(3);
        form.engine().Line().TakeCluster("(x6Cx22x8Ax03x00x10x05xAA)");  // a damaged reply
        w.AppendBatch(true);
        QCOMPARE(w.Model()->rowCount(), 5);
        const QString pump = "34 FeedPump", us = "108";
        QCOMPARE(Row(w, 2), (QStringList{"sent", us, pump, "write request", "SpeedSetpoint", "1450 rpm",
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
        // A name ending in .pcapng gets the analyzers' format: its section header block first.
        answer = QString::fromStdString(out.Path() + "/all.pcapng");
        w.btSaveCapture->click();
        w.WaitForSave();
        QCOMPARE(ReadRegularFile(answer.toStdString()).substr(0, 4), std::string("\x0A\x0D\x0D\x0A"));
        answer = QString::fromStdString(out.Path() + "/all.kcap");
        w.btClear->click();
        QCOMPARE(w.Model()->rowCount(), 0);
        const auto live = w.lineLive;
        w.lineLive = [] { return false; };  // no port open: the file takes the window's place
        w.btOpenCapture->click();
        QTRY_COMPARE(w.Model()->rowCount(), 7);
        // With the line live the file gets a view of its own: the live history stays, and live
        // packets never go under the file's name.
        w.lineLive = live;
        QVERIFY(w.lineLive());
        answer = QString::fromStdString(out.Path() + "/all.kcap");
        w.btOpenCapture->click();
        TTraceWindow* view = w.findChild<TTraceWindow*>("frmCaptureView");
        QVERIFY(view != nullptr && view->isVisible());
        QTRY_COMPARE(view->Model()->rowCount(), 7);
        speed->RequestRead();
        win.Tick(3);
        w.btPause->click();
        w.btPause->click();
        QTRY_COMPARE(w.Model()->rowCount(), 9);
        QCOMPARE(view->Model()->rowCount(), 7);
        view->close();

        // Recording writes the packets as they come.
        answer = QString::fromStdString(out.Path() + "/rec");
        w.btRecord->click();
        QVERIFY(w.btRecord->isChecked());
        speed->RequestRead();
        win.Tick(3);
        w.btRecord->click();
        TraceBuffer recorded;
        QCOMPARE(LoadCaptureFile(out.Path() + "/rec-001.kcap", recorded).taken, std::size_t{2});
        // A .pcapng name records blocks for the analyzers instead: the same two packets.
        answer = QString::fromStdString(out.Path() + "/rec.pcapng");
        w.btRecord->click();
        speed->RequestRead();
        win.Tick(3);
        w.btRecord->click();
        const std::string blocks = ReadRegularFile(out.Path() + "/rec-001.pcapng");
        QCOMPARE(blocks.substr(0, PcapngHead().size()), PcapngHead());
        const TraceBuffer& held = w.Buffer();
        QCOMPARE(blocks.substr(PcapngHead().size()),
                 PcapngPacket(held.At(held.End() - 2)) + PcapngPacket(held.At(held.End() - 1)));

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
    // A second "Open Capture…" while a large file loads gives that load up instead of waiting for
    // it: the first file never replaces the second, and its summary never shows.
    void aSecondOpenGivesUpTheFirst() {
        test::TempDir in;
        std::string big = std::string(kCaptureHeader) + "\n";
        const std::string line =
            FormatCaptureLine(kNoon, PacketPath::Received, MakePacket({0x6C, 0x23, 0x8A}, {5, 0, 7})) + "\n";
        for (int i = 0; i < 400000; ++i) big += line;
        in.Write("big.kcap", big + "garbage\n");
        in.Write("small.kcap", std::string(kCaptureHeader) + "\n" + line + line);
        test::Window one(test::Window::SmallPlant());
        TTraceWindow& v = *one.form->traceWindow;
        v.ShowWindow();
        v.OpenCapture(QString::fromStdString(in.Path() + "/big.kcap"));
        v.OpenCapture(QString::fromStdString(in.Path() + "/small.kcap"));
        QTRY_COMPARE(v.Model()->rowCount(), 2);
        QTest::qWait(200);  // anything the first load might still post
        QCOMPARE(v.Model()->rowCount(), 2);
        QCOMPARE(one.messages, QStringList{});
    }

    // A plant on two lines: the trace hears both buses and keeps each packet's line; the "Line"
    // column, the line filter, the CSV and a capture read back agree; each bus counts its own bad
    // checksums; a capture without lines reads and writes as it always did.
    void severalLines() {
        test::Window::Files files = test::Window::SmallPlant();
        files[2].second.insert(files[2].second.find("</plant>"),
                               "<KDevice Name=\"Valve\" Address=\"36\" Port=\"COM2\"/>");
        test::Window two(files);
        TTraceWindow& w = *two.form->traceWindow;
        std::string damaged = EncodeSerial(MakePacket({0x6C, 0x24, 0x8A}, {5, 0, 9}));
        damaged[damaged.size() - 2] = damaged[damaged.size() - 2] == '0' ? '1' : '0';
        const struct {
            const char* name;
            const char* line;
            std::string text;
        } packets[] = {
            {"the pump's reply on COM1", "COM1", EncodeSerial(MakePacket({0x6C, 0x23, 0x8A}, {5, 0, 7}))},
            {"the valve's reply on COM2", "COM2", EncodeSerial(MakePacket({0x6C, 0x24, 0x8A}, {5, 0, 9}))},
            {"a damaged reply on COM2", "COM2", damaged},
        };
        for (const auto& p : packets) two.form->engine().Line(p.line).TakeCluster(p.text);
        w.ShowWindow();
        QCOMPARE(two.form->engine().Line("COM1").busErrors, std::uint64_t{0});
        QCOMPARE(two.form->engine().Line("COM2").busErrors, std::uint64_t{1});
        const int lineAt = w.Model()->columnCount() - 1;
        QCOMPARE(w.Model()->headerData(lineAt, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Line"));
        QVERIFY(w.cbLine->isVisibleTo(&w));
        QStringList offered;
        for (int i = 0; i < w.cbLine->count(); ++i) offered << w.cbLine->itemText(i);
        QCOMPARE(offered, (QStringList{"All lines", "COM1", "COM2"}));
        const auto lines = [&] {
            QStringList shown;
            for (int row = 0; row < w.Model()->rowCount(); ++row)
                shown << w.Model()->index(row, lineAt).data().toString();
            return shown;
        };
        QCOMPARE(lines(), (QStringList{"COM1", "COM2", "COM2"}));
        for (const char* line : {"COM1", "COM2", "All lines"}) {
            w.cbLine->setCurrentIndex(w.cbLine->findText(line));
            QStringList wanted;
            for (const auto& p : packets)
                if (QString(line) == "All lines" || QString(line) == p.line) wanted << p.line;
            QCOMPARE(lines(), wanted);
        }
        test::TempDir out;
        const std::string csv = out.Path() + "/lines.csv", capture = out.Path() + "/lines.kcap";
        w.SaveCsv(QString::fromStdString(csv));
        w.WaitForSave();
        const QStringList rows = QString::fromStdString(ReadRegularFile(csv)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4);
        QVERIFY2(rows[0].endsWith(",Bytes,Line"), qPrintable(rows[0]));
        for (int i = 0; i < 3; ++i) QCOMPARE(CsvFields(rows[i + 1]).last(), QString(packets[i].line));
        w.SaveCapture(QString::fromStdString(capture));
        w.WaitForSave();
        const std::string saved = ReadRegularFile(capture);
        QVERIFY2(saved.find(" rx COM2 (") != std::string::npos, saved.c_str());
        TraceBuffer back;
        QCOMPARE(ReadCapture(saved, back).Summary(), std::string("3 packets"));
        QCOMPARE(CaptureText(back, nullptr, true), saved);

        // Opened on a plant of one line, a capture of two shows its lines; one of one line does not,
        // and is saved as it was read.
        test::Window one(test::Window::SmallPlant());
        TTraceWindow& v = *one.form->traceWindow;
        const std::string again = out.Path() + "/again.kcap";
        one.form->engine().Line().TakeCluster(packets[0].text);
        v.ShowWindow();
        v.SaveCapture(QString::fromStdString(again));
        v.WaitForSave();
        QVERIFY(ReadRegularFile(again).find("COM") == std::string::npos);
        v.OpenCapture(QString::fromStdString(capture));
        QTRY_COMPARE(v.Model()->rowCount(), 3);
        QCOMPARE(v.Model()->index(2, lineAt).data().toString(), QString("COM2"));
        QVERIFY(v.cbLine->isVisibleTo(&v));
        const std::string plain =
            std::string(kCaptureHeader) + "\n" +
            FormatCaptureLine(kNoon, PacketPath::Received, MakePacket({0x6C, 0x23, 0x8A}, {5, 0, 7})) + "\n";
        test::TempDir in;
        in.Write("plain.kcap", plain);
        v.OpenCapture(QString::fromStdString(in.Path() + "/plain.kcap"));
        QTRY_COMPARE(v.Model()->columnCount(), lineAt);
        QVERIFY(!v.cbLine->isVisibleTo(&v));
        v.SaveCapture(QString::fromStdString(again));
        v.WaitForSave();
        QCOMPARE(ReadRegularFile(again), plain);
    }
};

QTEST_MAIN(TraceWindowTest)
#include "TraceWindowTest.moc"
