#pragma once

#include "exchangelimits.h"

#include <QString>

#include <chrono>

namespace Orvex {

// What a deployment sets for the request objects of one PostJob: read once at its creation and handed to
// the request factory for every posting.
struct HttpSettings {
    std::chrono::seconds connectTimeout = ExchangeLimits::DefaultConnectTimeout;
    std::chrono::seconds timeout = ExchangeLimits::DefaultTimeout;
    // PEM files presenting a client certificate to the board; empty for none.
    QString clientCertificate;
    QString clientKey;
    // Keep the board's connection between postings; off, every posting has a fresh connection.
    bool reuseConnection = false;
};

} // namespace Orvex
