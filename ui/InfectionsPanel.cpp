#include "ui/InfectionsPanel.h"

#include "ui/Adapters.h"
#include "ui/MessageBox.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>

namespace {

// The selected index: -1 when the current row is not selected.
int SelectedRow(const QListWidget& list)
{
    const QModelIndex current = list.currentIndex();
    return current.isValid() && list.selectionModel()->isSelected(current) ? current.row() : -1;
}

}  // namespace

InfectionsPanel::InfectionsPanel(QListWidget& lstVNa, QListWidget& lstVPt, QLabel& lblPav, QPushButton& cmdDel,
    QPushButton& cmdRem, MessageBoxes& messages, Remover remover)
    : lstVNa_(lstVNa), lstVPt_(lstVPt), lblPav_(lblPav), messages_(messages), remover_(std::move(remover))
{
    // Top index = first visible row, in both lists.
    lstVNa_.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    lstVPt_.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    lstVNa_.viewport()->setMouseTracking(true);
    lstVNa_.viewport()->installEventFilter(this);
    // A selection changed by pointer or keyboard counts as a click.
    connect(lstVNa_.selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!removing_)
            lstVNa_Click();
    });
    connect(lstVNa_.verticalScrollBar(), &QScrollBar::valueChanged, this, &InfectionsPanel::lstVNa_Scroll);
    connect(&cmdDel, &QPushButton::clicked, this, &InfectionsPanel::cmdDel_Click);
    connect(&cmdRem, &QPushButton::clicked, this, &InfectionsPanel::cmdRem_Click);
}

bool InfectionsPanel::eventFilter(QObject* watched, QEvent* event)
{
    // MouseDown and MouseMove do what Click does.
    if (watched == lstVNa_.viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove))
        lstVNa_Click();
    return QObject::eventFilter(watched, event);
}

void InfectionsPanel::FollowNames()
{
    const QSignalBlocker blocker(&lstVPt_);
    const int selected = SelectedRow(lstVNa_);
    lstVPt_.setCurrentRow(selected < lstVPt_.count() ? selected : -1);
    if (selected < 0)
        lstVPt_.clearSelection();
    lstVPt_.verticalScrollBar()->setValue(lstVNa_.verticalScrollBar()->value());
}

void InfectionsPanel::lstVNa_Click()
{
    FollowNames();
    const int selected = SelectedRow(lstVNa_);
    const QListWidgetItem* name = selected < 0 ? nullptr : lstVNa_.item(selected);
    const QListWidgetItem* path = selected < 0 ? nullptr : lstVPt_.item(selected);
    if (name == nullptr || path == nullptr) {
        lblPav_.setText(QString());
        shown_ = {};
        return;
    }
    lblPav_.setText(path->text());
    const QByteArray native = name->data(HitLists::kPathRole).toByteArray();
    shown_.path = std::filesystem::path(native.toStdString());
    shown_.identity = {name->data(HitLists::kDeviceRole).toULongLong(), name->data(HitLists::kInodeRole).toULongLong()};
    const QByteArray digest = name->data(HitLists::kDigestRole).toByteArray();
    shown_.digest = {};
    std::copy_n(reinterpret_cast<const std::uint8_t*>(digest.constData()),
        std::min<std::size_t>(shown_.digest.size(), static_cast<std::size_t>(digest.size())), shown_.digest.begin());
    // Every hit of that file names it in its quarantine record.
    shown_.signatures.clear();
    for (int row = 0; row < lstVNa_.count(); ++row) {
        const QListWidgetItem* hit = lstVNa_.item(row);
        if (hit->data(HitLists::kPathRole).toByteArray() == native &&
            hit->data(HitLists::kDigestRole).toByteArray() == digest)
            shown_.signatures.push_back(hit->data(HitLists::kSignatureRole).toByteArray().toStdString());
    }
}

void InfectionsPanel::lstVNa_Scroll()
{
    FollowNames();
}

void InfectionsPanel::RemoveSelected()
{
    const int selected = SelectedRow(lstVNa_);
    if (selected < 0)
        return;
    // Neither list keeps a selection afterwards; lblPav keeps its text.
    removing_ = true;
    delete lstVNa_.takeItem(selected);
    if (selected < lstVPt_.count())
        delete lstVPt_.takeItem(selected);
    lstVNa_.setCurrentRow(-1);
    lstVNa_.clearSelection();
    lstVPt_.setCurrentRow(-1);
    lstVPt_.clearSelection();
    removing_ = false;
    lstVNa_.viewport()->update();
    lstVPt_.viewport()->update();
}

void InfectionsPanel::cmdDel_Click()
{
    if (lblPav_.text().isEmpty()) {
        messages_.Exclamation(lblPav_.window(), QStringLiteral("Can't Delete"), QStringLiteral("No file is selected"));
        return;
    }
    const qirn::RemovalResult result = remover_(shown_);
    switch (result.status) {
    case qirn::RemovalResult::Status::Missing:
        return;
    case qirn::RemovalResult::Status::Deleted:
        RemoveSelected();
        return;
    case qirn::RemovalResult::Status::Replaced:
    case qirn::RemovalResult::Status::Changed:
    case qirn::RemovalResult::Status::Refused:
    case qirn::RemovalResult::Status::StillThere:
        messages_.Exclamation(lblPav_.window(), QStringLiteral("Can't Delete"),
            lblPav_.text() + QStringLiteral(" was not deleted: ") + QString::fromLocal8Bit(result.errorText.c_str()) +
                QLatin1Char('.'));
        return;
    }
}

void InfectionsPanel::cmdRem_Click()
{
    RemoveSelected();
}
