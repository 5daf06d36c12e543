#include "session/userstore.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "app/atomicfile.h"
#include "app/constants.h"
#include "session/cuser.h"

static const QString passwordPrefix = QStringLiteral("Amber,");
static const QString passwordSuffix = QStringLiteral("Piano!");
static const QString logDateFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString EncodePassword(const QString& password)
{
    const QString wrapped = passwordPrefix + password + passwordSuffix;
    return QString::fromLatin1(wrapped.toLocal8Bit().toBase64());
}

QString DecodePassword(const QString& stored)
{
    QByteArray bytes = QByteArray::fromBase64(stored.toLocal8Bit());
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString text = QString::fromLocal8Bit(bytes);
    const int middle = text.size() - passwordPrefix.size() - passwordSuffix.size();
    return middle > 0 ? text.mid(passwordPrefix.size(), middle) : QString();
}

// An XML 1.0 document cannot hold control characters other than tab, line feed and carriage
// return, nor U+FFFE, U+FFFF or half of a surrogate pair, and QXmlStreamWriter fails the whole
// document for one of them. The nickname and the face come from the platform, so such a character
// must not stop every later save: it is left out, and everything else is written as it is.
static bool IsXmlCharacter(char16_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD);
}

static QString XmlText(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            kept += c;
            kept += text.at(++i);
        } else if (IsXmlCharacter(c.unicode())) {
            kept += c;
        }
    }
    return kept;
}

// A carriage return written as it is comes back as a line feed (every XML reader normalises line
// ends), so it goes into the file as a character reference.
static void WriteTextElement(QXmlStreamWriter& xml, const QString& name, const QString& text)
{
    xml.writeStartElement(name);
    const QStringList lines = XmlText(text).split(QLatin1Char('\r'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            xml.writeEntityReference(QStringLiteral("#13"));
        xml.writeCharacters(lines[i]);
    }
    xml.writeEndElement();
}

UserStore::UserStore()
{
    Load();
}

UserStore::UserStore(const QVector<CUser*>& source)
{
    for (const CUser* user : source) {
        if (user)
            users.append(new CUser(*user));
    }
}

UserStore::~UserStore()
{
    qDeleteAll(users);
}

// Reads the records of one document into `users`: a <user> with an id starts a record, the
// elements after it fill it in. Stops at the first error, keeping what was read before it.
static void ReadRecords(QXmlStreamReader& xml, QVector<CUser*>& users)
{
    CUser* current = nullptr;
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = xml.name();
        if (name == QLatin1String("user")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            const QString id = attributes.value(QLatin1String("id")).toString();
            if (!id.isEmpty()) {
                current = new CUser;
                current->SetAccount(id.toLongLong(nullptr, 10));
                users.append(current);
            }
            if (current && attributes.value(QLatin1String("autologin")) == QLatin1String("true"))
                current->SetAutoLogin(true);
        } else if (name == QLatin1String("password")) {
            const QString text = xml.readElementText();
            if (current && !text.isEmpty()) {
                current->SetPassword(DecodePassword(text));
                current->SetRememberPassword(true);
            }
        } else if (name == QLatin1String("face")) {
            const QString text = xml.readElementText();
            if (current)
                current->SetFace(text);
        } else if (name == QLatin1String("nickname")) {
            const QString text = xml.readElementText();
            if (current)
                current->SetNickname(text);
        } else if (name == QLatin1String("logdate")) {
            const QString text = xml.readElementText();
            if (current)
                current->SetLogDateText(text);
        }
    }
}

// An empty file holds nothing to lose; anything else must be a whole, well-formed document.
static bool ReadsWhole(const QByteArray& bytes)
{
    if (bytes.trimmed().isEmpty())
        return true;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError();
}

// A raw "&" (one that starts none of XML's own references) is what a hand edit or a careless
// writer leaves behind; it can only have meant the character itself.
static QByteArray EscapeStrayAmpersands(const QString& text)
{
    static const QRegularExpression stray(
        QStringLiteral("&(?!(?:amp|lt|gt|quot|apos|#[0-9]+|#x[0-9A-Fa-f]+);)"));
    QString escaped = text;
    escaped.replace(stray, QStringLiteral("&amp;"));
    return escaped.toUtf8();
}

// Reads a damaged file one <user> record at a time, so that one bad record costs at most itself.
static QVector<CUser*> RecoverRecords(const QByteArray& bytes)
{
    static const QRegularExpression recordStart(QStringLiteral("<user[\\s/>]"));
    static const QString recordEnd = QStringLiteral("</user>");
    const QString text = QString::fromUtf8(bytes);
    QVector<int> starts;
    QRegularExpressionMatchIterator found = recordStart.globalMatch(text);
    while (found.hasNext())
        starts.append(found.next().capturedStart());

    QVector<CUser*> users;
    for (int i = 0; i < starts.size(); ++i) {
        const int next = i + 1 < starts.size() ? starts.at(i + 1) : text.size();
        QString record = text.mid(starts.at(i), next - starts.at(i));
        const int end = record.indexOf(recordEnd);
        if (end >= 0)
            record.truncate(end + recordEnd.size());
        QXmlStreamReader xml(EscapeStrayAmpersands(record));
        ReadRecords(xml, users);
    }
    return users;
}

void UserStore::Load()
{
    QFile file(UsersFile());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();

    QXmlStreamReader xml(bytes);
    ReadRecords(xml, users);
    if (!xml.hasError() || ReadsWhole(bytes))
        return;
    // Whatever follows the first error is not lost: every record is tried on its own. The file
    // itself stays as it is until the next save keeps it beside (see KeepUnreadableFile).
    const QString error = xml.errorString();
    const qint64 line = xml.lineNumber();
    qDeleteAll(users);
    users = RecoverRecords(bytes);
    qWarning(
        "%s could not be read whole (%s, line %lld); %d remembered account(s) recovered record by record",
        qPrintable(QDir::toNativeSeparators(UsersFile())), qPrintable(error), line, int(users.size()));
}

// Before a file that does not read whole is replaced, it is kept beside as
// users.xml.unreadable-<time>: it may hold accounts only a person can get back. False when it could
// not be kept, and then it must not be replaced either.
static bool KeepUnreadableFile()
{
    const QString path = UsersFile();
    QFile file(path);
    // A link is replaced, never followed: whatever it points to is left where it is (AtomicFile).
    if (!file.exists() || QFileInfo(path).isSymLink())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("%s cannot be read, so it is not replaced", qPrintable(QDir::toNativeSeparators(path)));
        return false;
    }
    const bool whole = ReadsWhole(file.readAll());
    file.close();
    if (whole)
        return true;

    const QString base = path + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString kept = base;
    for (int n = 2; QFile::exists(kept); ++n)
        kept = base + QLatin1Char('-') + QString::number(n);
    if (!QFile::copy(path, kept)) {
        qWarning("%s could not be read and could not be kept as %s, so it is not replaced",
                 qPrintable(QDir::toNativeSeparators(path)), qPrintable(QDir::toNativeSeparators(kept)));
        return false;
    }
    QFile::setPermissions(kept, QFileDevice::ReadOwner | QFileDevice::WriteOwner); // it holds passwords
    qWarning("%s could not be read; kept as %s before it is written anew",
             qPrintable(QDir::toNativeSeparators(path)), qPrintable(QDir::toNativeSeparators(kept)));
    return true;
}

bool UserStore::Save(const QSet<qint64>& passwordsKeptElsewhere)
{
    if (!QDir().mkpath(UsersDir()) || !KeepUnreadableFile())
        return false;

    QByteArray document;
    QBuffer buffer(&document);
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    QXmlStreamWriter xml(&buffer);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("users"));
    for (const CUser* user : qAsConst(users)) {
        if (!user)
            continue;
        const QString account = QString::number(user->GetAccount());
        const bool passwordInFile =
            user->GetRememberPassword() && !passwordsKeptElsewhere.contains(user->GetAccount());
        xml.writeStartElement(QStringLiteral("user"));
        xml.writeAttribute(QStringLiteral("id"), account);
        if (user->GetAutoLogin())
            xml.writeAttribute(QStringLiteral("autologin"), QStringLiteral("true"));
        xml.writeTextElement(QStringLiteral("username"), account);
        xml.writeTextElement(QStringLiteral("password"),
                             passwordInFile ? EncodePassword(user->GetPassword()) : QString());
        WriteTextElement(xml, QStringLiteral("face"), user->GetFace());
        WriteTextElement(xml, QStringLiteral("nickname"), user->GetNickname());
        const QDateTime logDate = user->GetLogDate();
        xml.writeTextElement(QStringLiteral("logdate"),
                             logDate.isValid() ? logDate.toString(logDateFormat) : QString());
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();

    return !xml.hasError() && AtomicFile::Write(UsersFile(), document);
}
