#include "ui/ElidedLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

const QChar kEllipsis(0x2026);

// A name may hold line ends and other control characters; shown as they are
// they would make one path look like two.
QString Printable(QString text)
{
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    }
    return text;
}

// text broken into lines no wider than width, preferably after a space or a
// path separator, otherwise anywhere; no more than maxLines + 1 lines.
QStringList BreakLines(const QString& text, const QFontMetrics& metrics, int width, int maxLines)
{
    QStringList lines;
    QString rest = text;
    while (!rest.isEmpty() && lines.size() <= maxLines) {
        int fits = 0;
        while (fits < rest.size() && metrics.horizontalAdvance(rest.left(fits + 1)) <= width)
            ++fits;
        if (fits == rest.size()) {
            lines << rest;
            break;
        }
        fits = std::max(fits, 1);
        const auto lastBreak = std::max(rest.lastIndexOf(QLatin1Char(' '), fits - 1),
            std::max(rest.lastIndexOf(QLatin1Char('/'), fits - 1), rest.lastIndexOf(QLatin1Char('\\'), fits - 1)));
        const auto cut = lastBreak > 0 ? lastBreak + 1 : fits;
        lines << rest.left(cut);
        rest = rest.mid(cut);
    }
    return lines;
}

}  // namespace

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

int ElidedLabel::LineBudget() const
{
    if (!wordWrap())
        return 1;
    return std::max(1, contentsRect().height() / fontMetrics().lineSpacing());
}

QStringList ElidedLabel::ShownLines() const
{
    const QString whole = Printable(text());
    const int width = contentsRect().width();
    const QFontMetrics metrics = fontMetrics();
    if (!wordWrap())
        return {metrics.elidedText(whole, Qt::ElideMiddle, width)};
    const int budget = LineBudget();
    QStringList lines = BreakLines(whole, metrics, width, budget);
    if (lines.size() <= budget)
        return lines;
    // The most characters of the text's two ends that still fit.
    qsizetype low = 0;
    qsizetype high = whole.size();
    while (low < high) {
        const qsizetype keep = (low + high + 1) / 2;
        const QString candidate = whole.left(keep - keep / 2) + kEllipsis + whole.right(keep / 2);
        if (BreakLines(candidate, metrics, width, budget).size() <= budget)
            low = keep;
        else
            high = keep - 1;
    }
    return BreakLines(whole.left(low - low / 2) + kEllipsis + whole.right(low / 2), metrics, width, budget);
}

bool ElidedLabel::Elided() const
{
    return ShownLines().join(QString()) != Printable(text());
}

bool ElidedLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (Elided())
            QToolTip::showText(help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(align), palette(), isEnabled(),
        ShownLines().join(QLatin1Char('\n')), foregroundRole());
}
