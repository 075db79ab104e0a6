#pragma once
// What every benchmark's main() does alike: its arguments, a temporary folder holding its
// databases and the program's own folder, line-buffered output, and one place where a failure
// becomes a line on stderr and a non-zero exit.

#include <QString>
#include <functional>

#include "BenchArgs.h"
#include "TestDatabase.h"

namespace patrimonio::bench {

// The benchmark's temporary folder (shared with the server as the tests share theirs), removed
// at the end, and the program's folder inside it, where the photo folders and the copies of the
// databases go.
class Workspace {
public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    // A path inside the folder; the folder itself when `name` is empty.
    QString path(const QString& name = {}) const { return folder_.path(name); }
    // A path of the program's own folder, and that folder itself when `name` is empty.
    QString programPath(const QString& name = {}) const;

private:
    test::TempFolder folder_;
};

using BenchBody = std::function<int(const Args&, Workspace&)>;

// Runs `body` in a workspace of its own with line-buffered output; a failure of any kind ends
// it with "`name`: what happened" on stderr and exit status 1. The caller makes the application.
int runBench(const char* name, const Args& args, const BenchBody& body);

// The same with a QCoreApplication: main() of a benchmark without a window.
int benchMain(int argc, char** argv, const char* name, const BenchBody& body);

}  // namespace patrimonio::bench
