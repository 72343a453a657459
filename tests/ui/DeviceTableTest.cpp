// The table beside the device tree, offscreen: a device's properties read at once and written from
// their cells with the panel's checks, a file's elements moved and kept in CSV files, and the plant
// overviewed and scanned for devices that do not answer.
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "support/Window.h"
#include "ui/DeviceTable.h"
#include "xml/SafeFile.h"

using namespace korva;

class DeviceTableTest : public QObject, test::WindowFixture {
    Q_OBJECT

    TDeviceTable& Table() { return *win->Page().deviceTable; }
    QString Cell(int row, int column) {
        const QTableWidgetItem* item = Table().table->item(row, column);
        return item ? item->text() : QString("(none)");
    }
    // The operator types into a cell and presses Enter.
    void Type(int row, int column, const QString& text) { Table().table->item(row, column)->setText(text); }
    template <typename Done>
    bool TickUntil(Done done, int limit = 3000) {
        for (int i = 0; i < limit && !done(); ++i) win->Tick();
        return done();
    }

  private slots:
    void cleanup() { win.reset(); }

    void aDeviceShowsEveryPropertyReadAtOnceAndWrittenFromItsCell() {
        Start();
        sim::SimDevice& pump = win->EmulatePump();
        win->Click("35  Pump");
        QCOMPARE(Table().Shown(), TDeviceTable::Mode::Device);
        // The advanced property has no node and no row.
        QCOMPARE(Table().table->rowCount(), 5);
        QCOMPARE(Cell(0, TDeviceTable::kName), QString("Speed"));
        QCOMPARE(Table().table->item(0, TDeviceTable::kName)->toolTip(), QString("Shaft speed\nin rpm"));
        QCOMPARE(Cell(0, TDeviceTable::kValue), QString("???"));
        Table().btReadAll->click();
        QVERIFY(TickUntil([&] { return Cell(2, TDeviceTable::kStatus) == "KNOWN"; }, 200));
        QCOMPARE(Cell(0, TDeviceTable::kValue), QString("-32768"));
        QCOMPARE(Cell(1, TDeviceTable::kValue), QString("200"));
        QCOMPARE(Cell(0, TDeviceTable::kStatus), QString("KNOWN"));

        const struct {
            const char* name;
            int row;
            const char* typed;
            const char* error;  // "" when the value is written
        } cases[] = {
            {"a word", 0, "1200", ""},
            {"no number", 0, "fast", "'fast' is not a valid integer value"},
            {"past the byte", 1, "300", "300 is outside what the value can carry"},
            {"a byte", 1, "17", ""},
        };
        for (const auto& c : cases) {
            win->errors.clear();
            Type(c.row, TDeviceTable::kValue, c.typed);
            QVERIFY2(TickUntil([&] { return Cell(c.row, TDeviceTable::kStatus) == "KNOWN"; }, 200), c.name);
            if (*c.error == 0) {
                QVERIFY2(win->errors.isEmpty(), qPrintable(win->errors.join('\n')));
                QCOMPARE(Cell(c.row, TDeviceTable::kValue), QString(c.typed));
            } else {
                QCOMPARE(win->errors.size(), 1);
                QVERIFY2(win->errors[0].startsWith(c.error), qPrintable(win->errors[0]));
            }
        }
        QCOMPARE(pump.properties[0].word, 1200);
        QCOMPARE(pump.properties[1].byte, 17);
        // The panel follows the row written last.
        QCOMPARE(win->Page().tbselected->text(), QString("6  Mode"));

        // Log ticks Poll too: a logged value is always polled.
        KRemoteLink* speed = form->engine().Model().FindLink("Pump", "Speed");
        Table().table->item(0, TDeviceTable::kLog)->setCheckState(Qt::Checked);
        QVERIFY(speed->log && speed->poll);
        Table().table->item(0, TDeviceTable::kPoll)->setCheckState(Qt::Unchecked);
        QVERIFY(!speed->poll);
    }

    void aFilesElementsMoveAndKeepInCsv() {
        Start();
        sim::SimDevice& pump = win->EmulatePump();
        win->Click("35  Pump/Curve");
        QCOMPARE(Table().Shown(), TDeviceTable::Mode::File);
        QCOMPARE(Table().table->rowCount(), 3);
        QCOMPARE(Cell(0, 1), QString("??"));
        Table().btLoad->click();
        QVERIFY(TickUntil([&] { return Cell(2, 1) == "3"; }, 500));
        QCOMPARE(Table().pbTransfer->value(), 3);
        QCOMPARE(Table().pbTransfer->maximum(), 3);
        Type(1, 1, "9");
        QVERIFY(TickUntil([&] { return pump.files[0].elements[1] == 9; }, 200));

        win->savedFile = QString::fromStdString(win->dir.Path() + "/curve.csv");
        QVERIFY(TickUntil([&] { return Cell(1, 1) == "9"; }, 200));
        Table().btExport->click();
        QCOMPARE(ReadRegularFile(win->savedFile.toStdString()), std::string("Index,Value\n0,1\n1,9\n2,3\n"));

        const struct {
            const char* name;
            const char* csv;
            const char* error;  // "" when imported
            QStringList after;  // the value column after it
        } cases[] = {
            {"outside",
             "Index,Value\n0,5\n3,7\n",
             "line 3: element 3 is outside the file: 0 to 2",
             {"1", "9", "3"}},
            {"too wide",
             "0,5\n2,70000\n",
             "line 2: 70000 does not fit an element of this file",
             {"1", "9", "3"}},
            {"no pair", "0;5\n", "line 1: '0;5' is not \"index,value\"", {"1", "9", "3"}},
            {"whole", "Index,Value\r\n0,-5\r\n2,7\r\n", "", {"-5 *", "9", "7 *"}},
        };
        for (const auto& c : cases) {
            win->errors.clear();
            win->dir.Write("in.csv", c.csv);
            win->openedFile = QString::fromStdString(win->dir.Path() + "/in.csv");
            Table().btImport->click();
            QCOMPARE(win->errors.join('\n').section(": ", 1), QString(c.error));
            QCOMPARE((QStringList{Cell(0, 1), Cell(1, 1), Cell(2, 1)}), c.after);
        }
        // The imported values go to the device with Save.
        Table().btSave->click();
        QVERIFY(TickUntil(
            [&] {
                return pump.files[0].elements == std::vector<std::int16_t>{-5, 9, 7};
            },
            500));
    }

    // The root overviews the plant; a scan asks each device once and marks the one that is silent.
    void theRootOverviewsThePlantAndAScanFindsTheSilentDevice() {
        test::Window::Files files = test::Window::SmallPlant();
        std::string& plant = files.back().second;
        const std::string fan = "<KDevice Name=\"Fan\" Address=\"42\"/>";
        plant.replace(plant.find(fan), fan.size(),
                      "<KDevice Name=\"Fan\" Address=\"42\"><KProperty Name=\"Speed\" Type=\"Word\" "
                      "Code=\"SPEED\"/></KDevice>");
        Start(files);
        win->EmulatePump();  // the fan stays silent
        win->Click("");
        QCOMPARE(Table().Shown(), TDeviceTable::Mode::Overview);
        QCOMPARE(Table().table->rowCount(), 2);
        QCOMPARE((QStringList{Cell(0, 0), Cell(0, 1), Cell(0, 2), Cell(0, 3), Cell(0, 4)}),
                 (QStringList{"35", "Pump", "COM1", "not asked", "never"}));
        Table().btScanBus->click();
        QCOMPARE(Cell(1, TDeviceTable::kAnswers), QString("asking\u2026"));
        QVERIFY(TickUntil([&] { return Cell(1, TDeviceTable::kAnswers) != "asking\u2026"; }));
        QCOMPARE(Cell(0, TDeviceTable::kAnswers), QString("yes"));
        QVERIFY(Cell(0, TDeviceTable::kLastReply) != "never");
        QCOMPARE(Cell(1, TDeviceTable::kAnswers), QString("NO ANSWER"));
        QCOMPARE(Cell(1, TDeviceTable::kLastReply), QString("never"));
        QVERIFY(Cell(1, TDeviceTable::kUnanswered).toInt() >= 1);
    }
};

QTEST_MAIN(DeviceTableTest)
#include "DeviceTableTest.moc"
