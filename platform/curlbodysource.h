#pragma once

#include <QByteArray>

#include <curl/curl.h>

#include <utility>

namespace Orvex {

// The request body as libcurl reads it through its read callback. libcurl sends a request again on a
// fresh connection when a reused one dies before any reply byte, rewinding the body first; this source
// allows that rewind only when the board has answered since the body went out, so a listing the board may
// already hold is never sent a second time without a word.
class CurlBodySource {
public:
    explicit CurlBodySource(QByteArray bytes)
        : m_bytes(std::move(bytes)) {}
    CurlBodySource(const CurlBodySource &) = delete;
    CurlBodySource &operator=(const CurlBodySource &) = delete;

    // A POST of these bytes on the handle, read from here; libcurl keeps a pointer to this object.
    void attachTo(CURL *handle);
    // True once a rewind was refused: the body had gone out and no reply came before the connection died.
    bool resendRefused() const { return m_resendRefused; }
    // True once libcurl has taken any byte of the body for the current request: it may be at the board.
    bool bodyLeft() const { return m_position > 0 || m_resendRefused; }
    qsizetype size() const { return m_bytes.size(); }

private:
    static size_t read(char *buffer, size_t size, size_t count, void *source);
    static int seek(void *source, curl_off_t offset, int origin);
    int rewind();
    curl_off_t replyHeaderBytes() const;

    QByteArray m_bytes;
    CURL *m_handle = nullptr;
    qsizetype m_position = 0;
    curl_off_t m_headerBytesAtSend = 0;
    bool m_resendRefused = false;
};

} // namespace Orvex
