#include "postjobobject.h"

#include "activitylogfile.h"
#include "automationserver.h"
#include "boardcalls.h"
#include "buswire.h"
#include "errortable.h"
#include "files.h"
#include "identity.h"
#include "listingrules.h"
#include "logrecord.h"
#include "postingoutcome.h"
#include "postjob.h"
#include "postjobadaptor.h"
#include "servedadaptors.h"
#include "serverlogging.h"

#include <QCoreApplication>

#include <array>
#include <optional>

namespace Orvex {

namespace {

struct Member {
    const char16_t *name;
    int dispatchId;
    std::array<const char16_t *, 3> parameters;
};

constexpr std::array<Member, 3> Members{{
    {u"Field", Identity::FieldDispatchId, {u"FieldName", u"FieldValue", nullptr}},
    {u"Action", Identity::ActionDispatchId, {u"ActionType", nullptr, nullptr}},
    {u"WriteLog", Identity::WriteLogDispatchId, {u"SubName", u"Message", u"AnyOther"}},
}};

const Member *memberNamed(const QString &name) {
    for (const Member &member : Members) {
        if (name.compare(QStringView(member.name), Qt::CaseInsensitive) == 0)
            return &member;
    }
    return nullptr;
}

// A by-reference text parameter takes text only: the runtime coerces no argument it passes by reference.
QString textArgument(const QVariant &argument) {
    const Variant value = BusWire::fromBus(argument);
    if (value.kind() != Variant::Kind::Text)
        throw AutomationError::runtime(ErrorNumber::ArgumentTypeMismatch);
    return value.get<QString>();
}

// A by-value text parameter takes what the runtime's coercion turns into text: numbers, Booleans, dates
// and Empty too. Null and error values it refuses with the same type mismatch.
QString coercedTextArgument(const QVariant &argument) {
    const std::optional<QString> text = coercedText(BusWire::fromBus(argument));
    if (!text)
        throw AutomationError::runtime(ErrorNumber::ArgumentTypeMismatch);
    return *text;
}

// AnyOther as WriteLog takes it, or nothing when the server cannot convert it. WriteLog never fails,
// so such a value costs the record, as any other failure inside WriteLog does.
std::optional<Variant> anyOtherArgument(const QVariant &argument) {
    try {
        return BusWire::fromBus(argument);
    } catch (const AutomationError &error) {
        qCDebug(lcServer) << "log record skipped, AnyOther not converted:" << error.description();
        return std::nullopt;
    }
}

void requireArgumentCount(const QVariantList &args, qsizetype least, qsizetype most) {
    if (args.size() < least || args.size() > most)
        throw AutomationError::runtime(ErrorNumber::BadParameterCount);
}

QVariantList resultOf(const QDBusVariant &value) {
    return {QVariant::fromValue(value)};
}

// "{3a5b...}" or "3A5B..." both name the same identifier.
QString normalizedId(QString id) {
    id = id.trimmed().toUpper();
    if (id.startsWith(u'{') && id.endsWith(u'}'))
        id = id.mid(1, id.size() - 2);
    return id;
}

} // namespace

PostJobObject::PostJobObject(AutomationServer &server, std::unique_ptr<PostJob> job, BoardSettings boards)
    : m_server(server)
    , m_job(std::move(job))
    , m_boards(std::move(boards)) {
    new PostJobInterfaceAdaptor(this);
    new EarlierPostJobInterfaceAdaptor(this);
    new IDispatchAdaptor(this);
    new IUnknownAdaptor(this);
    new ListingInterfaceAdaptor(this);
}

PostJobObject::~PostJobObject() = default;

QString PostJobObject::Field(const QString &FieldName, const QString &FieldValue) {
    m_server.calls().serve(*this, [=, this] { return QVariantList{m_job->Field(FieldName, FieldValue)}; });
    return {};
}

QString PostJobObject::Action(const QString &ActionType) {
    m_server.calls().serveLater(*this, [=, this](const CallQueue::Answer &answer) {
        postListing(ListingCall::TypeLibrary, ActionType, answer,
                    [](const PostingOutcome &outcome) { return QVariantList{outcome.resultCode}; });
    });
    return {};
}

void PostJobObject::WriteLog(const QString &SubName) {
    m_server.calls().serve(*this, [=, this] {
        m_job->WriteLog(SubName);
        return QVariantList{};
    });
}

void PostJobObject::WriteLog(const QString &SubName, const QString &Message) {
    m_server.calls().serve(*this, [=, this] {
        m_job->WriteLog(SubName, Message);
        return QVariantList{};
    });
}

void PostJobObject::WriteLog(const QString &SubName, const QString &Message, const QDBusVariant &AnyOther) {
    m_server.calls().serve(*this, [=, this] {
        if (const std::optional<Variant> anyOther = anyOtherArgument(AnyOther.variant()))
            m_job->WriteLog(SubName, Message, *anyOther);
        return QVariantList{};
    });
}

QString PostJobObject::Post(const QString &ActionType, const ListingFieldsReader &Fields) {
    m_server.calls().serveLater(*this, [=, this](const CallQueue::Answer &answer) {
        Fields.readEach([this](const QString &name, const QString &value) { m_job->Field(name, value); });
        postListing(ListingCall::Extension, ActionType, answer,
                    [](const PostingOutcome &outcome) { return QVariantList{outcome.resultCode}; });
    });
    return {};
}

QString PostJobObject::PostWithOutcome(const QString &ActionType, const ListingFieldsReader &Fields, int &,
                                       int &, QString &, QString &) {
    m_server.calls().serveLater(*this, [=, this](const CallQueue::Answer &answer) {
        Fields.readEach([this](const QString &name, const QString &value) { m_job->Field(name, value); });
        postListing(ListingCall::Extension, ActionType, answer, [](const PostingOutcome &outcome) {
            return QVariantList{outcome.resultCode, outcome.httpStatus, int(outcome.errorNumber),
                                outcome.errorDescription, outcome.reply};
        });
    });
    return {};
}

void PostJobObject::postListing(ListingCall call, const QString &ActionType, const CallQueue::Answer &answer,
                                const std::function<QVariantList(const PostingOutcome &)> &replyOf) {
    // The extension calls never send what the journal cannot record; the type library's Action keeps
    // posting without it.
    m_job->setJournalRequired(call == ListingCall::Extension);
    // The type library's calls post to [General]'s board, whose limits they share with every other call.
    const BoardSettings::Board &board = m_boards.board(ListingRules::DefaultBoardName);
    m_server.engine().post(*m_job, board.name, board.settings, ActionType,
                           [answer, replyOf](std::optional<PostingOutcome> outcome) {
                               answer([&] {
                                   if (!outcome)
                                       throw AutomationError::runtime(ErrorNumber::Ended);
                                   return replyOf(*outcome);
                               });
                           });
}

QString PostJobObject::PostToBoard(const QString &Board, const QString &ActionType,
                                   const ListingFieldsReader &Fields, int &, int &, QString &, QString &,
                                   QString &) {
    postToBoard(Board, ActionType, Fields, JournalClaim());
    return {};
}

QString PostJobObject::PostOnceToBoard(const QString &Board, const QString &ActionType,
                                       const ListingFieldsReader &Fields, qint64 Since, int &, int &,
                                       QString &, QString &, QString &) {
    JournalClaim claim{true, std::nullopt};
    if (Since >= 0)
        claim.settledSince = QDateTime::fromMSecsSinceEpoch(Since, Qt::UTC);
    postToBoard(Board, ActionType, Fields, claim);
    return {};
}

void PostJobObject::postToBoard(const QString &Board, const QString &ActionType,
                                const ListingFieldsReader &Fields, const JournalClaim &claim) {
    m_server.boardCalls().serve(*this, [=, this] {
        const BoardSettings::Board &board = m_boards.board(Board);
        return PostingEngine::Listing{board.name,
                                      board.settings,
                                      m_job->logFile(),
                                      objectName(),
                                      ActionType,
                                      [Fields](const PostingEngine::FieldSink &add) { Fields.readEach(add); },
                                      claim};
    });
}

int PostJobObject::MaxInFlight(const QString &Board) {
    m_server.calls().serve(*this,
                           [=, this] { return QVariantList{m_boards.board(Board).settings.maxInFlight}; });
    return {};
}

QString PostJobObject::Journal(uint &) {
    m_server.calls().serve(*this, [this] {
        // As the file system names it: the client opens it itself.
        return QVariantList{m_server.journal().path(), uint(QCoreApplication::applicationPid())};
    });
    return {};
}

QString PostJobObject::JournalHost() {
    m_server.calls().serve(*this, [this] { return QVariantList{m_job->settings().host()}; });
    return {};
}

QString PostJobObject::JournalProblem() {
    m_server.calls().serve(*this, [this] { return QVariantList{m_server.journal().problem()}; });
    return {};
}

QList<int> PostJobObject::GetIDsOfNames(const QStringList &names) {
    m_server.calls().serve(*this, [=] {
        const Member *member = names.isEmpty() ? nullptr : memberNamed(names.first());
        if (!member)
            throw AutomationError::runtime(ErrorNumber::UnknownName);
        QList<int> ids{member->dispatchId};
        for (qsizetype i = 1; i < names.size(); ++i) {
            int position = -1;
            for (int p = 0; p < int(member->parameters.size()) && member->parameters[p]; ++p) {
                if (names[i].compare(QStringView(member->parameters[p]), Qt::CaseInsensitive) == 0)
                    position = p;
            }
            if (position < 0)
                throw AutomationError::runtime(ErrorNumber::UnknownName);
            ids.append(position);
        }
        return QVariantList{QVariant::fromValue(ids)};
    });
    return {};
}

QDBusVariant PostJobObject::Invoke(int dispid, const QVariantList &args) {
    m_server.calls().serveLater(*this, [=, this](const CallQueue::Answer &answer) {
        if (dispid != Identity::ActionDispatchId) {
            answer([&] { return invoke(dispid, args); });
            return;
        }
        requireArgumentCount(args, 1, 1);
        postListing(ListingCall::TypeLibrary, textArgument(args[0]), answer,
                    [](const PostingOutcome &outcome) { return resultOf(QDBusVariant(outcome.resultCode)); });
    });
    return {};
}

QVariantList PostJobObject::invoke(int dispid, const QVariantList &args) {
    switch (dispid) {
    case Identity::FieldDispatchId:
        requireArgumentCount(args, 2, 2);
        return resultOf(QDBusVariant(m_job->Field(textArgument(args[0]), textArgument(args[1]))));
    case Identity::WriteLogDispatchId: {
        requireArgumentCount(args, 1, 3);
        const QString subName = coercedTextArgument(args[0]);
        const QString message = args.size() > 1 ? coercedTextArgument(args[1]) : QString();
        const std::optional<Variant> anyOther =
            args.size() > 2 ? anyOtherArgument(args[2]) : Variant(QString());
        if (anyOther)
            m_job->WriteLog(subName, message, *anyOther);
        return resultOf(BusWire::toBus(Variant()));
    }
    default:
        throw AutomationError::runtime(ErrorNumber::MemberNotFound);
    }
}

QString PostJobObject::QueryInterface(const QString &iid) {
    m_server.calls().serve(*this, [=] {
        const QString id = normalizedId(iid);
        const std::array<std::pair<const char *, const char *>, 4> answers{{
            {Identity::PostJobInterfaceId, Identity::PostJobInterface},
            {Identity::EarlierPostJobInterfaceId, Identity::EarlierPostJobInterface},
            {Identity::DispatchInterfaceId, Identity::DispatchInterface},
            {Identity::UnknownInterfaceId, Identity::UnknownInterface},
        }};
        for (const auto &[interfaceId, interfaceName] : answers) {
            if (id == normalizedId(QLatin1StringView(interfaceId)))
                return QVariantList{QString::fromLatin1(interfaceName)};
        }
        throw AutomationError::runtime(ErrorNumber::NoInterface);
    });
    return {};
}

void PostJobObject::Release() {
    m_server.calls().serve(
        *this, [] { return QVariantList{}; }, [this] { m_server.releaseObject(); });
}

} // namespace Orvex
