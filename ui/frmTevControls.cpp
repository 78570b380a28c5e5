// The window's controls, built from their position table: names, captions
// and places. What they do is in frmTev.cpp.

#include "resources/Artwork.h"
#include "ui/ControlDescriptions.h"
#include "ui/EditReportBox.h"
#include "ui/ElidedLabel.h"
#include "ui/Fonts.h"
#include "ui/LinkLabel.h"
#include "ui/ReportBox.h"
#include "ui/frmTev.h"
#include "window/Controls.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

// Layout in pixels: the given twips divided by 15.
constexpr int kPictureOffset = -8;
constexpr QRect kPanelGeometry(80, 64, 289, 265);
constexpr int kNavigationLeft = 24;
constexpr int kNavigationTop = 80;
constexpr int kNavigationStep = 32;
constexpr int kCaptionLeft = 12;
constexpr int kValueLeft = 122;
constexpr int kRowTop = 26;
constexpr int kRowStep = 26;
constexpr int kRowHeight = 20;
constexpr int kValueWidth = 158;

const char kNotAvailable[] = "Not available";

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

QRect RowRect(int index, int left, int width)
{
    return {left, kRowTop + index * kRowStep, width, kRowHeight};
}

void SetTextColour(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, colour);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    widget.setPalette(palette);
}

// Text on its background in every state, selected rows included, with a
// contrast of at least 4.5:1.
void SetListColours(QListWidget& list)
{
    QPalette palette = list.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, ReportBox::kTextColour);
        palette.setColor(group, QPalette::Base, group == QPalette::Disabled ? ReportBox::kLockedBase : Qt::white);
        palette.setColor(group, QPalette::Highlight, ReportBox::kHighlight);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    list.setPalette(palette);
    // Long names and paths are cut in the middle, never scrolled out of sight.
    list.setTextElideMode(Qt::ElideMiddle);
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

const char kPanelStyle[] =
    "QGroupBox { background: rgba(247, 250, 252, 238); border: 1px solid rgba(255, 255, 255, 170);"
    " border-radius: 6px; margin-top: 0px; }"
    "QGroupBox::title { subcontrol-origin: padding; subcontrol-position: top left;"
    " left: 10px; top: 4px; color: #12405f; font-weight: bold; }";

}  // namespace

void frmTev::BuildControls()
{
    setObjectName(QStringLiteral("frmTev"));
    setWindowTitle(Text("QIRN Checker 1.1"));
    setWindowIcon(Artwork::WindowIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setFont(fonts::Sans());

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(Artwork::Background());
    Picture1->setGeometry(kPictureOffset, kPictureOffset, 420, 463);
    Picture1->setStyleSheet(Text(kPanelStyle));

    BuildNavigation();
    BuildScanner();
    BuildSignatures();
    BuildInfections();
    BuildResults();
    BuildUpdate();
    BuildAbout();
    DescribeControls(*this);

    tmrAbc = new QTimer(this);
    tmrAbc->setObjectName(QStringLiteral("tmrAbc"));
    tmrAbc->setInterval(1000);
    tmrEl = new QTimer(this);
    tmrEl->setObjectName(QStringLiteral("tmrEl"));
    tmrEl->setInterval(900);

    // Below a style sheet a control takes the application's font, not its
    // parent's: each one is given the window's face.
    for (QWidget* control : findChildren<QWidget*>()) {
        if (!control->testAttribute(Qt::WA_SetFont))
            control->setFont(font());
    }

    // Every control keeps its place; a fixed size also spares the parent a
    // layout request each time a scan changes a caption.
    for (QLabel* label : findChildren<QLabel*>())
        label->setFixedSize(label->size());
}

QLabel* frmTev::Label(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

QPushButton* frmTev::Button(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    return button;
}

ElidedLabel* frmTev::Elided(QWidget* parent, const char* name, QRect geometry)
{
    auto* label = new ElidedLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

LinkLabel* frmTev::Link(QWidget* parent, const char* name, const QString& text, QPoint position)
{
    auto* label = new LinkLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont underlined = font();
    underlined.setUnderline(true);
    label->setFont(underlined);
    label->move(position);
    label->adjustSize();
    return label;
}

QGroupBox* frmTev::Panel(const char* name, const QString& title)
{
    auto* panel = new QGroupBox(title, Picture1);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(kPanelGeometry);
    return panel;
}

void frmTev::BuildNavigation()
{
    const QColor navigation(0xf2, 0xf8, 0xfc);
    struct Entry {
        LinkLabel** label;
        const char* name;
        const char* caption;
    };
    const Entry entries[] = {
        {&lblScan, "lblScan", "Scanner"},
        {&lblSign, "lblSign", "Signatures"},
        {&lblInfect, "lblInfect", "Infections"},
        {&lblRep, "lblRep", "Results"},
        {&lblUpdate, "lblUpdate", "Update"},
        {&lblAbout, "lblAbout", "About"},
        {&lblTray, "lblTray", "Go tray"},
        {&lblQuit, "lblQuit", "Quit"},
    };
    int top = kNavigationTop;
    for (const Entry& entry : entries) {
        *entry.label = Link(Picture1, entry.name, Text(entry.caption), QPoint(kNavigationLeft, top));
        SetTextColour(**entry.label, navigation);
        top += kNavigationStep;
    }

    Label1 = Label(Picture1, "Label1", Text("QIRN Checker"), QRect(24, 24, 0, 0));
    Label1->setFont(fonts::TitleSerif());
    Label1->adjustSize();
    SetTextColour(*Label1, Qt::white);
    Label5 = Label(Picture1, "Label5", Text("1.1"), QRect(Label1->geometry().right() + 8, 0, 0, 0));
    QFont version = font();
    version.setPixelSize(15);
    version.setBold(true);
    Label5->setFont(version);
    Label5->adjustSize();
    Label5->move(Label5->x(), Label1->geometry().bottom() - Label5->height() - 4);
    SetTextColour(*Label5, QColor(0x5c, 0xd0, 0xe8));

    lblPav = Elided(Picture1, "lblPav", QRect(16, 336, 369, 41));
    lblPav->setWordWrap(true);
    lblPav->setContentsMargins(6, 2, 6, 2);
    SetTextColour(*lblPav, navigation);
}

void frmTev::BuildScanner()
{
    frScan = Panel("frScan", Text("Scanner"));
    struct Row {
        const char* captionName;
        const char* caption;
        QLabel** value;
        const char* valueName;
        const char* initial;
    };
    const Row rows[] = {
        {"Label7", "Scan started at:", &lblStrt, "lblStrt", kNotAvailable},
        {"Label10", "Time elapsed:", &lblEl, "lblEl", kNotAvailable},
        {"Label8", "Scan finished at:", &lblFin, "lblFin", kNotAvailable},
        {"Label9", "Object scanned:", &lblScnd, "lblScnd", kNotAvailable},
        {"Label12", "Infections found:", &lblFnd, "lblFnd", "0"},
        {"Label11", "Current object:", &lblCur, "lblCur", kNotAvailable},
    };
    int index = 0;
    for (const Row& row : rows) {
        Label(frScan, row.captionName, Text(row.caption), RowRect(index, kCaptionLeft, kValueLeft - kCaptionLeft));
        const QRect value = RowRect(index, kValueLeft, kValueWidth);
        // The current object is a file name, which can be of any length.
        *row.value = row.value == &lblCur ? Elided(frScan, row.valueName, value)
                                          : Label(frScan, row.valueName, QString(), value);
        (*row.value)->setText(Text(row.initial));
        ++index;
    }
    lblBrowse = Link(frScan, "lblBrowse", Text("Path: (Change)"), RowRect(index, kCaptionLeft, 0).topLeft());
    SetTextColour(*lblBrowse, QColor(0x12, 0x5a, 0x8c));
    lblPath = Elided(frScan, "lblPath", RowRect(index, kValueLeft, kValueWidth));

    pgbStatus = new QProgressBar(frScan);
    pgbStatus->setObjectName(QStringLiteral("pgbStatus"));
    pgbStatus->setRange(0, qirn::kProgressFull);
    pgbStatus->setValue(0);
    pgbStatus->setTextVisible(false);
    pgbStatus->setGeometry(kCaptionLeft, 224, 126, 18);
    cmdScan = Button(frScan, "cmdScan", Text("Scan"), QRect(146, 218, 64, 28));
    cmdStop = Button(frScan, "cmdStop", Text("Stop"), QRect(214, 218, 64, 28));
    cmdStop->setEnabled(false);
    // Why the last scan read less than asked; the whole text is its tooltip.
    lblScanNote = Elided(frScan, "lblScanNote", QRect(kCaptionLeft, 248, 265, 14));
    SetTextColour(*lblScanNote, QColor(0xa3, 0x1a, 0x1a));
    lblScanNote->hide();
}

void frmTev::BuildSignatures()
{
    frSign = Panel("frSign", Text("Signature Details"));
    Label(frSign, "Label4", Text("Virus and Malware:"), RowRect(0, kCaptionLeft, kValueLeft - kCaptionLeft));
    lblTot = Label(frSign, "lblTot", Text("0 signatures"), RowRect(0, kValueLeft, kValueWidth));
    // Why no signature is loaded; empty while the list is good.
    lblSigErr = Elided(frSign, "lblSigErr", QRect(kCaptionLeft, kRowTop + kRowStep, 265, 3 * kRowHeight));
    lblSigErr->setWordWrap(true);
    lblSigErr->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetTextColour(*lblSigErr, QColor(0xa3, 0x1a, 0x1a));
}

void frmTev::BuildInfections()
{
    frInfect = Panel("frInfect", Text("Infections"));
    Label(frInfect, "Label20", Text("Virus name:"), QRect(kCaptionLeft, 24, 88, kRowHeight));
    Label(frInfect, "Label21", Text("Path + Filename:"), QRect(104, 24, 172, kRowHeight));
    lstVNa = new QListWidget(frInfect);
    lstVNa->setObjectName(QStringLiteral("lstVNa"));
    lstVNa->setGeometry(kCaptionLeft, 46, 88, 166);
    SetListColours(*lstVNa);
    lstVPt = new QListWidget(frInfect);
    lstVPt->setObjectName(QStringLiteral("lstVPt"));
    lstVPt->setGeometry(104, 46, 173, 166);
    lstVPt->setEnabled(false);
    SetListColours(*lstVPt);
    cmdDel = Button(frInfect, "cmdDel", Text("Delete"), QRect(kCaptionLeft, 220, 130, 28));
    cmdRem = Button(frInfect, "cmdRem", Text("Remove from list"), QRect(147, 220, 130, 28));
}

void frmTev::BuildResults()
{
    frRes = Panel("frRes", Text("Results"));
    txtRep = new QPlainTextEdit(frRes);
    txtRep->setObjectName(QStringLiteral("txtRep"));
    txtRep->setGeometry(kCaptionLeft, 26, 265, 186);
    // Long lines wrap, so that every line can be read without scrolling sideways.
    txtRep->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtRep->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    chkChg = new EditReportBox(Text("Edit Report"), frRes);
    chkChg->setObjectName(QStringLiteral("chkChg"));
    chkChg->setGeometry(kCaptionLeft, 222, 110, 24);
    cmdCl = Button(frRes, "cmdCl", Text("Clear"), QRect(147, 220, 62, 28));
    cmdSave = Button(frRes, "cmdSave", Text("Save"), QRect(215, 220, 62, 28));
    cmdSave->setToolTip(Text("Saves the report as ") + QDir::toNativeSeparators(ResultsFile()));
}

void frmTev::BuildUpdate()
{
    frUpd = Panel("frUpd", Text("Update Status"));
    Label(frUpd, "Label2", Text("Signature count:"), RowRect(0, kCaptionLeft, kValueLeft - kCaptionLeft));
    lblTTU = Label(frUpd, "lblTTU", Text("0"), RowRect(0, kValueLeft, kValueWidth));
    pgbUpd = new QProgressBar(frUpd);
    pgbUpd->setObjectName(QStringLiteral("pgbUpd"));
    pgbUpd->setRange(0, qirn::kProgressFull);
    pgbUpd->setValue(0);
    pgbUpd->setTextVisible(false);
    pgbUpd->setGeometry(kCaptionLeft, 58, 265, 18);
    Label(frUpd, "Label6", Text("Details:"), RowRect(3, kCaptionLeft, kValueLeft - kCaptionLeft));
    lblUpd = Label(frUpd, "lblUpd", Text("Stopped"), RowRect(3, kValueLeft, kValueWidth));
    cmdUpdate = Button(frUpd, "cmdUpdate", Text("Update Now"), QRect(kCaptionLeft, 130, 110, 28));
    // Why the last update ended as it did; the whole text is its tooltip.
    lblUpdWhy = Elided(frUpd, "lblUpdWhy", QRect(kCaptionLeft + 118, 126, 147, 40));
    lblUpdWhy->setWordWrap(true);
    lblUpdWhy->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QLabel* advice =
        Label(frUpd, "Label27", Text("You should use a stable internet connection"), QRect(kCaptionLeft, 172, 265, 20));
    advice->setWordWrap(true);
    lblUpdAuth = Label(frUpd, "lblUpdAuth", QString(), QRect(kCaptionLeft, 192, 265, 20));
    lblUpdSettings = Label(frUpd, "lblUpdSettings", QString(), QRect(kCaptionLeft, 212, 265, 48));
    lblUpdSettings->setWordWrap(true);
    lblUpdSettings->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblUpdSettings->setStyleSheet(QStringLiteral("color: #a00000;"));
    lblUpdSettings->hide();
}

void frmTev::BuildAbout()
{
    frAbout = Panel("frAbout", Text("About"));
    const int right = 100;
    Label(frAbout, "Label16", Text("Created by:"), RowRect(0, kCaptionLeft, right - kCaptionLeft));
    Label(frAbout, "Label18", Text("The QIRN Checker project"), RowRect(0, right, 180));
    Label(frAbout, "Label17", Text("Tester:"), RowRect(1, kCaptionLeft, right - kCaptionLeft));
    Label(frAbout, "Label15", Text("The QIRN Checker test suite"), RowRect(1, right, 180));
    Label(frAbout, "Label19", Text("Version:"), RowRect(2, kCaptionLeft, right - kCaptionLeft));
    Label(frAbout, "Label22", Text("1.1"), RowRect(2, right, 180));
    Label(frAbout, "Label23", Text("- Fixed bug Scanner cannot detect virus"), RowRect(3, kCaptionLeft, 270));
    Label(frAbout, "Label24", Text("- Added new option \"Results\""), RowRect(4, kCaptionLeft, 270));
    Label(frAbout, "Label25", Text("- Added new option Quit"), RowRect(5, kCaptionLeft, 270));
    Label(frAbout, "Label26", Text("- More secure delete infected file"), RowRect(6, kCaptionLeft, 270));
    Label(frAbout, "Label14", Text("Copyright \u00a9 2026 The QIRN Checker project"), RowRect(7, kCaptionLeft, 270));
    // The folder the Save message calls "Application path": sa.kvd and Results.txt live there.
    // Two detail lines share the last row's room.
    ElidedLabel* where = Elided(frAbout, "lblAppPath", QRect(kCaptionLeft, 230, 270, 16));
    where->setText(Text("Application path: ") + QDir::toNativeSeparators(environment_.applicationFolder));
    // Where Delete keeps files, for qirn-scan --restore.
    ElidedLabel* kept = Elided(frAbout, "lblQuarantine", QRect(kCaptionLeft, 246, 270, 16));
    kept->setText(
        Text("Quarantine: ") + QDir::toNativeSeparators(QFile::decodeName(environment_.quarantine.native().c_str())));
}
