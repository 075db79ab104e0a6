#include "BenchMain.h"

#include <firebird/Interface.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "core/AppPaths.h"

namespace patrimonio::bench {

Workspace::Workspace() {
    setExecutableDirForTesting(programPath());
}

Workspace::~Workspace() {
    setExecutableDirForTesting({});
}

QString Workspace::programPath(const QString& name) const {
    const QString program = folder_.path(QStringLiteral("programa"));
    return name.isEmpty() ? program : program + u'/' + name;
}

int runBench(const char* name, const Args& args, const BenchBody& body) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        Workspace workspace;
        return body(args, workspace);
    } catch (const Firebird::FbException& e) {
        char text[1024];
        Firebird::fb_get_master_interface()->getUtilInterface()->formatStatus(text, sizeof text,
                                                                              e.getStatus());
        std::fprintf(stderr, "%s: %s\n", name, text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
    }
    return 1;
}

int benchMain(int argc, char** argv, const char* name, const BenchBody& body) {
    QCoreApplication app(argc, argv);
    return runBench(name, Args(argc, argv), body);
}

}  // namespace patrimonio::bench
