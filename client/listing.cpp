#include "listing.h"

#include "xmltext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace Orvex {

namespace {

const QString ActionKey = QStringLiteral("action");
const QString FieldsKey = QStringLiteral("fields");
const QString NameKey = QStringLiteral("name");
const QString ValueKey = QStringLiteral("value");

// Where a parse error lies, as an editor shows it (1-based line and column).
QString lineAndColumn(const QByteArray &json, qsizetype offset) {
    const QByteArray before = json.left(offset);
    const qsizetype line = before.count('\n') + 1;
    const qsizetype column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

bool readField(const QJsonValue &value, std::pair<QString, QString> *field, QString *error) {
    if (value.isArray()) {
        const QJsonArray pair = value.toArray();
        if (pair.size() != 2 || !pair.at(0).isString() || !pair.at(1).isString()) {
            *error = QStringLiteral("a field given as an array must be [\"name\", \"value\"], two texts");
            return false;
        }
        *field = {pair.at(0).toString(), pair.at(1).toString()};
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (object.size() != 2 || !object.value(NameKey).isString() || !object.value(ValueKey).isString()) {
            *error = QStringLiteral("a field given as an object must be {\"name\": text, \"value\": text}");
            return false;
        }
        *field = {object.value(NameKey).toString(), object.value(ValueKey).toString()};
    } else {
        *error =
            QStringLiteral("a field must be a [\"name\", \"value\"] pair or a {\"name\": .., \"value\": ..} "
                           "object");
        return false;
    }
    return isWellFormedField(*field, error);
}

bool readListing(const QJsonValue &value, Listing *listing, QString *error) {
    if (!value.isObject()) {
        *error = QStringLiteral("expected an object with \"action\" and \"fields\"");
        return false;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() != ActionKey && it.key() != FieldsKey) {
            *error =
                QStringLiteral("unknown key \"%1\" (a listing has \"action\" and \"fields\")").arg(it.key());
            return false;
        }
    }
    const QJsonValue action = object.value(ActionKey);
    if (!action.isString()) {
        *error = QStringLiteral("\"action\" must be a non-empty text, such as \"Add\"");
        return false;
    }
    listing->action = action.toString();
    if (QString problem; !isWellFormedAction(listing->action, &problem)) {
        *error = QStringLiteral("\"action\" %1").arg(problem);
        return false;
    }

    const QJsonValue fields = object.value(FieldsKey);
    if (fields.isObject()) {
        // A JSON object has no order, and the board receives the fields in the order given.
        *error = QStringLiteral("\"fields\" is an object, which loses the field order; give an array of "
                                "[\"name\", \"value\"] pairs instead");
        return false;
    }
    if (!fields.isArray()) {
        *error = QStringLiteral("\"fields\" must be an array of [\"name\", \"value\"] pairs");
        return false;
    }
    const QJsonArray fieldArray = fields.toArray();
    for (qsizetype i = 0; i < fieldArray.size(); ++i) {
        std::pair<QString, QString> field;
        QString fieldError;
        if (!readField(fieldArray.at(i), &field, &fieldError)) {
            *error = QStringLiteral("field %1: %2").arg(i + 1).arg(fieldError);
            return false;
        }
        listing->fields.append(std::move(field));
    }
    return true;
}

} // namespace

bool isWellFormedField(const std::pair<QString, QString> &field, QString *error) {
    if (const QString problem = XmlText::nameProblem(field.first); !problem.isEmpty()) {
        *error = QStringLiteral("the field name %1").arg(problem);
        return false;
    }
    return isWellFormedValue(field.first, field.second, error);
}

bool isWellFormedValue(const QString &name, const QString &value, QString *error) {
    if (const QString problem = XmlText::textProblem(value); !problem.isEmpty()) {
        *error = QStringLiteral("the value of \"%1\" %2").arg(name, problem);
        return false;
    }
    return true;
}

bool isWellFormedAction(const QString &action, QString *error) {
    if (action.isEmpty()) {
        *error = QStringLiteral("must be a non-empty text, such as \"Add\"");
        return false;
    }
    if (const QString problem = XmlText::actionProblem(action); !problem.isEmpty()) {
        *error = problem;
        return false;
    }
    return true;
}

QString Listing::jobCode() const {
    for (auto it = fields.crbegin(); it != fields.crend(); ++it) {
        if (it->first == QLatin1StringView("JobCode"))
            return it->second;
    }
    return QString();
}

bool parseFieldArgument(const QString &argument, std::pair<QString, QString> *field) {
    const qsizetype equals = argument.indexOf(u'=');
    if (equals <= 0)
        return false;
    *field = {argument.left(equals), argument.mid(equals + 1)};
    return true;
}

QList<Listing> parseListings(const QByteArray &json, QString *error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error =
            QStringLiteral("%1: %2").arg(lineAndColumn(json, parseError.offset), parseError.errorString());
        return {};
    }
    if (!document.isArray()) {
        *error = QStringLiteral("expected a JSON array of listings, such as "
                                "[{\"action\": \"Add\", \"fields\": [[\"JobCode\", \"J1\"]]}]");
        return {};
    }
    const QJsonArray array = document.array();
    if (array.isEmpty()) {
        *error = QStringLiteral("the array holds no listings");
        return {};
    }
    QList<Listing> listings;
    listings.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        Listing listing;
        QString listingError;
        if (!readListing(array.at(i), &listing, &listingError)) {
            *error = QStringLiteral("listing %1: %2").arg(i + 1).arg(listingError);
            return {};
        }
        listings.append(std::move(listing));
    }
    return listings;
}

std::optional<QByteArray> readListingsFile(const QString &path, QString *error) {
    QString reason;
    if (path == QLatin1StringView("-")) {
        std::optional<QByteArray> content = readStream(STDIN_FILENO, ListingsFileLimit, &reason);
        if (!content)
            *error = QStringLiteral("cannot read standard input: ") + reason;
        return content;
    }
    ReadableFile file(path);
    std::optional<QByteArray> content = file.readAll(ListingsFileLimit);
    if (!content) {
        reason =
            file.status() == ReadableFile::Status::Missing ? QStringLiteral("no such file") : file.error();
        *error = QStringLiteral("cannot read %1: %2").arg(path, reason);
    }
    return content;
}

} // namespace Orvex
