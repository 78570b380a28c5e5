#pragma once

#include <QLabel>

// A label that acts as a link: underlined, with the hand pointer, and a click
// when the left button is pressed and released over it. It takes focus with
// Tab, acts on Enter or Space, and tells assistive technology that it is a
// link that can be pressed.
class LinkLabel : public QLabel {
    Q_OBJECT

public:
    LinkLabel(const QString& text, QWidget* parent);

    // What a click does, when the label is enabled.
    void Activate();

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool pressed_ = false;
};
