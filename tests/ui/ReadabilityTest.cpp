// Every text of every panel can be read: in the shipped fonts and with long
// values, each text fits its control or is cut in the middle with the whole
// text as its tooltip, no control covers another or leaves the window, and
// text stands out from its background by at least 4.5:1 in every state.

#include "tests/ui/FormFixture.h"
#include "ui/ElidedLabel.h"
#include "ui/Fonts.h"
#include "ui/ReportBox.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>
#include <map>

namespace qirn::uitest {
namespace {

const std::pair<const char*, const char*> kPanels[] = {{"lblScan", "frScan"}, {"lblSign", "frSign"},
    {"lblInfect", "frInfect"}, {"lblRep", "frRes"}, {"lblUpdate", "frUpd"}, {"lblAbout", "frAbout"}};

// WCAG relative luminance and contrast ratio.
double Luminance(const QColor& colour)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the strongest ink in area to the colour that covers most of it.
double InkContrast(QWidget& widget, QRect area)
{
    const QImage image = widget.grab(area).toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    const QColor background(
        std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first);
    double strongest = 1.0;
    for (const auto& [pixel, count] : counts)
        strongest = std::max(strongest, Contrast(QColor(pixel), background));
    return strongest;
}

class Readability : public FormFixture {
protected:
    // A scan of a deep tree whose hit has a long signature name.
    void ScanLongValues()
    {
        folder.file(
            "app/sa.kvd", std::string(kEicarMd5) + "=Win32.Trojan.Downloader.Agent.Generic.Variant.4294967295\r\n");
        longFolder = "tree/Documents and Settings/Administrator/Local Settings/Temporary Internet Files";
        folder.file(longFolder +
                "/Content.IE5/QWERTY12/Downloads/Installers/Archive of December 2026/"
                "setup-installer-update-package-for-all-users.exe",
            kEicar);
        Tick("tmrAbc");
        Click("cmdScan");
        Get<QListWidget>("lstVNa")->setCurrentRow(0);
    }

    // What the window shows at its longest: counts at their limits, the
    // longest status texts, a long file name and a long folder.
    void SetLongCaptions()
    {
        folderDialog.nextAnswer = QString::fromStdString(folder.path(longFolder));
        Click("lblBrowse");
        const std::pair<const char*, const char*> values[] = {
            {"lblStrt", "23:59:59"},
            {"lblEl", "23:59:59"},
            {"lblFin", "23:59:59"},
            {"lblScnd", "18446744073709551615"},
            {"lblFnd", "4294967295"},
            {"lblCur", "a-file-name-as-long-as-a-file-system-allows-is-cut-in-the-middle.tar.gz"},
            {"lblTot", "4294967295 signatures"},
            {"lblTTU", "4294967295 signatures"},
            {"lblUpd", "Downloading update file"},
            {"lblSigErr",
                "No signature loaded: sa.kvd cannot be read: Value too large for defined data type, "
                "or line 4294967295 has no \"=\""},
            {"lblScanNote",
                "digest cache /home/someone/.cache/qirn-checker/digests.sqlite: damaged (file is not a database); "
                "moved aside and rebuilt, and this scan reads every file"},
        };
        for (const auto& [name, value] : values)
            Get<QLabel>(name)->setText(QString::fromUtf8(value));
        Get<QLabel>("lblScanNote")->show();
    }

    static void ExpectShippedFont(const QWidget& widget)
    {
        const QString family = QFontInfo(widget.font()).family();
        EXPECT_TRUE(family == QLatin1String(fonts::kSansFamily) || family == QLatin1String(fonts::kSerifFamily))
            << widget.objectName().toStdString() << " is shown in " << family.toStdString()
            << "; tools/deps.sh installs the window's fonts";
    }

    static void ExpectFits(const QLabel& label)
    {
        const std::string name = label.objectName().toStdString();
        const QRect area = label.contentsRect();
        const QFontMetrics metrics(label.font());
        if (const auto* elided = qobject_cast<const ElidedLabel*>(&label)) {
            const QStringList lines = elided->ShownLines();
            EXPECT_LE(lines.size() * metrics.lineSpacing(), std::max(area.height(), metrics.height())) << name;
            for (const QString& line : lines)
                EXPECT_LE(metrics.horizontalAdvance(line), area.width()) << name << ": " << line.toStdString();
            if (elided->Elided())
                ExpectToolTip(const_cast<QLabel&>(label), label.text());
            return;
        }
        const int flags = static_cast<int>(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
        const QRect needed = metrics.boundingRect(area, flags, label.text());
        EXPECT_LE(needed.width(), area.width()) << name << " cuts \"" << label.text().toStdString() << '"';
        EXPECT_LE(needed.height(), area.height()) << name << " cuts \"" << label.text().toStdString() << '"';
    }

    static void ExpectToolTip(QWidget& widget, const QString& text)
    {
        QHelpEvent help(QEvent::ToolTip, widget.rect().center(), widget.mapToGlobal(widget.rect().center()));
        QApplication::sendEvent(&widget, &help);
        EXPECT_EQ(QToolTip::text(), text) << widget.objectName().toStdString();
        QToolTip::hideText();
    }

    static void ExpectFits(const QAbstractButton& button)
    {
        QStyleOptionButton option;
        option.initFrom(&button);
        option.text = button.text();
        const bool box = qobject_cast<const QCheckBox*>(&button) != nullptr;
        const QRect area = button.style()->subElementRect(
            box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, &button);
        EXPECT_LE(button.fontMetrics().horizontalAdvance(button.text()), area.width())
            << button.objectName().toStdString();
        EXPECT_LE(button.fontMetrics().height(), area.height()) << button.objectName().toStdString();
    }

    static void ExpectFits(const QListWidget& list)
    {
        const bool elides =
            list.textElideMode() != Qt::ElideNone && list.horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff;
        for (int row = 0; row < list.count(); ++row) {
            const QListWidgetItem* item = list.item(row);
            // The item's text area: its row less the view's text margins on both sides.
            const int room = list.visualItemRect(item).width() -
                2 * (list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1);
            if (list.fontMetrics().horizontalAdvance(item->text()) <= room)
                continue;
            EXPECT_TRUE(elides) << list.objectName().toStdString() << " cuts " << item->text().toStdString();
            EXPECT_EQ(item->toolTip(), item->text()) << list.objectName().toStdString();
        }
    }

    // Within its parent and the window, and clear of every visible sibling.
    void ExpectInPlace(const QWidget& widget) const
    {
        const std::string name = widget.objectName().toStdString();
        const QRect inWindow(widget.mapTo(form.get(), QPoint(0, 0)), widget.size());
        EXPECT_TRUE(form->rect().contains(inWindow)) << name << " leaves the window";
        EXPECT_TRUE(widget.parentWidget()->rect().contains(widget.geometry())) << name << " leaves its panel";
        for (const QObject* other : widget.parentWidget()->children()) {
            const auto* sibling = qobject_cast<const QWidget*>(other);
            if (sibling == nullptr || sibling == &widget || !sibling->isVisibleTo(form.get()))
                continue;
            EXPECT_FALSE(widget.geometry().intersects(sibling->geometry()))
                << name << " covers " << sibling->objectName().toStdString();
        }
    }

    std::string longFolder;
};

TEST_F(Readability, EveryTextOfEveryPanelFitsOrIsElidedWithItsWholeTextAsTooltip)
{
    ScanLongValues();
    SetLongCaptions();
    EXPECT_TRUE(qobject_cast<ElidedLabel*>(Get<QLabel>("lblPav"))->Elided()) << "the values are not long enough";

    auto* picture = Get<QLabel>("Picture1");
    for (const auto& [navigation, name] : kPanels) {
        SCOPED_TRACE(name);
        Click(navigation);
        auto* panel = Get<QGroupBox>(name);
        ASSERT_TRUE(panel->isVisibleTo(form.get()));
        QWidgetList shown;
        for (QWidget* widget : picture->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (widget->isVisibleTo(form.get()))
                shown << widget;
        for (QWidget* widget : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (widget->isVisibleTo(form.get()))
                shown << widget;
        for (QWidget* widget : shown) {
            ExpectInPlace(*widget);
            if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->pixmap().isNull()) {
                ExpectShippedFont(*label);
                ExpectFits(*label);
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                ExpectShippedFont(*button);
                ExpectFits(*button);
            } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
                ExpectShippedFont(*list);
                ExpectFits(*list);
            }
        }
        QFont title = panel->font();
        title.setBold(true);
        EXPECT_LE(QFontMetrics(title).horizontalAdvance(panel->title()), panel->width() - 20);
    }

    // Report lines wrap: nothing needs scrolling sideways.
    Click("lblRep");
    EXPECT_EQ(Get<QPlainTextEdit>("txtRep")->horizontalScrollBar()->maximum(), 0);
}

TEST_F(Readability, TheLockedReportCanBeScrolledAndSelectedButNotChanged)
{
    Click("lblRep");
    folder.file("tree/eicar.com", kEicar);
    for (int scan = 0; scan < 6; ++scan)
        Click("cmdScan");
    auto* box = Get<QPlainTextEdit>("txtRep");
    ASSERT_FALSE(Editable(box));
    ASSERT_GT(box->verticalScrollBar()->maximum(), 0);

    const std::string report = form->Report();
    box->verticalScrollBar()->setValue(0);
    QWheelEvent wheel(QPointF(20, 20), box->viewport()->mapToGlobal(QPointF(20, 20)), {}, QPoint(0, -120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box->viewport(), &wheel);
    EXPECT_GT(box->verticalScrollBar()->value(), 0) << "the wheel scrolls the report";

    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(
        ReportBox::FromDisplay(box->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n')), report);
    QTest::keyClicks(box, QStringLiteral("typed"));
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(form->Report(), report);
}

TEST_F(Readability, TextStandsOutFromItsBackgroundInEveryState)
{
    folder.file("tree/eicar.com", kEicar);
    Click("cmdScan");
    Click("lblInfect");
    auto* names = Get<QListWidget>("lstVNa");
    auto* paths = Get<QListWidget>("lstVPt");
    auto* box = Get<QPlainTextEdit>("txtRep");

    for (QWidget* widget : std::initializer_list<QWidget*>{names, paths, box}) {
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QPalette& palette = widget->palette();
            EXPECT_GE(Contrast(palette.color(group, QPalette::Text), palette.color(group, QPalette::Base)), 4.5)
                << widget->objectName().toStdString() << " group " << group;
            EXPECT_GE(
                Contrast(palette.color(group, QPalette::HighlightedText), palette.color(group, QPalette::Highlight)),
                4.5)
                << widget->objectName().toStdString() << " selected, group " << group;
        }
    }
    // As painted: the disabled path list, unselected and selected, and the locked and editable report.
    EXPECT_GE(InkContrast(*paths, paths->visualItemRect(paths->item(0))), 4.5);
    names->setCurrentRow(0);
    EXPECT_GE(InkContrast(*paths, paths->visualItemRect(paths->item(0))), 4.5);
    EXPECT_GE(InkContrast(*names, names->visualItemRect(names->item(0))), 4.5);
    Click("lblRep");
    const QRect firstLines(box->viewport()->mapTo(box, QPoint(0, 0)), QSize(box->viewport()->width(), 40));
    EXPECT_GE(InkContrast(*box, firstLines), 4.5);
    Click("chkChg");
    ASSERT_TRUE(Editable(box));
    EXPECT_GE(InkContrast(*box, firstLines), 4.5);
}

}  // namespace
}  // namespace qirn::uitest
