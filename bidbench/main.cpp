// Bidbench: creates the main window, runs its start-up and shows it; the
// program ends when the main window closes.
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>

#include "Addresses.h"
#include "FMain.h"
#include "SettingsStore.h"
#include "SingleInstance.h"
#include "UserPlaces.h"

int main(int argc, char** argv) {
    // The browser engine's sandbox cannot run as root; without it the
    // engine refuses to start there.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Bidbench");
    QApplication::setOrganizationName("Tarnbid");
    // No display name: the platform would add it to every window title,
    // which already names the program ("Tarnbid Bidbench > page").
    SingleInstance instance(SingleInstance::UserKey());
    if (!instance.BecomeFirst()) {
        if (instance.AskFirstToShow()) return 0;
        QMessageBox::warning(nullptr, SettingsStore::kProgramTitle,
                             "Bidbench is already running for you, but does not answer.\n"
                             "Close it, or end it, before you start Bidbench again.");
        return 1;
    }
    FMain main;
    QObject::connect(&instance, &SingleInstance::showRequested, &main,
                     [&main] { SingleInstance::BringToFront(&main); });
    // Lists an older Bidbench kept beside the program move to the user's
    // data folder, once; one that cannot move is read where it is.
    const auto failures = UserPlaces::MoveOldLists(Addresses::ProgramFolder(), UserPlaces::DataFolder());
    for (const UserPlaces::FailedMove& failed : failures)
        QMessageBox::warning(&main, SettingsStore::kProgramTitle,
                             "The list " + failed.from + " could not be moved to " + failed.to + ": " + failed.error +
                                 "\nBidbench reads it where it is.");
    main.Load();
    main.show();
    return app.exec();
}
