// Lists of auction-site user IDs (favourite sellers, favourite bidders):
// insertion order, each ID at most once with letter case ignored.
#pragma once

#include <QHash>
#include <QString>
#include <QVector>
#include <memory>

class CUserIDs;

// One user ID, exactly as it was added.
class CUserID {
public:
    const QString& UserID() const { return mUserID; }

private:
    friend class CUserIDs;
    void setUserID(const QString& sUserID) { mUserID = sUserID; }
    QString mUserID;
};

class CUserIDs {
public:
    using Entry = std::shared_ptr<CUserID>;

    // Appends the ID unless the list holds it already (letter case
    // ignored); returns the new entry, or null when it was present.
    Entry Add(const QString& sUserID);
    // Removes the ID (letter case ignored); throws std::invalid_argument
    // when the list does not hold it.
    void Remove(const QString& sUserID);
    int Count() const { return static_cast<int>(mEntries.size()); }
    // The entry that holds the ID (letter case ignored); null when none does.
    Entry Find(const QString& sUserID) const { return mByKey.value(Key(sUserID)); }
    // Gives an entry another ID in its place in the list; false, changing
    // nothing, when another entry holds the new ID (letter case ignored).
    bool Rename(const QString& sUserID, const QString& sNewUserID);

    // Enumeration in insertion order.
    QVector<Entry>::const_iterator begin() const { return mEntries.begin(); }
    QVector<Entry>::const_iterator end() const { return mEntries.end(); }

    // Adds the IDs of a string separated by space characters (only
    // character 32 separates); existing entries stay.
    void LoadFromSpaceDelimitedString(const QString& sUserIDs);
    // Every ID followed by one space, in list order.
    QString CreateIDString() const;
    // Adds every bidder a bid-history page names, in order of first
    // occurrence; existing entries stay.
    void LoadFromBidderPage(const QString& sBiddersPage);

private:
    static QString Key(const QString& sUserID) { return sUserID.toCaseFolded(); }

    QVector<Entry> mEntries;
    QHash<QString, Entry> mByKey;
};
