#include "BenchDatabases.h"

#include <firebird/Interface.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <memory>
#include <stdexcept>
#include <vector>

#include "TestDatabase.h"

using namespace Firebird;

namespace patrimonio::bench {

DatabasePair makeDatabasePair(const QString& folder, const QString& name, SourceView view) {
    const QDir dir(folder);
    const QByteArray schema = test::fixtureFile("schema.sql");
    DatabasePair pair{dir.filePath(name + QStringLiteral("-origem.fdb")),
                      dir.filePath(name + QStringLiteral("-destino.fdb"))};
    test::createDatabase(pair.source, view == SourceView::With
                                          ? schema + test::fixtureFile("source-view.sql")
                                          : schema);
    test::createDatabase(pair.target, schema);
    return pair;
}

void generateRegister(const QStringList& args) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::ForwardedChannels);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(-1) || gen.exitCode() != 0) throw std::runtime_error("generator");
}

double bareCopy(const DatabasePair& pair, const QByteArray& columns, const QByteArray& table,
                Commits commits) {
    IMaster* master = fb_get_master_interface();
    const std::unique_ptr<IStatus, void (*)(IStatus*)> status(master->getStatus(),
                                                              [](IStatus* s) { s->dispose(); });
    ThrowStatusWrapper st(status.get());
    auto attach = [&](const QString& path) {
        IXpbBuilder* dpb =
            master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&st, isc_dpb_password, test::kPassword.toUtf8().constData());
        const QByteArray db = (test::kServerPrefix + path).toUtf8();
        IProvider* prov = master->getDispatcher();
        IAttachment* att = prov->attachDatabase(&st, db.constData(), dpb->getBufferLength(&st),
                                                dpb->getBuffer(&st));
        dpb->dispose();
        prov->release();
        return att;
    };
    IAttachment* src = attach(pair.source);
    IAttachment* dst = attach(pair.target);
    QElapsedTimer timer;
    timer.start();
    ITransaction* rtra = src->startTransaction(&st, 0, nullptr);
    const QByteArray select = "SELECT " + columns + " FROM " + table;
    IStatement* sel = src->prepare(&st, rtra, 0, select.constData(), 3, 0);
    IMessageMetadata* meta = sel->getOutputMetadata(&st);
    std::vector<unsigned char> buffer(meta->getMessageLength(&st));
    const int n = columns.count(',') + 1;
    const QByteArray insert = "INSERT INTO " + table + " (" + columns + ") VALUES (" +
                              QByteArray("?, ").repeated(n).chopped(2) + ")";
    ITransaction* wtra = dst->startTransaction(&st, 0, nullptr);
    IStatement* ins = dst->prepare(&st, wtra, 0, insert.constData(), 3, 0);
    IResultSet* rs = sel->openCursor(&st, rtra, nullptr, nullptr, meta, 0);
    int j = 0;
    while (rs->fetchNext(&st, buffer.data()) == IStatus::RESULT_OK) {
        if (!wtra) wtra = dst->startTransaction(&st, 0, nullptr);
        ins->execute(&st, wtra, meta, buffer.data(), nullptr, nullptr);
        if (commits == Commits::EveryRow || j % 500 == 0) {
            wtra->commit(&st);
            wtra = nullptr;
        }
        ++j;
    }
    if (wtra) wtra->commit(&st);
    rs->close(&st);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    ins->free(&st);
    sel->free(&st);
    meta->release();
    rtra->commit(&st);
    src->detach(&st);
    dst->detach(&st);
    return seconds;
}

}  // namespace patrimonio::bench
