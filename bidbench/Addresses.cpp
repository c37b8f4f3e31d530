#include "Addresses.h"

#include <QUrl>
#include <QUrlQuery>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include "UserPlaces.h"

namespace Addresses {

namespace {

Hosts DefaultHosts() {
    Hosts hosts;
    hosts.siteHost[0] = "www.ebay.com";
    hosts.siteHost[1] = "www.ebay.ca";
    hosts.siteHost[2] = "www.ebay.co.uk";
    hosts.siteHost[3] = "www.ebay.com.au";
    hosts.sitePagesHost = "pages.ebay.com";
    hosts.listingsHost = "cgi6.ebay.com";
    hosts.bidItemsHost = "cgi.ebay.com";
    hosts.serviceHost = "www.tarnbid.com";
    hosts.signupHost = "signup.tarnbid.com";
    hosts.makerHost = "www.tarnscope.com";
    hosts.supportMailbox = "support@tarnscope.com";
    hosts.site1Caption = "&eBay.com";
    return hosts;
}

QString Http(const QString& host) { return "http://" + host; }

}  // namespace

Hosts LoadHosts(const QString& iniPath) {
    Hosts hosts = DefaultHosts();
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.beginGroup("Hosts");
    auto read = [&](const char* key, QString* value) { *value = ini.value(key, *value).toString(); };
    for (int i = 0; i < 4; ++i) read(qPrintable(QString("SiteHost%1").arg(i + 1)), &hosts.siteHost[i]);
    read("SitePagesHost", &hosts.sitePagesHost);
    read("ListingsHost", &hosts.listingsHost);
    read("BidItemsHost", &hosts.bidItemsHost);
    read("ServiceHost", &hosts.serviceHost);
    read("SignupHost", &hosts.signupHost);
    read("MakerHost", &hosts.makerHost);
    read("SupportMailbox", &hosts.supportMailbox);
    read("Site1Caption", &hosts.site1Caption);
    return hosts;
}

const Hosts& CurrentHosts() {
    static const Hosts hosts = LoadHosts(UserPlaces::HostsFilePath());
    return hosts;
}

QString ProgramFolder() { return QCoreApplication::applicationDirPath(); }

QString SiteCaption(int index) {
    static const char* const kCaptions[] = {nullptr,         "eBay &Canada",      "eBay &UK",    "eBay &Australia",
                                            "eBay &Ireland", "eBay &New Zealand", "eBay &Motors"};
    if (index == 1) return CurrentHosts().site1Caption;
    return index >= 2 && index <= kSiteCount ? QString(kCaptions[index - 1]) : QString();
}

QString SiteStartAddress(int index) {
    const Hosts& hosts = CurrentHosts();
    switch (index) {
        case 1:
        case 2:
        case 3:
        case 4:
            return Http(hosts.siteHost[index - 1]);
        case 5:
            return Http(hosts.sitePagesHost) + "/ie/index.html";
        case 6:
            return Http(hosts.sitePagesHost) + "/nz/index.html";
        case 7:
            return Http(hosts.sitePagesHost) + "/ebaymotors/index.html";
        default:
            return {};
    }
}

namespace {
// A user ID as one query value: "a&b" must not end the value at "a", nor
// "x#y" at "x", nor a blank end the address.
QString QueryValue(const QString& sText) { return QString::fromLatin1(QUrl::toPercentEncoding(sText)); }
}  // namespace

QString SellerListingsAddress(const QString& sUserID) {
    return Http(CurrentHosts().listingsHost) +
           "/aw-cgi/eBayISAPI.dll?MfcISAPICommand=ViewListedItems&userid=" + QueryValue(sUserID) +
           "&include=0&since=-1&sort=2&rows=25";
}

QString BidderItemsAddress(const QString& sUserID) {
    return Http(CurrentHosts().bidItemsHost) +
           "/aw-cgi/eBayISAPI.dll?MfcISAPICommand=ViewBidItems&userid=" + QueryValue(sUserID) +
           "&completed=0&all=1&rows=25";
}

QString SnipeAddress(const QString& sItem) {
    return Http(CurrentHosts().serviceHost) + "/secure/login.cfm?item_number=" + QString(sItem).replace(u' ', "%20");
}

QString ItemNumber(const QString& sAddress) {
    // Read from the parsed query, so that "sortitem=" or "item=" in a path
    // or fragment is never taken for the item.
    const QStringList values = QUrlQuery(QUrl(sAddress)).allQueryItemValues("item", QUrl::FullyDecoded);
    if (values.isEmpty() || values.count(values.first()) != values.size()) return {};
    return IsItemNumber(values.first()) ? values.first() : QString();
}

bool IsItemNumber(const QString& sText) {
    if (sText.isEmpty()) return false;
    for (const QChar c : sText)
        if (c < u'0' || c > u'9') return false;
    return true;
}

bool IsAddress(const QString& sText) {
    const QString text = sText.trimmed();
    if (text.isEmpty()) return false;
    // With a scheme the text is taken as written; without one, as a user
    // types it ("example.com" is http).
    const QUrl url = text.contains(QStringLiteral("://")) ? QUrl(text, QUrl::TolerantMode) : QUrl::fromUserInput(text);
    if (!url.isValid() || url.scheme().isEmpty()) return false;
    const bool network = url.scheme() == "http" || url.scheme() == "https" || url.scheme() == "ftp";
    return !network || (!url.host().isEmpty() && !url.host().contains(u' '));
}

bool SameAddress(const QString& a, const QString& b) {
    if (a == b) return true;
    const auto plain = [](const QString& text) {
        QUrl url(text);
        if (url.path().isEmpty()) url.setPath("/");  // "http://host" is "http://host/"
        return url.adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
    };
    const QUrl first = plain(a);
    return first.isValid() && first == plain(b);
}

QString ServiceNewsAddress() { return Http(CurrentHosts().serviceHost) + "/secure/news.cfm"; }
QString SignupAddress() { return Http(CurrentHosts().signupHost) + "/signup.cfm"; }
QString ServiceHomeAddress() { return Http(CurrentHosts().serviceHost) + "/secure/news.cfm?"; }
QString MakerLinkAddress() { return Http(CurrentHosts().makerHost) + "?bidbench"; }
QString MakerTarnbidAddress() { return Http(CurrentHosts().makerHost) + "/Tarnbid.html"; }
QString MakerSiteAddress() { return Http(CurrentHosts().makerHost); }
QString VersionPageAddress() { return Http(CurrentHosts().makerHost) + "/bidbench/BidbenchVersion.html"; }
QString FeedbackMailAddress() { return "mailto:" + CurrentHosts().supportMailbox + "?subject=Shunlist%201.0"; }

QString UpdaterPath() { return ProgramFolder() + "/Refresher"; }

}  // namespace Addresses
