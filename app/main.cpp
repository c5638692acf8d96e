#include <QApplication>

#include <csignal>

#include "window/widget.h"

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // Under a file-size limit a recording's writes fail instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    Widget window;
    window.setFixedSize(339, 339);
    window.show();
    return app.exec();
}
