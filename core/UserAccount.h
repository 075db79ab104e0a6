#pragma once
// Who runs the program, as the operating system sees it. The one place that knows how users
// and file owners are told apart on each system.

#include <QString>

namespace patrimonio {

// The login name of the user running the program.
QString currentUserName();

// The path exists and belongs to a user other than the one running the program. Where the
// system does not say who owns a file (Windows), false: its folder rights are tried instead.
bool ownedByAnotherUser(const QString& path);

// Gives `file` the group that owns `model`, so that whoever reached the model through its
// group (a Firebird server running as its own user) reaches the file too. True when the file
// has that group now; where the system has no owning groups (Windows), true.
bool giveGroupOf(const QString& model, const QString& file, QString* why = nullptr);

}  // namespace patrimonio
