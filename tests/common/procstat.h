#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

// What /proc tells of a process, for the tools that measure one from outside.
namespace ProcStat {

// User + system CPU of a process (all its threads) in clock ticks; -1 once it has gone.
inline qint64 CpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces: the state is
    // the first, utime the 12th and stime the 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

// A "Name: value" line of /proc/<pid>/status as a number (VmRSS in KiB, Threads).
inline double StatusField(qint64 pid, const QByteArray& name)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toDouble();
    return 0;
}

} // namespace ProcStat
