#pragma once

#include <QString>

#include <optional>
#include <string_view>

// Every error number the component raises or reports, in one table: its symbol (which also ends its bus
// error name), its number and its description. The runtime's own numbers keep the runtime's meaning and
// wording; negative numbers are in HRESULT form as automation clients know them. Adding a number here is
// all it takes for the server to send it and the client to read it back.
//
//   X(Symbol, Number, "Description")
#define ORVEX_ERROR_TABLE(X)                                                                                 \
    /* The automation runtime's own. */                                                                      \
    X(InvalidProcedureCall, 5, "Invalid procedure call or argument")                                         \
    X(Overflow, 6, "Overflow")                                                                               \
    X(OutOfMemory, 7, "Out of memory")                                                                       \
    X(TypeMismatch, 13, "Type mismatch")                                                                     \
    X(InternalError, 51, "Internal error")                                                                   \
    X(ObjectNotSet, 91, "Object variable or With block variable not set")                                    \
    X(CannotCreateObject, 429, "ActiveX component can't create object")                                      \
    /* The dispatch layer (DISP_E_*, E_NOINTERFACE, E_FAIL). */                                              \
    X(MemberNotFound, 0x80020003, "Member not found")                                                        \
    X(ArgumentTypeMismatch, 0x80020005, "Type mismatch")                                                     \
    X(UnknownName, 0x80020006, "Unknown name")                                                               \
    X(BadVariableType, 0x80020008, "Bad variable type")                                                      \
    X(BadParameterCount, 0x8002000E, "Invalid number of parameters")                                         \
    X(NoInterface, 0x80004002, "No such interface supported")                                                \
    X(Unspecified, 0x80004005, "Unspecified error")                                                          \
    /* The HTTP request object: WinInet numbers wrapped as HRESULT_FROM_WIN32, and the COM generics. */      \
    X(NameNotResolved, 0x80072EE7, "The server name or address could not be resolved")                       \
    X(CannotConnect, 0x80072EFD, "A connection with the server could not be established")                    \
    X(TimedOut, 0x80072EE2, "The operation timed out")                                                       \
    X(ConnectionReset, 0x80072EFF, "The connection with the server was reset")                               \
    X(ReplyTooLarge, 0x800700DF, "The file size exceeds the limit allowed and cannot be saved")              \
    X(RedirectFailed, 0x80072F7C, "The HTTP redirect request failed")                                        \
    X(InvalidServerResponse, 0x80072F78, "The server response could not be parsed")                          \
    X(SecureChannelError, 0x80072F7D, "A security error occurred")                                           \
    X(HttpsToHttpRedirect, 0x80072F08, "A redirect from a secure site to a non-secure site was refused")     \
    X(ProxyRefused, 0x80072F85, "The proxy refused to carry the request to the server")                      \
    X(InvalidUrl, 0x80072EE5, "The URL is invalid")                                                          \
    X(UnsupportedScheme, 0x80072EE6, "The URL does not use a recognized protocol")                           \
    X(InvalidArgument, 0x80070057, "The parameter is incorrect")                                             \
    X(NotImplemented, 0x80004001, "Not implemented")                                                         \
    X(Unexpected, 0x8000FFFF, "Catastrophic failure")                                                        \
    X(Pending, 0x8000000A, "The data necessary to complete this operation is not yet available")             \
    /* What a client of a local server sees when the server or the call is lost (REGDB_E_*, CO_E_*, RPC_*).  \
     */                                                                                                      \
    X(ClassNotRegistered, 0x80040154, "Class not registered")                                                \
    X(ServerExecFailure, 0x80080005, "Server execution failed")                                              \
    X(ObjectDisconnected, 0x80010108, "The object invoked has disconnected from its clients")                \
    X(ServerUnavailable, 0x800706BA, "The RPC server is unavailable")                                        \
    X(CallFailed, 0x800706BE, "The remote procedure call failed")                                            \
    /* The server ended with the call still waiting its turn: it never ran (CO_E_SERVER_STOPPING). */        \
    X(Ended, 0x80080008, "the server ended before this call ran")                                            \
    /* The server was lost while it held the call: it may have run, so it is not sent again (our own, in the \
       interface range). */                                                                                  \
    X(OutcomeUnknown, 0x80040300, "the server was lost during this call, which may or may not have run")     \
    /* A kept connection closed after the listing went out and before any reply: it is not sent again. */    \
    X(ClosedAfterSending, 0x80040301,                                                                        \
      "the connection closed after the listing was sent; the board may have it")                             \
    /* The start row of a posting that needs it could not be committed and synced: nothing was sent. */      \
    X(JournalNotRecorded, 0x80040302, "the posting journal could not record the listing")                    \
    /* A call that asked for it: the journal shows the listing in flight from another host or process, or    \
       posted since the rerun's time; nothing was sent. */                                                   \
    X(InFlightElsewhere, 0x80040303, "the listing is being posted elsewhere")                                \
    X(AlreadyPosted, 0x80040304, "the listing was posted since the rerun's time")

namespace Orvex {

namespace ErrorNumber {
#define ORVEX_ERROR_NUMBER(symbol, number, description) inline constexpr qint32 symbol = qint32(number);
ORVEX_ERROR_TABLE(ORVEX_ERROR_NUMBER)
#undef ORVEX_ERROR_NUMBER
} // namespace ErrorNumber

struct ErrorEntry {
    qint32 number;
    std::string_view symbol;
    std::string_view description;
};

// The table's row for number, if it has one.
std::optional<ErrorEntry> errorEntry(qint32 number);

// Every error the server sends is named below this prefix; "<prefix>.<symbol>" for numbers of the table.
inline constexpr char ErrorNamePrefix[] = "OrvexKelPostJob.Error";
QString errorName(qint32 number);

} // namespace Orvex
