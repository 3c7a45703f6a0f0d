#include <QApplication>

#include "app/Startup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return pixavant::runDesktop(app, app.arguments().mid(1));
}
