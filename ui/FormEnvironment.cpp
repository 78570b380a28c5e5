#include "ui/FormEnvironment.h"

#include "cache/KeptDigests.h"
#include "engine/platform/ApplicationFolder.h"
#include "engine/remedy/UserQuarantine.h"
#include "ui/Adapters.h"
#include "ui/MessageBox.h"
#include "ui/mdlBrowse.h"
#include "update/Download.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

struct FormEnvironment::RealParts {
    ModalMessageBoxes messages;
    LocalClock clock;
    SystemFolderDialog folders;
};

FormEnvironment RealEnvironment()
{
    FormEnvironment environment;
    environment.realParts = std::make_shared<FormEnvironment::RealParts>();
    environment.applicationFolder = QFile::decodeName(qirn::ApplicationFolder().c_str());
    environment.messages = &environment.realParts->messages;
    environment.clock = &environment.realParts->clock;
    environment.endProgram = [] { QCoreApplication::exit(0); };
    environment.scanFolder = QDir::homePath();
    environment.folders = &environment.realParts->folders;
    environment.updateUrl = QUrl(QString::fromLatin1(qirn::UpdateUrl));
    environment.quarantine = qirn::DefaultQuarantineFolder();
    environment.remover = [folder = environment.quarantine](const qirn::DetectedFile& detected) {
        return qirn::QuarantineDetectedFile(detected, folder);
    };
    environment.digestCache = qirn::KeptDigests::DefaultFile();
    return environment;
}
