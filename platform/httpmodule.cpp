// The HTTP module: libcurl, and the TLS and authentication libraries it links, load with it.

#include "curlhttprequest.h"
#include "modulehttprequest.h"

#include <type_traits>

extern "C" Q_DECL_EXPORT Orvex::HttpRequest *orvexNewHttpRequest(const Orvex::HttpSettings &settings) {
    return Orvex::makeCurlHttpRequest(settings).release();
}

extern "C" Q_DECL_EXPORT void orvexSetUpHttp() {
    Orvex::CurlHttpRequest::setUpLibrary();
}

static_assert(std::is_same_v<decltype(orvexNewHttpRequest), Orvex::NewHttpRequestEntry>);
static_assert(std::is_same_v<decltype(orvexSetUpHttp), Orvex::SetUpHttpEntry>);
