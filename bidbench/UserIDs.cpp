#include "UserIDs.h"

#include <stdexcept>

CUserIDs::Entry CUserIDs::Add(const QString& sUserID) {
    const QString key = Key(sUserID);
    if (mByKey.contains(key)) return nullptr;
    auto entry = std::make_shared<CUserID>();
    entry->setUserID(sUserID);
    mEntries.append(entry);
    mByKey.insert(key, entry);
    return entry;
}

void CUserIDs::Remove(const QString& sUserID) {
    const Entry entry = mByKey.take(Key(sUserID));
    if (!entry) throw std::invalid_argument("user ID not in the list");
    mEntries.removeOne(entry);
}

bool CUserIDs::Rename(const QString& sUserID, const QString& sNewUserID) {
    const Entry entry = Find(sUserID);
    const Entry holder = Find(sNewUserID);
    if (!entry || (holder && holder != entry)) return false;
    mByKey.remove(Key(sUserID));
    entry->setUserID(sNewUserID);
    mByKey.insert(Key(sNewUserID), entry);
    return true;
}

void CUserIDs::LoadFromSpaceDelimitedString(const QString& sUserIDs) {
    qsizetype first = 0, last = sUserIDs.size();
    while (first < last && sUserIDs[first] == u' ') ++first;
    while (last > first && sUserIDs[last - 1] == u' ') --last;
    const QString trimmed = sUserIDs.mid(first, last - first);
    if (!trimmed.contains(u' ')) {
        Add(trimmed);  // even when empty
        return;
    }
    // Positions are full-size here: strings of any length load completely.
    qsizetype position = 0;
    while (position <= trimmed.size()) {
        qsizetype space = trimmed.indexOf(u' ', position);
        if (space < 0) space = trimmed.size();
        if (space > position) Add(trimmed.mid(position, space - position));
        position = space + 1;
    }
}

QString CUserIDs::CreateIDString() const {
    QString result;
    for (const Entry& entry : mEntries) result += entry->UserID() + u' ';
    return result;
}

void CUserIDs::LoadFromBidderPage(const QString& sBiddersPage) {
    static const QString kMarker = QStringLiteral("Email&amp;requested=");
    const qsizetype table = sBiddersPage.indexOf(QStringLiteral("40%"));
    if (table < 0) return;
    qsizetype marker = sBiddersPage.indexOf(kMarker, table);
    while (marker >= 0) {
        const qsizetype start = marker + kMarker.size();
        const qsizetype end = sBiddersPage.indexOf(QStringLiteral("&amp"), start);
        if (end < 0) return;
        Add(sBiddersPage.mid(start, end - start));
        marker = sBiddersPage.indexOf(kMarker, end);
    }
}
