#pragma once
// One application object for the whole test executable, set up as the program sets itself up.

#include <QString>
#include <QStringList>

namespace patrimonio::test {

// Texts the default error dialog would have shown since the last call, oldest first.
QStringList takeErrorDialogs();

}  // namespace patrimonio::test

// Readable QString values in test failure messages.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
