#include <QScreen>

#include "app/Application.h"
#include "app/TFrmImportador.h"
#include "app/Theme.h"

int main(int argc, char* argv[]) {
    using namespace patrimonio;
    Application app(argc, argv);
    installFontSubstitutes();
    applyTheme(app, QStringLiteral("Light"));

    TFrmImportador FrmImportador;
    FrmImportador.setObjectName(QStringLiteral("FrmImportador"));
    FrmImportador.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
    if (const QScreen* screen = app.primaryScreen()) {
        QRect frame(QPoint(), FrmImportador.size());
        frame.moveCenter(screen->availableGeometry().center());
        FrmImportador.move(frame.topLeft());
    }
    FrmImportador.show();
    return app.exec();
}
