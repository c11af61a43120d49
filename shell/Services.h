// The vendor's addresses: help, forum, home page, support mail, the social pages, and the
// share links built from them. Read from Services.ini, so that an installation can point
// them elsewhere or switch single links off.
#pragma once

#include <QString>
#include <QUrl>

namespace restovo {

struct TVendorAddresses {
  QString HelpUrl;
  QString ForumUrl;
  QString HomeUrl;
  QString SupportEmail;    // an address, without "mailto:"
  QString ProductUrl;
  QString FacebookPage;    // the page's name, as in https://www.facebook.com/<name>
  QString TwitterAccount;  // the account's name, without "@"
  QString ChineseSite;
  QString TranslateUrl;
  QString WebAddress;      // shown in the about window
};

// The addresses built into the program: the reference services on loopback.
TVendorAddresses DefaultVendorAddresses();

// The Services.ini in effect: the one in `appDir`, else the one in `configDir`, else the
// default an installation into a prefix ships in `appDir`/../share/restovo/; each found in
// any letter case with the exact spelling preferred; empty when no folder has one.
QString ServicesIniPath(const QString& appDir, const QString& configDir);

// The addresses from section [Links] of ServicesIniPath(appDir, configDir), under the keys
// Help, Forum, Home, SupportEmail, Product, Facebook, Twitter, ChineseSite, Translate and
// Web. A key that is present with an empty value leaves its address empty (that link is
// switched off); a missing key, or a missing file, gives the built-in address.
TVendorAddresses LoadVendorAddresses(const QString& appDir, const QString& configDir);

// Share links for the "tell your friends" buttons. Each is an empty QUrl when the address
// it is built from is empty, and the caller then disables its button. Whether the Chinese
// sites are offered (the language in use) is for the caller to decide.
//
// A mail without a recipient that recommends ProductUrl: subject and an HTML body.
QUrl ShareEmailUrl(const TVendorAddresses& addresses);
// Sharing ChineseSite on the Tieba, Qzone and Weibo share pages.
QUrl TiebaShareUrl(const TVendorAddresses& addresses);
QUrl QzoneShareUrl(const TVendorAddresses& addresses);
QUrl WeiboShareUrl(const TVendorAddresses& addresses);
// The like box of FacebookPage.
QUrl FacebookShareUrl(const TVendorAddresses& addresses);
// A tweet of WebAddress via TwitterAccount; empty when either is empty.
QUrl TwitterShareUrl(const TVendorAddresses& addresses);

// Opens an address in the desktop's browser or mail program. The text is trimmed; an
// empty text opens nothing and gives false, as does an address that is not a valid URL.
// A text without a scheme is taken as a web address ("example.com" -> http://example.com).
// True when the desktop accepted it.
bool OpenLink(const QString& address);
bool OpenLink(const QUrl& url);

}  // namespace restovo
