// The "Scripting" page and the "Tools" menu, offscreen.
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "support/Window.h"
#include "ui/KorvaConfigMain.h"
#include "ui/LogPane.h"
#include "ui/ScriptingPage.h"

using namespace korva;

class ScriptingPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::Window> win_;
    TForm1* form_ = nullptr;
    bool timerRanDuringDialog_ = false;
    // Below the generated entries the Tools menu always holds these.
    const QStringList kFixedTools{"Standard Config", "Custom Config", "", "Stop Test Node"};

    void Start() {
        win_ = std::make_unique<test::Window>(
            test::Window::Files{
                {"config/paths.xml",
                 "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>"},
                {"config/c.xml", "<c><s Word=\"0\" SPEED=\"5\"/></c>"},
                {"config/plant.xml", "<plant><KDevice Name=\"Pump\" Address=\"34\"><KProperty Name=\"Speed\" "
                                     "Type=\"Word\" Code=\"SPEED\"/></KDevice></plant>"},
                // A ";" ends a statement and makes the rest of its line a comment: one statement a line.
                {"config/tools/bravo.kts",
                 "displaytestnode \"B One\";\nwait 1;\nendnode;\ndisplaytestnode \"B Two\";\nendnode;\n"},
                {"config/tools/Alpha.kts", "displaytestnode \"A One\";\nusermessage \"Hello\";\nendnode;\n"},
                {"config/standard/s.kts",
                 "displaytestnode Std;\nget Pump.Speed;\nwait 3;\nendnode;\ntestnode Helper;\nendnode;\n"}},
            false);
        form_ = win_->form.get();
        win_->onMessage = [this] { timerRanDuringDialog_ = timerRanDuringDialog_ || form_->Ticking(); };
        form_->FormActivate();
    }
    QStringList Captions(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << test::Window::Caption(a);
        return out;
    }
    QAction* Entry(QMenu* menu, const QString& caption) {
        for (QAction* a : menu->actions())
            if (test::Window::Caption(a) == caption) return a;
        return nullptr;
    }

private slots:
    void cleanup() {
        win_.reset();
        timerRanDuringDialog_ = false;
    }

    void menuEntriesStandOnTopInReverseLoadOrder() {
        Start();
        QCOMPARE(Captions(form_->mnTools), (QStringList{"B Two", "B One", "A One"} + kFixedTools));
        QCOMPARE(Captions(form_->mnStandardConfig), QStringList{"Std"});
        QVERIFY(form_->mnStandardConfig->isEnabled());
        QVERIFY(!form_->mnCustomConfig->isEnabled());
        QTreeWidget* tree = form_->scriptingPage->tvTest;
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Test Sequence"));
        QCOMPARE(tree->topLevelItem(0)->childCount(), 5);  // Std, Helper, A One, B One, B Two
    }

    void menuEntryRunsItsNodeWithTheTimerStoppedDuringTheDialog() {
        Start();
        Entry(form_->mnTools, "A One")->trigger();
        QCOMPARE(win_->messages, QStringList{"Hello"});
        QVERIFY(!timerRanDuringDialog_);
        QVERIFY(form_->Ticking());
        QCOMPARE(form_->scriptingPage->tbActiveTestAction->text(), QString("usermessage Hello"));
    }

    void clickedActionRunsItsNodeFromTheStart() {
        Start();
        QTreeWidget* tree = form_->scriptingPage->tvTest;
        QTreeWidgetItem* std = tree->topLevelItem(0)->child(0);
        QTreeWidgetItem* waitItem = std->child(1);
        QCOMPARE(waitItem->text(0), QString("wait 3"));
        tree->setCurrentItem(waitItem);
        emit tree->itemClicked(waitItem, 0);
        QCOMPARE(form_->scriptingPage->tbActiveTestNode->text(), QString("Std"));
        QCOMPARE(form_->scriptingPage->tbActiveTestAction->text(), QString("wait 3"));
        form_->scriptingPage->btRunTestNode->click();
        // The first action went out at once: the link asks for its value.
        QCOMPARE(form_->comms().Model().FindLink("Pump", "Speed")->state, LinkState::GET);
        QCOMPARE(tree->currentItem(), std->child(0));
        QCOMPARE(form_->scriptingPage->tbTestNodeStatus->text(), QString("PASSED"));  // the boxes follow the run
    }

    void clearAllDropsLoadedFilesAndRebuildsTheMenus() {
        Start();
        win_->dir.Write("extra.kts", "displaytestnode Extra; endnode;");
        win_->chosenFile = QString::fromStdString(win_->dir.Path() + "/extra.kts");
        form_->scriptingPage->btOpenSequence->click();
        QCOMPARE(form_->scriptingPage->tbTSFilename->text(), win_->chosenFile);
        QVERIFY(form_->Sequences()->FindNode("Extra") != nullptr);
        QCOMPARE(form_->scriptingPage->tvTest->topLevelItem(0)->childCount(), 6);
        // A cancelled dialog loads what the box names again; the initial ".kts" loads nothing.
        win_->chosenFile.clear();
        form_->scriptingPage->tbTSFilename->setText(".kts");
        form_->scriptingPage->btOpenSequence->click();
        QVERIFY(win_->messages.isEmpty() && win_->errors.isEmpty());
        form_->scriptingPage->btClearAllTS->click();
        QVERIFY(form_->Sequences()->FindNode("Extra") == nullptr);
        QCOMPARE(form_->scriptingPage->tvTest->topLevelItem(0)->childCount(), 5);
        QCOMPARE(Captions(form_->mnTools), (QStringList{"B Two", "B One", "A One"} + kFixedTools));
        QCOMPARE(Captions(form_->mnStandardConfig), QStringList{"Std"});
    }

    void noSequenceFilesLeaveTheSubmenusDisabled() {
        Start();
        std::filesystem::remove_all(win_->dir.Path() + "/config/standard");
        std::filesystem::remove_all(win_->dir.Path() + "/config/tools");
        form_->scriptingPage->btClearAllTS->click();
        QCOMPARE(Captions(form_->mnTools), kFixedTools);
        QVERIFY(!form_->mnStandardConfig->isEnabled());
        QVERIFY(!form_->mnCustomConfig->isEnabled());
    }

    void aRunningNodeEndsOnlyWhenTheOperatorSaysSo() {
        Start();
        TScriptingPage& page = *form_->scriptingPage;
        win_->dir.Write("long.kts", "testnode \"Long Run\";\nwait 5000;\nusermessage late;\n");
        win_->chosenFile = QString::fromStdString(win_->dir.Path() + "/long.kts");
        page.btOpenSequence->click();
        QTreeWidgetItem* node = page.tvTest->topLevelItem(0)->child(5);
        emit page.tvTest->itemClicked(node, 0);
        QVERIFY(!page.btStopTestNode->isEnabled());
        page.btRunTestNode->click();
        QVERIFY(page.btStopTestNode->isEnabled() && form_->mnStopTestNode->isEnabled());
        const QString question = "'Long Run' is running. Stop it?";
        // No leaves it running, whatever asked: a menu entry, Clear All, Exit.
        win_->yes = false;
        Entry(form_->mnTools, "A One")->trigger();
        page.btClearAllTS->click();
        QVERIFY(!form_->close());
        QCOMPARE(win_->questions, (QStringList{question, question, question}));
        QVERIFY(win_->messages.isEmpty());
        QVERIFY(form_->Sequences()->Running());
        // Yes stops it, names it in the log and marks it, then does what was asked.
        win_->yes = true;
        Entry(form_->mnTools, "A One")->trigger();
        QCOMPARE(win_->messages, QStringList{"Hello"});
        QCOMPARE(form_->memoLog->Lines().last(), QString("Test node 'Long Run' stopped"));
        QCOMPARE(node->text(1), QString("ERROR"));
        QCOMPARE(node->child(0)->text(1), QString());  // the wait has no result of its own
        QCOMPARE(page.tvTest->topLevelItem(0)->child(2)->text(1), QString("PASSED"));  // "A One"
        // Stop needs no question; with nothing running it is not offered.
        emit page.tvTest->itemClicked(node, 0);
        page.btRunTestNode->click();
        QVERIFY(form_->Sequences()->Running());
        form_->mnStopTestNode->trigger();
        QVERIFY(!form_->Sequences()->Running());
        QCOMPARE(win_->questions.size(), 4);
        QVERIFY(!page.btStopTestNode->isEnabled());
        // Every result fits its box, and Clear All leaves no text of a node that is gone.
        for (QLineEdit* box : {page.tbTestNodeStatus, page.tbTestActionStatus})
            QVERIFY(box->fontMetrics().horizontalAdvance("UNTESTED") + 10 <= box->width());
        page.btClearAllTS->click();
        QCOMPARE(page.tbActiveTestNode->text(), QString());
        QCOMPARE(page.tbTestActionStatus->text(), QString());
    }
};

QTEST_MAIN(ScriptingPageTest)
#include "ScriptingPageTest.moc"
