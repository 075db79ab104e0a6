#pragma once
// The application object: an error that leaves any event handler ends up in the default error
// dialog instead of ending the program.

#include <QApplication>

namespace patrimonio {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace patrimonio
