#pragma once

// The main window: navigation column, six stacked panels, the status refresh,
// the Results panel and the Scan and Stop commands.

#include "engine/platform/ApplicationFolder.h"
#include "engine/signatures/SignatureList.h"
#include "tray/TrayIcon.h"
#include "ui/Adapters.h"
#include "ui/FormEnvironment.h"
#include "ui/InfectionsPanel.h"
#include "ui/ReportBox.h"
#include "ui/mdlBrowse.h"
#include "update/UpdateCommand.h"
#include "window/ScanControl.h"
#include "window/SignatureReloader.h"

#include <QWidget>

#include <memory>
#include <string>

class EditReportBox;
class ElidedLabel;
class LinkLabel;
class MessageBoxes;
class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class frmTev : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 387;
    static constexpr int kClientHeight = 371;

    // The program passes RealEnvironment(); every member must be filled.
    explicit frmTev(FormEnvironment environment, QWidget* parent = nullptr);
    ~frmTev() override;

    // The Load handler: signatures, full bars, the Scanner panel, the icon, show.
    void Load();
    void HideAllPanels();
    void LoadSignatures();
    // MaxSize from qirn-checker.ini, for the next scan and lblScnd's tooltip.
    void ReadScanSize();

    void SetScanFolder(const std::string& folder);
    const std::string& ScanFolder() const { return scanFolder_; }

    const qirn::SignatureList& Signatures() const { return signatures_; }
    const qirn::ScanCounter& Counter() const { return *counter_; }
    const std::string& Report() const { return report_->Text(); }
    mdlTray::TrayIcon& Tray() { return tray_; }
    QString ResultsFile() const;

    static constexpr const char* kTip = "QIRN Checker 1.0";
    static constexpr const char* kTipOnDuty = "QIRN Checker 1.0 - On Duty";

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    // Event handlers, named after their control and event; tests reach them
    // through the widgets, by object name.
    void tmrAbc_Timer();
    void tmrEl_Timer();
    void lblTray_Click();
    void chkChg_Click();
    void cmdCl_Click();
    void cmdSave_Click();
    void cmdScan_Click();
    void cmdStop_Click();
    void lblBrowse_Click();
    void cmdUpdate_Click();

private:
    // The Unload handler: removes the icon and ends the program.
    void Unload();
    // Builds the controls from their position table (frmTevControls.cpp).
    void BuildControls();
    void Connect();
    void BuildNavigation();
    void BuildScanner();
    void BuildSignatures();
    void BuildInfections();
    void BuildResults();
    void BuildUpdate();
    void BuildAbout();
    QGroupBox* Panel(const char* name, const QString& title);
    QLabel* Label(QWidget* parent, const char* name, const QString& text, QRect geometry);
    QPushButton* Button(QWidget* parent, const char* name, const QString& text, QRect geometry);
    LinkLabel* Link(QWidget* parent, const char* name, const QString& text, QPoint position);
    ElidedLabel* Elided(QWidget* parent, const char* name, QRect geometry);
    void ShowPanel(QGroupBox* panel);

    FormEnvironment environment_;

    QLabel* Picture1 = nullptr;
    LinkLabel* lblScan = nullptr;
    LinkLabel* lblSign = nullptr;
    LinkLabel* lblInfect = nullptr;
    LinkLabel* lblRep = nullptr;
    LinkLabel* lblUpdate = nullptr;
    LinkLabel* lblAbout = nullptr;
    LinkLabel* lblTray = nullptr;
    LinkLabel* lblQuit = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label5 = nullptr;
    ElidedLabel* lblPav = nullptr;
    QTimer* tmrAbc = nullptr;
    QTimer* tmrEl = nullptr;

    QGroupBox* frScan = nullptr;
    QLabel* lblStrt = nullptr;
    QLabel* lblEl = nullptr;
    QLabel* lblFin = nullptr;
    QLabel* lblScnd = nullptr;
    QLabel* lblFnd = nullptr;
    QLabel* lblCur = nullptr;
    LinkLabel* lblBrowse = nullptr;
    ElidedLabel* lblPath = nullptr;
    QProgressBar* pgbStatus = nullptr;
    QPushButton* cmdScan = nullptr;
    QPushButton* cmdStop = nullptr;

    QGroupBox* frSign = nullptr;
    QLabel* lblTot = nullptr;
    ElidedLabel* lblSigErr = nullptr;
    ElidedLabel* lblScanNote = nullptr;

    QGroupBox* frInfect = nullptr;
    QListWidget* lstVNa = nullptr;
    QListWidget* lstVPt = nullptr;
    QPushButton* cmdDel = nullptr;
    QPushButton* cmdRem = nullptr;

    QGroupBox* frRes = nullptr;
    QPlainTextEdit* txtRep = nullptr;
    EditReportBox* chkChg = nullptr;
    QPushButton* cmdCl = nullptr;
    QPushButton* cmdSave = nullptr;

    QGroupBox* frUpd = nullptr;
    QLabel* lblTTU = nullptr;
    QProgressBar* pgbUpd = nullptr;
    QLabel* lblUpd = nullptr;
    QLabel* lblUpdSettings = nullptr;
    ElidedLabel* lblUpdWhy = nullptr;  // why the last update ended as it did
    QLabel* lblUpdAuth = nullptr;      // whether updates are signed, and by which key  // what is wrong in
                                       // qirn-checker.ini, when anything is
    QPushButton* cmdUpdate = nullptr;

    QGroupBox* frAbout = nullptr;

    // lstMD and lstName; List1 and Label3 live in counter_.
    qirn::SignatureList signatures_;
    std::unique_ptr<qirn::SignatureReloader> reloader_;
    std::string scanFolder_;
    mdlTray::TrayIcon tray_;
    std::unique_ptr<ReportBox> report_;
    std::unique_ptr<LabelCaption> lblScndCaption_;
    std::unique_ptr<qirn::ScanCounter> counter_;
    std::unique_ptr<HitLists> hits_;
    std::unique_ptr<InfectionsPanel> infections_;
    std::unique_ptr<WidgetSwitch> updateButton_;
    std::unique_ptr<ProgressValue> updateBar_;
    std::unique_ptr<LabelCaption> updateStatus_;
    std::unique_ptr<ToolTipCaption> updateDetails_;
    std::unique_ptr<NoteCaption> updateSettings_;
    std::unique_ptr<NoteCaption> updateReason_;
    std::unique_ptr<LabelCaption> updateAuthentication_;
    std::unique_ptr<qirn::UpdateCommand> update_;
    QtEventPump events_;

    struct ScanWiring;
    std::unique_ptr<ScanWiring> scan_;
    bool ending_ = false;
};
