#include "ChildSteps.h"

#include <QSettings>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "FMain.h"
#include "MainParts.h"

int RunChildStep(const QByteArray& step) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, qEnvironmentVariable("BIDBENCH_TEST_SETTINGS"));
    int status = 0;
    {
        FMain main;
        main.Load();
        main.show();
        if (!WaitUntil([&] { return !Ui(main).brwSnipe->busy() && !Ui(main).brwSnipe->locationAddress().isEmpty(); }))
            status = 2;
        if (step == "set-cookie") {
            Ui(main).brwSnipe->navigate("http://" + Addresses::CurrentHosts().serviceHost + "/setcookie");
            if (!WaitUntil([&] {
                    return Ui(main).brwSnipe->locationAddress().endsWith("/setcookie") && !Ui(main).brwSnipe->busy();
                }))
                status = 3;
        }
        main.close();
    }
    return status;
}
