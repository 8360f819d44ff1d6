#include <QApplication>

#include "app/application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    pandrel::Application program(pandrel::RunDirectory());
    program.Start();
    return QApplication::exec();
}
