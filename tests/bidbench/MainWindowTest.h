// Tests of the main window against the fake sites: the window as a user
// who has answered the start screen before finds it, and when a browser has
// finished loading a page.
#pragma once

#include <memory>

#include "BidbenchTestSupport.h"
#include "Browser.h"
#include "FMain.h"
#include "SettingsStore.h"

class MainWindowTest : public BidbenchTest {
protected:
    // The main window loaded, shown and active, without the start screen.
    static std::unique_ptr<FMain> StartMainWindow() {
        SettingsStore::Write("StartScreen", "N");
        auto main = std::make_unique<FMain>();
        main->Load();
        ShowActive(main.get());
        return main;
    }
    // Whether `browser` shows an address ending in `suffix` and is done loading it.
    static bool Loaded(Browser* browser, const QString& suffix) {
        return browser->locationAddress().endsWith(suffix) && !browser->busy();
    }
};
