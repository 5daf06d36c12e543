#pragma once

#include <QLoggingCategory>
#include <QString>

// The client's diagnostic log. Each area logs through its own category; a message handler writes
// every message that passes the logging rules (QT_LOGGING_RULES, QLoggingCategory::setFilterRules)
// as one line to <data folder>/logs/tarvik.log and hands it on to the previous handler, so a
// terminal still sees it. The file is rotated at about 1 MB: tarvik.log.1 is the newest older
// file, tarvik.log.3 the oldest kept.
//
// Debug messages of our categories are off unless the rules turn them on ("tarvik.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcPolls)    // tarvik.polls: poll failures, connection lost and restored
Q_DECLARE_LOGGING_CATEGORY(lcRequests) // tarvik.requests: failed requests of the envelope
Q_DECLARE_LOGGING_CATEGORY(lcOrders)   // tarvik.orders: new orders, finishing, confirmations
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)   // tarvik.update: software update
Q_DECLARE_LOGGING_CATEGORY(lcPrinting) // tarvik.printing: receipts printed or saved
Q_DECLARE_LOGGING_CATEGORY(lcFiles)    // tarvik.files: failed saves, links replaced, the account lock
Q_DECLARE_LOGGING_CATEGORY(lcKeychain) // tarvik.keychain: where remembered passwords are kept
Q_DECLARE_LOGGING_CATEGORY(lcSound)    // tarvik.sound: a sound that cannot play, no audio output

namespace Log {

constexpr qint64 DefaultMaxFileSize = 1024 * 1024;
constexpr int KeptFiles = 3; // tarvik.log.1 .. tarvik.log.3

QString DefaultFolder(); // <data folder>/logs
QString FileName();      // "tarvik.log"

// Starts writing to `folder`/tarvik.log (created when missing). Installing again moves the log to
// the new folder. False when the file cannot be opened; the previous handler keeps working then.
bool Install(const QString& folder = DefaultFolder());
// Restores the handler that was in place before Install() and closes the file.
void Uninstall();

QString FilePath(); // the file being written, empty when not installed

// The size at which the file is rotated (tests make it small).
void SetMaxFileSize(qint64 bytes);

} // namespace Log
