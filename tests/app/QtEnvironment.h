#pragma once
// One application object for the whole test executable, set up as the program sets itself up.

#include <QString>
#include <QStringList>

#include "QStringPrinter.h"

namespace patrimonio::test {

// Texts the default error dialog would have shown since the last call, oldest first.
QStringList takeErrorDialogs();

}  // namespace patrimonio::test
