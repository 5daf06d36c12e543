// The remembered accounts file against any input.
//
// 1. The input as users.xml: whatever the reader makes of it must survive a save and a second read
//    unchanged, and saving what was read twice gives the same file.
// 2. The input as the text of an account's fields (nickname, face, password, as the login reply or
//    the login form may hand them over): the save succeeds and a second read gives the fields back,
//    less only the characters an XML 1.0 document cannot hold.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/constants.h"
#include "session/cuser.h"
#include "session/userstore.h"

namespace {

QStringList Describe(const CUser& user)
{
    return {QString::number(user.GetAccount()),
            user.GetAutoLogin() ? QStringLiteral("autologin") : QStringLiteral("-"),
            user.GetRememberPassword() ? QStringLiteral("remember") : QStringLiteral("-"),
            user.GetPassword(),
            user.GetFace(),
            user.GetNickname(),
            user.GetLogDate().toString(Qt::ISODateWithMs)};
}

QList<QStringList> Describe(const UserStore& store)
{
    QList<QStringList> records;
    for (const CUser* user : store.Users())
        records << Describe(*user);
    return records;
}

QString Visible(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

[[noreturn]] void Fail(const char* what, const QList<QStringList>& expected, const QList<QStringList>& actual)
{
    std::fprintf(stderr, "%s\n", what);
    for (const QStringList& record : expected)
        std::fprintf(stderr, "  expected: %s\n", qPrintable(Visible(record.join(QLatin1Char('|')))));
    for (const QStringList& record : actual)
        std::fprintf(stderr, "  actual:   %s\n", qPrintable(Visible(record.join(QLatin1Char('|')))));
    std::abort();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

// What an XML 1.0 document can hold: tab, line feed, carriage return, U+0020..U+D7FF,
// U+E000..U+FFFD and the supplementary planes as surrogate pairs.
QString XmlCharacters(const QString& text)
{
    QString kept;
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            kept += text.at(i);
            kept += text.at(++i);
        } else if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                   (c >= 0xE000 && c <= 0xFFFD)) {
            kept += text.at(i);
        }
    }
    return kept;
}

void FileRoundTrip(const QByteArray& input)
{
    WriteFile(UsersFile(), input);
    const UserStore first;
    const QList<QStringList> read = Describe(first);

    // A copy, as the login window saves its own list.
    UserStore copy(first.Users());
    if (!copy.Save())
        Fail("saving what was read failed", read, {});
    const QByteArray saved = ReadFile(UsersFile());
    const UserStore second;
    if (Describe(second) != read)
        Fail("read -> save -> read changed the accounts", read, Describe(second));

    UserStore again(second.Users());
    if (!again.Save())
        Fail("saving a second time failed", read, {});
    if (ReadFile(UsersFile()) != saved)
        Fail("saving the same accounts twice gave two different files", read, Describe(second));

    // A file that did not read whole was kept beside, as it was, once; the saved file reads whole.
    const QStringList kept =
        QDir(UsersDir()).entryList({QStringLiteral("users.xml.unreadable-*")}, QDir::Files | QDir::Hidden);
    if (kept.size() > 1 || (kept.size() == 1 && ReadFile(JoinPath(UsersDir(), kept.first())) != input))
        Fail("the unreadable file was not kept beside exactly once, as it was", read, {});
    for (const QString& name : kept)
        QFile::remove(JoinPath(UsersDir(), name));
}

void FieldsRoundTrip(const uint8_t* data, size_t size)
{
    if (size < 2)
        return;
    const uint8_t options = data[0];
    // Raw UTF-16, so lone surrogates, NUL and every control character can occur.
    QString text(int((size - 1) / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data + 1, size_t(text.size()) * sizeof(QChar));
    // U+FDD0 is a noncharacter: the harness's own field separator.
    const QStringList fields = text.split(QChar(0xFDD0));

    CUser user;
    user.SetAccount(13800000000 + options);
    user.SetAutoLogin(options & 1);
    user.SetRememberPassword(options & 2);
    user.SetNickname(fields.value(0));
    user.SetFace(fields.value(1));
    // A password is typed text: whole characters only, and never a NUL.
    user.SetPassword(QString::fromUtf8(fields.value(2).toUtf8()).remove(QChar(0)));
    user.SetLogDate(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));

    CUser expected(user);
    expected.SetNickname(XmlCharacters(user.GetNickname()));
    expected.SetFace(XmlCharacters(user.GetFace()));
    if (!user.GetRememberPassword())
        expected.SetPassword(QString());

    UserStore store(QVector<CUser*>{&user});
    if (!store.Save())
        Fail("saving an account failed", {Describe(expected)}, {});
    const UserStore reread;
    if (Describe(reread) != QList<QStringList>{Describe(expected)})
        Fail("an account's fields did not come back", {Describe(expected)}, Describe(reread));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One private data folder for the whole run, removed when the process ends.
    static QTemporaryDir home;
    static const bool ready = [] {
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        return QDir().mkpath(UsersDir());
    }();
    if (!ready)
        std::abort();

    FileRoundTrip(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    FieldsRoundTrip(data, size);
    return 0;
}
