#include "ChildSteps.h"

#include <QSettings>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "FMain.h"

int RunChildStep(const QByteArray& step) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, qEnvironmentVariable("BIDBENCH_TEST_SETTINGS"));
    int status = 0;
    {
        FMain main;
        main.Load();
        main.show();
        if (!WaitUntil([&] { return !main.brwSnipe->busy() && !main.brwSnipe->locationAddress().isEmpty(); }))
            status = 2;
        if (step == "set-cookie") {
            main.brwSnipe->navigate("http://" + Addresses::CurrentHosts().serviceHost + "/setcookie");
            if (!WaitUntil([&] { return main.brwSnipe->locationAddress().endsWith("/setcookie") && !main.brwSnipe->busy(); }))
                status = 3;
        }
        main.close();
    }
    return status;
}
