// A fixture for the main window's logic: FMain loaded with fake browsers,
// past its start screen, on a fresh settings store.
#pragma once

#include <QAction>
#include <memory>

#include "BidbenchTestSupport.h"
#include "FMain.h"
#include "FakeBrowser.h"
#include "SettingsStore.h"
#include "MainParts.h"

class FakeWindowTest : public BidbenchTest {
protected:
    void SetUp() override {
        BidbenchTest::SetUp();
        SettingsStore::Write("StartScreen", "N");
        main = std::make_unique<FMain>([](QWidget* parent) -> Browser* { return new FakeBrowser(parent); });
        main->Load();
        snipe = static_cast<FakeBrowser*>(Ui(*main).brwSnipe);
        auction = static_cast<FakeBrowser*>(Ui(*main).brwAuction);
    }
    // A menu entry by its control name.
    QAction* Action(const char* name) { return main->findChild<QAction*>(name); }

    std::unique_ptr<FMain> main;
    FakeBrowser* snipe = nullptr;
    FakeBrowser* auction = nullptr;
};
