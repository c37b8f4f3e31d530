#include "FAddUserID.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Help.h"

FAddUserID::FAddUserID(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Add a User ID to Favorites");
    Help::BindKey(this, Help::kAddUserID);
    lblUserID = new QLabel("&User ID:");
    txtUserID = new QLineEdit;
    txtUserID->setToolTip("Enter an eBay User ID to add to the favorites list.");
    lblUserID->setBuddy(txtUserID);
    cmdAdd = new QPushButton("&Add");
    cmdAdd->setToolTip("Add the User in the box above to the favorites list");
    cmdAdd->setDefault(true);
    cmdCancel = new QPushButton("&Cancel");
    cmdCancel->setToolTip("Close this box and return to the favorites list without adding a user.");

    auto* layout = new QGridLayout(this);
    layout->addWidget(lblUserID, 0, 0);
    layout->addWidget(txtUserID, 0, 1, 1, 2);
    layout->addWidget(cmdAdd, 1, 1);
    layout->addWidget(cmdCancel, 1, 2);

    connect(cmdAdd, &QPushButton::clicked, this, [this] {
        mEnteredID = txtUserID->text();
        accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}
