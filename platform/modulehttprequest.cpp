#include "modulehttprequest.h"

#include "httplogging.h"
#include "modulelibrary.h"

namespace Orvex {

namespace {

NewHttpRequestEntry *loadHttpModule() {
    QString error;
    auto *entry = moduleEntry<NewHttpRequestEntry>(HttpModuleName, NewHttpRequestEntryName, &error);
    if (!entry)
        qCWarning(lcHttp).noquote() << "cannot load the HTTP module:" << error;
    return entry;
}

std::unique_ptr<HttpRequest> newModuleHttpRequest(const HttpSettings &settings) {
    static NewHttpRequestEntry *const newRequest = loadHttpModule();
    return std::unique_ptr<HttpRequest>(newRequest ? newRequest(settings) : nullptr);
}

} // namespace

HttpRequestFactory moduleHttpRequestFactory() {
    return newModuleHttpRequest;
}

} // namespace Orvex
