// How Action reads the board's reply: the success test and the job id, against splitting by hand where
// no quote protects an "&".
// Input: the reply text (UTF-8).

#include "fuzzsupport.h"

#include "boardreply.h"
#include "warningbox.h"

#include <QStringList>

namespace {

using Orvex::Fuzz::require;

// An unbalanced quote shows a box; here no one would close it.
class SilentBox final : public Orvex::WarningBox {
public:
    void show(const QString &, const QString &) override {}
};

bool startsCaseless(const QString &text, QLatin1StringView prefix) {
    return text.left(prefix.size()).toLower() == prefix;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Orvex::Fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString reply = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const bool success = Orvex::isSuccessReply(reply);
    SilentBox box;
    const QString jobId = Orvex::jobIdOf(reply, box);

    require(!success || reply.size() >= 9, "success needs the whole word");
    require(jobId.isEmpty() || reply.contains(jobId), "the job id is part of the reply");

    if (!reply.contains(u'"')) {
        // Without quotes every "&" splits: the first token named jobid gives the id.
        QString expected;
        for (const QString &token : reply.split(u'&')) {
            if (startsCaseless(token, QLatin1StringView("jobid="))) {
                expected = token.mid(6);
                break;
            }
        }
        require(jobId == expected, "the id of the first jobid token", reply);
    }
    return 0;
}
