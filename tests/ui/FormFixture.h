#pragma once

// A loaded main window over a temporary application folder, with message
// boxes, clock and program end replaced by recording doubles.

#include "engine/remedy/UserQuarantine.h"
#include "tests/ui/TestFolder.h"
#include "tests/window/WindowDoubles.h"
#include "ui/MessageBox.h"
#include "ui/frmTev.h"
#include "window/ScanControl.h"

#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace qirn::uitest {

class RecordedMessages final : public MessageBoxes {
public:
    struct Shown {
        bool warning;
        QString text;
        std::string resultsAtThatMoment;  // Results.txt as the box appeared
        QString title;                    // empty: the application's name
    };

    void Information(QWidget*, const QString& text) override { shown.push_back({false, text, Results(), {}}); }
    void Warning(QWidget*, const QString& text) override { shown.push_back({true, text, Results(), {}}); }
    void Exclamation(QWidget*, const QString& title, const QString& text) override
    {
        shown.push_back({true, text, Results(), title});
    }

    std::string Results() const
    {
        return std::filesystem::is_regular_file(resultsFile) ? TestFolder::read(resultsFile) : "<none>";
    }

    std::filesystem::path resultsFile;
    std::vector<Shown> shown;
};

// Answers the folder dialog with the next prepared answer.
class ScriptedFolderDialog final : public FolderDialog {
public:
    QString ChooseFolder(const QString& title, const QString& startFolder) override
    {
        titles.push_back(title);
        startFolders.push_back(startFolder);
        return nextAnswer;
    }
    QString nextAnswer;
    std::vector<QString> titles;
    std::vector<QString> startFolders;
};

class FormFixture : public testing::Test {
protected:
    FormFixture()
    {
        // One signature of each digest kind.
        folder.file("app/sa.kvd",
            std::string(kEicarMd5) + "=EICAR-Test-File\r\n" + std::string(kHelloSha256) + "=Hello.Greeting\r\n");
        messages.resultsFile = folder.root() / "app/Results.txt";
    }

    void Open()
    {
        FormEnvironment environment = RealEnvironment();
        environment.applicationFolder = QString::fromStdString(folder.path("app"));
        environment.messages = &messages;
        environment.clock = &clock;
        environment.endProgram = [this] { ++programEnds; };
        environment.scanFolder = QString::fromStdString(folder.path("tree"));
        environment.folders = &folderDialog;
        environment.quarantine = quarantine;
        environment.remover = [this](const qirn::DetectedFile& detected) {
            return remover ? remover(detected) : qirn::QuarantineDetectedFile(detected, quarantine);
        };
        if (!updateUrl.isEmpty())
            environment.updateUrl = updateUrl;
        environment.digestCache = folder.root() / "cache" / "digests.sqlite";
        form = std::make_unique<frmTev>(environment);
        form->Load();
    }

    void SetUp() override { Open(); }

    template <class T>
    T* Get(const char* name) const
    {
        T* child = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    QString Text(const char* label) const;
    // Whether the user can change the report; it can always be read.
    static bool Editable(const QPlainTextEdit* box) { return box->isEnabled() && !box->isReadOnly(); }
    void Click(const char* widget) const;
    // One timeout of the timer of that name, as if its interval had passed.
    void Tick(const char* timer) const;

    TestFolder folder;
    RecordedMessages messages;
    ScriptedFolderDialog folderDialog;
    InfectionsPanel::Remover remover;  // empty: the real Delete, into quarantine
    std::filesystem::path quarantine = folder.root() / "data" / "qirn-checker" / "quarantine";
    QUrl updateUrl;  // empty: the real address
    test::FixedClock clock{9 * 3600 + 30 * 60};
    int programEnds = 0;
    std::unique_ptr<frmTev> form;
};

}  // namespace qirn::uitest
