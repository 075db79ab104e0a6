// Connects to one database the way a database field does and prints why it failed, so that a
// test can make the attempt as another user, with another lock folder, in a process of its
// own (the engine reads its lock folder once per process).
//   connect_attempt DATABASE     prints "connected", or the failure's kind and its text
#include <QCoreApplication>
#include <cstdio>

#include "db/ConnectFailure.h"
#include "db/Connection.h"

int main(int argc, char* argv[]) {
    using namespace patrimonio;
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: connect_attempt DATABASE\n");
        return 2;
    }
    const QString database = QString::fromLocal8Bit(argv[1]);
    Connection con(QStringLiteral("Con_Novo"));
    con.Params = Connection::editParams(database);
    con.LoginPrompt = false;
    try {
        con.Open();
        std::printf("connected\n");
        return 0;
    } catch (const DatabaseError& e) {
        const ConnectFailure why = explainConnectFailure(e, database);
        std::printf("%d\n%s\n", static_cast<int>(why.kind), why.text().toUtf8().constData());
        return 1;
    }
}
