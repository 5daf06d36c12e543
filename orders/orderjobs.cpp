#include "orders/orderjobs.h"

#include <QJsonArray>
#include <QJsonObject>

#include "app/constants.h"
#include "net/request.h"
#include "orders/corder.h"

// ---- the order lists on the wire
//
// Each entry of "commos" is an object whose "id", "status", "member", "amount", "ctime", "stime",
// "ptime" and "ertime" are read the way the toolkit converts the JSON value (a numeric string is a
// number, null is no time); other keys are ignored, and so are entries that are not objects. The
// full list's "info" also names the shop ("shop_id", "shop_name", "shop_catid").
//
// A list of ten thousand orders is read straight from the answer's bytes: no JSON document, no
// copy of the text. That reading takes only what it reads exactly as the document would: a strict
// JSON object with "status" 1 and an "info" object, plain scalars in the fields it reads, valid
// UTF-8 where it keeps text. Anything else goes the long way, through Request::Read and ReadList,
// which also tells a refusal or a broken answer.

namespace OrderWire {
namespace {

enum class Field
{
    Other,
    Id,
    Status,
    Member,
    Amount,
    Ctime,
    Stime,
    Ptime,
    Ertime,
};

Field FieldNamed(QLatin1String name)
{
    static const QLatin1String names[] = {
        QLatin1String("id"),    QLatin1String("status"), QLatin1String("member"), QLatin1String("amount"),
        QLatin1String("ctime"), QLatin1String("stime"),  QLatin1String("ptime"),  QLatin1String("ertime")};
    for (int i = 0; i < int(sizeof names / sizeof names[0]); ++i)
        if (name == names[i])
            return Field(i + 1);
    return Field::Other;
}

Field FieldNamed(const QString& name)
{
    // A character beyond Latin-1 becomes '?', which no field's name holds.
    return name.size() > 6 ? Field::Other : FieldNamed(QLatin1String(name.toLatin1()));
}

bool IsTime(Field field)
{
    return field == Field::Ctime || field == Field::Stime || field == Field::Ptime || field == Field::Ertime;
}

QDateTime& TimeOf(OrderEntry& entry, Field field)
{
    switch (field) {
    case Field::Ctime:
        return entry.ctime;
    case Field::Stime:
        return entry.stime;
    case Field::Ptime:
        return entry.ptime;
    default:
        return entry.ertime;
    }
}

// The one reading of a field's value, however the answer was read.
void Set(OrderEntry& entry, Field field, const QVariant& value)
{
    switch (field) {
    case Field::Other:
        break;
    case Field::Id:
        entry.id = value.toLongLong();
        break;
    case Field::Status:
        entry.status = value.toInt();
        break;
    case Field::Member:
        entry.member = value.toString();
        break;
    case Field::Amount:
        entry.amount = value.toDouble();
        break;
    default:
        TimeOf(entry, field) = ReadStamp(value);
        break;
    }
}

OrderEntry EntryFrom(const QJsonObject& object)
{
    OrderEntry entry;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Field field = FieldNamed(it.key());
        if (field != Field::Other)
            Set(entry, field, it.value().toVariant());
    }
    return entry;
}

// Reads one answer's bytes as strict JSON. Every method returns false where the bytes are not what
// the fast reading takes, and the answer goes the long way.
class Scanner
{
public:
    explicit Scanner(const QByteArray& body) : at(body.constData()), end(body.constData() + body.size()) {}

    bool Answer(OrderListPage* page)
    {
        bool status = false;
        bool info = false;
        if (!Eat('{'))
            return false;
        do {
            QString key;
            if (!Key(&key))
                return false;
            if (key == QLatin1String("status")) {
                double value = 0;
                if (status || !Number(&value) || value != 1)
                    return false;
                status = true;
            } else if (key == QLatin1String("info")) {
                if (info || !Info(page))
                    return false;
                info = true;
            } else if (!Skip()) {
                return false;
            }
        } while (Eat(','));
        if (!Eat('}'))
            return false;
        Space();
        return at == end && status && info;
    }

private:
    void Space()
    {
        while (at < end && (*at == ' ' || *at == '\n' || *at == '\r' || *at == '\t'))
            ++at;
    }

    bool Eat(char c)
    {
        Space();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }

    bool Next(char c)
    {
        Space();
        return at < end && *at == c;
    }

    // The raw bytes of a string between its quotes; `plain` when it holds no escape.
    bool Raw(const char** begin, int* size, bool* plain)
    {
        if (!Eat('"'))
            return false;
        *begin = at;
        *plain = true;
        while (at < end) {
            const unsigned char c = static_cast<unsigned char>(*at);
            if (c == '"') {
                *size = int(at - *begin);
                ++at;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                *plain = false;
                if (++at == end)
                    return false;
                if (*at == 'u') {
                    if (end - at < 5)
                        return false;
                    for (int i = 1; i <= 4; ++i)
                        if (!isxdigit(static_cast<unsigned char>(at[i])))
                            return false;
                    at += 5;
                    continue;
                }
                if (!strchr("\"\\/bfnrt", *at) || *at == '\0')
                    return false;
            }
            ++at;
        }
        return false;
    }

    // Text kept from the answer: valid UTF-8, no escape this reading does not take.
    static bool Text(const char* begin, int size, bool plain, QString* text)
    {
        if (plain) {
            *text = QString::fromUtf8(begin, size);
        } else {
            text->clear();
            const char* stop = begin + size;
            for (const char* run = begin; run < stop;) {
                const char* slash = static_cast<const char*>(memchr(run, '\\', size_t(stop - run)));
                const char* until = slash ? slash : stop;
                *text += QString::fromUtf8(run, int(until - run));
                if (!slash)
                    break;
                const char kind = slash[1];
                if (kind == 'u') {
                    const ushort unit = QByteArray(slash + 2, 4).toUShort(nullptr, 16);
                    if (QChar::isSurrogate(unit))
                        return false;
                    *text += QChar(unit);
                    run = slash + 6;
                    continue;
                }
                static const char from[] = "\"\\/bfnrt";
                static const char to[] = "\"\\/\b\f\n\r\t";
                *text += QLatin1Char(to[strchr(from, kind) - from]);
                run = slash + 2;
            }
        }
        // The document would have turned broken UTF-8 down and read the answer's text instead.
        for (const QChar c : qAsConst(*text))
            if (c.unicode() >= 0x80 && (c == QChar::ReplacementCharacter || c.isNonCharacter()))
                return false;
        return true;
    }

    bool Key(QString* key)
    {
        const char* begin = nullptr;
        int size = 0;
        bool plain = true;
        return Raw(&begin, &size, &plain) && Text(begin, size, plain, key) && Eat(':');
    }

    bool Number(double* value)
    {
        Space();
        const char* begin = at;
        if (at < end && *at == '-')
            ++at;
        const auto digits = [this] {
            const char* from = at;
            while (at < end && *at >= '0' && *at <= '9')
                ++at;
            return int(at - from);
        };
        const char* first = at;
        const int whole = digits();
        if (whole == 0 || (whole > 1 && *first == '0'))
            return false;
        bool integral = true;
        if (at < end && *at == '.') {
            ++at;
            if (digits() == 0)
                return false;
            integral = false;
        }
        if (at < end && (*at == 'e' || *at == 'E')) {
            ++at;
            if (at < end && (*at == '+' || *at == '-'))
                ++at;
            if (digits() == 0)
                return false;
            integral = false;
        }
        // Most numbers are whole and positive: exact in a qint64, and rounded to a double as the
        // toolkit's reading of their text rounds them.
        if (integral && whole <= 18 && *begin != '-') {
            qint64 number = 0;
            for (const char* c = first; c < at; ++c)
                number = number * 10 + (*c - '0');
            *value = double(number);
            return true;
        }
        bool ok = false;
        *value = QByteArray::fromRawData(begin, int(at - begin)).toDouble(&ok);
        return ok && qIsFinite(*value);
    }

    bool Literal(const char* word)
    {
        const int size = int(strlen(word));
        if (end - at < size || memcmp(at, word, size_t(size)) != 0)
            return false;
        at += size;
        return true;
    }

    // A scalar as the document would convert it; an array or object is not taken here.
    bool Scalar(QVariant* value)
    {
        Space();
        if (at == end)
            return false;
        switch (*at) {
        case '"': {
            const char* begin = nullptr;
            int size = 0;
            bool plain = true;
            QString text;
            if (!Raw(&begin, &size, &plain) || !Text(begin, size, plain, &text))
                return false;
            *value = text;
            return true;
        }
        case 't':
            *value = true;
            return Literal("true");
        case 'f':
            *value = false;
            return Literal("false");
        case 'n':
            *value = QVariant();
            return Literal("null");
        case '[':
        case '{':
            return false;
        default: {
            double number = 0;
            if (!Number(&number))
                return false;
            *value = number;
            return true;
        }
        }
    }

    bool Skip()
    {
        Space();
        if (at == end)
            return false;
        const char* begin = nullptr;
        int size = 0;
        bool plain = true;
        double number = 0;
        switch (*at) {
        case '"':
            return Raw(&begin, &size, &plain);
        case 't':
            return Literal("true");
        case 'f':
            return Literal("false");
        case 'n':
            return Literal("null");
        case '[':
        case '{': {
            const char close = *at == '[' ? ']' : '}';
            // Deeper than any answer of the platform: left to the document's own limits.
            if (++depth > 64)
                return false;
            ++at;
            if (!Eat(close)) {
                do {
                    if (close == '}' && (!Raw(&begin, &size, &plain) || !Eat(':')))
                        return false;
                    if (!Skip())
                        return false;
                } while (Eat(','));
                if (!Eat(close))
                    return false;
            }
            --depth;
            return true;
        }
        default:
            return Number(&number);
        }
    }

    bool Info(OrderListPage* page)
    {
        bool commos = false;
        bool shopId = false, shopName = false, shopCatId = false;
        if (!Eat('{'))
            return false;
        if (Eat('}'))
            return true;
        do {
            QString key;
            if (!Key(&key))
                return false;
            QVariant value;
            if (key == QLatin1String("commos")) {
                if (commos || !Next('[') || !Entries(page))
                    return false;
                commos = true;
            } else if (key == QLatin1String("shop_id")) {
                if (shopId || !Scalar(&value))
                    return false;
                shopId = true;
                page->shopId = value.toLongLong();
            } else if (key == QLatin1String("shop_name")) {
                if (shopName || !Scalar(&value))
                    return false;
                shopName = true;
                page->shopName = value.toString();
            } else if (key == QLatin1String("shop_catid")) {
                if (shopCatId || !Scalar(&value))
                    return false;
                shopCatId = true;
                page->shopCatId = value.toInt();
            } else if (!Skip()) {
                return false;
            }
        } while (Eat(','));
        return Eat('}');
    }

    bool Entries(OrderListPage* page)
    {
        ++at; // '['
        // An entry of the platform's list is about 180 bytes.
        page->entries.reserve(int((end - at) / 160) + 1);
        if (Eat(']'))
            return true;
        do {
            if (!Next('{')) {
                if (!Skip()) // names no order
                    return false;
                continue;
            }
            page->entries.append(OrderEntry());
            if (!Entry(&page->entries.last()))
                return false;
        } while (Eat(','));
        return Eat(']');
    }

    bool Entry(OrderEntry* entry)
    {
        ++at; // '{'
        if (Eat('}'))
            return true;
        do {
            const char* begin = nullptr;
            int size = 0;
            bool plain = true;
            if (!Raw(&begin, &size, &plain))
                return false;
            Field field = Field::Other;
            if (plain) {
                field = FieldNamed(QLatin1String(begin, size));
            } else {
                QString key;
                if (!Text(begin, size, plain, &key))
                    return false;
                field = FieldNamed(key);
            }
            if (!Eat(':'))
                return false;
            if (field == Field::Other) {
                if (!Skip())
                    return false;
                continue;
            }
            // A time in its common form is read from the bytes; anything else as the document's value.
            if (IsTime(field) && Next('"')) {
                const char* saved = at;
                if (!Raw(&begin, &size, &plain))
                    return false;
                if (plain) {
                    const QDateTime stamp = stamps.Read(begin, size);
                    if (stamp.isValid()) {
                        TimeOf(*entry, field) = stamp;
                        continue;
                    }
                }
                at = saved;
            }
            QVariant value;
            if (!Scalar(&value))
                return false;
            Set(*entry, field, value);
        } while (Eat(','));
        return Eat('}');
    }

    const char* at;
    const char* end;
    int depth = 0;
    StampReader stamps;
};

} // namespace

QString FormatTime(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

OrderListPage ReadList(const QJsonValue& info)
{
    OrderListPage page;
    const QJsonObject object = info.toObject();
    page.shopId = object.value(QStringLiteral("shop_id")).toVariant().toLongLong();
    page.shopName = object.value(QStringLiteral("shop_name")).toVariant().toString();
    page.shopCatId = object.value(QStringLiteral("shop_catid")).toVariant().toInt();
    const QJsonArray entries = object.value(QStringLiteral("commos")).toArray();
    page.entries.reserve(entries.size());
    for (const QJsonValue& value : entries)
        if (value.isObject())
            page.entries.append(EntryFrom(value.toObject()));
    return page;
}

bool ReadListBytes(const QByteArray& body, OrderListPage* page)
{
    OrderListPage read;
    if (!Scanner(body).Answer(&read))
        return false;
    *page = std::move(read);
    return true;
}

} // namespace OrderWire

// ---- StaffOrder2

COrderDetailJob::COrderDetailJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<OrderDetail>();
}

bool COrderDetailJob::Start(qint64 orderId)
{
    id = orderId;
    return Post(Api::StaffOrder2(), {{QStringLiteral("oid"), QString::number(orderId)}});
}

QString COrderDetailJob::Take(const Request::Answer& answer)
{
    const QJsonValue info = answer.InfoJson();
    if (!info.isObject())
        return QStringLiteral("the detail is not an object");
    OrderDetail detail;
    detail.info = info.toObject().toVariantMap();
    detail.id = detail.info.value(QStringLiteral("id")).toLongLong();
    if (detail.id != id)
        return QStringLiteral("the detail names order %1, not %2").arg(detail.id).arg(id);
    detail.platformTime = answer.platformTime;
    emit Fetched(detail);
    return QString();
}

// ---- StaffOrderList

COrderListJob::COrderListJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<OrderListPage>();
}

bool COrderListJob::Start(int page)
{
    pager = page;
    return Post(Api::StaffOrderList(), {{QStringLiteral("pager"), QString::number(page)}});
}

QString COrderListJob::Take(const Request::Answer& answer)
{
    OrderListPage page = OrderWire::ReadList(answer.InfoJson());
    page.pager = pager;
    page.platformTime = answer.platformTime;
    emit Fetched(page);
    return QString();
}

bool COrderListJob::TakeBytes(const QByteArray& body, const QDateTime& platformTime)
{
    OrderListPage page;
    if (!OrderWire::ReadListBytes(body, &page))
        return false;
    page.pager = pager;
    page.platformTime = platformTime;
    emit Fetched(page);
    return true;
}

// ---- UpdateStaffOrderList and PayFinishOrder

QString COrderEntriesJob::Take(const Request::Answer& answer)
{
    OrderEntries read;
    read.entries = OrderWire::ReadList(answer.InfoJson()).entries;
    read.platformTime = answer.platformTime;
    emit Fetched(read);
    return QString();
}

bool COrderEntriesJob::TakeBytes(const QByteArray& body, const QDateTime& platformTime)
{
    OrderListPage page;
    if (!OrderWire::ReadListBytes(body, &page))
        return false;
    OrderEntries read;
    read.entries = std::move(page.entries);
    read.platformTime = platformTime;
    emit Fetched(read);
    return true;
}

bool CNewOrdersJob::Start(const QDateTime& since)
{
    qRegisterMetaType<OrderEntries>();
    return Post(Api::UpdateStaffOrderList(), {{QStringLiteral("time"), OrderWire::FormatTime(since)}});
}

bool CPayFinishJob::Start(const QDateTime& changedAfter)
{
    qRegisterMetaType<OrderEntries>();
    return Post(Api::PayFinishOrder(), {{QStringLiteral("ertime"), OrderWire::FormatTime(changedAfter)}});
}
