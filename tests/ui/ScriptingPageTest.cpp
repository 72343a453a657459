// The "Scripting" page and the "Tools" menu, offscreen.
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "support/TempDir.h"
#include "ui/KorvaConfigMain.h"
#include "ui/LogPane.h"
#include "ui/ScriptingPage.h"

using namespace korva;

class ScriptingPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<TForm1> form_;
    QStringList messages_;
    QString chosenFile_;
    QStringList questions_;
    bool answer_ = false;
    bool timerRanDuringDialog_ = false;
    // Below the generated entries the Tools menu always holds these.
    const QStringList kFixedTools{"Standard Config", "Custom Config", "", "Stop Test Node"};

    void Start() {
        dir_ = std::make_unique<test::TempDir>();
        dir_->Write("config/paths.xml",
                    "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>");
        dir_->Write("config/c.xml", "<c><s Word=\"0\" SPEED=\"5\"/></c>");
        dir_->Write("config/plant.xml",
                    "<plant><KDevice Name=\"Pump\" Address=\"34\"><KProperty Name=\"Speed\" Type=\"Word\" Code=\"SPEED\"/>"
                    "</KDevice></plant>");
        // A ";" ends a statement and makes the rest of its line a comment: one statement a line.
        dir_->Write("config/tools/bravo.kts", "displaytestnode \"B One\";\nwait 1;\nendnode;\n"
                                              "displaytestnode \"B Two\";\nendnode;\n");
        dir_->Write("config/tools/Alpha.kts", "displaytestnode \"A One\";\nusermessage \"Hello\";\nendnode;\n");
        dir_->Write("config/standard/s.kts", "displaytestnode Std;\nget Pump.Speed;\nwait 3;\nendnode;\n"
                                             "testnode Helper;\nendnode;\n");
        UiDialogs d;
        d.message = [this](const QString& t) {
            messages_ << t;
            timerRanDuringDialog_ = timerRanDuringDialog_ || form_->timComs.isActive();
        };
        d.error = [this](const QString& t) { messages_ << "error: " + t; };
        d.confirm = [](const QString&) { return true; };
        d.openSequence = [this] { return chosenFile_; };
        d.question = [this](const QString& t) {
            questions_ << t;
            return answer_;
        };
        d.requestEnd = [] {};
        form_ = std::make_unique<TForm1>(dir_->Path(), &d);
        form_->FormActivate();
    }
    QStringList Captions(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << a->text();
        return out;
    }
    QAction* Entry(QMenu* menu, const QString& caption) {
        for (QAction* a : menu->actions())
            if (a->text() == caption) return a;
        return nullptr;
    }

private slots:
    void cleanup() {
        form_.reset();
        dir_.reset();
        messages_.clear();
        questions_.clear();
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
        QCOMPARE(messages_, QStringList{"Hello"});
        QVERIFY(!timerRanDuringDialog_);
        QVERIFY(form_->timComs.isActive());
        QCOMPARE(form_->scriptingPage->tbActiveTestAction->text(), QString("usermessage Hello"));
    }

    void clickedActionRunsItsNodeFromTheStart() {
        Start();
        form_->timComs.stop();
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
        dir_->Write("extra.kts", "displaytestnode Extra; endnode;");
        chosenFile_ = QString::fromStdString(dir_->Path() + "/extra.kts");
        form_->scriptingPage->btOpenSequence->click();
        QCOMPARE(form_->scriptingPage->tbTSFilename->text(), chosenFile_);
        QVERIFY(form_->Sequences()->FindNode("Extra") != nullptr);
        QCOMPARE(form_->scriptingPage->tvTest->topLevelItem(0)->childCount(), 6);
        // A cancelled dialog loads what the box names again; the initial ".kts" loads nothing.
        chosenFile_.clear();
        form_->scriptingPage->tbTSFilename->setText(".kts");
        form_->scriptingPage->btOpenSequence->click();
        QVERIFY(messages_.isEmpty());
        form_->scriptingPage->btClearAllTS->click();
        QVERIFY(form_->Sequences()->FindNode("Extra") == nullptr);
        QCOMPARE(form_->scriptingPage->tvTest->topLevelItem(0)->childCount(), 5);
        QCOMPARE(Captions(form_->mnTools), (QStringList{"B Two", "B One", "A One"} + kFixedTools));
        QCOMPARE(Captions(form_->mnStandardConfig), QStringList{"Std"});
    }

    void noSequenceFilesLeaveTheSubmenusDisabled() {
        Start();
        std::filesystem::remove_all(dir_->Path() + "/config/standard");
        std::filesystem::remove_all(dir_->Path() + "/config/tools");
        form_->scriptingPage->btClearAllTS->click();
        QCOMPARE(Captions(form_->mnTools), kFixedTools);
        QVERIFY(!form_->mnStandardConfig->isEnabled());
        QVERIFY(!form_->mnCustomConfig->isEnabled());
    }

    void aRunningNodeEndsOnlyWhenTheOperatorSaysSo() {
        Start();
        form_->timComs.stop();
        TScriptingPage& page = *form_->scriptingPage;
        dir_->Write("long.kts", "testnode \"Long Run\";\nwait 5000;\nusermessage late;\n");
        chosenFile_ = QString::fromStdString(dir_->Path() + "/long.kts");
        page.btOpenSequence->click();
        QTreeWidgetItem* node = page.tvTest->topLevelItem(0)->child(5);
        emit page.tvTest->itemClicked(node, 0);
        QVERIFY(!page.btStopTestNode->isEnabled());
        page.btRunTestNode->click();
        QVERIFY(page.btStopTestNode->isEnabled() && form_->mnStopTestNode->isEnabled());
        const QString question = "'Long Run' is running. Stop it?";
        // No leaves it running, whatever asked: a menu entry, Clear All, Exit.
        answer_ = false;
        Entry(form_->mnTools, "A One")->trigger();
        page.btClearAllTS->click();
        QVERIFY(!form_->close());
        QCOMPARE(questions_, (QStringList{question, question, question}));
        QVERIFY(messages_.isEmpty());
        QVERIFY(form_->Sequences()->Running());
        // Yes stops it, names it in the log and marks it, then does what was asked.
        answer_ = true;
        Entry(form_->mnTools, "A One")->trigger();
        QCOMPARE(messages_, QStringList{"Hello"});
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
        QCOMPARE(questions_.size(), 4);
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
