#include "curlcastore.h"

#include "httplogging.h"

#include <QFileInfo>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace Orvex::CurlCaStore {

namespace {

struct StoreFree {
    void operator()(X509_STORE *store) const { X509_STORE_free(store); }
};
using Store = std::unique_ptr<X509_STORE, StoreFree>;

template<typename Value> void setCaOption(CURL *handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK)
        throw std::runtime_error("libcurl refused a certificate option");
}

// The store is handed to libcurl's SSL_CTX only where libcurl speaks OpenSSL.
bool libcurlUsesOpenSsl() {
    static const bool openSsl = [] {
        const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
        return info && info->ssl_version && QByteArray(info->ssl_version).startsWith("OpenSSL/");
    }();
    return openSsl;
}

// The same flags libcurl puts on the store it would have filled itself.
Store loadStore(const QByteArray &file, const QByteArray &folder) {
    Store store(X509_STORE_new());
    if (!store)
        return nullptr;
    if (!file.isEmpty() && X509_STORE_load_file(store.get(), file.constData()) != 1)
        return nullptr;
    if (!folder.isEmpty() && QFileInfo(QString::fromLocal8Bit(folder)).isDir() &&
        X509_STORE_load_path(store.get(), folder.constData()) != 1)
        return nullptr;
    X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    qCDebug(lcHttp) << "loaded the CA store from" << file << folder;
    return store;
}

class Stores {
public:
    // The store for these sources, loaded at the first ask; null when they do not load.
    X509_STORE *storeFor(const QByteArray &file, const QByteArray &folder) {
        const QByteArray key = file + '\0' + folder;
        const std::lock_guard guard(m_lock);
        auto found = m_stores.find(key);
        if (found == m_stores.end())
            found = m_stores.emplace(key, loadStore(file, folder)).first;
        return found->second.get();
    }

private:
    std::mutex m_lock;
    std::map<QByteArray, Store> m_stores;
};

Stores &processStores() {
    static Stores stores;
    return stores;
}

QByteArray defaultSource(CURL *handle, CURLINFO info) {
    char *path = nullptr;
    curl_easy_getinfo(handle, info, &path);
    return QByteArray(path);
}

} // namespace

Sources apply(CURL *handle, const QByteArray &caFile) {
    if (libcurlUsesOpenSsl()) {
        Sources sources{caFile.isEmpty() ? defaultSource(handle, CURLINFO_CAINFO) : caFile,
                        caFile.isEmpty() ? defaultSource(handle, CURLINFO_CAPATH) : QByteArray(), true};
        // libcurl then loads nothing itself, for the board's connections and the proxy's.
        for (CURLoption option : {CURLOPT_CAINFO, CURLOPT_CAPATH, CURLOPT_PROXY_CAINFO, CURLOPT_PROXY_CAPATH})
            setCaOption(handle, option, static_cast<const char *>(nullptr));
        return sources;
    }
    if (!caFile.isEmpty()) {
        setCaOption(handle, CURLOPT_CAINFO, caFile.constData());
        setCaOption(handle, CURLOPT_PROXY_CAINFO, caFile.constData());
    }
    return Sources{};
}

CURLcode install(void *sslContext, const Sources &sources) {
    if (!sources.processStore)
        return CURLE_OK;
    auto *context = static_cast<SSL_CTX *>(sslContext);
    if (X509_STORE *store = processStores().storeFor(sources.file, sources.folder)) {
        if (X509_STORE_up_ref(store) != 1)
            return CURLE_OUT_OF_MEMORY;
        SSL_CTX_set_cert_store(context, store);
        return CURLE_OK;
    }
    qCDebug(lcHttp) << "the CA file" << sources.file << "does not load into the process's store";
    const char *file = sources.file.isEmpty() ? nullptr : sources.file.constData();
    const char *folder = sources.folder.isEmpty() ? nullptr : sources.folder.constData();
    if ((file || folder) && SSL_CTX_load_verify_locations(context, file, folder) != 1)
        return CURLE_SSL_CACERT_BADFILE;
    return CURLE_OK;
}

} // namespace Orvex::CurlCaStore
