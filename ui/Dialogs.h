// The window's standard modal boxes: the information box titled with the application's
// title, the "Confirmation" box ("&Oui" by default, "&Non" on Escape), and the box of the
// application's handler of unhandled errors (error icon, a full stop added to the text).
#pragma once

#include <QString>

class QWidget;

QString ApplicationTitle();
void ShowInformation(QWidget* parent, const QString& text);
// True only when the answer is "&Oui". A warning shows its icon and makes "&Non" the
// default, for questions where the safe answer is no.
bool Confirm(QWidget* parent, const QString& text, bool warning = false);
void ShowApplicationError(QWidget* parent, const QString& message);
