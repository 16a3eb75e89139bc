#pragma once

#include <QByteArray>

#include <curl/curl.h>
#include <openssl/types.h>

namespace Orvex::CurlCaStore {

// Verifies the handle's TLS peers against a certificate store that is loaded once per process for each CA
// file, instead of libcurl parsing the file again for every new connection (the system bundle costs about
// 20 ms of CPU each time). caFile empty: libcurl's own default file and folder. A file that will not load is
// left to libcurl, which then fails the transfer as it always would.
//
// libcurl 7.88 offers no cache that outlives an easy handle: CURLOPT_CA_CACHE_TIMEOUT keeps the store in the
// multi handle (lib/vtls/openssl.c, get_cached_x509_store: "data->multi_easy ? data->multi_easy :
// data->multi"), which curl_easy_perform makes for each handle; CURLOPT_CAINFO_BLOB saves the file read but
// not the parse; a share object holds sessions, not stores. So the store is handed to each new OpenSSL
// context through CURLOPT_SSL_CTX_FUNCTION, which "gets called on all new connections made to a server,
// during the SSL negotiation", the proxy's included.
//
// Returns the store for install() to hand over, having cleared libcurl's own CA sources; null when libcurl
// reads the file itself (then set on the handle).
X509_STORE *apply(CURL *handle, const QByteArray &caFile);

// From the handle's CURLOPT_SSL_CTX_FUNCTION: the store becomes the OpenSSL context's. A null store leaves
// the context as libcurl made it. False when OpenSSL refuses.
bool install(void *sslContext, X509_STORE *store);

} // namespace Orvex::CurlCaStore
