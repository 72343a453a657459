#pragma once
// The table beside the device tree: every device of the plant with whether it answers (the root or
// a line), every property of a device with its value, status, Poll and Log, or the elements of a
// file handle with its transfer.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QTableWidget>
#include <QWidget>

#include "model/Kobjects.h"
#include "ui/Dialogs.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace korva {

class Engine;

// A table that says whether a cell is being typed into: a live update must not overwrite it.
class TValueTable : public QTableWidget {
  public:
    using QTableWidget::QTableWidget;
    bool Editing() const { return state() == QAbstractItemView::EditingState; }
};

class TDeviceTable : public QWidget {
    Q_OBJECT
  public:
    enum class Mode { None, Overview, Device, File };
    enum DeviceColumn { kName = 0, kValue, kStatus, kPoll, kLog };
    enum OverviewColumn { kAddress = 0, kDevice, kLine, kAnswers, kLastReply, kUnanswered };

    TDeviceTable(Engine& engine, const UiDialogs& dialogs, QWidget* parent = nullptr);

    // The devices to overview: those of one line, or of the whole plant.
    void ShowOverview(std::vector<KDevice*> devices, const QString& title);
    // A device's properties, the selected one's row chosen; links without a node stay out.
    void ShowDevice(KDevice& device, const KRemoteLink* selected);
    void ShowFile(KFileLink& file);
    void ShowNothing();
    // Values, states and answers as they are now; cells that did not change are left alone.
    void Refresh();
    Mode Shown() const { return mode_; }

    // "Scan Bus": every device overviewed is asked once; those that do not answer are marked.
    void ScanBus();
    // "Read All": every property of the device shown asks for its value.
    void ReadAll();
    // The file's elements to and from a CSV file of "index,value" rows.
    void ExportElements();
    void ImportElements();
    // Writes the elements of a file of "index,value" rows into the file handle without sending;
    // "" on success, else why nothing was stored.
    static std::string ImportCsv(KFileLink& file, const std::string& text);
    static std::string ExportCsv(const KFileLink& file);

    QLabel* lbTitle;
    QPushButton* btReadAll;
    QPushButton* btScanBus;
    QPushButton* btLoad;
    QPushButton* btSave;
    QPushButton* btCancel;
    QPushButton* btExport;
    QPushButton* btImport;
    QProgressBar* pbTransfer;
    TValueTable* table;

    // A typed value goes through the panel's checks; the panel's Set does the writing.
    std::function<void(KRemoteLink& link, const QString& text)> writeValue;

  signals:
    // The operator chose a property's row.
    void linkChosen(korva::KRemoteLink* link);

  private:
    void Fill();
    void SetCell(int row, int column, const QString& text, const QString& tip = QString());
    void SetCheck(int row, int column, bool on);
    void CellEdited(int row, int column);
    void ShowButtons();
    QString AnswerText(const KDevice& device) const;

    Engine& engine_;
    const UiDialogs& dialogs_;
    Mode mode_ = Mode::None;
    KDevice* device_ = nullptr;
    KFileLink* file_ = nullptr;
    std::vector<KDevice*> devices_;
    std::vector<KRemoteLink*> links_;  // the rows of a device
    bool filling_ = false;             // edits made by the table itself are not the operator's
    // What each device had answered and left unanswered when the last scan began.
    struct Before {
        std::uint64_t replies = 0, unanswered = 0;
    };
    std::map<const KDevice*, Before> scan_;
};

}  // namespace korva
