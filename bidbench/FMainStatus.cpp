// The main window's caption and status: the date panel, the busy caption
// and the busy animation.
#include "FMain.h"

#include <algorithm>

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QTabWidget>
#include <QTimer>

#include "FMainShared.h"
#include "StarImages.h"

using namespace FMainShared;

void FMain::SetCaption(const QString& sLocation) { setWindowTitle(kTitle + " > " + sLocation); }

// ---- timers -------------------------------------------------------------------------------------

void FMain::ShowDate() {
    const QDateTime now = QDateTime::currentDateTime();
    sbPanel3->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
    const QDateTime midnight(now.date().addDays(1), QTime(0, 0));
    timDate->start(static_cast<int>(std::clamp<qint64>(now.msecsTo(midnight) + 1000, 1000, 24 * 3600 * 1000)));
}

void FMain::BusyCaptionTick() {
    if (brwAuction->busy()) {
        SetCaption("Working...");
        return;
    }
    timTimer->stop();
    if (!v_bSnipeTabActive) IgnoringErrors([this] { SetCaption(brwAuction->locationName()); });
}

void FMain::StarTick() {
    if (++v_iStarFrame >= 7) v_iStarFrame = 1;
    const bool large = LabelsShown();
    Browser* watched = SSTab1->currentIndex() == 0 ? brwSnipe : brwAuction;
    if (watched->busy())
        ShowStar(v_iStarFrame, large);
    else if (!(mShownFrame == StarImages::kIdleFrame && mShownLarge == large))
        ShowStar(StarImages::kIdleFrame, large);
}

void FMain::ShowStar(int frame, bool large) {
    mShownFrame = frame;
    mShownLarge = large;
    picSnipe->setPixmap(StarImages::Frame(frame, large));
}
