#include "ui/MessageBox.h"

#include <QMessageBox>

void ModalMessageBoxes::Information(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QString::fromLatin1(kApplicationTitle), text);
}

void ModalMessageBoxes::Warning(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, QString::fromLatin1(kApplicationTitle), text);
}

void ModalMessageBoxes::Exclamation(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}
