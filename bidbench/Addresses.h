// Every address Bidbench builds: the auction sites, the sniping service and
// the maker's site, plus the program's local files. Hosts and the support
// mailbox have defaults in code; the hosts file ("bidbench.ini", group
// [Hosts], see UserPlaces::HostsFilePath) overrides any of them.
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

// The hosts in force: the defaults, overridden by the hosts file. Read once.
const Hosts& CurrentHosts();
// Reads the defaults and the overrides of an INI file (for tests).
Hosts LoadHosts(const QString& iniPath);

QString ProgramFolder();

// The menu caption of site 1 to 7.
QString SiteCaption(int index);
// The start address of site 1 to 7; empty for any other index.
QString SiteStartAddress(int index);
// A user's pages; the ID goes percent-encoded, as one query value.
QString SellerListingsAddress(const QString& sUserID);
QString BidderItemsAddress(const QString& sUserID);
// The item number goes as given: blanks are kept, as %20, so that the
// browser does not trim them off the address.
QString SnipeAddress(const QString& sItem);
// The auction item a page's address shows: the value of its query
// parameter named exactly "item", when that is digits only; empty when the
// address names no item, or names two different ones.
QString ItemNumber(const QString& sAddress);
// Whether a text is an item number: one or more of the digits 0 to 9.
bool IsItemNumber(const QString& sText);
// Whether typed text can be loaded as an address: "example.com/page",
// "http://host:8080/", "about:blank"; not "two words" or "http://a b/".
bool IsAddress(const QString& sText);
// Whether two addresses name the same page ("http://host" and "http://host/").
bool SameAddress(const QString& a, const QString& b);
QString ServiceNewsAddress();
QString SignupAddress();
QString ServiceHomeAddress();
QString MakerLinkAddress();  // the link with the query "?bidbench"
QString MakerTarnbidAddress();
QString MakerSiteAddress();
QString VersionPageAddress();
QString FeedbackMailAddress();
QString UpdaterPath();

}  // namespace Addresses
