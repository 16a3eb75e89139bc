#pragma once

#include <QtGlobal>

// Error numbers of the HTTP request object, in HRESULT form. The network causes keep the numbers that the
// platform's own request object reports for them (WinInet errors wrapped as HRESULT_FROM_WIN32), so logs
// and callers that know those numbers read them the same way.
namespace Orvex::HttpError {

// The host name (or the proxy's) could not be resolved. WinInet 12007.
inline constexpr qint32 NameNotResolved = qint32(0x80072EE7);
// Nothing accepted the connection. WinInet 12029.
inline constexpr qint32 CannotConnect = qint32(0x80072EFD);
// Connecting took too long, or the transfer stalled. WinInet 12002.
inline constexpr qint32 TimedOut = qint32(0x80072EE2);
// The peer reset the connection or closed it before the reply was complete. WinInet 12031.
inline constexpr qint32 ConnectionReset = qint32(0x80072EFF);
// The reply body exceeds the size cap. ERROR_FILE_TOO_LARGE.
inline constexpr qint32 ReplyTooLarge = qint32(0x800700DF);
// The redirect limit was reached, or a redirect led somewhere not allowed. WinInet 12156.
inline constexpr qint32 RedirectFailed = qint32(0x80072F7C);
// The peer's answer is not HTTP. WinInet 12152.
inline constexpr qint32 InvalidServerResponse = qint32(0x80072F78);
// TLS could not be set up or the certificate was refused. WinInet 12157.
inline constexpr qint32 SecureChannelError = qint32(0x80072F7D);
// The URL given to open() cannot be parsed. WinInet 12005.
inline constexpr qint32 InvalidUrl = qint32(0x80072EE5);
// The URL's scheme is neither http nor https. WinInet 12006.
inline constexpr qint32 UnsupportedScheme = qint32(0x80072EE6);
// open() was given a method other than GET or POST. E_INVALIDARG.
inline constexpr qint32 InvalidArgument = qint32(0x80070057);
// open() asked for an asynchronous request; this object is synchronous only. E_NOTIMPL.
inline constexpr qint32 NotImplemented = qint32(0x80004001);
// send() without a prior open(). E_UNEXPECTED.
inline constexpr qint32 Unexpected = qint32(0x8000FFFF);
// status or responseText read before the exchange completed. E_PENDING.
inline constexpr qint32 Pending = qint32(0x8000000A);
// Any other failure of the transfer. E_FAIL.
inline constexpr qint32 Failed = qint32(0x80004005);

} // namespace Orvex::HttpError
