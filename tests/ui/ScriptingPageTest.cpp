// The "Scripting" page and the "Tools" menu, offscreen.
#include <QMenuBar>
#include <QtTest>

#include "results/ResultsStore.h"
#include "support/Window.h"

using namespace korva;

class ScriptingPageTest : public QObject, test::WindowFixture {
    Q_OBJECT

    bool timerRanDuringDialog_ = false;
    // Below the generated entries the Tools menu always holds these.
    const QStringList kFixedTools{"Standard Config", "Custom Config", "", "Stop Test Node"};

  private slots:
    void init() {
        test::Window::Files files = test::Window::SmallPlant();
        // A ";" ends a statement and makes the rest of its line a comment: one statement a line.
        files.insert(
            files.end(),
            {{"config/tools/bravo.kts",
              "displaytestnode \"B One\";\nwait 1;\nendnode;\ndisplaytestnode \"B Two\";\nendnode;\n"},
             {"config/tools/Alpha.kts", "displaytestnode \"A One\";\nusermessage \"Hello\";\nendnode;\n"},
             {"config/standard/s.kts",
              "displaytestnode Std;\nget Pump.Speed;\nwait 3;\nendnode;\ntestnode Helper;\nendnode;\n"}});
        Start(files, false);
        win->onMessage = [this] { timerRanDuringDialog_ = timerRanDuringDialog_ || form->Ticking(); };
        form->FormActivate();
    }
    void cleanup() {
        win.reset();
        timerRanDuringDialog_ = false;
    }

    // The Tools entries stand on top in reverse load order. An opened file adds its nodes; Clear All
    // drops them and builds the menus again from the folders, and with none there the submenus stay off.
    void menusAndTreeFollowTheLoadedFiles() {
        TScriptingPage& page = *form->scriptingPage;
        const QStringList tools = QStringList{"B Two", "B One", "A One"} + kFixedTools;
        QCOMPARE(test::Window::Captions(form->mnTools), tools);
        QCOMPARE(page.tvTest->topLevelItemCount(), 1);
        QTreeWidgetItem* root = page.tvTest->topLevelItem(0);
        QCOMPARE(root->text(0), QString("Test Sequence"));
        QCOMPARE(root->childCount(), 5);  // Std, Helper, A One, B One, B Two
        win->dir.Write("extra.kts", "displaytestnode Extra; endnode;");
        win->chosenFile = QString::fromStdString(win->dir.Path() + "/extra.kts");
        page.btOpenSequence->click();
        QCOMPARE(page.tbTSFilename->text(), win->chosenFile);
        QCOMPARE(root->childCount(), 6);  // the sequences announce each node they load
        // The same file loaded again replaces its nodes: none shows twice.
        win->dir.Write("extra.kts",
                       "displaytestnode Extra;\nget Pump.Speed;\nendnode;\ntestnode Later;\nendnode;\n");
        page.btOpenSequence->click();
        root = page.tvTest->topLevelItem(0);  // drawn again
        QCOMPARE(root->childCount(), 7);
        QCOMPARE(root->child(5)->text(0), QString("Extra"));
        QCOMPARE(root->child(5)->childCount(), 1);
        QCOMPARE(root->child(6)->text(0), QString("Later"));
        QCOMPARE(form->Sequences()->NodeCount(), std::size_t{7});
        // A cancelled dialog loads what the box names again; the initial ".kts" loads nothing.
        win->chosenFile.clear();
        page.tbTSFilename->setText(".kts");
        page.btOpenSequence->click();
        QVERIFY(win->messages.isEmpty() && win->errors.isEmpty());
        page.btClearAllTS->click();
        QVERIFY(form->Sequences()->FindNode("Extra") == nullptr);
        QCOMPARE(page.tvTest->topLevelItem(0)->childCount(), 5);
        QCOMPARE(test::Window::Captions(form->mnTools), tools);
        QCOMPARE(test::Window::Captions(form->mnStandardConfig), QStringList{"Std"});
        QVERIFY(form->mnStandardConfig->isEnabled());
        QVERIFY(!form->mnCustomConfig->isEnabled());
        std::filesystem::remove_all(win->dir.Path() + "/config/standard");
        std::filesystem::remove_all(win->dir.Path() + "/config/tools");
        page.btClearAllTS->click();
        QCOMPARE(test::Window::Captions(form->mnTools), kFixedTools);
        QVERIFY(!form->mnStandardConfig->isEnabled());
    }

    void clickedActionRunsItsNodeFromTheStart() {
        QTreeWidget* tree = form->scriptingPage->tvTest;
        win->emu.AddDevice("Pump", 35).properties.push_back({"Speed", 0, 5, 1450, 0});
        QTreeWidgetItem* std = tree->topLevelItem(0)->child(0);
        QTreeWidgetItem* waitItem = std->child(1);
        QCOMPARE(waitItem->text(0), QString("wait 3"));
        tree->setCurrentItem(waitItem);
        emit tree->itemClicked(waitItem, 0);
        QCOMPARE(form->scriptingPage->tbActiveTestNode->text(), QString("Std"));
        QCOMPARE(form->scriptingPage->tbActiveTestAction->text(), QString("wait 3"));
        form->scriptingPage->btRunTestNode->click();
        // The first action went out at once: the link asks for its value.
        QCOMPARE(form->engine().Model().FindLink("Pump", "Speed")->state, LinkState::GET);
        QCOMPARE(tree->currentItem(), std->child(0));
        // Under way, the node and its action say so, never a result they have not got.
        QCOMPARE(form->scriptingPage->tbTestNodeStatus->text(), QString("RUNNING"));
        QCOMPARE(std->text(1), QString("RUNNING"));
        QCOMPARE(std->child(0)->text(1), QString("RUNNING"));
        for (int i = 0; i < 50 && form->scriptingPage->tbActiveTestAction->text() != "wait 3"; ++i)
            win->Tick();
        QCOMPARE(form->scriptingPage->tbTestActionStatus->text(), QString("RUNNING, 0.1 s left"));
        for (int i = 0; i < 50 && form->Sequences()->Running(); ++i) win->Tick();
        QCOMPARE(form->scriptingPage->tbTestNodeStatus->text(), QString("PASSED"));
        QCOMPARE(std->text(1), QString("PASSED"));
        QCOMPARE(std->child(1)->text(1), QString());
    }

    // A node run from the page is a run in the working folder's results store, with the DUT typed
    // on the page and the value each action read.
    void aNodeRunIsKeptInTheResultsStore() {
        TScriptingPage& page = *form->scriptingPage;
        win->emu.AddDevice("Pump", 35).properties.push_back({"Speed", 0, 5, 1450, 0});
        page.tbDut->setText(" SN-77 ");
        emit page.tvTest->itemClicked(page.tvTest->topLevelItem(0)->child(0), 0);
        page.btRunTestNode->click();
        for (int i = 0; i < 5000 && form->Sequences()->Running(); ++i) win->Tick();
        QVERIFY(!form->Sequences()->Running());
        const std::string path = win->dir.Path() + "/results.sqlite";
        std::vector<results::RunRow> runs;
        QTRY_VERIFY((runs = results::SqliteStore(path).History("SN-77")).size() == 1 && !runs[0].incomplete);
        QCOMPARE(runs[0].verdict, std::string("PASSED"));
        QVERIFY(!runs[0].operatorName.empty() && runs[0].operatorName != "unknown");
        const auto steps = results::SqliteStore(path).Steps(runs[0].id);
        QCOMPARE(steps.size(), std::size_t{2});
        QCOMPARE(steps[0].node, std::string("Std"));
        QCOMPARE(steps[0].device, std::string("Pump"));
        QCOMPARE(steps[0].property, std::string("Speed"));
        QCOMPARE(steps[0].raw, std::optional<std::int64_t>(1450));
        QCOMPARE(steps[1].action, std::string("wait 3"));
    }

    void aRunningNodeEndsOnlyWhenTheOperatorSaysSo() {
        TScriptingPage& page = *form->scriptingPage;
        win->dir.Write("long.kts", "testnode \"Long Run\";\nwait 5000;\nusermessage late;\n");
        win->chosenFile = QString::fromStdString(win->dir.Path() + "/long.kts");
        page.btOpenSequence->click();
        QTreeWidgetItem* node = page.tvTest->topLevelItem(0)->child(5);
        emit page.tvTest->itemClicked(node, 0);
        QVERIFY(!page.btStopTestNode->isEnabled() && !form->mnStopTestNode->isEnabled());
        page.btRunTestNode->click();
        QVERIFY(page.btStopTestNode->isEnabled() && form->mnStopTestNode->isEnabled());
        const QString question = "'Long Run' is running. Stop it?";
        // No leaves it running, whatever asked: a menu entry, Clear All, Exit.
        win->yes = false;
        win->Menu("A One")->trigger();
        page.btClearAllTS->click();
        QVERIFY(!form->close());
        QCOMPARE(win->questions, (QStringList{question, question, question}));
        QVERIFY(win->messages.isEmpty());
        QVERIFY(form->Sequences()->Running());
        // Yes stops it, names it in the log and marks it, then does what was asked.
        win->yes = true;
        win->Menu("A One")->trigger();
        QCOMPARE(win->messages, QStringList{"Hello"});
        QVERIFY(!timerRanDuringDialog_);  // the message box of a node run from the menu holds the timer
        QVERIFY(form->Ticking());
        QCOMPARE(page.tbActiveTestAction->text(), QString("usermessage Hello"));
        QCOMPARE(form->memoLog->Lines().last(), QString("Test node 'Long Run' stopped"));
        QCOMPARE(node->text(1), QString("ERROR"));
        QCOMPARE(node->child(0)->text(1), QString("ERROR"));  // the wait under way was cut short
        QCOMPARE(page.tvTest->topLevelItem(0)->child(2)->text(1), QString("PASSED"));  // "A One"
        // Stop needs no question; with nothing running it is not offered.
        emit page.tvTest->itemClicked(node, 0);
        page.btRunTestNode->click();
        QVERIFY(form->Sequences()->Running());
        form->mnStopTestNode->trigger();
        QVERIFY(!form->Sequences()->Running());
        QCOMPARE(win->questions.size(), 4);
        QVERIFY(!page.btStopTestNode->isEnabled() && !form->mnStopTestNode->isEnabled());
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
