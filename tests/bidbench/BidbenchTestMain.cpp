// Runs the Bidbench tests in a QApplication under a display (xvfb-run), with
// a test HTTP server that every host of the program points at through the
// INI file beside the executable.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "BidbenchTestSupport.h"
#include "ChildSteps.h"

namespace {
TestHttpServer* gServer = nullptr;

void WriteHostsFile(const TestHttpServer& server) {
    QFile ini(QCoreApplication::applicationDirPath() + "/bidbench.ini");
    ini.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QString text = "[Hosts]\n";
    for (int i = 1; i <= 4; ++i) text += QString("SiteHost%1=%2\n").arg(i).arg(server.host(i));
    text += "SitePagesHost=" + server.host(5) + "\n";
    text += "ListingsHost=" + server.host(6) + "\n";
    text += "BidItemsHost=" + server.host(7) + "\n";
    text += "ServiceHost=" + server.host(8) + "\n";
    text += "SignupHost=" + server.host(9) + "\n";
    text += "MakerHost=" + server.host(10) + "\n";
    text += "SupportMailbox=help@example.invalid\n";
    ini.write(text.toUtf8());
}
}  // namespace

TestHttpServer* Server() { return gServer; }

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || QByteArray(argv[i]).startsWith("--gtest_list_tests");
    if (listing) {
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            "--disable-gpu --no-sandbox --disable-background-networking --disable-component-update --disable-sync");
    // The browser profile lives in a data folder of this run, shared with the
    // child processes that a test starts.
    QTemporaryDir dataHome;
    if (qEnvironmentVariableIsEmpty("BIDBENCH_TEST_CHILD")) qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsEmpty("BIDBENCH_TEST_CHILD")) return RunChildStep(qgetenv("BIDBENCH_TEST_CHILD"));
    TestHttpServer server;
    gServer = &server;
    WriteHostsFile(server);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    gServer = nullptr;
    return result;
}
