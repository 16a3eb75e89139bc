#include "benchharness.h"
#include "gettokens.h"
#include "warningbox.h"

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Runs = 31;

// A board reply of about targetBytes: many short quoted pairs, with a long quoted stretch now and then.
QString makeReply(qsizetype targetBytes) {
    const QString pair = u"k=\"v&w\"&"_s;
    const QString longStretch = u"note=\""_s + u"x&"_s.repeated(2048) + u"\"&"_s;
    QString reply;
    reply.reserve(targetBytes + longStretch.size());
    for (int index = 0; reply.size() < targetBytes; ++index)
        reply += index % 500 == 499 ? longStretch : pair;
    return reply;
}

std::vector<std::string> plainSplit(std::string_view text, char delimiter) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find(delimiter, start);
        if (stop == std::string_view::npos)
            stop = text.size();
        tokens.emplace_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return tokens;
}

struct Timing {
    double getTokens;
    double plain;
};

Timing measure(const char *label, qsizetype bytes) {
    const QString reply = makeReply(bytes);
    const std::string replyBytes = reply.toStdString();
    const QString amp = u"&"_s;
    const QString quote = u"\""_s;
    Orvex::HeadlessWarningBox box;

    const double getTokens = Orvex::Bench::medianSeconds(
        [&] {
            QStringList tokens;
            Orvex::Bench::keep(FuncLib::GetTokens(reply, amp, tokens, quote, false, QString(), box));
            Orvex::Bench::keep(tokens);
        },
        Runs);
    const double plain = Orvex::Bench::medianSeconds(
        [&] {
            std::vector<std::string> tokens = plainSplit(replyBytes, '&');
            Orvex::Bench::keep(tokens);
        },
        Runs);

    Orvex::Bench::printMedian((std::string("GetTokens, quote mode, ") + label).c_str(), getTokens);
    Orvex::Bench::printMedian((std::string("plain find loop, ") + label).c_str(), plain);
    return {getTokens, plain};
}

} // namespace

int main() {
    Orvex::Bench::keepFreedMemory();
    const Timing small = measure("64 KiB", 64 * 1024);
    const Timing large = measure("1 MiB", 1024 * 1024);
    const Timing huge = measure("4 MiB", 4 * 1024 * 1024);
    Orvex::Bench::printRatio("GetTokens 1 MiB / 64 KiB (linear is 16)", large.getTokens, small.getTokens, 20);
    // The baseline's own growth shows what the memory hierarchy adds beyond linear on this machine.
    Orvex::Bench::printRatio("plain split 1 MiB / 64 KiB (linear is 16)", large.plain, small.plain, 20);
    // Once both sizes are past the caches, growth should be close to the size ratio.
    Orvex::Bench::printRatio("GetTokens 4 MiB / 1 MiB (linear is 4)", huge.getTokens, large.getTokens, 5);
    Orvex::Bench::printRatio("plain split 4 MiB / 1 MiB (linear is 4)", huge.plain, large.plain, 5);
    Orvex::Bench::printRatio("GetTokens / plain split, 64 KiB", small.getTokens, small.plain, 3);
    Orvex::Bench::printRatio("GetTokens / plain split, 1 MiB", large.getTokens, large.plain, 3);
    return 0;
}
