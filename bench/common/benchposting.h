#pragma once

#include "benchharness.h"
#include "postingdocument.h"
#include "postjobinterface.h"
#include "wireencoding.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <memory>
#include <tuple>
#include <utility>
#include <vector>

// The listing and the baseline that the posting benchmarks measure against.
namespace Orvex::Bench {

using Fields = std::vector<std::pair<QString, QString>>;

// A listing of the given size with values that need escaping and a character outside ASCII.
inline Fields benchListing(int fieldCount) {
    Fields fields{{QStringLiteral("JobCode"), QStringLiteral("J-1001")}};
    for (int i = 1; i < fieldCount; ++i) {
        fields.emplace_back(
            QStringLiteral("Field%1").arg(i),
            QStringLiteral("Value %1 with R&D <lead> and caf\u00e9 text, long enough to matter").arg(i));
    }
    return fields;
}

// The "Add" document of fields as it goes on the wire: what a baseline posts in the component's place.
inline QByteArray wireBytes(const Fields &fields) {
    QString elements;
    for (const auto &[name, value] : fields)
        elements += fieldElement(name, value);
    return toWireBytes(postingDocument(QStringLiteral("Add"), elements));
}

inline size_t collectReply(char *data, size_t size, size_t count, void *reply) {
    static_cast<QByteArray *>(reply)->append(data, qsizetype(size * count));
    return size * count;
}

// What the request object does on the wire, done directly: a fresh handle and connection per post.
inline bool rawCurlPost(const QByteArray &url, const QByteArray &body) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    curl_slist *rawHeaders = curl_slist_append(nullptr, "Content-Type: text/xml; charset=ISO-8859-1");
    rawHeaders = curl_slist_append(rawHeaders, "Expect:");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(rawHeaders, &curl_slist_free_all);
    QByteArray reply;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collectReply);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply);
    long status = 0;
    const bool ok = curl_easy_perform(curl.get()) == CURLE_OK &&
                    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
    keep(reply);
    return ok && status == 200 && reply.startsWith("success=1");
}

struct ListingTimes {
    double listingSeconds = 0;
    double rawPostSeconds = 0;
    bool allPosted = true;
};

// Posts the listing through job ("Add"), alternately with a raw POST of the same wire bytes.
inline ListingTimes timeListingAgainstRawPost(PostJobInterface &job, const Fields &fields,
                                              const QByteArray &endpoint, const QByteArray &wire, int runs) {
    ListingTimes times;
    std::tie(times.listingSeconds, times.rawPostSeconds) = alternateMedians(
        [&] {
            for (const auto &[name, value] : fields)
                job.Field(name, value);
            times.allPosted = job.Action(QStringLiteral("Add")).startsWith(u'S') && times.allPosted;
        },
        [&] { times.allPosted = rawCurlPost(endpoint, wire) && times.allPosted; }, runs);
    if (!times.allPosted)
        std::fprintf(stderr, "some postings failed\n");
    return times;
}

} // namespace Orvex::Bench
