#pragma once
// The visual themes stored inside the program. The window uses "Light".

#include <QString>

class QApplication;

namespace patrimonio {

// Applies the Fusion style with the theme's palette and style sheet, both read from the
// program's resources (:/themes/<name>.palette and :/themes/<name>.qss). Returns false, leaving
// the platform's look, when the theme is not there.
bool applyTheme(QApplication& app, const QString& name);

// Makes the fonts the window is laid out in (Trebuchet MS, Tahoma) fall back to a close
// installed family on systems that lack them.
void installFontSubstitutes();

}  // namespace patrimonio
