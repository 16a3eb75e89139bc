#pragma once

#include "httprequest.h"

namespace Orvex {

// The HTTP module's entry: a new request object over libcurl with the given settings, owned by the caller.
using NewHttpRequestEntry = HttpRequest *(const HttpSettings &);
inline constexpr char HttpModuleName[] = "http";
inline constexpr char NewHttpRequestEntryName[] = "orvexNewHttpRequest";

// Request objects from the HTTP module, which is loaded with the first of them. Where it cannot be loaded
// the factory makes none, and every posting fails as one whose request object cannot be created.
HttpRequestFactory moduleHttpRequestFactory();

} // namespace Orvex
