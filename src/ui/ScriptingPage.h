#pragma once
// The "Scripting" page: the test tree, the sequence file box and the state of the running test.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace korva {

class TScriptingPage : public QWidget {
    Q_OBJECT
public:
    explicit TScriptingPage(QWidget* parent = nullptr);

    QTreeWidget* tvTest;
    QLineEdit* tbTSFilename;
    QPushButton* btOpenSequence;
    QLabel* StaticText73;
    QLineEdit* tbActiveTestNode;
    QLabel* StaticText75;
    QLineEdit* tbTestNodeStatus;
    QPushButton* btRunTestNode;
    QLabel* StaticText74;
    QLineEdit* tbActiveTestAction;
    QLabel* StaticText76;
    QLineEdit* tbTestActionStatus;
    QLabel* StaticText77;
    QLineEdit* tbTestActionActVal;
    QPushButton* btRemoveTS;
    QPushButton* btClearAllTS;
};

}  // namespace korva
