#include <QApplication>

#include "app/application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    pandrel::Application program(pandrel::ProgramFoldersFor(
        pandrel::RunDirectory(), pandrel::UserEnvironmentOfThisProcess()));
    program.Start();
    return QApplication::exec();
}
