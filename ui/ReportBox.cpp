#include "ui/ReportBox.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

ReportBox::ReportBox(QPlainTextEdit& view) : view_(view)
{
    QPalette palette = view_.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, kTextColour);
        palette.setColor(group, QPalette::Highlight, kHighlight);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    view_.setPalette(palette);
    SetEditable(false);
    connect(&view_, &QPlainTextEdit::textChanged, this, &ReportBox::OnUserEdit);
}

QString ReportBox::ToDisplay(std::string_view text)
{
    QString display = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return display;
}

std::string ReportBox::FromDisplay(const QString& text)
{
    QString bytes = text;
    bytes.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return bytes.toLocal8Bit().toStdString();
}

void ReportBox::SetEditable(bool editable)
{
    view_.setReadOnly(!editable);
    // Selectable and copyable by mouse and keyboard either way.
    view_.setTextInteractionFlags(
        editable ? Qt::TextEditorInteraction : Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPalette palette = view_.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, editable ? QColor(Qt::white) : kLockedBase);
    view_.setPalette(palette);
}

bool ReportBox::Editable() const
{
    return !view_.isReadOnly();
}

void ReportBox::Append(std::string_view text)
{
    text_.append(text);
    writing_ = true;
    QTextCursor cursor(view_.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ToDisplay(text));
    writing_ = false;
}

void ReportBox::SetText(std::string text)
{
    text_ = std::move(text);
    writing_ = true;
    view_.setPlainText(ToDisplay(text_));
    writing_ = false;
}

void ReportBox::OnUserEdit()
{
    if (!writing_)
        text_ = FromDisplay(view_.toPlainText());
}
