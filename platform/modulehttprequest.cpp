#include "modulehttprequest.h"

#include "httplogging.h"
#include "modulelibrary.h"

namespace Orvex {

namespace {

struct HttpModule {
    NewHttpRequestEntry *newRequest = nullptr;
    SetUpHttpEntry *setUp = nullptr;
};

// Loaded once, by whichever thread asks first; the others wait for it.
const HttpModule &httpModule() {
    static const HttpModule module = [] {
        QString error;
        HttpModule loaded{moduleEntry<NewHttpRequestEntry>(HttpModuleName, NewHttpRequestEntryName, &error),
                          nullptr};
        if (loaded.newRequest)
            loaded.setUp = moduleEntry<SetUpHttpEntry>(HttpModuleName, SetUpHttpEntryName, &error);
        if (!loaded.newRequest || !loaded.setUp) {
            qCWarning(lcHttp).noquote() << "cannot load the HTTP module:" << error;
            return HttpModule();
        }
        return loaded;
    }();
    return module;
}

std::unique_ptr<HttpRequest> newModuleHttpRequest(const HttpSettings &settings) {
    const HttpModule &module = httpModule();
    return std::unique_ptr<HttpRequest>(module.newRequest ? module.newRequest(settings) : nullptr);
}

} // namespace

HttpRequestFactory moduleHttpRequestFactory() {
    return newModuleHttpRequest;
}

HttpModulePreload::HttpModulePreload()
    : m_thread([] {
        if (const HttpModule &module = httpModule(); module.setUp)
            module.setUp();
    }) {}

} // namespace Orvex
