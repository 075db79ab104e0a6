#include "Theme.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QMetaEnum>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace patrimonio {

namespace {

QByteArray resource(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// One "Role = #rrggbb" line per colour; "Disabled:Role = ..." for the disabled group.
QPalette paletteFrom(const QByteArray& text, const QPalette& base) {
    QPalette palette = base;
    const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) continue;
        QByteArray key = line.left(eq).trimmed();
        const QColor color = QColor::fromString(QLatin1StringView(line.mid(eq + 1).trimmed()));
        QPalette::ColorGroup group = QPalette::All;
        if (key.startsWith("Disabled:")) {
            group = QPalette::Disabled;
            key = key.mid(9);
        }
        bool ok = false;
        const int role = roles.keyToValue(key.constData(), &ok);
        if (!ok || !color.isValid()) continue;
        palette.setColor(group, static_cast<QPalette::ColorRole>(role), color);
    }
    return palette;
}

}  // namespace

bool applyTheme(QApplication& app, const QString& name) {
    const QByteArray paletteText = resource(QStringLiteral(":/themes/%1.palette").arg(name));
    if (paletteText.isEmpty()) return false;
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    QApplication::setPalette(paletteFrom(paletteText, app.style()->standardPalette()));
    app.setStyleSheet(QString::fromUtf8(resource(QStringLiteral(":/themes/%1.qss").arg(name))));
    return true;
}

void installFontSubstitutes() {
    // Condensed first: its widths are closest to the narrow Windows faces the layout expects.
    const QStringList substitutes{QStringLiteral("DejaVu Sans Condensed"),
                                  QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                  QStringLiteral("Arial")};
    QFont::insertSubstitutions(QStringLiteral("Trebuchet MS"), substitutes);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), substitutes);
}

}  // namespace patrimonio
