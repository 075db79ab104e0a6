#pragma once
// A benchmark's command line.

#include <QString>

namespace patrimonio::bench {

// The command line, read by position: argv[1] is position 1.
class Args {
public:
    Args(int argc, char** argv) : argc_(argc), argv_(argv) {}
    int count() const { return argc_ - 1; }
    // The number at `position`, or `fallback` when it is not given.
    int number(int position, int fallback) const;
    // The text at `position`, or an empty one.
    QString text(int position) const;
    // Whether the word at `position` is `word`.
    bool is(int position, const char* word) const;
    const char* program() const { return argv_[0]; }
    char** argv() const { return argv_; }

private:
    int argc_;
    char** argv_;
};

}  // namespace patrimonio::bench
