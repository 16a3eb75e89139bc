#pragma once

#include "httprequest.h"

#include <thread>

namespace Orvex {

// The HTTP module's entries: a new request object over libcurl with the given settings, owned by the
// caller; libcurl's process-wide set-up.
using NewHttpRequestEntry = HttpRequest *(const HttpSettings &);
using SetUpHttpEntry = void();
inline constexpr char HttpModuleName[] = "http";
inline constexpr char NewHttpRequestEntryName[] = "orvexNewHttpRequest";
inline constexpr char SetUpHttpEntryName[] = "orvexSetUpHttp";

// Request objects from the HTTP module, which is loaded with the first of them. Where it cannot be loaded
// the factory makes none, and every posting fails as one whose request object cannot be created.
HttpRequestFactory moduleHttpRequestFactory();

// Loads the HTTP module and sets libcurl up on a thread of its own from construction, while the caller
// reads its settings and writes its journal; the first request then finds both done, or waits for them.
// Loading libcurl with its TLS and authentication libraries costs about what one curl run does. The
// destructor waits for the thread.
class HttpModulePreload {
public:
    HttpModulePreload();

private:
    std::jthread m_thread;
};

} // namespace Orvex
