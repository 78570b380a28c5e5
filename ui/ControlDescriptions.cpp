#include "ui/ControlDescriptions.h"

#include <QWidget>

namespace {

struct Description {
    const char* control;
    const char* name;  // nullptr: the control's own text
    const char* description;
};

// The value labels are named by their captions, so that a reader says
// "Scan started at" before the time.
constexpr Description kDescriptions[] = {
    {"lblScan", nullptr, "Shows the Scanner panel"},
    {"lblSign", nullptr, "Shows the signature count and why no signature is loaded, when none is"},
    {"lblInfect", nullptr, "Shows the files found and lets you delete them"},
    {"lblRep", nullptr, "Shows the report of the scans"},
    {"lblUpdate", nullptr, "Shows the Update panel"},
    {"lblAbout", nullptr, "Shows who made the program"},
    {"lblTray", nullptr, "Hides the window; the notification area icon brings it back"},
    {"lblQuit", nullptr, "Ends the program"},
    {"lblStrt", "Scan started at", "When the last scan started"},
    {"lblEl", "Time elapsed", "How long the scan has been running"},
    {"lblFin", "Scan finished at", "When the last scan finished"},
    {"lblScnd", "Object scanned", "How many files the scan examined"},
    {"lblFnd", "Infections found", "How many infections are listed"},
    {"lblCur", "Current object", "The file being examined"},
    {"lblBrowse", nullptr, "Chooses the folder to scan"},
    {"lblPath", "Folder to scan", "The folder the next scan walks"},
    {"pgbStatus", "Scan progress", "Half full while a scan runs, full when it is over"},
    {"cmdScan", nullptr, "Scans the folder, every file of it and of its folders"},
    {"cmdStop", nullptr, "Stops the running scan"},
    {"lblScanNote", "Scan note", "What the last scan left out, and why"},
    {"lblTot", "Virus and Malware", "How many signatures are loaded"},
    {"lblSigErr", "Signature problem", "Why no signature is loaded"},
    {"lstVNa", "Virus names", "The name of each file found; the paths list keeps in step"},
    {"lstVPt", "Paths", "The path of each file found; the names list keeps in step"},
    {"lblPav", "Selected file", "The path of the file selected in the lists"},
    {"cmdDel", nullptr, "Deletes the selected file from the disk"},
    {"cmdRem", nullptr, "Removes the selected file from the lists and leaves it on the disk"},
    {"txtRep", "Report", "The start, detection and finish lines of the scans"},
    {"chkChg", nullptr, "Lets you change the report text"},
    {"cmdCl", nullptr, "Empties the report"},
    {"cmdSave", nullptr, "Saves the report to Results.txt in the program's folder"},
    {"lblTTU", "Signature count", "How many signatures are loaded"},
    {"pgbUpd", "Update progress", "Half full while the update downloads, full when it is over"},
    {"lblUpd", "Details", "How the last update ended"},
    {"cmdUpdate", nullptr, "Downloads the newest signature file"},
    {"lblUpdWhy", "Update reason", "Why the last update ended as it did"},
    {"lblUpdAuth", "Update authentication", "Whether updates are signed, and by which key"},
    {"lblUpdSettings", "Settings problem", "What is wrong in qirn-checker.ini"},
};

}  // namespace

void DescribeControls(QWidget& form)
{
    for (const Description& entry : kDescriptions) {
        auto* control = form.findChild<QWidget*>(QString::fromLatin1(entry.control));
        if (control == nullptr)
            continue;
        if (entry.name != nullptr)
            control->setAccessibleName(QString::fromLatin1(entry.name));
        control->setAccessibleDescription(QString::fromLatin1(entry.description));
    }
}
