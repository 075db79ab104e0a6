#pragma once
// The main window over real registers on the test server, for faults that happen during a run.

#include <QStringList>

#include "WindowFixture.h"

namespace patrimonio::test {

struct Register {
    QString source;
    QString target;
};

class FaultWindow : public WindowFixture {
protected:
    // A source register (with its view) holding `assets` assets, with or without photos, and
    // the usual small amounts of everything else; the target holds only its organs and units.
    Register makeRegister(int assets, bool photos);

    // Chooses both databases in import mode, as the operator does; they connect at once.
    void chooseForImport(const Register& r);
    // Ticks the mode box and chooses the photo database by its bare path.
    void chooseForPhotos(const QString& path);

    // Rows of a query on a database through the server, and a single number.
    static int number(const QString& path, const QString& sql);
    static int count(const QString& path, const QString& table);
    // Assets that have a photo (not null and not empty).
    static int withPhoto(const QString& path);

    // The completion message was shown (with or without its note about refused rows).
    bool completed() const;
    // The window is back in the operator's hands after a run.
    void expectWindowGivenBack() const;
};

// Runs generate_register with the arguments; throws when it fails.
void generateRegister(const QStringList& args);

}  // namespace patrimonio::test
