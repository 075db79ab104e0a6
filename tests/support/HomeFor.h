#pragma once
// HOME for the length of a test: the operator's own folder of the program's files is made
// inside it.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace patrimonio::test {

class HomeFor {
public:
    explicit HomeFor(const QString& home) : old_(qgetenv("HOME")) {
        qputenv("HOME", home.toUtf8());
    }
    ~HomeFor() { qputenv("HOME", old_); }
    HomeFor(const HomeFor&) = delete;
    HomeFor& operator=(const HomeFor&) = delete;

private:
    QByteArray old_;
};

}  // namespace patrimonio::test
