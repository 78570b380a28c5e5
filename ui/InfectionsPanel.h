#pragma once

// The Infections panel's behaviour: lstVNa and lstVPt kept in step, lblPav
// showing the selected hit, "Delete" and "Remove from list".

#include "engine/remedy/FileRemoval.h"

#include <QObject>

#include <filesystem>
#include <functional>

class MessageBoxes;
class QLabel;
class QListWidget;
class QPushButton;

class InfectionsPanel final : public QObject {
    Q_OBJECT

public:
    using Remover = std::function<qirn::RemovalResult(const qirn::DetectedFile&)>;

    InfectionsPanel(QListWidget& lstVNa, QListWidget& lstVPt, QLabel& lblPav, QPushButton& cmdDel, QPushButton& cmdRem,
        MessageBoxes& messages, Remover remover = qirn::RemoveDetectedFile);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Event handlers, named after their control and event.
    void lstVNa_Click();
    void lstVNa_Scroll();
    void cmdDel_Click();
    void cmdRem_Click();

private:
    void FollowNames();
    void RemoveSelected();

    QListWidget& lstVNa_;
    QListWidget& lstVPt_;
    QLabel& lblPav_;
    MessageBoxes& messages_;
    Remover remover_;
    // The hit lblPav shows: its native path, and the identity and digest of the file found.
    qirn::DetectedFile shown_;
    bool removing_ = false;
};
