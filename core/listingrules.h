#pragma once

#include <QStringView>
#include <QtGlobal>

// Facts about a listing that the server, the client library and the tool must agree on, written once.
namespace Orvex::ListingRules {

// The board of [General]: the type library's calls post there, and the journal names it so.
inline constexpr QStringView DefaultBoardName = u"default";

// The field whose value is the listing's job code: the last one so named, in exactly this case.
inline constexpr QStringView JobCodeFieldName = u"JobCode";
inline bool isJobCodeField(QStringView fieldName) {
    return fieldName == JobCodeFieldName;
}

// One listing's fields as document text, and so one record of a listings file: far beyond any real
// listing, and a bound on what one client can make the server hold until the posting.
inline constexpr qsizetype MaxListingLength = 64 * 1024 * 1024;

} // namespace Orvex::ListingRules
