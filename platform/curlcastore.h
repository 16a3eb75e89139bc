#pragma once

#include <QByteArray>

#include <curl/curl.h>

namespace Orvex::CurlCaStore {

// Verifies the handle's TLS peers against a certificate store that is loaded once per process for each CA
// file, instead of libcurl parsing the file again for every new connection (the system bundle costs tens
// of milliseconds of CPU each time). caFile empty: libcurl's own default file and folder. A file that will
// not load is left to libcurl, which then fails the transfer as it always would.
void apply(CURL *handle, const QByteArray &caFile);

} // namespace Orvex::CurlCaStore
