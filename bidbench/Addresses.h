// Every address Bidbench builds: the auction sites, the sniping service and
// the maker's site, plus the program's local files. Hosts and the support
// mailbox have defaults in code; an INI file beside the executable
// ("bidbench.ini", group [Hosts]) overrides any of them.
#pragma once

#include <QString>

namespace Addresses {

inline constexpr int kSiteCount = 7;

struct Hosts {
    QString siteHost[4];  // regional sites 1 to 4
    QString sitePagesHost;
    QString listingsHost;
    QString bidItemsHost;
    QString serviceHost;
    QString signupHost;
    QString makerHost;
    QString supportMailbox;
    QString site1Caption;  // menu caption of site 1, with its accelerator
};

// The hosts in force: the defaults, overridden by the INI file of the
// program's folder. Read once.
const Hosts& CurrentHosts();
// Reads the defaults and the overrides of an INI file (for tests).
Hosts LoadHosts(const QString& iniPath);

QString ProgramFolder();

// The menu caption of site 1 to 7.
QString SiteCaption(int index);
// The start address of site 1 to 7; empty for any other index.
QString SiteStartAddress(int index);
QString SellerListingsAddress(const QString& sUserID);
QString BidderItemsAddress(const QString& sUserID);
// The item number goes as typed: blanks are kept, as %20, so that the
// browser does not trim them off the address.
QString SnipeAddress(const QString& sItem);
// Whether two addresses name the same page ("http://host" and "http://host/").
bool SameAddress(const QString& a, const QString& b);
QString ServiceNewsAddress();
QString SignupAddress();
QString ServiceHomeAddress();
QString MakerLinkAddress();     // the link with the query "?bidbench"
QString MakerTarnbidAddress();
QString MakerSiteAddress();
QString VersionPageAddress();
QString FeedbackMailAddress();
QString HelpContentsPath();
QString UpdaterPath();
QString SellersListPath();
QString BiddersListPath();

}  // namespace Addresses
