// Bidbench: creates the main window, runs its start-up and shows it; the
// program ends when the main window closes.
#include <QApplication>

#include "FMain.h"
#include "SettingsStore.h"

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Bidbench");
    QApplication::setOrganizationName("Tarnbid");
    QApplication::setApplicationDisplayName(SettingsStore::kProgramTitle);
    FMain main;
    main.Load();
    main.show();
    return app.exec();
}
