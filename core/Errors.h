#pragma once
// The one family of errors of the program. What() carries the text the operator reads.

#include <QString>
#include <stdexcept>

namespace patrimonio {

// Base of every error the program raises on purpose; the message is shown as it stands
// (the window's error dialog adds the closing full stop where needed).
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const noexcept { return message_; }

private:
    QString message_;
};

// Ends an event handler without any dialog.
class SilentAbort : public AppError {
public:
    SilentAbort() : AppError(QStringLiteral("Operation aborted")) {}

protected:
    explicit SilentAbort(const QString& message) : AppError(message) {}
};

// A run stopped at the operator's request at a point where nothing is half written; the
// message says where, for the log view. No error dialog shows it.
class RunStopped : public SilentAbort {
public:
    explicit RunStopped(const QString& where) : SilentAbort(where) {}
};

// An error reported by the Firebird client or server, with the server's text and SQLSTATE.
class DatabaseError : public AppError {
public:
    DatabaseError(const QString& message, const QString& sqlState = {}, long gdsCode = 0,
                  bool connectionLost = false)
        : AppError(message),
          sqlState_(sqlState),
          gdsCode_(gdsCode),
          connectionLost_(connectionLost) {}
    const QString& sqlState() const noexcept { return sqlState_; }
    long gdsCode() const noexcept { return gdsCode_; }
    // The attachment is gone (server stopped, network lost, attachment shut down): nothing
    // more can be done on it.
    bool connectionLost() const noexcept { return connectionLost_; }

private:
    QString sqlState_;
    long gdsCode_;
    bool connectionLost_;
};

}  // namespace patrimonio
