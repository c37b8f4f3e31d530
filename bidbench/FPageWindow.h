// The window for pages that ask for one of their own (sign-in, payment and
// seller pages opened by a link with a target, a script or a middle click):
// each such page is a tab, with a close button and Ctrl+W; closing the last
// tab closes the window.
#pragma once

#include <QMainWindow>

class Browser;
class QLabel;
class QTabWidget;

class FPageWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit FPageWindow(QWidget* parent);

    // Takes the browser (and its page) into a new tab, shown unless it
    // was asked for in the background.
    void AddPage(Browser* browser, bool inBackground);
    void ClosePage(int index);
    int PageCount() const;
    Browser* PageAt(int index) const;

    QTabWidget* tabPages;
    QLabel* sbStatus;

private:
    int IndexOf(const Browser* browser) const;
    void ShowTitles();
};
