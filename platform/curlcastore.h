#pragma once

#include <QByteArray>

#include <curl/curl.h>
#include <openssl/types.h>

namespace Orvex::CurlCaStore {

// Verifies the handle's TLS peers against a certificate store that is loaded once per process for each CA
// file, instead of libcurl parsing the file again for every new connection (the system bundle costs about
// 20 ms of CPU each time). caFile empty: libcurl's own default file and folder. A file that will not load
// into the store is loaded by the context itself, which then fails the transfer as libcurl would.
//
// libcurl 7.88 offers no cache that outlives an easy handle: CURLOPT_CA_CACHE_TIMEOUT keeps the store in the
// multi handle (lib/vtls/openssl.c, get_cached_x509_store: "data->multi_easy ? data->multi_easy :
// data->multi"), which curl_easy_perform makes for each handle; CURLOPT_CAINFO_BLOB saves the file read but
// not the parse; a share object holds sessions, not stores. So the store is handed to each new OpenSSL
// context through CURLOPT_SSL_CTX_FUNCTION, which "gets called on all new connections made to a server,
// during the SSL negotiation", the proxy's included.
//
// Where a handle's TLS peers are verified from, decided when the handle is set up and loaded at its first
// TLS context, so a plain http exchange loads no CA file.
struct Sources {
    QByteArray file;
    QByteArray folder;
    bool processStore = false; // else libcurl reads its own options
};

// Clears libcurl's own CA sources where the process's store takes their place.
Sources apply(CURL *handle, const QByteArray &caFile);

// From the handle's CURLOPT_SSL_CTX_FUNCTION: the process's store for these sources becomes the OpenSSL
// context's, or, when it does not load, the context loads them as libcurl would and fails as it would.
CURLcode install(void *sslContext, const Sources &sources);

} // namespace Orvex::CurlCaStore
