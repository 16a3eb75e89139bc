#include "boardfault.h"

#include <QTimer>

namespace Orvex {

namespace {

std::optional<qint64> positiveNumber(const QString &text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

using K = BoardFault::Kind;

// The faults named by a word alone.
const std::pair<QLatin1StringView, K> SimpleFaults[] = {
    {QLatin1StringView("empty"), K::Empty},
    {QLatin1StringView("quoted-amp"), K::QuotedAmpersand},
    {QLatin1StringView("crlf"), K::TrailingCrLf},
    {QLatin1StringView("no-jobid"), K::NoJobId},
    {QLatin1StringView("failure"), K::Failure},
    {QLatin1StringView("close-before-status"), K::CloseBeforeStatus},
    {QLatin1StringView("close-mid-body"), K::CloseMidBody},
    {QLatin1StringView("reset"), K::Reset},
    {QLatin1StringView("drip"), K::Drip},
    {QLatin1StringView("redirect-loop"), K::RedirectLoop},
    {QLatin1StringView("binary"), K::Binary},
    {QLatin1StringView("garbage"), K::Garbage},
    {QLatin1StringView("gzip"), K::Gzip},
    {QLatin1StringView("deflate"), K::Deflate},
    {QLatin1StringView("trickle"), K::Trickle},
    {QLatin1StringView("nul"), K::Nul},
};

// The faults whose argument is a whole number within a range, kept as their code.
struct NumberedFault {
    QLatin1StringView word;
    K kind;
    qint64 most;
    qint64 least = 0;
};

const NumberedFault NumberedFaults[] = {
    {QLatin1StringView("redirect"), K::Redirect, 399, 300},
    {QLatin1StringView("close-at-random"), K::CloseAtRandom, 100},
    {QLatin1StringView("delay"), K::Delay, 600000},
    {QLatin1StringView("slow-redirect"), K::SlowRedirect, 600000},
};

BoardFault faultOf(K kind, int code = 0, QByteArray text = {}) {
    BoardFault fault;
    fault.kind = kind;
    fault.code = code;
    fault.text = std::move(text);
    return fault;
}

std::optional<BoardFault> simpleFault(const QString &word) {
    for (const auto &[faultName, kind] : SimpleFaults) {
        if (word == faultName)
            return faultOf(kind);
    }
    return std::nullopt;
}

std::optional<BoardFault> numberedFault(const QString &word, const QString &argument) {
    for (const NumberedFault &numbered : NumberedFaults) {
        if (word != numbered.word)
            continue;
        const auto number = positiveNumber(argument);
        if (!number || *number < numbered.least || *number > numbered.most)
            return std::nullopt;
        return faultOf(numbered.kind, int(*number));
    }
    return std::nullopt;
}

// status:CODE[:BODY]
std::optional<BoardFault> statusFault(const QString &argument) {
    const qsizetype bodyColon = argument.indexOf(QLatin1Char(':'));
    const auto code = positiveNumber(bodyColon < 0 ? argument : argument.left(bodyColon));
    if (!code || *code < 100 || *code > 999)
        return std::nullopt;
    return faultOf(K::Status, int(*code),
                   bodyColon < 0 ? QByteArray() : argument.mid(bodyColon + 1).toUtf8());
}

// huge[:BYTES] and huge-unsized[:BYTES]
std::optional<BoardFault> hugeFault(const QString &word, const QString &argument) {
    const auto bytes =
        argument.isEmpty() ? std::optional<qint64>(BoardFault::DefaultHugeBytes) : positiveNumber(argument);
    if (!bytes)
        return std::nullopt;
    BoardFault fault = faultOf(word == QLatin1StringView("huge") ? K::Huge : K::HugeUnsized);
    fault.bytes = *bytes;
    return fault;
}

// redirect-to:URL and charset:NAME
std::optional<BoardFault> textFault(const QString &word, const QString &argument) {
    if (argument.isEmpty())
        return std::nullopt;
    if (word == QLatin1StringView("redirect-to"))
        return faultOf(K::RedirectTo, 0, argument.toUtf8());
    if (word == QLatin1StringView("charset"))
        return faultOf(K::Charset, 0, argument.toLatin1());
    return std::nullopt;
}

} // namespace

std::optional<BoardFault> BoardFault::parse(const QString &name) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return BoardFault{};
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        if (std::optional<BoardFault> fault = simpleFault(trimmed))
            return fault;
    }
    const QString word = colon < 0 ? trimmed : trimmed.left(colon);
    const QString argument = colon < 0 ? QString() : trimmed.mid(colon + 1);
    if (word == QLatin1StringView("status"))
        return statusFault(argument);
    if (word == QLatin1StringView("huge") || word == QLatin1StringView("huge-unsized"))
        return hugeFault(word, argument);
    if (std::optional<BoardFault> fault = numberedFault(word, argument))
        return fault;
    return textFault(word, argument);
}

QString BoardFault::catalogue() {
    return QStringLiteral(
        "  status:CODE[:BODY]   answer CODE with BODY (empty if left out), e.g. status:500:success=1\n"
        "  empty                answer 200 with an empty body\n"
        "  quoted-amp           answer success=1&note=\"a&b\"&jobid=N\n"
        "  crlf                 the normal reply followed by CR LF\n"
        "  no-jobid             answer success=1 even to Add\n"
        "  failure              answer success=0&error=rejected\n"
        "  close-before-status  close the connection without answering\n"
        "  close-at-random:PERCENT  take the listing, then close without answering PERCENT times in 100;\n"
        "                       otherwise answer normally\n"
        "  close-mid-body       promise a longer body than sent, then close\n"
        "  reset                reset the connection (RST) instead of answering\n"
        "  drip                 send the head and a few body bytes, then nothing until the client leaves\n"
        "  huge[:BYTES]         a success reply padded to BYTES (default 9 MiB), with Content-Length\n"
        "  huge-unsized[:BYTES] the same without Content-Length, ended by closing\n"
        "  redirect-loop        answer 307 to the same URL, every time\n"
        "  redirect:CODE        answer CODE pointing to the same path with ?redirected=1, which is answered\n"
        "                       normally (a client that turns the POST into a GET then gets 405)\n"
        "  redirect-to:URL      answer 302 pointing to URL\n"
        "  charset:NAME         answer success=1&jobid=N-\u00e9\u20ac encoded in NAME and labelled so\n"
        "  binary               answer 200 with the 256 byte values as an octet stream\n"
        "  garbage              send the 256 byte values instead of an HTTP reply, then close\n"
        "  delay:MS             answer normally after MS milliseconds\n"
        "  slow-redirect:MS     answer 307 after MS milliseconds pointing to the same path with\n"
        "                       ?redirected=1, which is answered normally after MS milliseconds again\n"
        "  gzip                 the normal reply, gzip-encoded (Content-Encoding: gzip)\n"
        "  deflate              the normal reply, zlib-encoded (Content-Encoding: deflate)\n"
        "  trickle              the normal reply and then padding for ever, three bytes a second\n"
        "  nul                  the normal reply followed by a NUL byte and 34\n");
}

namespace {

// A zlib stream (RFC 1950) of data: what qCompress makes, without its four-byte length in front.
QByteArray zlibStream(const QByteArray &data) {
    return qCompress(data).mid(4);
}

quint32 crc32(const QByteArray &data) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendLittleEndian(QByteArray &bytes, quint32 value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char((value >> shift) & 0xFF));
}

constexpr int TrickleIntervalMilliseconds = 333;

} // namespace

QByteArray gzipEncoded(const QByteArray &body) {
    // The gzip member (RFC 1952) carries the raw deflate data of the zlib stream, without its two-byte
    // head and its four-byte check.
    const QByteArray zlib = zlibStream(body);
    QByteArray gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    gzip += zlib.mid(2, zlib.size() - 6);
    appendLittleEndian(gzip, crc32(body));
    appendLittleEndian(gzip, quint32(body.size()));
    return gzip;
}

QByteArray deflateEncoded(const QByteArray &body) {
    return zlibStream(body);
}

void startTrickle(QAbstractSocket *socket, const QByteArray &body) {
    auto *timer = new QTimer(socket); // goes with the socket
    QObject::connect(timer, &QTimer::timeout, socket, [socket, body, sent = qsizetype(0)]() mutable {
        socket->write(sent < body.size() ? body.mid(sent, 1) : QByteArray("x"));
        ++sent;
    });
    timer->start(TrickleIntervalMilliseconds);
}

} // namespace Orvex
