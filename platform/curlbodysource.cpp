#include "curlbodysource.h"

#include "httplogging.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Orvex {

namespace {

template<typename Value> void setBodyOption(CURL *handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK)
        throw std::runtime_error("libcurl refused a request body option");
}

} // namespace

void CurlBodySource::attachTo(CURL *handle) {
    // Each request of a transfer (a followed redirect too) sends the body from its start.
    m_handle = handle;
    m_position = 0;
    m_headerBytesAtSend = 0;
    setBodyOption(handle, CURLOPT_POST, 1L);
    setBodyOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_bytes.size()));
    setBodyOption(handle, CURLOPT_READFUNCTION, &CurlBodySource::read);
    setBodyOption(handle, CURLOPT_READDATA, this);
    setBodyOption(handle, CURLOPT_SEEKFUNCTION, &CurlBodySource::seek);
    setBodyOption(handle, CURLOPT_SEEKDATA, this);
}

size_t CurlBodySource::read(char *buffer, size_t size, size_t count, void *source) {
    auto *self = static_cast<CurlBodySource *>(source);
    const size_t bytes = std::min(size * count, size_t(self->m_bytes.size() - self->m_position));
    std::memcpy(buffer, self->m_bytes.constData() + self->m_position, bytes);
    self->m_position += qsizetype(bytes);
    return bytes;
}

// libcurl 7.88 retries a request on a fresh connection when a reused connection gave no reply byte
// (lib/transfer.c, Curl_retry_request: "Connection died, retrying a fresh connect"), and when body bytes
// had been written it first rewinds the body. CURLOPT_SEEKFUNCTION(3): "It is also called to rewind a
// stream when data has already been sent to the server and needs to be sent again. This may happen when
// doing an HTTP PUT or POST with a multi-pass authentication method, or when an existing HTTP connection
// is reused too late and the server closes the connection." A callback that does not return
// CURL_SEEKFUNC_OK makes the transfer fail with CURLE_SEND_FAIL_REWIND (lib/multi.c, readrewind), so the
// listing is not sent twice. A redirect rewinds too, but only after the board's reply to the first send.
int CurlBodySource::seek(void *source, curl_off_t offset, int origin) {
    auto *self = static_cast<CurlBodySource *>(source);
    if (origin != SEEK_SET || offset != 0)
        return CURL_SEEKFUNC_CANTSEEK;
    return self->rewind();
}

int CurlBodySource::rewind() {
    const curl_off_t headerBytes = replyHeaderBytes();
    if (m_position > 0 && headerBytes == m_headerBytesAtSend) {
        qCDebug(lcHttp) << "the connection died after" << m_position << "body bytes and before any reply;"
                        << "not sending the body again";
        m_resendRefused = true;
        return CURL_SEEKFUNC_FAIL;
    }
    m_position = 0;
    m_headerBytesAtSend = headerBytes;
    return CURL_SEEKFUNC_OK;
}

// Every reply header received so far on this handle, across redirects; it grows only when the board
// answers.
curl_off_t CurlBodySource::replyHeaderBytes() const {
    long bytes = 0;
    curl_easy_getinfo(m_handle, CURLINFO_HEADER_SIZE, &bytes);
    return curl_off_t(bytes);
}

} // namespace Orvex
