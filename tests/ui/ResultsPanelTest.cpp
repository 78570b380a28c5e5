// The Results panel: Edit Report, Clear and Save.

#include "tests/FileSizeLimit.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReportBox.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace qirn::uitest {
namespace {

namespace fs = std::filesystem;

class ResultsPanel : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        Click("lblRep");
        folder.file("tree/eicar.com", kEicar);
    }

    QPlainTextEdit* Box() const { return Get<QPlainTextEdit>("txtRep"); }
    QCheckBox* EditReport() const { return Get<QCheckBox>("chkChg"); }
    std::string Saved() const { return TestFolder::read(folder.root() / "app/Results.txt"); }
};

TEST_F(ResultsPanel, EditReportUnlocksTheReportAndTypedTextIsSavedAsTyped)
{
    Click("cmdScan");
    Click("chkChg");
    EXPECT_EQ(EditReport()->checkState(), Qt::Checked);
    ASSERT_TRUE(Editable(Box()));

    Box()->moveCursor(QTextCursor::End);
    QTest::keyClicks(Box(), QStringLiteral("note"));
    QTest::keyClick(Box(), Qt::Key_Return);
    QTest::keyClicks(Box(), QStringLiteral("ok"));
    EXPECT_TRUE(form->Report().ends_with("09:30:00\r\nnote\r\nok"));

    Click("chkChg");
    EXPECT_EQ(EditReport()->checkState(), Qt::Unchecked);
    EXPECT_FALSE(Editable(Box()));
    EXPECT_TRUE(form->Report().ends_with("note\r\nok"));

    Click("cmdSave");
    EXPECT_EQ(Saved(), form->Report());
}

TEST_F(ResultsPanel, EveryChangeOfTheValueRunsTheRuleAlsoFromCode)
{
    EditReport()->setCheckState(Qt::Checked);
    EXPECT_TRUE(Editable(Box()));
    EditReport()->setCheckState(Qt::PartiallyChecked);
    EXPECT_FALSE(Editable(Box()));
    // A click on the greyed box ticks it.
    Click("chkChg");
    EXPECT_EQ(EditReport()->checkState(), Qt::Checked);
    EXPECT_TRUE(Editable(Box()));
    // Setting the value the box already has runs nothing.
    Box()->setReadOnly(true);
    EditReport()->setCheckState(Qt::Checked);
    EXPECT_FALSE(Editable(Box()));
}

TEST_F(ResultsPanel, SaveWritesTheReportBytesThenTellsTheUser)
{
    Click("cmdScan");
    Click("cmdScan");
    ASSERT_NE(form->Report().find("\r\n\r\nA scan was started"), std::string::npos);

    Click("cmdSave");

    EXPECT_EQ(Saved(), form->Report());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_FALSE(messages.shown[0].warning);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Results was saved in Application path"));
    EXPECT_EQ(messages.shown[0].resultsAtThatMoment, form->Report());
}

TEST_F(ResultsPanel, SavingAgainReplacesTheFileAndAnEmptyReportEmptiesIt)
{
    Click("cmdScan");
    Click("cmdSave");
    Click("cmdCl");
    Click("cmdSave");
    EXPECT_EQ(Saved(), "");
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("Results was saved in Application path"));
}

TEST_F(ResultsPanel, FailedSaveTellsWhyAndNeverClaimsSuccess)
{
    std::filesystem::create_directory(folder.root() / "app/Results.txt");
    Click("cmdScan");
    Click("cmdSave");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].warning);
    EXPECT_TRUE(messages.shown[0].text.startsWith(QStringLiteral("Results could not be saved in Application path: ")));
    EXPECT_GT(messages.shown[0].text.size(), 50);  // a reason follows
}

TEST_F(ResultsPanel, SaveNeverDestroysThePreviousReport)
{
    const fs::path results = folder.root() / "app/Results.txt";
    Click("cmdScan");

    // The disk fills part-way: the old report stays whole and the user learns why.
    folder.file("app/Results.txt", "old report");
    {
        const test::FileSizeLimit limit(form->Report().size() / 2);
        Click("cmdSave");
    }
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].warning);
    EXPECT_EQ(messages.shown[0].text,
        QStringLiteral("Results could not be saved in Application path: cannot write Results.txt: File too large"));
    EXPECT_EQ(Saved(), "old report");

    // A FIFO of that name neither hangs the window nor keeps the report.
    fs::remove(results);
    folder.fifo("app/Results.txt");
    Click("cmdSave");
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("Results was saved in Application path"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(results)));
    EXPECT_EQ(Saved(), form->Report());
}

TEST_F(ResultsPanel, ClearEmptiesOnlyTheReport)
{
    Click("cmdScan");
    Click("chkChg");
    Click("cmdCl");
    EXPECT_EQ(form->Report(), "");
    EXPECT_TRUE(Box()->toPlainText().isEmpty());
    EXPECT_EQ(EditReport()->checkState(), Qt::Checked);
    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("lstVNa"))->property("count").toInt(), 1);
    Click("cmdCl");
    EXPECT_EQ(form->Report(), "");
}

TEST(ReportBoxText, DisplayAndBytesConvertLineEnds)
{
    EXPECT_EQ(ReportBox::ToDisplay("a\r\nb\r\n"), QStringLiteral("a\nb\n"));
    EXPECT_EQ(ReportBox::FromDisplay(QStringLiteral("a\nb")), "a\r\nb");
}

}  // namespace
}  // namespace qirn::uitest
