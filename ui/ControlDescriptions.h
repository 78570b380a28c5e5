#pragma once

class QWidget;

// Gives every control of the main window an accessible name and a
// description, so that a screen reader says what each one is and does.
void DescribeControls(QWidget& form);
