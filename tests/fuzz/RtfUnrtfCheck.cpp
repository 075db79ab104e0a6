// Writes the RTF document of each corpus file given on the command line (the same document the
// fuzz target checks), reads it back with Debian's unrtf --text and confirms that the text comes
// back: every run of characters that unrtf's text output can show (printable ASCII and Latin-1)
// must appear, in order. Characters it cannot show (outside Latin-1, or WIN1252's 0x80..0x9F) it
// replaces with '?' or drops, so they only separate the runs. Exit status 1 on any mismatch.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>

#include "RtfInput.h"
#include "RtfReader.h"
#include "app/RtfWriter.h"
#include "core/Text.h"

namespace {

bool shownByUnrtf(QChar c) {
    const char16_t u = c.unicode();
    return (u > 0x20 && u < 0x7F) || (u > 0xA0 && u <= 0xFF);
}

QStringList runsOf(const QString& text) {
    QStringList runs;
    QString current;
    for (const QChar c : text) {
        if (shownByUnrtf(c)) {
            current += c;
        } else if (!current.isEmpty()) {
            runs << current;
            current.clear();
        }
    }
    if (!current.isEmpty()) runs << current;
    return runs;
}

// unrtf's text output without the comment lines and rule it puts first.
QString unrtfBody(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("unrtf"), {QStringLiteral("--text"), path});
    if (!p.waitForFinished(60000)) return QStringLiteral("<unrtf did not finish>");
    const QString out = patrimonio::fromWin1252(p.readAllStandardOutput());
    const qsizetype rule = out.indexOf(QStringLiteral("\n-----"));
    if (rule < 0) return out;
    const qsizetype bodyStart = out.indexOf(u'\n', rule + 1);
    return bodyStart < 0 ? QString() : out.mid(bodyStart + 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QString rtfPath = folder.filePath(QStringLiteral("doc.rtf"));
    int checked = 0;
    int failed = 0;
    for (int a = 1; a < argc; ++a) {
        QFile input(QString::fromLocal8Bit(argv[a]));
        if (!input.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = input.readAll();
        const auto in = patrimonio::fuzz::rtfInput(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
        {
            QFile doc(rtfPath);
            doc.open(QIODevice::WriteOnly | QIODevice::Truncate);
            doc.write(patrimonio::rtfDocument(in.text, in.fontName, in.pixelSize));
        }
        const QString body = unrtfBody(rtfPath);
        qsizetype at = 0;
        bool ok = true;
        for (const QString& run : runsOf(patrimonio::fuzz::expectedRtfText(in.text))) {
            const qsizetype found = body.indexOf(run, at);
            if (found < 0) {
                std::printf("MISMATCH %s: \"%s\" not found in order\n", argv[a],
                            run.left(60).toUtf8().constData());
                ok = false;
                break;
            }
            at = found + run.size();
        }
        ++checked;
        if (!ok) ++failed;
    }
    std::printf("rtf_unrtf_check: %d documents, %d mismatches\n", checked, failed);
    return failed == 0 ? 0 : 1;
}
