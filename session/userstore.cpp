#include "session/userstore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

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

void UserStore::Load()
{
    QFile file(UsersFile());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;

    QXmlStreamReader xml(&file);
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

bool UserStore::Save()
{
    if (!QDir().mkpath(UsersDir()))
        return false;

    QSaveFile file(UsersFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("users"));
    for (const CUser* user : qAsConst(users)) {
        if (!user)
            continue;
        const QString account = QString::number(user->GetAccount());
        xml.writeStartElement(QStringLiteral("user"));
        xml.writeAttribute(QStringLiteral("id"), account);
        if (user->GetAutoLogin())
            xml.writeAttribute(QStringLiteral("autologin"), QStringLiteral("true"));
        xml.writeTextElement(QStringLiteral("username"), account);
        xml.writeTextElement(QStringLiteral("password"),
                             user->GetRememberPassword() ? EncodePassword(user->GetPassword()) : QString());
        WriteTextElement(xml, QStringLiteral("face"), user->GetFace());
        WriteTextElement(xml, QStringLiteral("nickname"), user->GetNickname());
        const QDateTime logDate = user->GetLogDate();
        xml.writeTextElement(QStringLiteral("logdate"),
                             logDate.isValid() ? logDate.toString(logDateFormat) : QString());
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();

    if (xml.hasError()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
