#include <QApplication>

#include "window/widget.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Widget window;
    window.setFixedSize(339, 339);
    window.show();
    return app.exec();
}
