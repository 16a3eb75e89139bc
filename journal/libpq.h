#pragma once

#include <QString>

#include <libpq-fe.h>

namespace Orvex {

// The libpq functions the journal calls.
#define ORVEX_LIBPQ_FUNCTIONS(F)                                                                             \
    F(PQclear)                                                                                               \
    F(PQcmdStatus)                                                                                           \
    F(PQcmdTuples)                                                                                           \
    F(PQconnectdbParams)                                                                                     \
    F(PQconninfoFree)                                                                                        \
    F(PQconninfoParse)                                                                                       \
    F(PQerrorMessage)                                                                                        \
    F(PQexec)                                                                                                \
    F(PQexecParams)                                                                                          \
    F(PQexecPrepared)                                                                                        \
    F(PQfinish)                                                                                              \
    F(PQfreemem)                                                                                             \
    F(PQgetisnull)                                                                                           \
    F(PQgetlength)                                                                                           \
    F(PQgetvalue)                                                                                            \
    F(PQnfields)                                                                                             \
    F(PQntuples)                                                                                             \
    F(PQprepare)                                                                                             \
    F(PQresStatus)                                                                                           \
    F(PQresultErrorField)                                                                                    \
    F(PQresultErrorMessage)                                                                                  \
    F(PQresultStatus)                                                                                        \
    F(PQsetNoticeProcessor)                                                                                  \
    F(PQstatus)                                                                                              \
    F(PQtransactionStatus)

// libpq, loaded the first time a journal names a PostgreSQL server rather than linked: linked, it and the
// libraries behind it (Kerberos, LDAP, GnuTLS) are loaded at every start of the tool and the server, which
// costs a cold posting about 10 ms, though most users keep the journal in SQLite.
struct LibPq {
#define ORVEX_LIBPQ_POINTER(name) decltype(&::name) name = nullptr;
    ORVEX_LIBPQ_FUNCTIONS(ORVEX_LIBPQ_POINTER)
#undef ORVEX_LIBPQ_POINTER

    // The functions, loaded once for the process's life; nullptr with why when libpq cannot be loaded.
    static const LibPq *load(QString *why = nullptr);
    // Once load() has succeeded (a connection or a result exists).
    static const LibPq &loaded();
};

} // namespace Orvex
