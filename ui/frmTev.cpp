#include "ui/frmTev.h"

#include "engine/platform/SaveFile.h"
#include "engine/remedy/UserQuarantine.h"
#include "ui/EditReportBox.h"
#include "ui/ElidedLabel.h"
#include "ui/LinkLabel.h"
#include "ui/MessageBox.h"
#include "ui/RepaintPacer.h"
#include "window/StopScan.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kFrameMs = 16;  // repaints at most 60 times a second

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

}  // namespace

struct frmTev::ScanWiring {
    ScanWiring(frmTev& form, qirn::SignatureSource& signatures, qirn::Clock& clock)
        : txtRep(*form.report_),
          cmdSave(*form.cmdSave),
          cmdCl(*form.cmdCl),
          chkChg(*form.chkChg),
          lblStrt(*form.lblStrt),
          lblEl(*form.lblEl),
          lblFin(*form.lblFin),
          lblCur(*form.lblCur),
          lblFnd(*form.lblFnd),
          tmrEl(*form.tmrEl),
          cmdScan(*form.cmdScan),
          cmdStop(*form.cmdStop),
          lblBrowse(*form.lblBrowse),
          pgbStatus(*form.pgbStatus),
          lblScanNote(*form.lblScanNote),
          control(qirn::ScanControls{txtRep, cmdSave, cmdCl, chkChg, lblStrt, lblEl, lblFin, lblCur, lblFnd, tmrEl,
                      cmdScan, cmdStop, lblBrowse, pgbStatus, lblScanNote},
              qirn::ScanElements{form.signatures_, *form.hits_, *form.report_, *form.counter_, lblCur, form.events_},
              signatures, clock)
    {
    }

    ReportLock txtRep;
    WidgetSwitch cmdSave;
    WidgetSwitch cmdCl;
    CheckBoxValue chkChg;
    LabelCaption lblStrt;
    LabelCaption lblEl;
    LabelCaption lblFin;
    LabelCaption lblCur;
    LabelCaption lblFnd;
    TimerSwitch tmrEl;
    WidgetSwitch cmdScan;
    WidgetSwitch cmdStop;
    WidgetSwitch lblBrowse;
    ProgressValue pgbStatus;
    NoteCaption lblScanNote;
    qirn::ScanControl control;
};

frmTev::frmTev(FormEnvironment environment, QWidget* parent) : QWidget(parent), environment_(std::move(environment))
{
    BuildControls();
    new RepaintPacer(*this, kFrameMs);

    const QString signatureFile = QDir(environment_.applicationFolder).filePath(QStringLiteral("sa.kvd"));
    reloader_ = std::make_unique<qirn::SignatureReloader>(
        signatures_, std::filesystem::path(QFile::encodeName(signatureFile).toStdString()));
    SetScanFolder(QFile::encodeName(environment_.scanFolder).toStdString());
    report_ = std::make_unique<ReportBox>(*txtRep);
    lblScndCaption_ = std::make_unique<LabelCaption>(*lblScnd);
    counter_ = std::make_unique<qirn::ScanCounter>(*lblScndCaption_);
    hits_ = std::make_unique<HitLists>(*lstVNa, *lstVPt);
    infections_ = std::make_unique<InfectionsPanel>(
        *lstVNa, *lstVPt, *lblPav, *cmdDel, *cmdRem, *environment_.messages, environment_.remover);
    updateButton_ = std::make_unique<WidgetSwitch>(*cmdUpdate);
    updateBar_ = std::make_unique<ProgressValue>(*pgbUpd);
    updateStatus_ = std::make_unique<LabelCaption>(*lblUpd);
    updateDetails_ = std::make_unique<ToolTipCaption>(*lblUpd);
    updateSettings_ = std::make_unique<NoteCaption>(*lblUpdSettings);
    updateReason_ = std::make_unique<NoteCaption>(*lblUpdWhy);
    updateAuthentication_ = std::make_unique<LabelCaption>(*lblUpdAuth);
    update_ = std::make_unique<qirn::UpdateCommand>(
        qirn::UpdateControls{*updateButton_, *updateBar_, *updateStatus_, updateDetails_.get(), updateSettings_.get(),
            updateReason_.get(), updateAuthentication_.get()},
        environment_.updateUrl, signatureFile);

    scan_ = std::make_unique<ScanWiring>(*this, *reloader_, *environment_.clock);
    if (!environment_.digestCache.empty())
        scan_->control.UseDigestCache(environment_.digestCache);
    scan_->control.LeaveOut(environment_.quarantine);
    Connect();
}

frmTev::~frmTev() = default;

void frmTev::Connect()
{
    const std::pair<LinkLabel*, QGroupBox*> navigation[] = {
        {lblScan, frScan},
        {lblSign, frSign},
        {lblInfect, frInfect},
        {lblRep, frRes},
        {lblUpdate, frUpd},
        {lblAbout, frAbout},
    };
    for (const auto& [label, panel] : navigation)
        connect(label, &LinkLabel::clicked, this, [this, target = panel] { ShowPanel(target); });
    connect(lblTray, &LinkLabel::clicked, this, &frmTev::lblTray_Click);
    connect(lblQuit, &LinkLabel::clicked, this, &QWidget::close);
    connect(&tray_, &mdlTray::TrayIcon::restoreRequested, this, [this] { mdlTray::TrayIcon::TrayRestore(*this); });
    connect(tmrAbc, &QTimer::timeout, this, &frmTev::tmrAbc_Timer);
    connect(tmrEl, &QTimer::timeout, this, &frmTev::tmrEl_Timer);
    connect(lblBrowse, &LinkLabel::clicked, this, &frmTev::lblBrowse_Click);
    connect(cmdScan, &QPushButton::clicked, this, &frmTev::cmdScan_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmTev::cmdStop_Click);
    connect(chkChg, &QCheckBox::stateChanged, this, &frmTev::chkChg_Click);
    connect(cmdCl, &QPushButton::clicked, this, &frmTev::cmdCl_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmTev::cmdSave_Click);
    connect(cmdUpdate, &QPushButton::clicked, this, &frmTev::cmdUpdate_Click);
}

void frmTev::Load()
{
    if (!environment_.quarantine.empty())
        qirn::PruneQuarantine(environment_.quarantine, std::chrono::system_clock::now());
    LoadSignatures();
    ReadScanSize();
    pgbStatus->setValue(pgbStatus->maximum());
    pgbUpd->setValue(pgbUpd->maximum());
    HideAllPanels();
    frScan->setVisible(true);
    tray_.TrayAdd(windowIcon(), Text(kTip), *this);
    show();
    tmrAbc->start();
}

void frmTev::LoadSignatures()
{
    // A missing or rejected file leaves the list empty and says why; start-up goes on.
    reloader_->Refresh();
    lblSigErr->setText(QString::fromLocal8Bit(reloader_->Problem()));
}

void frmTev::HideAllPanels()
{
    for (QGroupBox* panel : {frAbout, frUpd, frSign, frScan, frRes, frInfect})
        panel->setVisible(false);
}

void frmTev::ShowPanel(QGroupBox* panel)
{
    HideAllPanels();
    panel->setVisible(true);
}

void frmTev::SetScanFolder(const std::string& folder)
{
    scanFolder_ = folder;
    lblPath->setText(QString::fromLocal8Bit(folder.data(), static_cast<qsizetype>(folder.size())));
}

QString frmTev::ResultsFile() const
{
    return QDir(environment_.applicationFolder).filePath(QStringLiteral("Results.txt"));
}

void frmTev::Unload()
{
    if (ending_)
        return;
    ending_ = true;
    tray_.TrayRemove();
    // A running walk returns before its next file.
    mdlFindFiles::RequestStop();
    environment_.endProgram();
}

void frmTev::closeEvent(QCloseEvent* event)
{
    Unload();
    event->accept();
}

void frmTev::tmrAbc_Timer()
{
    LoadSignatures();
    const QString count = QString::number(signatures_.Count()) + Text(" signatures");
    lblTot->setText(count);
    lblTTU->setText(count);
    lblFnd->setText(QString::number(lstVNa->count()));
    update_->Refresh();
    tray_.TrayModify(windowIcon(), Text(cmdScan->isEnabled() ? kTip : kTipOnDuty), *this);
}

void frmTev::tmrEl_Timer()
{
    scan_->control.ElapsedTick(static_cast<std::uint64_t>(lstVNa->count()));
}

void frmTev::lblTray_Click()
{
    // Without a notification area the icon could not bring a hidden window back.
    if (mdlTray::TrayIcon::Available())
        hide();
    else
        showMinimized();
}

void frmTev::chkChg_Click()
{
    report_->SetEditable(chkChg->Value() == 1);
}

void frmTev::cmdCl_Click()
{
    report_->SetText({});
}

void frmTev::cmdSave_Click()
{
    // The old report stays whole until the new one is on disk.
    const qirn::SaveResult saved =
        qirn::SaveFileContent(std::filesystem::path(QFile::encodeName(ResultsFile()).toStdString()), report_->Text());
    if (!saved.Ok()) {
        environment_.messages->Warning(
            this, Text("Results could not be saved in Application path: ") + QString::fromLocal8Bit(saved.Describe()));
        return;
    }
    environment_.messages->Information(this, Text("Results was saved in Application path"));
}

void frmTev::ReadScanSize()
{
    const qirn::ScanSizeSetting size = qirn::ReadScanSize(environment_.applicationFolder);
    scan_->control.SetSizeLimit(size.bytes, size.problem.toStdString());
    lblScnd->setToolTip(
        Text("Files larger than %1 bytes are not read (MaxSize under [Scan] in qirn-checker.ini)").arg(size.bytes));
}

void frmTev::cmdScan_Click()
{
    ReadScanSize();
    scan_->control.Scan(scanFolder_);
}

void frmTev::cmdStop_Click()
{
    scan_->control.Stop();
}

void frmTev::lblBrowse_Click()
{
    const QString chosen = mdlBrowse::BrowseForFolder(
        *environment_.folders, Text(mdlBrowse::kTitle), QFile::decodeName(scanFolder_.c_str()));
    SetScanFolder(QFile::encodeName(mdlBrowse::WithoutTrailingSeparator(chosen)).toStdString());
}

void frmTev::cmdUpdate_Click()
{
    update_->Click();
}
