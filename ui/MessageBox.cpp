#include "ui/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>

void ModalMessageBoxes::Information(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QGuiApplication::applicationDisplayName(), text);
}

void ModalMessageBoxes::Warning(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, QGuiApplication::applicationDisplayName(), text);
}

void ModalMessageBoxes::Exclamation(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}
